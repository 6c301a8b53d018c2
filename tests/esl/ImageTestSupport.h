// Raster test helpers: pixels through the record's pitch, random images, plain paths.
#pragma once

#include <random>

#include "esl_image.h"
#include "esl_library.h"

namespace imagetest {

inline DWORD* Pixel32(const ImageBuffer* p, int x, int y) {
    return reinterpret_cast<DWORD*>(p->ptrImage + static_cast<std::ptrdiff_t>(y) * p->nPitch) + x;
}

inline DWORD Get32(const ImageBuffer* p, int x, int y) {
    return *Pixel32(p, x, y);
}

// Channel c (0 blue, 1 green, 2 red, 3 the fourth byte) of a pixel.
inline int Channel(DWORD pixel, int c) {
    return static_cast<int>((pixel >> (8 * c)) & 0xFF);
}

// Black, or random pixels from a seed other than 0.
inline UniqueImageBuffer Make32(int w, int h, unsigned seed = 0, DWORD flags = 0) {
    UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, w, h, 32, flags));
    std::mt19937 rng(seed);
    for (int i = 0; seed && i < w * h; ++i)
        *Pixel32(image.get(), i % w, i / w) = static_cast<DWORD>(rng());
    return image;
}

// Turns the SSE flag off for its lifetime when asked.
class PlainPathsOnly {
public:
    explicit PlainPathsOnly(bool bPlain) : m_saved(glsGetEnabledProcessorType()) {
        glsDisableProcessorType(bPlain ? static_cast<DWORD>(ESL_PROCESSOR_SSE) : 0u);
    }
    PlainPathsOnly(const PlainPathsOnly&) = delete;
    PlainPathsOnly& operator=(const PlainPathsOnly&) = delete;
    ~PlainPathsOnly() { glsEnableProcessorType(m_saved & ESL_PROCESSOR_SSE); }

private:
    DWORD m_saved;
};

}  // namespace imagetest
