// The foundation library's heaps: one global heap (handle 0), private heaps
// that may draw on a parent, and stack heaps that are only freed all at once.
#pragma once

#include <windows.h>

#include "esl_export.h"

typedef struct ESLHeapRecord* HESLHEAP;
typedef struct ESLStackHeapRecord* HSTACKHEAP;

enum : DWORD {
    ESL_HEAP_ZERO_INIT = 0x0001,  // fill new memory with zeros
    ESL_HEAP_NO_SERIALIZE = 0x0002,  // no locking: the caller has exclusive use
    ESL_HEAP_NO_DIALOG = 0x0004,  // never ask the user; fail at once
};

// Asked when the system refuses memory; nRetry counts from 0. A result of 0
// or IDYES (6) tries again, anything else fails the allocation.
typedef int(__cdecl* PFUNC_ESL_NO_MEMORY)(int nRetry);

ESL_EXPORT HESLHEAP eslHeapCreate(DWORD dwInitSize, DWORD dwGrowSize, DWORD dwFlags, HESLHEAP hParentHeap);
ESL_EXPORT void eslHeapDestroy(HESLHEAP hHeap);
ESL_EXPORT void* eslHeapAllocate(HESLHEAP hHeap, DWORD dwSize, DWORD dwFlags);
ESL_EXPORT void eslHeapFree(HESLHEAP hHeap, void* ptrObj, DWORD dwFlags);
ESL_EXPORT void* eslHeapReallocate(HESLHEAP hHeap, void* ptrObj, DWORD dwSize, DWORD dwFlags);
// Usable size in bytes, or (DWORD)-1 for a pointer that is not a block in use.
ESL_EXPORT DWORD eslHeapGetLength(HESLHEAP hHeap, void* ptrObj);
ESL_EXPORT void eslHeapLock(HESLHEAP hHeap);
ESL_EXPORT void eslHeapUnlock(HESLHEAP hHeap);
ESL_EXPORT DWORD eslHeapGetGlobalFlag();
ESL_EXPORT void eslHeapSetGlobalFlag(DWORD dwFlags);
// Returns the hook installed before.
ESL_EXPORT PFUNC_ESL_NO_MEMORY eslHeapHookNoMemory(PFUNC_ESL_NO_MEMORY pfnHook);
ESL_EXPORT void eslHeapDump(HESLHEAP hHeap, int nMaxBlocks);
ESL_EXPORT HSTACKHEAP eslStackHeapCreate(DWORD dwInitSize, DWORD dwGrowSize);
ESL_EXPORT void eslStackHeapDestroy(HSTACKHEAP hHeap);
ESL_EXPORT void* eslStackHeapAllocate(HSTACKHEAP hHeap, DWORD dwSize);
ESL_EXPORT void eslStackHeapFree(HSTACKHEAP hHeap);
ESL_EXPORT HESLHEAP eslGetGlobalHeap();
ESL_EXPORT void eslFreeGlobalHeap();
// 0 when the segment chain is sound; otherwise raises a breakpoint exception.
ESL_EXPORT int eslVerifyHeapChain(HESLHEAP hHeap);
