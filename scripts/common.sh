# Shared by scripts/test, scripts/run and scripts/bench: building both
# targets, a private Wine prefix with one persistent wineserver, and an Xvfb.
# Source it; it defines functions and sets VELK58_ROOT and VELK58_BUILD_ROOT.

VELK58_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELK58_BUILD_ROOT=${VELK58_BUILD_ROOT:-$VELK58_ROOT/build}
VELK58_WINE=/usr/lib/wine/wine64
VELK58_WINESERVER=/usr/lib/wine/wineserver
VELK58_JOBS=${VELK58_JOBS:-$(nproc)}

# velk58_build TARGET [cmake targets...]: configure and build x86_64 or i686.
velk58_build() {
    local arch=$1
    shift
    local dir=$VELK58_BUILD_ROOT/$arch
    local extra=()
    [ "$arch" = x86_64 ] && extra+=(-DVELK58_OTHER_BUILD="$VELK58_BUILD_ROOT/i686")
    # Clones and work trees of one machine share compiled objects.
    if command -v ccache >/dev/null; then
        export CCACHE_BASEDIR=$VELK58_ROOT CCACHE_NOHASHDIR=1
        extra+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    # The plug-ins' static libraries, built once per machine (see the script).
    local thirdparty
    thirdparty=$(bash "$VELK58_ROOT/scripts/thirdparty" "$arch") || {
        echo "build: the third-party libraries for $arch failed; no build without plug-ins" >&2
        return 1
    }
    extra+=(-DVELK58_THIRDPARTY_DIR="$thirdparty")
    if [ ! -f "$dir/CMakeCache.txt" ] ||
        ! grep -qxF "VELK58_THIRDPARTY_DIR:PATH=$thirdparty" "$dir/CMakeCache.txt"; then
        cmake -S "$VELK58_ROOT" -B "$dir" -G "Unix Makefiles" \
            -DCMAKE_TOOLCHAIN_FILE="$VELK58_ROOT/cmake/toolchain-$arch-w64-mingw32.cmake" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
    fi
    if [ $# -gt 0 ]; then
        cmake --build "$dir" -j "$VELK58_JOBS" --target "$@"
    else
        cmake --build "$dir" -j "$VELK58_JOBS"
    fi
}

# A private prefix in the build tree, Shift-JIS as the ANSI code page, no
# debug chatter, and no offer to install Mono or Gecko.
velk58_wine_env() {
    export WINEPREFIX=$VELK58_BUILD_ROOT/wineprefix
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
    export WINEARCH=win64
}

# Starts the persistent wineserver (a process start then costs 0.1 s, not 3 s)
# and creates the prefix on first use.
velk58_start_wine() {
    velk58_wine_env
    mkdir -p "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine: creating the prefix $WINEPREFIX"
        "$VELK58_WINE" wineboot -i >/dev/null 2>&1 || true
        "$VELK58_WINESERVER" -w 2>/dev/null || true
    fi
    # It must not hold the caller's output open.
    "$VELK58_WINESERVER" -p >/dev/null 2>&1 </dev/null &
    sleep 0.2
    # The first process starts Wine's services, which then live as long as the
    # server. Started from here they hold no test's output pipe open (a test
    # runner would wait on that pipe until its time-out).
    "$VELK58_WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

velk58_stop_wine() {
    [ -n "${WINEPREFIX:-}" ] && "$VELK58_WINESERVER" -k >/dev/null 2>&1 || true
}

# Starts an Xvfb of our own and exports DISPLAY. Xvfb itself picks a free
# display number (-displayfd), so runs started side by side never share one.
VELK58_XVFB_PID=""
velk58_start_xvfb() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${VELK58_SCREEN:-1024x768x24}" -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 </dev/null &
    VELK58_XVFB_PID=$!
    local i n=""
    for i in $(seq 1 200); do
        n=$(tr -dc '0-9' <"$fdfile")
        [ -n "$n" ] && [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.05
    done
    rm -f "$fdfile"
    if [ -z "$n" ]; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$n"
}

velk58_stop_xvfb() {
    if [ -n "$VELK58_XVFB_PID" ]; then
        kill "$VELK58_XVFB_PID" 2>/dev/null || true
        wait "$VELK58_XVFB_PID" 2>/dev/null || true
        VELK58_XVFB_PID=""
    fi
}
