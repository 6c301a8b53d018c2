# An animated page plays its frames in order at its own delays, starts over
# from its first frame each time it is shown, and stands still in a spread.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install "$VELK58_PROBE_EXE"  # its event log counts the compositions
export VELK58_EVENT_LOG=$E2E_DIR/events.log
mkdir -p "$E2E_DIR/book"
# Frames: red for 2 s, green and blue for 1 s each: long enough to be seen
# by screenshots on a busy machine.
convert -size 300x400 -delay 200 xc:#d03c3c -delay 100 xc:#3cc850 xc:#3c50dc -loop 0 "$E2E_DIR/book/p01.gif"
e2e_color_page "$E2E_DIR/book/p02.png" e6dc28 300x400
e2e_open "" "$(e2e_winpath "$E2E_DIR/book")"
xdotool mousemove 0 0
read -r w h < <(xdotool getdisplaygeometry)

# watch SECONDS X: the colours at (X, middle of the screen) as they change.
watch() {
    local end=$((SECONDS + $1)) seen="" c
    while [ $SECONDS -lt $end ]; do
        c=$(e2e_pixel "$2" $((h / 2)))
        [ "${seen##* }" = "$c" ] || seen+=" $c"
        sleep 0.05
    done
    echo "$seen"
}
seen=$(watch 9 $((w / 2)))
[[ "$seen" =~ d03c3c\ 3cc850\ 3c50dc\ d03c3c ]] || fail "the frames did not run red, green, blue, red: $seen"
echo "ok: frames in order:$seen"

# Shown again: from the first frame, whatever frame it left on.
xdotool key Down && e2e_expect_screen "the next page" single e6dc28 300x400
xdotool key Up
first=""
for _ in $(seq 1 100); do
    first=$(e2e_pixel $((w / 2)) $((h / 2)))
    [ "$first" != e6dc28 ] && break
done
[ "$first" = d03c3c ] || fail "shown again, the animation began with $first, not its first frame"
echo "ok: starts over from the first frame"

# In a spread the first frame stays.
xdotool key s && e2e_expect_screen "a spread with the animated page" spread e6dc28 300x400 d03c3c 300x400
renders=$(grep -c ' render$' "$VELK58_EVENT_LOG")
seen=$(watch 3 $((w * 3 / 4)))  # the right page: the current one
[ "$seen" = " d03c3c" ] || fail "the animated page moved in a spread:$seen"
# The timer of the single page must not go on composing the unchanged spread.
[ "$(grep -c ' render$' "$VELK58_EVENT_LOG")" = "$renders" ] || fail "the spread was composed again while still"
echo "ok: still in a spread"
xdotool key Escape
e2e_expect_exit 0
