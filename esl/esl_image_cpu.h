// Choice between the SSE2 and the plain code paths of the raster layer. Both
// give the same bytes; the plain one exists for processors without SSE2 (or
// with it switched off through glsDisableProcessorType).
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "esl_library.h"

#if defined(__x86_64__)
#define ESL_SSE2
#else
// The i686 build assumes no SSE2 in the rest of the program, and its stack
// is only 4-byte aligned on entry.
#define ESL_SSE2 __attribute__((target("sse2"), force_align_arg_pointer))
#endif

namespace esl::image {

inline bool CpuHasSse2() noexcept {
#if defined(__x86_64__)
    return true;
#else
    // The library's flag says SSE; the code needs SSE2, which a few SSE
    // processors lack.
    return __builtin_cpu_supports("sse2");
#endif
}

inline bool UseSse2() noexcept {
    return (glsGetEnabledProcessorType() & ESL_PROCESSOR_SSE) && CpuHasSse2();
}

inline bool IsAligned16(const void* p) noexcept {
    return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0;
}

// Scratch memory from the image heap, 16-byte aligned; the library does not
// throw, so a failed allocation is a false result.
template <class T>
class HeapArray {
public:
    HeapArray() = default;
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    ~HeapArray() { Release(); }

    bool Allocate(std::uint64_t count) {
        Release();
        const std::uint64_t bytes = count * sizeof(T) + 16;
        if (count > 0xFFFFFFFFull / sizeof(T) || bytes > 0xFFFFFFFFull)
            return false;
        m_pBlock = eslHeapAllocate(glsGetImageGlobalHeap(), static_cast<DWORD>(bytes), 0);
        if (!m_pBlock)
            return false;
        m_p = reinterpret_cast<T*>((reinterpret_cast<std::uintptr_t>(m_pBlock) + 15) & ~std::uintptr_t{15});
        return true;
    }
    T* Get() const noexcept { return m_p; }
    T& operator[](std::size_t i) const noexcept { return m_p[i]; }

private:
    void Release() {
        if (m_pBlock)
            eslHeapFree(glsGetImageGlobalHeap(), m_pBlock, 0);
        m_pBlock = nullptr;
        m_p = nullptr;
    }

    void* m_pBlock = nullptr;
    T* m_p = nullptr;
};

}  // namespace esl::image
