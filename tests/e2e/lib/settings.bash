# The settings file "velk58.xml" in the form the viewer writes it: tabs,
# CR LF, attributes in name order. Source it after e2e.bash.

# settings_pairs PAIR...: binding array items, each PAIR as KEY:ACTION.
settings_pairs() {
    local pair
    for pair in "$@"; do
        printf '\t\t\t<element obj_name="std::pair" type="object">\r\n'
        printf '\t\t\t\t<_first type="string" value="%s"/>\r\n' "${pair%%:*}"
        printf '\t\t\t\t<_second type="string" value="%s"/>\r\n' "${pair#*:}"
        printf '\t\t\t</element>\r\n'
    done
}

# settings_xml COLOR WRITELAST [PAIR...]: a whole file; COLOR as written
# ("0FF808080H"), WRITELAST true or false.
settings_xml() {
    local color=$1 writeLast=$2
    shift 2
    printf '<?xml version="1.0" encoding="utf-8"?>\r\n<serialization>\r\n\t<option>\r\n'
    printf '\t\t<_bkColor.dwPixelCode type="integer" value="%s"/>\r\n' "$color"
    printf '\t\t<_m_bWriteLastSz type="string" value="%s"/>\r\n' "$writeLast"
    if [ $# -eq 0 ]; then
        printf '\t\t<_m_keyAction type="array"/>\r\n'
    else
        printf '\t\t<_m_keyAction type="array">\r\n'
        settings_pairs "$@"
        printf '\t\t</_m_keyAction>\r\n'
    fi
    printf '\t</option>\r\n</serialization>\r\n'
}

# The twelve default bindings in ascending key-code order.
SETTINGS_DEFAULT_PAIRS=(RETURN:Exit ESCAPE:Exit SPACE:Exit LEFT:Prev UP:Prev1 RIGHT:Next DOWN:Next1 DELETE:Delete
    B:SetWallPaper C:ChangeBkColor L:ToggleBind S:ToggleSpread)

settings_default_xml() {
    settings_xml 0FF808080H true "${SETTINGS_DEFAULT_PAIRS[@]}"
}

# e2e_expect_same LABEL FILE EXPECTED_FILE: byte-for-byte equal, or a diff.
e2e_expect_same() {
    cmp -s "$2" "$3" || fail "$1: $(diff <(cat -A "$3") <(cat -A "$2") | head -20)"
    echo "ok: $1"
}
