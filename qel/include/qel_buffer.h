// A fixed-size block of bytes from a foundation heap.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>

#include "esl_heap.h"
#include "qel_exception.h"

namespace qel {

class CBuffer : boost::noncopyable {
public:
    // dwFlags and hHeap are those of eslHeapAllocate; null is the default heap.
    explicit CBuffer(DWORD dwSize, DWORD dwFlags = 0, HESLHEAP hHeap = nullptr)
        : m_dwSize(dwSize), m_hHeap(hHeap), m_pBuffer(::eslHeapAllocate(hHeap, dwSize, dwFlags)) {
        QEL_FAIL_IF_AT("qel/include/qel_buffer", 33, m_pBuffer == NULL);
    }
    ~CBuffer() { ::eslHeapFree(m_hHeap, m_pBuffer, 0); }

    void* get() const noexcept { return m_pBuffer; }
    DWORD size() const noexcept { return m_dwSize; }

private:
    DWORD m_dwSize;
    HESLHEAP m_hHeap;
    void* m_pBuffer;
};

}  // namespace qel
