# Books that are not one folder: a list file naming pages anywhere, in its
# own order.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
a=$(e2e_color_book a d03c3c:300x400 3cc850:256x384)
b=$(e2e_color_book b 3c50dc:400x300)
printf '%s\r\n' "$b\\p01.png" "$a\\p02.png" "$a\\p01.png" >"$E2E_DIR/book.sz7"
e2e_start "$(e2e_winpath "$E2E_DIR/book.sz7")"
e2e_wait_window >/dev/null || fail "no window on a list file"
xdotool mousemove 500 400
e2e_expect_screen "list: its first line" single 3c50dc 400x300
xdotool key Down && e2e_expect_screen "list: its second line" single 3cc850 256x384
xdotool key s && e2e_expect_screen "list: a spread of its second and third lines" spread d03c3c 300x400 3cc850 256x384
xdotool key Right && e2e_expect_screen "list: around to its first line" spread 3cc850 256x384 3c50dc 400x300
xdotool key Escape
e2e_expect_exit 0
