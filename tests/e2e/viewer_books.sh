# Books that are not one folder: a list file naming pages anywhere, in its
# own order, and a CBZ archive.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
a=$(e2e_color_book a d03c3c:300x400 3cc850:256x384)
b=$(e2e_color_book b 3c50dc:400x300)
printf '%s\r\n' "$b\\p01.png" "$a\\p02.png" "$a\\p01.png" >"$E2E_DIR/book.sz7"
e2e_open "on a list file" "$(e2e_winpath "$E2E_DIR/book.sz7")"
e2e_expect_screen "list: its first line" single 3c50dc 400x300
xdotool key Down && e2e_expect_screen "list: its second line" single 3cc850 256x384
xdotool key s && e2e_expect_screen "list: a spread of its second and third lines" spread d03c3c 300x400 3cc850 256x384
xdotool key Right && e2e_expect_screen "list: around to its first line" spread 3cc850 256x384 3c50dc 400x300
xdotool key Escape
e2e_expect_exit 0

# A CBZ through our archive plug-in: all of it in the archive's order, a
# folder inside it, and a picture inside it as the first page.
e2e_color_book cbz/vol1 d03c3c:300x400 3cc850:256x384 >/dev/null
e2e_color_book cbz/vol2 3c50dc:400x300 e6dc28:200x500 >/dev/null
(cd "$E2E_DIR/cbz" && 7z a -tzip ../book.cbz vol1 vol2 >/dev/null)
cbz=$(e2e_winpath "$E2E_DIR/book.cbz")
e2e_open "on a CBZ" "$cbz"
e2e_expect_screen "cbz: its first page" single d03c3c 300x400
xdotool key Up && e2e_expect_screen "cbz: back to its last page" single e6dc28 200x500
xdotool key Escape
e2e_expect_exit 0
e2e_open "on a folder inside a CBZ" "$cbz\\vol2"
e2e_expect_screen "cbz folder: its first page" single 3c50dc 400x300
xdotool key Down && e2e_expect_screen "cbz folder: its second page" single e6dc28 200x500
xdotool key Down && e2e_expect_screen "cbz folder: its pages only" single 3c50dc 400x300
xdotool key Escape
e2e_expect_exit 0
e2e_open "on a picture inside a CBZ" "$cbz\\vol1\\p02.png"
e2e_expect_screen "cbz picture: shown first" single 3cc850 256x384
xdotool key Down && e2e_expect_screen "cbz picture: then its folder" single d03c3c 300x400
xdotool key Escape
e2e_expect_exit 0
