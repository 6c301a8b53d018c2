#!/usr/bin/env bash
# The system's sha256sum over the same 256 MB as bench/sha256_bench.cpp (one
# MiB from the same generator, 256 times), single-threaded, median of five.
# The bytes live in memory-backed /dev/shm when there is one and are removed.
set -euo pipefail

dir=/dev/shm
[ -d "$dir" ] && [ -w "$dir" ] || dir=${VELK58_BENCH_DIR:-/tmp}
data=$(mktemp "$dir/velk58-sha256.XXXXXX")
trap 'rm -f "$data"' EXIT

python3 - "$data" <<'PY'
import sys
x = 12345
block = bytearray(1 << 20)
for i in range(len(block)):
    x = (x * 1103515245 + 12345) & 0xFFFFFFFF
    block[i] = (x >> 16) & 0xFF
with open(sys.argv[1], "wb") as f:
    for _ in range(256):
        f.write(block)
PY

times=()
digest=""
for run in 1 2 3 4 5; do
    t0=$(date +%s%N)
    digest=$(sha256sum "$data" | cut -d' ' -f1)
    t1=$(date +%s%N)
    times+=($((t1 - t0)))
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
awk -v ns="$median" 'BEGIN { printf "bench sha256sum_mb_per_s %.1f\n", 256 / (ns / 1e9) }'

# Both must have hashed the same bytes.
ours=${VELK58_BENCH_DIR:+$VELK58_BENCH_DIR/sha256_bench.digest}
if [ -n "$ours" ] && [ -f "$ours" ] && [ "$(tr -d '\r\n' <"$ours" | tr 'A-F' 'a-f')" != "$digest" ]; then
    echo "sha256sum.sh: digest $digest differs from sha256_bench's $(cat "$ours")" >&2
    exit 1
fi
