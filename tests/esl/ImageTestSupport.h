// Helpers shared by the raster layer's tests: pixel access through a
// record's own pitch, seeded random images, and a switch for the SSE2 paths.
#pragma once

#include <cstring>
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

inline void FillRandom(ImageBuffer* p, unsigned seed) {
    std::mt19937 rng(seed);
    for (int y = 0; y < p->nHeight; ++y)
        for (int x = 0; x < p->nWidth; ++x)
            *Pixel32(p, x, y) = static_cast<DWORD>(rng());
}

inline UniqueImageBuffer Make32(int w, int h, DWORD flags = 0) {
    return UniqueImageBuffer(CreateImageBuffer(kImageFormatColor, w, h, 32, flags));
}

// Turns the SSE flag off for its lifetime, so that the plain paths run.
class PlainPathsOnly {
public:
    PlainPathsOnly() : m_saved(glsGetEnabledProcessorType()) { glsDisableProcessorType(ESL_PROCESSOR_SSE); }
    PlainPathsOnly(const PlainPathsOnly&) = delete;
    PlainPathsOnly& operator=(const PlainPathsOnly&) = delete;
    ~PlainPathsOnly() { glsEnableProcessorType(m_saved & ESL_PROCESSOR_SSE); }

private:
    DWORD m_saved;
};

}  // namespace imagetest
