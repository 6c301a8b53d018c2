# Helpers for end-to-end tests of velk58.exe under Xvfb. Source it.
# Each test gets a private folder holding a copy of the program, since the
# program reads and writes its files beside itself.
set -euo pipefail

if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "no X display: run through scripts/test"
    exit 77
fi

E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/velk58-e2e.XXXXXX")
E2E_PID=""
e2e_cleanup() {
    if [ -n "$E2E_PID" ] && kill -0 "$E2E_PID" 2>/dev/null; then
        kill "$E2E_PID" 2>/dev/null || true
    fi
    # A test's own program must not outlive it and meet the next test's.
    for w in $(xdotool search --name '^velk58$' 2>/dev/null); do xdotool windowkill "$w" 2>/dev/null || true; done
    rm -rf "$E2E_DIR"
}
trap e2e_cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# e2e_install [EXE]: copies the program (default the shipped one) into the
# test folder, with the plug-ins the build put beside the shipped one.
e2e_install() {
    cp "${1:-$VELK58_EXE}" "$E2E_DIR/velk58.exe"
    local spi
    for spi in "$(dirname "$VELK58_EXE")"/*.sph "$(dirname "$VELK58_EXE")"/*.spi; do
        [ -f "$spi" ] && cp "$spi" "$E2E_DIR/"
    done
    return 0
}

# e2e_winpath PATH: the Windows name of a Unix path (Wine maps / to Z:).
e2e_winpath() {
    local p=$1
    echo "Z:${p//\//\\}"
}

# e2e_book NAME [PAGES]: a folder of small BMP pages; prints its Windows path.
e2e_book() {
    local dir=$E2E_DIR/$1 n=${2:-3} i
    mkdir -p "$dir"
    for ((i = 1; i <= n; i++)); do
        convert -size 64x96 "xc:rgb($((i * 40)),120,200)" -type TrueColor "BMP3:$dir/p$i.bmp"
    done
    e2e_winpath "$dir"
}

# e2e_start ARGS...: starts the installed program in the background.
e2e_start() {
    (cd "$E2E_DIR" && exec "$VELK58_WINE" "$E2E_DIR/velk58.exe" "$@") >"$E2E_DIR/stdout" 2>"$E2E_DIR/stderr" &
    E2E_PID=$!
}

# e2e_wait_window [TIMEOUT_S]: prints the id of the visible window "velk58".
e2e_wait_window() {
    local deadline=$((SECONDS + ${1:-20})) w
    while [ $SECONDS -lt $deadline ]; do
        w=$(xdotool search --onlyvisible --name '^velk58$' 2>/dev/null | head -n 1 || true)
        if [ -n "$w" ]; then
            echo "$w"
            return 0
        fi
        kill -0 "$E2E_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# e2e_open WHAT ARGS...: starts the program and waits for its window (failing
# "no window WHAT"), then rests the pointer mid-screen, where clicks land.
e2e_open() {
    local what=$1
    shift
    e2e_start "$@"
    e2e_wait_window >/dev/null || fail "no window${what:+ $what}"
    xdotool mousemove 500 400
}

# e2e_shows LABEL N: page N of the caller's array pages (COLOR:WxH[:FORMAT])
# alone on the screen; E2E_SHOWN_COLOR may name a function that maps COLOR to
# the colour the screen shows.
e2e_shows() {
    local color size format
    IFS=: read -r color size format <<<"${pages[$2 - 1]}"
    e2e_expect_screen "$1" single "$(${E2E_SHOWN_COLOR:-echo} "$color")" "$size"
}

# e2e_wait_exit [TIMEOUT_S]: waits for the program; sets E2E_EXIT to its exit
# code, or to "timeout". Not to be called in a subshell: wait needs the parent.
E2E_EXIT=""
e2e_wait_exit() {
    local deadline=$((SECONDS + ${1:-20}))
    while kill -0 "$E2E_PID" 2>/dev/null; do
        if [ $SECONDS -ge $deadline ]; then
            E2E_EXIT=timeout
            return 0
        fi
        sleep 0.1
    done
    E2E_EXIT=0
    wait "$E2E_PID" || E2E_EXIT=$?
    E2E_PID=""
}

# e2e_expect_exit CODE [TIMEOUT_S]
e2e_expect_exit() {
    e2e_wait_exit "${2:-20}"
    [ "$E2E_EXIT" = "$1" ] || fail "exit code $E2E_EXIT, expected $1"
}

# e2e_color_book NAME PAGE...: a folder of solid-colour pages p01, p02, ...
# named in page order; each PAGE is COLOR:WxH[:FORMAT], COLOR as rrggbb[aa] and
# FORMAT a file extension (png by default). Prints the Windows path.
e2e_color_book() {
    local dir=$E2E_DIR/$1 i=0 page color size format
    shift
    mkdir -p "$dir"
    for page in "$@"; do
        i=$((i + 1))
        IFS=: read -r color size format <<<"$page"
        e2e_color_page "$dir/$(printf 'p%02d' "$i").${format:-png}" "$color" "$size"
    done
    e2e_winpath "$dir"
}

# e2e_color_page FILE COLOR WxH: one solid-colour picture. COLOR rrggbbaa
# gives a PNG or WebP an alpha channel; WebP is cwebp's (lossy) from a PNG.
e2e_color_page() {
    local file=$1 format=${1##*.}
    case $format in
    bmp) file="BMP3:$file" ;;
    png) [ ${#2} -eq 8 ] && file="PNG32:$file" ;;
    webp)
        e2e_color_page "$file.png" "$2" "$3"
        cwebp -quiet "$file.png" -o "$file"
        rm "$file.png"
        return
        ;;
    esac
    convert -size "$3" "xc:#$2" -type TrueColor "$file"
}

E2E_BG=${E2E_BG:-808080}  # the viewer's default background colour

# e2e_expect_screen LABEL LAYOUT...: waits up to 10 s for the screen to show
# the layout (see lib/screen.pl: "single COLOR WxH" or "spread LEFT WxH RIGHT
# WxH"), and fails with the differences otherwise.
e2e_expect_screen() {
    local label=$1 deadline=$((SECONDS + 10)) out w h
    shift
    read -r w h < <(xdotool getdisplaygeometry)
    while :; do
        out=$(import -window root -depth 8 "rgb:$E2E_DIR/shot.rgb" 2>&1 &&
            perl "$(dirname "${BASH_SOURCE[0]}")/screen.pl" "$E2E_DIR/shot.rgb" "$w" "$h" "$E2E_BG" "$@") && {
            echo "ok: $label"
            return 0
        }
        [ $SECONDS -lt $deadline ] || fail "$label: $out"
        sleep 0.2
    done
}

# e2e_alive: fails when the program has ended.
e2e_alive() {
    kill -0 "$E2E_PID" 2>/dev/null || fail "${1:-the viewer} ended"
}

# e2e_expect_one_box LABEL REGEX: waits for the program's message boxes,
# answers them, and fails unless there was exactly one and its text (lines
# joined by "\n") matches the extended regular expression.
e2e_expect_one_box() {
    local out text
    out=$("$VELK58_WINE" "$VELK58_TOOLS/msgbox_reader.exe" 20000 2 2>/dev/null | tr -d '\r')
    grep -qx "boxes 1" <<<"$out" || fail "$1: expected exactly one message box, got: $out"
    text=$(sed -n '/^text-begin$/,/^text-end$/p' <<<"$out" | sed '1d;$d' | awk '{printf "%s%s", (NR > 1 ? "\\n" : ""), $0}')
    [[ "$text" =~ $2 ]] || fail "$1: the message was: $text"
    echo "ok: $1: $text"
}

# e2e_pixel X Y: the colour (rrggbb) of one screen pixel.
e2e_pixel() {
    import -window root -crop "1x1+$1+$2" -depth 8 rgb:- 2>/dev/null | od -An -tx1 | tr -d ' \n'
}

# e2e_wait_event NAME [AFTER] [TIMEOUT_S]: with the probe build's event log
# (VELK58_EVENT_LOG), waits for an event NAME, after an event AFTER if given.
e2e_wait_event() {
    local deadline=$((SECONDS + ${3:-20}))
    until awk -v name="$1" -v after="${2:-}" '
        after == "" || $2 == after { armed = 1 }
        armed && $2 == name { found = 1 }
        END { exit !found }' "$VELK58_EVENT_LOG" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "no event $1${2:+ after $2} in the event log"
        sleep 0.05
    done
}
