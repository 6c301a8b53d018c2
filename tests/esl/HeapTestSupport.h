// Shared by the heap tests: a deep consistency check as a gtest assertion and
// owners that give heaps and seams back at the end of a test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "esl_heap.h"
#include "esl_heap_internal.h"

namespace heap_test {

inline ::testing::AssertionResult HeapIsSound(HESLHEAP hHeap) {
    char error[256] = "";
    if (esl::heap_detail::CheckHeap(hHeap, error, sizeof error))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error;
}

struct NoCopy {
    NoCopy() = default;
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};

class ScopedHeap : NoCopy {
public:
    explicit ScopedHeap(DWORD dwInitSize = 0, DWORD dwGrowSize = 0, DWORD dwFlags = 0, HESLHEAP hParent = nullptr)
        : m_hHeap(eslHeapCreate(dwInitSize, dwGrowSize, dwFlags, hParent)) {}
    ~ScopedHeap() { eslHeapDestroy(m_hHeap); }
    HESLHEAP get() const { return m_hHeap; }

private:
    HESLHEAP m_hHeap;
};

// Collects what eslHeapDump writes, one entry per write.
class DumpCapture : NoCopy {
public:
    DumpCapture() : m_pfnOld(esl::heap_detail::SetDebugOutput(&DumpCapture::Write)) { Calls().clear(); }
    ~DumpCapture() { esl::heap_detail::SetDebugOutput(m_pfnOld); }
    static std::vector<std::string>& Calls() {
        static std::vector<std::string> calls;
        return calls;
    }
    static std::string Text() {
        std::string text;
        for (const std::string& s : Calls())
            text += s;
        return text;
    }

private:
    static void WINAPI Write(LPCSTR psz) { Calls().push_back(psz); }
    esl::heap_detail::DebugOutputFn m_pfnOld;
};

// Lets the system refuse memory nRefusals times (-1: always) and counts its calls.
class RefusingSystem : NoCopy {
public:
    explicit RefusingSystem(int nRefusals) : m_pfnOld(esl::heap_detail::SetSystemAllocator(&Allocate)) {
        Refusals() = nRefusals;
        Calls() = 0;
    }
    ~RefusingSystem() { esl::heap_detail::SetSystemAllocator(m_pfnOld); }
    static int& Calls() {
        static int n = 0;
        return n;
    }

private:
    static int& Refusals() {
        static int n = 0;
        return n;
    }
    static void* Allocate(SIZE_T cb) {
        ++Calls();
        if (Refusals() != 0) {
            Refusals() -= Refusals() > 0;
            return nullptr;
        }
        return ::VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    esl::heap_detail::SystemAllocateFn m_pfnOld;
};

class ScopedNoMemoryHook : NoCopy {
public:
    explicit ScopedNoMemoryHook(PFUNC_ESL_NO_MEMORY pfn) : m_pfnOld(eslHeapHookNoMemory(pfn)) {}
    ~ScopedNoMemoryHook() { eslHeapHookNoMemory(m_pfnOld); }

private:
    PFUNC_ESL_NO_MEMORY m_pfnOld;
};

}  // namespace heap_test
