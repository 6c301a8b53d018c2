# Both targets are built: the x86_64 program is a PE32+ image, the i686 one
# (which cannot run on this kernel) a PE32 image that links.
set -euo pipefail
magic() {  # the optional header's magic: 0x10b PE32, 0x20b PE32+
    local exe=$1 pe
    pe=$(od -An -t u4 -j 60 -N 4 "$exe" | tr -d ' ')
    od -An -t x2 -j $((pe + 24)) -N 2 "$exe" | tr -d ' '
}
x64=$VELK58_EXE
x86=$VELK58_OTHER_BUILD/app/velk58.exe
[ -f "$x86" ] || { echo "FAIL: no i686 build at $x86"; exit 1; }
[ "$(magic "$x64")" = 020b ] || { echo "FAIL: $x64 is not PE32+"; exit 1; }
[ "$(magic "$x86")" = 010b ] || { echo "FAIL: $x86 is not PE32"; exit 1; }
file "$x64" "$x86" 2>/dev/null || true
echo ok
