# Both builds of the program export the foundation library's heap and library
# functions by name.
set -euo pipefail
names=(
    eslHeapCreate eslHeapDestroy eslHeapAllocate eslHeapFree eslHeapReallocate
    eslHeapGetLength eslHeapLock eslHeapUnlock eslHeapGetGlobalFlag eslHeapSetGlobalFlag
    eslHeapHookNoMemory eslHeapDump eslStackHeapCreate eslStackHeapDestroy
    eslStackHeapAllocate eslStackHeapFree eslGetGlobalHeap eslFreeGlobalHeap eslVerifyHeapChain
    glsGetLibraryVersion glsInitializeLibrary glsCloseLibrary glsInitializeTask glsCloseTask
    glsGetImageGlobalHeap glsEnableProcessorType glsDisableProcessorType glsGetEnabledProcessorType
)
# The export table's name column, one name a line (untranslated headings).
exported() {
    LC_ALL=C "$1" -p "$2" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0} on {print $NF}'
}
check() {
    local objdump=$1 exe=$2 list missing=()
    [ -f "$exe" ] || { echo "FAIL: no program at $exe"; exit 1; }
    list=$(exported "$objdump" "$exe")
    for name in "${names[@]}"; do
        grep -qx "$name" <<<"$list" || missing+=("$name")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "FAIL: $exe does not export: ${missing[*]}"
        exit 1
    fi
    echo "$exe: all ${#names[@]} names exported"
}
check "${VELK58_OBJDUMP:-x86_64-w64-mingw32-objdump}" "$VELK58_EXE"
check i686-w64-mingw32-objdump "$VELK58_OTHER_BUILD/app/velk58.exe"
