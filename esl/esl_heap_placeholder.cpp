// PLACEHOLDER until the heap manager lands: every heap is the process heap.
// Only what the rest of the program needs to run is here.
#include "esl_heap.h"

namespace {
HANDLE ProcessHeap() { return ::GetProcessHeap(); }
DWORD gGlobalFlags = 0;
}  // namespace

HESLHEAP eslHeapCreate(DWORD, DWORD, DWORD, HESLHEAP) { return reinterpret_cast<HESLHEAP>(ProcessHeap()); }
void eslHeapDestroy(HESLHEAP) {}
void* eslHeapAllocate(HESLHEAP, DWORD dwSize, DWORD dwFlags) {
    return ::HeapAlloc(ProcessHeap(), (dwFlags | gGlobalFlags) & ESL_HEAP_ZERO_INIT ? HEAP_ZERO_MEMORY : 0,
                       dwSize ? dwSize : 8);
}
void eslHeapFree(HESLHEAP, void* ptrObj, DWORD) {
    if (ptrObj)
        ::HeapFree(ProcessHeap(), 0, ptrObj);
}
void* eslHeapReallocate(HESLHEAP hHeap, void* ptrObj, DWORD dwSize, DWORD dwFlags) {
    if (!ptrObj)
        return eslHeapAllocate(hHeap, dwSize, dwFlags);
    return ::HeapReAlloc(ProcessHeap(), (dwFlags | gGlobalFlags) & ESL_HEAP_ZERO_INIT ? HEAP_ZERO_MEMORY : 0, ptrObj,
                         dwSize ? dwSize : 8);
}
DWORD eslHeapGetLength(HESLHEAP, void* ptrObj) {
    return ptrObj ? static_cast<DWORD>(::HeapSize(ProcessHeap(), 0, ptrObj)) : static_cast<DWORD>(-1);
}
void eslHeapLock(HESLHEAP) {}
void eslHeapUnlock(HESLHEAP) {}
DWORD eslHeapGetGlobalFlag() { return gGlobalFlags; }
void eslHeapSetGlobalFlag(DWORD dwFlags) { gGlobalFlags = dwFlags; }
PFUNC_ESL_NO_MEMORY eslHeapHookNoMemory(PFUNC_ESL_NO_MEMORY) { return nullptr; }
void eslHeapDump(HESLHEAP, int) {}
HSTACKHEAP eslStackHeapCreate(DWORD, DWORD) { return nullptr; }
void eslStackHeapDestroy(HSTACKHEAP) {}
void* eslStackHeapAllocate(HSTACKHEAP, DWORD) { return nullptr; }
void eslStackHeapFree(HSTACKHEAP) {}
HESLHEAP eslGetGlobalHeap() { return reinterpret_cast<HESLHEAP>(ProcessHeap()); }
void eslFreeGlobalHeap() {}
int eslVerifyHeapChain(HESLHEAP) { return 0; }
