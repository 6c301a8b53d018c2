# A qel::CException that reaches the entry point is shown once in a message
# box with its two-line text, and the program then ends with exit code 0;
# both during window creation and while a message is handled.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install "$VELK58_PROBE_EXE"
book=$(e2e_book book 2)

expect_box() {
    local where=$1 trigger=$2 out
    export VELK58_FAULT=$where
    e2e_start "$book"
    if [ -n "$trigger" ]; then
        e2e_wait_window >/dev/null || fail "$where: no window"
        sleep 0.3
        xdotool key "$trigger"
    fi
    out=$("$VELK58_WINE" "$VELK58_TOOLS/msgbox_reader.exe" 20000 2 2>/dev/null | tr -d '\r')
    unset VELK58_FAULT
    echo "$out"
    grep -qx "boxes 1" <<<"$out" || fail "$where: expected exactly one message box"
    local text
    text=$(sed -n '/^text-begin$/,/^text-end$/p' <<<"$out" | sed '1d;$d')
    [[ "$text" =~ ^App\([0-9]+\)$'\n'FaultRequested\(\"$where\"\)$ ]] || fail "$where: message text was: $text"
    e2e_expect_exit 0 || fail "$where"
}
expect_box OnCreate ""
expect_box KeyDown Right
