// ImageDrawContext: copies, blends and transformed draws of one image onto a
// target, clipped to an inclusive rectangle. Everything it allocates comes
// from a heap of its own.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "esl_image_cpu.h"
#include "esl_image_draw.h"
#include "esl_image_pixels.h"

namespace {

using esl::image::BlendPixel;
using esl::image::LoadPixels32;
using esl::image::StorePixels32;

constexpr double kIdentityTolerance = 1.0 / 65536.0;
constexpr DWORD kOpaque = 0;
constexpr DWORD kInvisible = 256;

bool IsDrawableDepth(DWORD bpp) {
    return bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

bool HasSurface(const ImageBuffer* p) {
    return p && (p->dwKind == kImageKindFull || p->dwKind == kImageKindView) && p->ptrImage && p->nWidth > 0 &&
           p->nHeight > 0;
}

BYTE* RowAt(const ImageBuffer* p, int r) {
    return p->ptrImage + static_cast<std::ptrdiff_t>(r) * p->nPitch;
}

std::int64_t Clamp64(std::int64_t v, std::int64_t lo, std::int64_t hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// One target row's covered columns, inclusive; x0 > x1 when none.
struct Span {
    std::int32_t x0, x1;
};

// Per target column of an axis-aligned bilinear draw: where its two source
// pixels lie and the 15-bit fraction between them, broadcast for SSE2.
struct alignas(16) ColumnTap {
    std::int16_t fx[8];
    std::int32_t offA, offB;  // byte offsets of the left and right pixel
    std::int32_t pad[2];
};

//--- bilinear arithmetic: h = a + ((b - a) * f >> 15), first along x, then y

inline int Lerp15(int a, int b, int f) {
    return a + (((b - a) * f) >> 15);
}

inline DWORD Bilinear(DWORD p00, DWORD p01, DWORD p10, DWORD p11, int fx, int fy) {
    DWORD out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int top = Lerp15((p00 >> shift) & 0xFF, (p01 >> shift) & 0xFF, fx);
        const int bottom = Lerp15((p10 >> shift) & 0xFF, (p11 >> shift) & 0xFF, fx);
        out |= static_cast<DWORD>(Lerp15(top, bottom, fy)) << shift;
    }
    return out;
}

void BilinearRowPlain(DWORD* out, const BYTE* row0, const BYTE* row1, int fy, const ColumnTap* taps, int count) {
    for (int i = 0; i < count; ++i) {
        const ColumnTap& t = taps[i];
        DWORD p00, p01, p10, p11;
        std::memcpy(&p00, row0 + t.offA, 4);
        std::memcpy(&p01, row0 + t.offB, 4);
        std::memcpy(&p10, row1 + t.offA, 4);
        std::memcpy(&p11, row1 + t.offB, 4);
        out[i] = Bilinear(p00, p01, p10, p11, t.fx[0], fy);
    }
}

// [p0 | p1] of each source row through one tap, interpolated along x:
// the result holds the top row's value in the low half, the bottom's above.
ESL_SSE2 inline __m128i HorizontalPair(const BYTE* row0, const BYTE* row1, const ColumnTap& t, __m128i zero) {
    __m128i a, b;
    if (t.offB == t.offA + 4) {
        a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row0 + t.offA));
        b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row1 + t.offA));
    } else {
        DWORD v[4];
        std::memcpy(&v[0], row0 + t.offA, 4);
        std::memcpy(&v[1], row0 + t.offB, 4);
        std::memcpy(&v[2], row1 + t.offA, 4);
        std::memcpy(&v[3], row1 + t.offB, 4);
        a = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(v[0])), _mm_cvtsi32_si128(static_cast<int>(v[1])));
        b = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(v[2])), _mm_cvtsi32_si128(static_cast<int>(v[3])));
    }
    const __m128i t4 = _mm_unpacklo_epi32(a, b);  // p00 p10 p01 p11
    const __m128i left = _mm_unpacklo_epi8(t4, zero);
    const __m128i right = _mm_unpackhi_epi8(t4, zero);
    const __m128i fx = _mm_load_si128(reinterpret_cast<const __m128i*>(t.fx));
    // mulhi(2d, f) = floor(d * f / 32768): the same as the arithmetic shift.
    return _mm_add_epi16(left, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(right, left), 1), fx));
}

