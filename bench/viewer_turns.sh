#!/usr/bin/env bash
# Page turns timed inside the real program: the probe build writes an event
# log (app/ProbeHooks.h), and a turn is the time from its key's WM_KEYDOWN to
# the end of the paint that follows. Run by scripts/bench, which gives it an
# Xvfb (1920 x 1080) and a running Wine. Prints medians as "bench" lines:
#   turn_next1_preloaded_ms        single page, the loaders done before each key
#   turn_next_spread_preloaded_ms  the same by spreads
#   turn_prev_spread_preloaded_ms  the same, backward
#   turn_next1_during_load_ms      each key as soon as the last turn is painted
#   turn_next1_during_load_gdiplus_ms  the same, our picture plug-ins set aside
#   open_book_first_paint_ms       process start to the first paint, 200 pages
#   soak_private_bytes_growth_pct  1000 turns on 20 pages: private bytes after
#   soak_handles_growth            the last lap against the first; GDI + kernel handles
# Private bytes are the program's as the system reports them, or else (under
# Wine, which reports none) its process's anonymous resident memory.
# Pages: 2400 x 3400 JPEGs (smaller ones, 1200 x 1700, for the soak).
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
velk58_wine_env

build=$VELK58_BUILD_ROOT/x86_64
work=$(mktemp -d "${TMPDIR:-/tmp}/velk58-turns.XXXXXX")
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    for w in $(xdotool search --name '^velk58$' 2>/dev/null); do xdotool windowkill "$w" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
cp "$build/app/velk58_probe.exe" "$work/velk58.exe"
shopt -s nullglob
for spi in "$build"/app/*.sph; do cp "$spi" "$work/"; done
log=$work/events.log
export VELK58_EVENT_LOG=$(echo "Z:$log" | tr / '\\')

# book NAME PAGES SIZE: hard links to one generated JPEG, so that every page
# costs the same decode.
book() {
    local dir=$work/$1 i
    mkdir -p "$dir"
    [ -f "$work/$3.jpg" ] ||
        convert -size "$3" -seed 7 plasma:fractal -blur 0x1 -quality 90 "$work/$3.jpg"
    for ((i = 1; i <= $2; i++)); do ln "$work/$3.jpg" "$dir/$(printf 'p%03d' "$i").jpg"; done
    echo "Z:${dir//\//\\}"
}

count() {
    local n
    n=$(grep -c " $1\$" "$log" 2>/dev/null)
    echo "${n:-0}"
}
# until CONDITION: polls for up to 120 s.
until_true() {
    local i
    for ((i = 0; i < 12000; i++)); do
        eval "$1" && return 0
        sleep 0.01
    done
    echo "bench viewer_turns timed out waiting for: $1" >&2
    exit 1
}
idle() { [ $(($(count loaders) * 2)) -eq "$(count loader-end)" ]; }
start() {
    rm -f "$log"
    "$VELK58_WINE" "$work/velk58.exe" "$1" >/dev/null 2>&1 &
    pid=$!
    until_true '[ "$(count paint)" -ge 1 ]'
    until_true idle
    xdotool mousemove 0 0
}
stop() {
    xdotool key Escape
    wait "$pid" || true
    pid=""
}
# turn KEY WAIT_IDLE: one key, its paint, and the loaders if asked.
turn() {
    local painted
    painted=$(count paint)
    xdotool key "$1"
    until_true '[ "$(count paint)" -gt '"$painted"' ]'
    [ "$2" = idle ] && until_true idle
    return 0
}
# median_turn_ms: the median, over the keys in the log, of key to next paint.
median_turn_ms() {
    awk '$2 == "key" { k = $1 } $2 == "paint" && k { print ($1 - k) / 1000; k = 0 }' "$log" |
        sort -n | awk '{ v[NR] = $1 } END { printf "%.2f\n", v[int((NR + 1) / 2)] }'
}
turns() {  # turns NAME KEY N WAIT_IDLE [SETUP_KEY]
    local i
    start "$big"
    [ -n "${5:-}" ] && turn "$5" idle
    : >"$log"
    for ((i = 0; i < $3; i++)); do turn "$2" "$4"; done
    echo "bench $1 $(median_turn_ms)"
    stop
}

big=$(book big 20 2400x3400)
turns turn_next1_preloaded_ms Down 50 idle
turns turn_next_spread_preloaded_ms Right 50 idle s
turns turn_prev_spread_preloaded_ms Left 50 idle s
turns turn_next1_during_load_ms Down 50 busy
# Again with GDI+ decoding every page: our picture plug-ins set aside.
mkdir "$work/aside"
mv "$work"/{jpeg,png,webp,pnm}.sph "$work/aside/"
turns turn_next1_during_load_gdiplus_ms Down 50 busy
mv "$work"/aside/*.sph "$work/"

many=$(book many 200 2400x3400)
firsts=()
for run in 1 2 3 4 5; do
    t0=$(date +%s%6N)
    start "$many"
    firsts+=("$(awk -v t0="$t0" '$2 == "paint" { printf "%.1f\n", ($1 - t0) / 1000; exit }' "$log")")
    stop
done
echo "bench open_book_first_paint_ms $(printf '%s\n' "${firsts[@]}" | sort -n | sed -n 3p)"

# Soak: 25 laps of 20 pages forward and 20 back; the state after the first
# lap against the state after the last, both with the loaders done.
small=$(book small 20 1200x1700)
start "$small"
# stats: presses an unbound key, whose handling logs the counts first.
stats_lines() { count 'stats .*'; }
stats() {
    local before
    before=$(stats_lines)
    xdotool key q
    until_true '[ "$(stats_lines)" -gt '"$before"' ]'
    local line rss
    line=$(grep ' stats ' "$log" | tail -n 1)
    rss=$(awk '/^RssAnon:/ { print $2 * 1024 }' "/proc/$pid/status")
    read -r _ _ private gdi kernel <<<"$line"
    [ "$private" -gt 0 ] || private=$rss
    echo "$private $gdi $kernel"
}
for lap in $(seq 1 25); do
    for _ in $(seq 1 20); do turn Down busy; done
    for _ in $(seq 1 20); do turn Up busy; done
    until_true idle
    [ "$lap" -eq 1 ] && first=$(stats)
done
last=$(stats)
stop
read -r p1 g1 h1 <<<"$first"
read -r p2 g2 h2 <<<"$last"
echo "bench soak_private_bytes_growth_pct $(awk -v a="$p1" -v b="$p2" 'BEGIN { printf "%.2f\n", (b - a) * 100 / a }')"
echo "bench soak_handles_growth $((g2 + h2 - g1 - h1))"
