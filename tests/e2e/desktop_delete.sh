# "Delete" moves the current page's file to the recycle bin (Wine's trash
# under XDG_DATA_HOME) and shows the next page; deleting the last page closes
# the viewer and leaves an empty "last.sz7"; a page inside an archive leaves
# the archive as it was; where the bin cannot take a file it stays on disk.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install
export XDG_DATA_HOME=$E2E_DIR/data
mkdir -p "$XDG_DATA_HOME"
trash=$XDG_DATA_HOME/Trash/files
last=$E2E_DIR/last.sz7

# moved NAME...: each page left the book's folder for the trash.
moved() {
    local name
    for name in "$@"; do
        [ ! -e "$E2E_DIR/book/$name" ] && [ -f "$trash/$name" ] || fail "$name was not moved to the trash"
    done
}

book=$(e2e_color_book book d03c3c:48x64 3cc850:48x64 3c50dc:48x64)
e2e_open "" "$book\\p02.png"
e2e_expect_screen "page 2" single 3cc850 48x64
xdotool key Delete
e2e_expect_screen "deleted: the next page" single 3c50dc 48x64
moved p02.png
xdotool key Delete
e2e_expect_screen "deleted the last: the first page" single d03c3c 48x64
moved p03.png
xdotool key Delete
e2e_expect_exit 0
moved p01.png
[ -f "$last" ] && [ ! -s "$last" ] || fail "last.sz7 is not empty after the last page went"
echo "ok: the last page deleted closes the viewer and leaves an empty last.sz7"

# A page inside a CBZ leaves the book only.
e2e_color_book arc/vol 3cc850:48x64 d03c3c:48x64 >/dev/null
(cd "$E2E_DIR/arc" && 7z a -tzip ../book.cbz vol >/dev/null)
cp "$E2E_DIR/book.cbz" "$E2E_DIR/book.before"
e2e_open "on the archive" "$(e2e_winpath "$E2E_DIR/book.cbz")"
e2e_expect_screen "archive: first page" single 3cc850 48x64
xdotool key Delete
e2e_expect_screen "archive: the next page" single d03c3c 48x64
xdotool key Escape
e2e_expect_exit 0
cmp -s "$E2E_DIR/book.cbz" "$E2E_DIR/book.before" || fail "the archive changed"
[ "$(ls "$trash")" = "$(printf 'p01.png\np02.png\np03.png')" ] || fail "the trash holds more: $(ls "$trash")"
grep -c . "$last" | grep -qx 1 || fail "last.sz7: $(cat "$last")"
echo "ok: archive unchanged, its page out of the book"

# No usable trash: the shell would delete for good, so the file stays.
export XDG_DATA_HOME=$E2E_DIR/no-data
touch "$XDG_DATA_HOME"
book=$(e2e_color_book kept d03c3c:48x64 3cc850:48x64)
e2e_open "" "$book"
e2e_expect_screen "page 1" single d03c3c 48x64
xdotool key Delete
e2e_expect_screen "deleted: the next page" single 3cc850 48x64
xdotool key Escape
e2e_expect_exit 0
[ -f "$E2E_DIR/kept/p01.png" ] || fail "with no usable trash the file was deleted for good"
[ "$(grep -c . "$last")" = 1 ] && grep -q 'p02\.png.$' "$last" || fail "last.sz7: $(cat "$last")"
echo "ok: with no usable trash the file stays, its page out of the book"