ESL_SSE2 void BilinearRowSse2(DWORD* out, const BYTE* row0, const BYTE* row1, int fy, const ColumnTap* taps,
                              int count) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i fyv = _mm_set1_epi16(static_cast<short>(fy));
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m128i ha = HorizontalPair(row0, row1, taps[i], zero);
        const __m128i hb = HorizontalPair(row0, row1, taps[i + 1], zero);
        const __m128i top = _mm_unpacklo_epi64(ha, hb);
        const __m128i bottom = _mm_unpackhi_epi64(ha, hb);
        const __m128i v = _mm_add_epi16(top, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(bottom, top), 1), fyv));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
    }
    if (i < count)
        BilinearRowPlain(out + i, row0, row1, fy, taps + i, count - i);
}

// 32-bit rows copied with aligned 16-byte stores once the target is aligned.
ESL_SSE2 void CopyPixelsSse2(DWORD* d, const DWORD* s, int count) {
    while (count > 0 && !esl::image::IsAligned16(d)) {
        *d++ = *s++;
        --count;
    }
    for (; count >= 16; count -= 16, d += 16, s += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12));
        _mm_store_si128(reinterpret_cast<__m128i*>(d), a);
        _mm_store_si128(reinterpret_cast<__m128i*>(d + 4), b);
        _mm_store_si128(reinterpret_cast<__m128i*>(d + 8), c);
        _mm_store_si128(reinterpret_cast<__m128i*>(d + 12), e);
    }
    for (; count >= 4; count -= 4, d += 4, s += 4)
        _mm_store_si128(reinterpret_cast<__m128i*>(d), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
    while (count-- > 0)
        *d++ = *s++;
}

class DrawContext final : public ImageDrawContext {
public:
    explicit DrawContext(HESLHEAP hHeap) : m_hHeap(hHeap) {}

    void Destroy() override {
        HESLHEAP heap = m_hHeap;
        FreeTargetBuffers();
        Free(m_pTaps);
        this->~DrawContext();
        eslHeapFree(heap, this, 0);
        eslHeapDestroy(heap);
    }

    int SetTarget(ImageBuffer* pTarget, const RECT* pClip, ImageBuffer* pMask) override;

    ImageBuffer* GetTarget(RECT* pClip, ImageBuffer** ppMask) override {
        if (pClip)
            *pClip = m_clip;
        if (ppMask)
            *ppMask = m_pMask;
        return m_pTarget;
    }

    DWORD GetFlags() override { return m_dwFlags; }
    DWORD SetFlags(DWORD dwFlags) override { return m_dwFlags = dwFlags & kDrawContextFlagMask; }
    POINT GetOrigin() override { return m_origin; }
    void SetOrigin(int x, int y) override { m_origin = POINT{x, y}; }
    void Reserved() override {}
    int PrepareDraw(const ImageDrawParam& param) override;
    int Run() override;

private:
    enum class Prepared { None, Nothing, Copy, Transform };

    ~DrawContext() = default;

    void* Allocate(std::uint64_t bytes) {
        if (bytes > 0xFFFFFFF0ull)
            return nullptr;
        return eslHeapAllocate(m_hHeap, static_cast<DWORD>(bytes), 0);
    }
    void Free(void* p) {
        if (p)
            eslHeapFree(m_hHeap, p, 0);
    }
    void FreeTargetBuffers() {
        Free(m_pEdgeBlock);
        Free(m_pLineBlock);
        m_pEdgeBlock = m_pLineBlock = nullptr;
        m_pSpans = nullptr;
        m_pLine = nullptr;
    }
    bool ReserveTaps(int count);

    int PrepareCopy(const ImageDrawParam& param, std::int64_t x, std::int64_t y);
    int PrepareTransform(const ImageMatrix& m, std::int64_t x, std::int64_t y);
    void RasterizeParallelogram(double ax, double ay, double la, double bx, double by, double lb);
    void RunCopy();
    void RunTransform();
    void RunGeneralTransform();
    bool RunAxisBilinear();
    void EmitRow(BYTE* targetRow, int x0, const DWORD* pixels, int count);
    DWORD SamplePixel(std::int64_t u, std::int64_t v) const;

    HESLHEAP m_hHeap;
    ImageBuffer* m_pTarget = nullptr;
    ImageBuffer* m_pMask = nullptr;
    RECT m_clip{};  // inclusive
    DWORD m_dwFlags = 0;
    POINT m_origin{};
    void* m_pEdgeBlock = nullptr;
    void* m_pLineBlock = nullptr;
    Span* m_pSpans = nullptr;  // in the edge table, one per target row
    DWORD* m_pLine = nullptr;  // 16-byte aligned, one target row
    ColumnTap* m_pTaps = nullptr;
    int m_nTapCapacity = 0;

