# "last.sz7": at exit the whole book from the current page once around, one
# path per line with CR LF, the file on disk in its short form (so that long
# names and names outside the code page survive), and a start without an
# argument reopens it there.
source "$(dirname "$0")/lib/e2e.bash"
source "$(dirname "$0")/lib/settings.bash"
e2e_install
last=$E2E_DIR/last.sz7

# short_path WINPATH: Wine's short form of a path on disk.
short_path() {
    "$VELK58_WINE" winepath -s "$1" 2>/dev/null | tr -d '\r\n'
}

# expect_list LABEL LINE...: last.sz7 holds exactly these lines.
expect_list() {
    local label=$1
    shift
    printf '%s\r\n' "$@" >"$E2E_DIR/expected.sz7"
    e2e_expect_same "$label" "$last" "$E2E_DIR/expected.sz7"
}

# Ten pages in a folder with a long name, closed on the fifth.
colors=(d03c3c 3cc850 3c50dc c8c83c 3cc8c8 c83cc8 787878 f0a040 40a0f0 a0f040)
pages=()
for c in "${colors[@]}"; do pages+=("$c:48x64"); done
book=$(e2e_color_book "long book name" "${pages[@]}")
e2e_open "" "$book\\p05.png"
e2e_expect_screen "started on page 5" single "${colors[4]}" 48x64
xdotool key Escape
e2e_expect_exit 0
short=$(short_path "$book")
[ -n "$short" ] && [ "$short" != "$book" ] || fail "no short form of $book: '$short'"
lines=()
for i in 5 6 7 8 9 10 1 2 3 4; do lines+=("$(printf '%s\\p%02d.png' "$short" "$i")"); done
expect_list "pages 5 to 10, then 1 to 4" "${lines[@]}"

e2e_open "without an argument"
e2e_expect_screen "reopened at page 5" single "${colors[4]}" 48x64
xdotool key Left
e2e_expect_screen "in the book's order" single "${colors[3]}" 48x64
xdotool key Escape
e2e_expect_exit 0

# Pages inside a CBZ in a folder whose name the code page lacks: the
# archive's short path, then the path inside it.
shelf=$E2E_DIR/shelf$'\u2603'
e2e_color_book cbz/vol 3cc850:48x64 d03c3c:48x64 >/dev/null
mkdir -p "$shelf"
(cd "$E2E_DIR/cbz" && 7z a -tzip "$shelf/long archive.cbz" vol >/dev/null)
arc=$(e2e_winpath "$shelf/long archive.cbz")
e2e_open "on the archive" "$arc"
e2e_expect_screen "archive: first page" single 3cc850 48x64
xdotool key Right
e2e_expect_screen "archive: second page" single d03c3c 48x64
xdotool key Escape
e2e_expect_exit 0
short=$(short_path "$arc")
expect_list "archive: its short path and the inner path" "$short\\vol\\p02.png" "$short\\vol\\p01.png"

e2e_open "without an argument"
e2e_expect_screen "reopened inside the archive" single d03c3c 48x64
xdotool key Escape
e2e_expect_exit 0
