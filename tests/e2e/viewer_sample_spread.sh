# The sample book as a spread: the screenshot of the README
# (docs/spread.png), kept in the build as screenshots/spread.png.
source "$(dirname "$0")/lib/e2e.bash"
e2e_install "$VELK58_PROBE_EXE"  # its event log tells when the spread is painted
export VELK58_EVENT_LOG=$E2E_DIR/events.log
[ -d "$VELK58_BUILD/sample/book" ] || fail "no sample book in the build"
e2e_open "on the sample book" "$(e2e_winpath "$VELK58_BUILD/sample/book")"
xdotool mousemove 0 0
e2e_wait_event paint
xdotool key s
e2e_wait_event paint key
mkdir -p "$VELK58_BUILD/screenshots"
import -window root "$VELK58_BUILD/screenshots/spread.png"
e2e_alive
xdotool key Escape
e2e_expect_exit 0
echo "ok: $VELK58_BUILD/screenshots/spread.png"