    // The prepared draw.
    Prepared m_prepared = Prepared::None;
    const ImageBuffer* m_pSource = nullptr;
    DWORD m_dwDrawFlags = 0;
    DWORD m_dwTransparency = 0;
    RECT m_dest{};                   // inclusive target rectangle of a copy or a transform
    POINT m_sourceAt{};              // source pixel at the copy's top-left corner
    POINT m_p0{};                    // the transform's corner P0
    std::int64_t m_inverse[4] = {};  // 16.16: u = [0] dx + [1] dy, v = [2] dx + [3] dy
};

int DrawContext::SetTarget(ImageBuffer* pTarget, const RECT* pClip, ImageBuffer* pMask) {
    FreeTargetBuffers();
    m_prepared = Prepared::None;
    m_pTarget = nullptr;
    m_pMask = nullptr;
    m_clip = RECT{};
    if (!HasSurface(pTarget))
        return 1;
    if (pMask && (pMask->nWidth != pTarget->nWidth || pMask->nHeight != pTarget->nHeight))
        return 1;
    m_pEdgeBlock = Allocate(32ull * static_cast<std::uint64_t>(pTarget->nHeight) + 40);
    m_pLineBlock = Allocate(4ull * static_cast<std::uint64_t>(pTarget->nWidth) + 32 + 15);
    if (!m_pEdgeBlock || !m_pLineBlock) {
        FreeTargetBuffers();
        return 1;
    }
    m_pSpans = static_cast<Span*>(m_pEdgeBlock);
    m_pLine = reinterpret_cast<DWORD*>((reinterpret_cast<std::uintptr_t>(m_pLineBlock) + 15) & ~std::uintptr_t{15});
    m_pTarget = pTarget;
    m_pMask = pMask;
    const LONG right = pTarget->nWidth - 1, bottom = pTarget->nHeight - 1;
    RECT clip{0, 0, right, bottom};
    if (pClip) {
        clip.left = std::clamp<LONG>(std::min(pClip->left, pClip->right), 0, right);
        clip.right = std::clamp<LONG>(std::max(pClip->left, pClip->right), 0, right);
        clip.top = std::clamp<LONG>(std::min(pClip->top, pClip->bottom), 0, bottom);
        clip.bottom = std::clamp<LONG>(std::max(pClip->top, pClip->bottom), 0, bottom);
    }
    m_clip = clip;
    return 0;
}

bool DrawContext::ReserveTaps(int count) {
    if (count <= m_nTapCapacity)
        return true;
    Free(m_pTaps);
    m_nTapCapacity = 0;
    // The heap's blocks are 8-byte aligned at least; one spare tap aligns.
    m_pTaps = static_cast<ColumnTap*>(Allocate((static_cast<std::uint64_t>(count) + 1) * sizeof(ColumnTap)));
    if (!m_pTaps)
        return false;
    m_nTapCapacity = count;
    return true;
}

int DrawContext::PrepareDraw(const ImageDrawParam& param) {
    m_prepared = Prepared::None;
    if (param.dwTransparency >= kInvisible) {
        m_prepared = Prepared::Nothing;
        return 0;
    }
    if (!m_pTarget || !HasSurface(param.pSource) || !IsDrawableDepth(m_pTarget->dwBitsPerPixel) ||
        !IsDrawableDepth(param.pSource->dwBitsPerPixel))
        return 1;
    m_pSource = param.pSource;
    m_dwDrawFlags = (m_dwFlags & kDrawContextFlagMask) | param.dwFlags;
    m_dwTransparency = param.dwTransparency;
    const std::int64_t x = static_cast<std::int64_t>(param.x) + m_origin.x;
    const std::int64_t y = static_cast<std::int64_t>(param.y) + m_origin.y;
    const ImageMatrix* m = param.pMatrix;
    const bool identity =
        !m || (std::fabs(m->m01) < kIdentityTolerance && std::fabs(m->m10) < kIdentityTolerance &&
               std::fabs(m->m00 - 1.0) < kIdentityTolerance && std::fabs(m->m11 - 1.0) < kIdentityTolerance);
    return identity ? PrepareCopy(param, x, y) : PrepareTransform(*m, x, y);
}

