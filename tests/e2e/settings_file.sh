# The settings file "velk58.xml" beside the program: written at every exit in
# a fixed form, read at the start, and never written over when it cannot be
# read or when the start failed.
source "$(dirname "$0")/lib/e2e.bash"
source "$(dirname "$0")/lib/settings.bash"
e2e_install
book=$(e2e_color_book book 3c50dc:64x96 d03c3c:64x96)
xml=$E2E_DIR/velk58.xml
expected=$E2E_DIR/expected.xml

# open_book: starts on the book and waits until its first page is shown.
open_book() {
    e2e_open "" "$book"
    e2e_expect_screen "${1:-first page}" single 3c50dc 64x96
}

# With no file, the first exit writes the defaults; a second, the same bytes.
settings_default_xml >"$expected"
for run in first second; do
    open_book
    xdotool key Escape
    e2e_expect_exit 0
    e2e_expect_same "$run exit writes the defaults" "$xml" "$expected"
done

# A file edited by hand: its colour shows, its bindings hold (a key bound
# twice keeps the first, an unknown action is "None", an item that is no
# pair binds code 0 to "None", one with only a key binds "None"; code 0 has
# no name), and its comments, other sections and "false" survive the save
# in place.
hand_edited() {
    printf '<?xml version="1.0" encoding="utf-8"?>\r\n<serialization>\r\n'
    printf '\t<!-- kept in place -->\r\n\t<window>\r\n\t\t<_x type="integer" value="5"/>\r\n\t</window>\r\n'
    printf '\t<option>\r\n\t\t<_bkColor.dwPixelCode type="integer" value="00336699H"/>\r\n'
    printf '\t\t<!-- no list -->\r\n\t\t<_m_bWriteLastSz type="string" value="false"/>\r\n'
    printf '\t\t<_m_keyAction type="array">\r\n'
    "$@"
    printf '\t\t</_m_keyAction>\r\n\t</option>\r\n</serialization>\r\n'
}
written_pairs() {
    settings_pairs :None RETURN:Exit ESCAPE:None SPACE:None RIGHT:Next1
}
given_pairs() {
    printf '\t\t\t<element type="string" value="x"/>\r\n'
    printf '\t\t\t<element obj_name="std::pair" type="object">\r\n'
    printf '\t\t\t\t<_second type="string" value="Exit"/>\r\n\t\t\t</element>\r\n'
    printf '\t\t\t<element obj_name="std::pair" type="object">\r\n'
    printf '\t\t\t\t<_first type="string" value="SPACE"/>\r\n\t\t\t</element>\r\n'
    settings_pairs RIGHT:Next1 RIGHT:Exit ESCAPE:Exitt RETURN:Exit
}
hand_edited given_pairs >"$xml"
hand_edited written_pairs >"$expected"
printf 'kept\r\n' >"$E2E_DIR/last.sz7"
E2E_BG=336699 open_book "the colour of the file"
xdotool key space key Escape key Right
E2E_BG=336699 e2e_expect_screen "space and escape bound to None, right to Next1" single d03c3c 64x96
xdotool key Return
e2e_expect_exit 0
e2e_expect_same "comments, other sections and values kept" "$xml" "$expected"
[ "$(cat "$E2E_DIR/last.sz7")" = $'kept\r' ] || fail "m_bWriteLastSz false still wrote last.sz7"

# A start that fails (no argument, no last.sz7) writes nothing.
rm "$E2E_DIR/last.sz7"
cp "$xml" "$expected"
e2e_start
e2e_expect_exit 0
e2e_expect_same "a failed start leaves the settings" "$xml" "$expected"
[ ! -e "$E2E_DIR/last.sz7" ] || fail "a failed start wrote last.sz7"

# An empty binding array: no key does anything; the mouse still does.
settings_xml 0FF808080H true >"$xml"
cp "$xml" "$expected"
open_book
xdotool key Right key Escape key Return key space key Delete
xdotool mousemove 500 400 click 1
e2e_expect_screen "no key bound, the left button turns" single d03c3c 64x96
xdotool click 2
e2e_expect_exit 0
e2e_expect_same "an empty binding array is kept" "$xml" "$expected"

# Files that cannot be read are left byte for byte.
unreadable=(
    $'<?xml version="1.0" encoding="utf-8"?>\r\n<serialization><option></optio></serialization>\r\n'
    $'<?xml version="1.0" encoding="utf-8"?>\r\n<serialization><option><_m_bWriteLastSz type="string" value="tr\xff\xfeue"/></option></serialization>\r\n'
)
for text in "${unreadable[@]}"; do
    printf '%s' "$text" >"$xml"
    cp "$xml" "$expected"
    open_book
    xdotool key Escape
    e2e_expect_exit 0
    e2e_expect_same "an unreadable file is kept" "$xml" "$expected"
done
# The same file saved as UTF-16, as some editors do.
settings_default_xml | iconv -f UTF-8 -t UTF-16 >"$xml"
cp "$xml" "$expected"
open_book
xdotool key Escape
e2e_expect_exit 0
e2e_expect_same "a UTF-16 file is kept" "$xml" "$expected"
