# The shell's ways of starting and ending: no book, a folder, and every input
# that closes the window.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install

# Without an argument and without last.sz7 beside it: exit 0, never a visible
# window (Wine may create the X window unmapped before WM_CREATE fails).
e2e_start
seen=""
while kill -0 "$E2E_PID" 2>/dev/null; do
    seen+=$(xdotool search --onlyvisible --name '^velk58$' 2>/dev/null || true)
    sleep 0.05
done
e2e_expect_exit 0
[ -z "$seen" ] || fail "a window appeared without a book"

book=$(e2e_book book 3)
read -r screen_w screen_h < <(xdotool getdisplaygeometry)

# On a folder: the window covers the whole screen; each closing input ends it with 0.
close_by() {
    local how=$1
    shift
    e2e_start "$book"
    local w
    w=$(e2e_wait_window) || fail "$how: no window"
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$X,$Y,$WIDTH,$HEIGHT" = "0,0,$screen_w,$screen_h" ] ||
        fail "$how: window at $X,$Y size ${WIDTH}x$HEIGHT, screen ${screen_w}x$screen_h"
    xdotool mousemove 200 200
    sleep 0.3
    "$@"
    e2e_expect_exit 0 || fail "$how"
    echo "ok: $how"
}
close_by "Escape" xdotool key Escape
close_by "Return" xdotool key Return
close_by "Space" xdotool key space
close_by "middle-button release" xdotool click 2
close_by "left then right button" sh -c 'xdotool mousedown 1; sleep 0.2; xdotool mousedown 3; sleep 0.2; xdotool mouseup 3 mouseup 1'
close_by "right then left button" sh -c 'xdotool mousedown 3; sleep 0.2; xdotool mousedown 1; sleep 0.2; xdotool mouseup 1 mouseup 3'

# A key without a binding changes nothing: the window stays.
e2e_start "$book" "$E2E_DIR/ignored-second-argument"
e2e_wait_window >/dev/null || fail "two arguments: no window (only the first is used)"
xdotool key q
sleep 0.5
kill -0 "$E2E_PID" 2>/dev/null || fail "an unbound key ended the program"
xdotool key Escape
e2e_expect_exit 0