int DrawContext::PrepareCopy(const ImageDrawParam&, std::int64_t x, std::int64_t y) {
    const std::int64_t left = std::max<std::int64_t>(x, m_clip.left);
    const std::int64_t top = std::max<std::int64_t>(y, m_clip.top);
    const std::int64_t right = std::min<std::int64_t>(x + m_pSource->nWidth - 1, m_clip.right);
    const std::int64_t bottom = std::min<std::int64_t>(y + m_pSource->nHeight - 1, m_clip.bottom);
    if (left > right || top > bottom) {
        m_prepared = Prepared::Nothing;
        return 0;
    }
    m_dest = RECT{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right), static_cast<LONG>(bottom)};
    m_sourceAt = POINT{static_cast<LONG>(left - x), static_cast<LONG>(top - y)};
    m_prepared = Prepared::Copy;
    return 0;
}

int DrawContext::PrepareTransform(const ImageMatrix& m, std::int64_t x, std::int64_t y) {
    const double m00 = m.m00, m01 = m.m01, m10 = m.m10, m11 = m.m11;
    const double det = m00 * m11 - m01 * m10;
    if (!(std::fabs(det) >= kIdentityTolerance)) {  // also NaN
        m_prepared = Prepared::Nothing;
        return 0;
    }
    const double inverse[4] = {m11 / det, -m10 / det, -m01 / det, m00 / det};
    for (int i = 0; i < 4; ++i) {
        const double fixed = std::nearbyint(inverse[i] * 65536.0);
        // Steps above 4096 source pixels per target pixel (or NaN) are not
        // drawn: positions must stay well inside 64 bits.
        if (!(std::fabs(fixed) <= 268435456.0))
            return 1;
        m_inverse[i] = static_cast<std::int64_t>(fixed);
    }
    if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX)
        return 1;
    m_p0 = POINT{static_cast<LONG>(x), static_cast<LONG>(y)};
    const double lenA = std::hypot(m00, m01), lenB = std::hypot(m10, m11);
    // The covered sides run W |a| - 1 and H |b| - 1 pixels; an image smaller
    // than a pixel still covers its corner.
    const double la = std::max(0.0, m_pSource->nWidth * lenA - 1.0);
    const double lb = std::max(0.0, m_pSource->nHeight * lenB - 1.0);
    RasterizeParallelogram(m00 / lenA, m01 / lenA, la, m10 / lenB, m11 / lenB, lb);
    m_prepared = m_dest.left <= m_dest.right ? Prepared::Transform : Prepared::Nothing;
    return 0;
}

// Per target row, the columns whose whole-number positions lie in the closed
// parallelogram P0 + s a + t b, 0 <= s <= la, 0 <= t <= lb (a, b unit vectors).
void DrawContext::RasterizeParallelogram(double ax, double ay, double la, double bx, double by, double lb) {
    constexpr double kEps = 1e-6;
    const double det = ax * by - bx * ay;
    const double x0 = m_p0.x, y0 = m_p0.y;
    const double cornersY[4] = {y0, y0 + la * ay, y0 + lb * by, y0 + la * ay + lb * by};
    const double minY = *std::min_element(cornersY, cornersY + 4), maxY = *std::max_element(cornersY, cornersY + 4);
    const LONG top = static_cast<LONG>(std::max<double>(m_clip.top, std::ceil(minY - kEps)));
    const LONG bottom = static_cast<LONG>(std::min<double>(m_clip.bottom, std::floor(maxY + kEps)));
    m_dest = RECT{m_clip.right + 1, top, m_clip.left - 1, bottom};
    for (LONG ty = top; ty <= bottom; ++ty) {
        const double dy = ty - y0;
        // s = s0 + s1 dx, t = t0 + t1 dx
        const double s0 = -bx * dy / det, s1 = by / det;
        const double t0 = ax * dy / det, t1 = -ay / det;
        double lo = m_clip.left - x0, hi = m_clip.right - x0;
        auto within = [&](double c0, double c1, double limit) {
            const double e = kEps * (1.0 + limit);
            if (std::fabs(c1) < 1e-12) {
                if (c0 < -e || c0 > limit + e)
                    hi = lo - 1;
                return;
            }
            double a = (-e - c0) / c1, b = (limit + e - c0) / c1;
            if (a > b)
                std::swap(a, b);
            lo = std::max(lo, a);
            hi = std::min(hi, b);
        };
        within(s0, s1, la);
        within(t0, t1, lb);
        Span& span = m_pSpans[ty];
        if (lo > hi) {
            span = Span{1, 0};
            continue;
        }
        span.x0 = static_cast<std::int32_t>(std::ceil(lo) + x0);
        span.x1 = static_cast<std::int32_t>(std::floor(hi) + x0);
        if (span.x0 <= span.x1) {
            m_dest.left = std::min<LONG>(m_dest.left, span.x0);
            m_dest.right = std::max<LONG>(m_dest.right, span.x1);
        }
    }
}

