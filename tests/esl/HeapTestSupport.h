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

class ScopedHeap {
public:
    explicit ScopedHeap(DWORD dwInitSize = 0, DWORD dwGrowSize = 0, DWORD dwFlags = 0, HESLHEAP hParent = nullptr)
        : m_hHeap(eslHeapCreate(dwInitSize, dwGrowSize, dwFlags, hParent)) {}
    ~ScopedHeap() { eslHeapDestroy(m_hHeap); }
    ScopedHeap(const ScopedHeap&) = delete;
    ScopedHeap& operator=(const ScopedHeap&) = delete;
    HESLHEAP get() const { return m_hHeap; }

private:
    HESLHEAP m_hHeap;
};

// Collects what eslHeapDump writes.
class DumpCapture {
public:
    DumpCapture() {
        Clear();
        m_pfnOld = esl::heap_detail::SetDebugOutput(&DumpCapture::Write);
    }
    ~DumpCapture() { esl::heap_detail::SetDebugOutput(m_pfnOld); }
    DumpCapture(const DumpCapture&) = delete;
    DumpCapture& operator=(const DumpCapture&) = delete;

    static std::string& Text() {
        static std::string text;
        return text;
    }
    static std::vector<std::string>& Calls() {
        static std::vector<std::string> calls;
        return calls;
    }
    void Clear() {
        Text().clear();
        Calls().clear();
    }

private:
    static void WINAPI Write(LPCSTR psz) {
        Text() += psz;
        Calls().push_back(psz);
    }
    esl::heap_detail::DebugOutputFn m_pfnOld;
};

// Lets the system refuse memory for a while, and answers for the user.
class RefusingSystem {
public:
    explicit RefusingSystem(int nRefusals) {
        Refusals() = nRefusals;
        Calls() = 0;
        m_pfnOld = esl::heap_detail::SetSystemAllocator(&RefusingSystem::Allocate);
    }
    ~RefusingSystem() { esl::heap_detail::SetSystemAllocator(m_pfnOld); }
    RefusingSystem(const RefusingSystem&) = delete;
    RefusingSystem& operator=(const RefusingSystem&) = delete;

    static int& Refusals() {
        static int n = 0;
        return n;
    }
    static int& Calls() {
        static int n = 0;
        return n;
    }

private:
    static void* Allocate(SIZE_T cb) {
        ++Calls();
        if (Refusals() != 0) {
            if (Refusals() > 0)
                --Refusals();
            return nullptr;
        }
        return ::VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    esl::heap_detail::SystemAllocateFn m_pfnOld;
};

class ScopedNoMemoryHook {
public:
    explicit ScopedNoMemoryHook(PFUNC_ESL_NO_MEMORY pfn) : m_pfnOld(eslHeapHookNoMemory(pfn)) {}
    ~ScopedNoMemoryHook() { eslHeapHookNoMemory(m_pfnOld); }
    ScopedNoMemoryHook(const ScopedNoMemoryHook&) = delete;
    ScopedNoMemoryHook& operator=(const ScopedNoMemoryHook&) = delete;

private:
    PFUNC_ESL_NO_MEMORY m_pfnOld;
};

}  // namespace heap_test
