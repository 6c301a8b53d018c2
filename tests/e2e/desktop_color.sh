# "C" opens the colour dialog titled "背景色変更" over the viewer, with the
# cursor shown; a chosen colour repaints the background and reaches the
# settings at exit with a fourth byte of 0; cancelling changes nothing.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
book=$(e2e_color_book book d03c3c:300x400 3cc850:256x384)

# dialog ANSWER: drives the open dialog (a colour RRGGBB, or cancel) and checks
# that it is owned by the viewer, which it disables, and shows the cursor.
dialog() {
    local out
    out=$("$VELK58_WINE" "$VELK58_TOOLS/color_dialog.exe" 20000 "$1" 2>/dev/null | tr -d '\r')
    grep -qx "owner yes" <<<"$out" || fail "the dialog has no owner that it disables: $out"
    grep -qx "cursor shown" <<<"$out" || fail "no cursor over the dialog: $out"
    grep -qx "closed" <<<"$out" || fail "the dialog did not close: $out"
}

e2e_open "" "$book"
e2e_expect_screen "grey at the start" single d03c3c 300x400

xdotool key c
title=""
for _ in $(seq 1 100); do
    title=$(xdotool search --onlyvisible --name '背景色変更' getwindowname 2>/dev/null | head -n 1 || true)
    [ -n "$title" ] && break
    sleep 0.1
done
[ "$title" = "背景色変更" ] || fail "no dialog titled 背景色変更: '$title'"
echo "ok: the dialog's title"
dialog 336699
E2E_BG=336699 e2e_expect_screen "the chosen colour" single d03c3c 300x400

xdotool key c
dialog cancel
# A key after the dialog: once its page shows, the cancel has been handled.
xdotool key Right
E2E_BG=336699 e2e_expect_screen "cancelled: the colour stays" single 3cc850 256x384

xdotool key Escape
e2e_expect_exit 0
grep -qF '<_bkColor.dwPixelCode type="integer" value="00336699H"/>' "$E2E_DIR/velk58.xml" ||
    fail "the colour in the settings: $(grep bkColor "$E2E_DIR/velk58.xml")"
echo "ok: the settings hold the colour with a fourth byte of 0"