int DrawContext::Run() {
    const Prepared prepared = m_prepared;
    m_prepared = Prepared::None;
    switch (prepared) {
    case Prepared::None:
        return -1;
    case Prepared::Nothing:
        return 0;
    case Prepared::Copy:
        RunCopy();
        return 0;
    case Prepared::Transform:
        RunTransform();
        return 0;
    }
    return -1;
}

// A row of 32-bit pixels into the target at column x0: copied, blended by
// the transparency level, or converted to the target's depth.
void DrawContext::EmitRow(BYTE* targetRow, int x0, const DWORD* pixels, int count) {
    const DWORD bpp = m_pTarget->dwBitsPerPixel;
    if (bpp == 32 && m_dwTransparency == kOpaque) {
        std::memcpy(targetRow + static_cast<std::size_t>(x0) * 4, pixels, static_cast<std::size_t>(count) * 4);
        return;
    }
    if (m_dwTransparency == kOpaque) {
        StorePixels32(m_pTarget, targetRow, x0, pixels, count);
        return;
    }
    // Blends in pieces: what lies under them is read back at 32 bits first.
    DWORD under[64];
    for (int done = 0; done < count;) {
        const int n = std::min(count - done, 64);
        LoadPixels32(m_pTarget, targetRow, x0 + done, under, n);
        for (int i = 0; i < n; ++i)
            under[i] = BlendPixel(pixels[done + i], under[i], m_dwTransparency);
        StorePixels32(m_pTarget, targetRow, x0 + done, under, n);
        done += n;
    }
}

void DrawContext::RunCopy() {
    const int count = m_dest.right - m_dest.left + 1;
    const bool direct = m_dwTransparency == kOpaque && m_pSource->dwBitsPerPixel == m_pTarget->dwBitsPerPixel;
    const bool sse2 = esl::image::UseSse2();
    for (LONG ty = m_dest.top; ty <= m_dest.bottom; ++ty) {
        const BYTE* s = RowAt(m_pSource, m_sourceAt.y + (ty - m_dest.top));
        BYTE* d = RowAt(m_pTarget, ty);
        if (direct) {
            const std::size_t bytesPerPixel = m_pTarget->dwBitsPerPixel / 8;
            const BYTE* from = s + m_sourceAt.x * bytesPerPixel;
            BYTE* to = d + m_dest.left * bytesPerPixel;
            if (bytesPerPixel == 4 && sse2)
                CopyPixelsSse2(reinterpret_cast<DWORD*>(to), reinterpret_cast<const DWORD*>(from), count);
            else
                std::memmove(to, from, count * bytesPerPixel);
            continue;
        }
        LoadPixels32(m_pSource, s, m_sourceAt.x, m_pLine, count);
        EmitRow(d, m_dest.left, m_pLine, count);
    }
}

DWORD DrawContext::SamplePixel(std::int64_t u, std::int64_t v) const {
    const ImageBuffer* src = m_pSource;
    const std::int64_t lastX = src->nWidth - 1, lastY = src->nHeight - 1;
    if ((m_dwDrawFlags & (kDrawBilinear | kDrawSampleAlt)) == kDrawBilinear && src->dwBitsPerPixel == 32) {
        const std::int64_t xi = u >> 16, yi = v >> 16;
        const int fx = static_cast<int>((u & 0xFFFF) >> 1), fy = static_cast<int>((v & 0xFFFF) >> 1);
        const std::int64_t xa = Clamp64(xi, 0, lastX), xb = Clamp64(xi + 1, 0, lastX);
        const std::int64_t ya = Clamp64(yi, 0, lastY), yb = Clamp64(yi + 1, 0, lastY);
        const BYTE* r0 = RowAt(src, static_cast<int>(ya));
        const BYTE* r1 = RowAt(src, static_cast<int>(yb));
        DWORD p00, p01, p10, p11;
        std::memcpy(&p00, r0 + xa * 4, 4);
        std::memcpy(&p01, r0 + xb * 4, 4);
        std::memcpy(&p10, r1 + xa * 4, 4);
        std::memcpy(&p11, r1 + xb * 4, 4);
        return Bilinear(p00, p01, p10, p11, fx, fy);
    }
    const std::int64_t xn = Clamp64((u + 0x8000) >> 16, 0, lastX), yn = Clamp64((v + 0x8000) >> 16, 0, lastY);
    DWORD pixel;
    LoadPixels32(src, RowAt(src, static_cast<int>(yn)), static_cast<int>(xn), &pixel, 1);
    return pixel;
}

