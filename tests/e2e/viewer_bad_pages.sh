# Pages that cannot be decoded, and loaders that cannot start: a neighbour
# only stays empty; a page that must be shown, or a loader thread that cannot
# be made, ends the viewer with one message box and exit code 0.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install "$VELK58_PROBE_EXE"
book=$(e2e_color_book book d03c3c:300x400 3cc850:256x384 3c50dc:400x300)
head -c 3000 /dev/urandom >"$E2E_DIR/book/p02.png"  # both loaders meet it around p01

e2e_open "" "$book"
e2e_expect_screen "the first page, its neighbour broken" single d03c3c 300x400
sleep 1
e2e_alive "a neighbour that cannot be decoded stopped the viewer"
xdotool key Up && e2e_expect_screen "the last page, across the broken one" single 3c50dc 400x300
xdotool key Down && e2e_expect_screen "the first page again" single d03c3c 300x400
xdotool key Down
e2e_expect_one_box "the broken page made current" '^qel_picture\([0-9]+\)\\n.+'
e2e_expect_exit 0

# The forward loader is started first, at the end of the start-up.
for fault in "LoadNextThread 414 m_hLoadNextThread" "LoadPrevThread 418 m_hLoadPrevThread"; do
    read -r place line field <<<"$fault"
    VELK58_FAULT=$place e2e_start "$book"
    e2e_expect_one_box "$place cannot start" "^App\\($line\\)\\\\n$field == NULL\$"
    e2e_expect_exit 0
done