void DrawContext::RunTransform() {
    const bool bilinear =
        (m_dwDrawFlags & (kDrawBilinear | kDrawSampleAlt)) == kDrawBilinear && m_pSource->dwBitsPerPixel == 32;
    if (bilinear && m_inverse[1] == 0 && m_inverse[2] == 0 && RunAxisBilinear())
        return;
    RunGeneralTransform();
}

void DrawContext::RunGeneralTransform() {
    for (LONG ty = m_dest.top; ty <= m_dest.bottom; ++ty) {
        const Span span = m_pSpans[ty];
        if (span.x0 > span.x1)
            continue;
        const std::int64_t dx = span.x0 - m_p0.x, dy = ty - m_p0.y;
        std::int64_t u = m_inverse[0] * dx + m_inverse[1] * dy;
        std::int64_t v = m_inverse[2] * dx + m_inverse[3] * dy;
        const int count = span.x1 - span.x0 + 1;
        for (int i = 0; i < count; ++i, u += m_inverse[0], v += m_inverse[2])
            m_pLine[i] = SamplePixel(u, v);
        EmitRow(RowAt(m_pTarget, ty), span.x0, m_pLine, count);
    }
}

// Scales along the axes: the source column of every target column and the
// source row of every target row are the same across the draw, so both are
// worked out once. False when there is no memory for the column table.
bool DrawContext::RunAxisBilinear() {
    const int first = m_dest.left, columns = m_dest.right - m_dest.left + 1;
    if (!ReserveTaps(columns))
        return false;
    ColumnTap* taps =
        reinterpret_cast<ColumnTap*>((reinterpret_cast<std::uintptr_t>(m_pTaps) + 15) & ~std::uintptr_t{15});
    const std::int64_t lastX = m_pSource->nWidth - 1, lastY = m_pSource->nHeight - 1;
    for (int i = 0; i < columns; ++i) {
        const std::int64_t u = m_inverse[0] * (first + i - m_p0.x);
        const std::int64_t xi = u >> 16;
        ColumnTap& t = taps[i];
        std::fill_n(t.fx, 8, static_cast<std::int16_t>((u & 0xFFFF) >> 1));
        t.offA = static_cast<std::int32_t>(Clamp64(xi, 0, lastX) * 4);
        t.offB = static_cast<std::int32_t>(Clamp64(xi + 1, 0, lastX) * 4);
    }
    const bool sse2 = esl::image::UseSse2();
    const bool direct = m_pTarget->dwBitsPerPixel == 32 && m_dwTransparency == kOpaque;
    for (LONG ty = m_dest.top; ty <= m_dest.bottom; ++ty) {
        const Span span = m_pSpans[ty];
        if (span.x0 > span.x1)
            continue;
        const std::int64_t v = m_inverse[3] * (ty - m_p0.y);
        const std::int64_t yi = v >> 16;
        const int fy = static_cast<int>((v & 0xFFFF) >> 1);
        const BYTE* r0 = RowAt(m_pSource, static_cast<int>(Clamp64(yi, 0, lastY)));
        const BYTE* r1 = RowAt(m_pSource, static_cast<int>(Clamp64(yi + 1, 0, lastY)));
        BYTE* targetRow = RowAt(m_pTarget, ty);
        DWORD* out = direct ? reinterpret_cast<DWORD*>(targetRow) + span.x0 : m_pLine;
        const int count = span.x1 - span.x0 + 1;
        const ColumnTap* rowTaps = taps + (span.x0 - first);
        if (sse2)
            BilinearRowSse2(out, r0, r1, fy, rowTaps, count);
        else
            BilinearRowPlain(out, r0, r1, fy, rowTaps, count);
        if (!direct)
            EmitRow(targetRow, span.x0, m_pLine, count);
    }
    return true;
}

}  // namespace

ImageDrawContext* CreateImageDrawContext() {
    HESLHEAP heap = eslHeapCreate(8192, 8192, 0, glsGetImageGlobalHeap());
    if (!heap)
        return nullptr;
    void* p = eslHeapAllocate(heap, sizeof(DrawContext), ESL_HEAP_ZERO_INIT);
    if (!p) {
        eslHeapDestroy(heap);
        return nullptr;
    }
    return new (p) DrawContext(heap);
}
