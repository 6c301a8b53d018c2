// Area-average resampling in exact integer arithmetic, separable and in one
// stream over the source: for each target line, the source lines it covers
// are summed down (two lines per 16-bit multiply-add), and that sum line is
// reduced across with precomputed weights into 64-bit sums.
//
// Along an axis of n source and m target pixels, positions are counted in
// units so that a source pixel is a = m / g units long and a target pixel
// n / g (g = gcd(n, m)); the overlap of the two is an integer. A target
// pixel's sum is therefore exact, and its mean is the sum divided by the
// units of its area, rounded half up. Both code paths compute exactly this.
#include "esl_image_reduce.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "esl_image_cpu.h"

namespace {

using esl::image::HeapArray;

// Line weights enter 16-bit multiplies, and a summed line must stay below
// 2^32 (255 x the units of a target line).
constexpr std::uint64_t kMaxLineWeight = 32767;
constexpr std::uint64_t kMaxLineUnits = std::uint64_t{1} << 24;

// Along one axis: a source pixel is `a` units long; target pixel j covers
// [Boundary(j), Boundary(j + 1)). A grid too fine for the multipliers is
// replaced by a coarser one whose boundaries are rounded down, so that a
// target line is off its true place by less than 1 / a of a source line.
struct Axis {
    std::uint64_t a = 1;
    std::uint64_t n = 1, m = 1;  // source and target pixels
    bool exact = true;

    std::uint64_t Boundary(std::uint64_t j) const {
        // floor(j n a / m) without a 128-bit product.
        const std::uint64_t q = j * n / m, r = j * n % m;
        return q * a + r * a / m;
    }
};

Axis AxisFor(std::uint64_t n, std::uint64_t m, bool limited) {
    const std::uint64_t g = std::gcd(n, m);
    Axis axis;
    axis.n = n;
    axis.m = m;
    axis.a = m / g;
    if (limited && (m / g > kMaxLineWeight || n / g > kMaxLineUnits)) {
        axis.a = std::max<std::uint64_t>(1, std::min(kMaxLineWeight, kMaxLineUnits * m / n));
        axis.exact = false;
    }
    return axis;
}

// Calls take(index, weight) for every source pixel in [begin, end).
template <class Take>
void ForEachCover(std::uint64_t begin, std::uint64_t end, std::uint64_t a, Take&& take) {
    for (std::uint64_t i = begin / a; i * a < end; ++i) {
        const std::uint64_t lo = std::max(i * a, begin), hi = std::min((i + 1) * a, end);
        if (hi > lo)
            take(static_cast<int>(i), static_cast<std::uint32_t>(hi - lo));
    }
}

struct Tap {
    std::int32_t index;
    std::uint32_t weight;
};

// Two source lines of one target line and their weights in one word (the
// first in the low half), ready to be broadcast. A lone last line pairs with
// itself at weight 0.
struct LinePair {
    std::int32_t line0, line1;
    std::uint32_t weights;
};

// A target line as whole source lines (the same weight each, summed in 16
// bits before one multiply) and at most two partial ones at its edges.
struct LinePlan {
    std::int32_t fullFirst, fullCount;
    std::uint32_t fullWeight;
    std::int32_t edgeCount;  // 0 or 1 pair
    LinePair edges;
};

// Whole lines summed in 16-bit lanes stay below 2^15.
constexpr int kMaxWholeLines = 128;
constexpr int kUnrolledLines = 8;

// floor(n / d) for every n below 256 d, as (n * multiplier) >> shift with
// a 32-bit multiplier; usable when `fits`.
struct Divider {
    std::uint64_t d = 1;
    std::uint64_t multiplier = 0;
    int shift = 0;
    bool fits = false;

    explicit Divider(std::uint64_t divisor) : d(divisor) {
        // n * (2^k / d + e) / 2^k is exact when 2^k > 256 d^2.
        if (d > (std::uint64_t{1} << 23))
            return;
        const std::uint64_t bound = 256 * d * d;
        while (shift < 63 && (std::uint64_t{1} << shift) <= bound)
            ++shift;
        multiplier = ((std::uint64_t{1} << shift) / d) + 1;
        fits = multiplier <= 0xFFFFFFFFull && 256 * d + d / 2 <= 0xFFFFFFFFull;
    }

    std::uint32_t Divide(std::uint64_t n) const {
        if (fits)
            return static_cast<std::uint32_t>((n * multiplier) >> shift);
        std::uint64_t q = static_cast<std::uint64_t>(static_cast<double>(n) / static_cast<double>(d));
        while (q > 0 && q * d > n)
            --q;
        while ((q + 1) * d <= n)
            ++q;
        return static_cast<std::uint32_t>(q);
    }
};

// Target pixels with sums below 2^22 are divided in single floats: the
// quotient is within 2^-14 of the true one under any rounding mode, and a
// half-up mean lies at least 1 / (2 d) from a whole number.
constexpr std::uint64_t kMaxFloatDivisor = 4096;

class Scaler {
public:
    Scaler(ImageBuffer* pDest, const ImageBuffer* pSource) : m_dest(pDest), m_src(pSource) {}
    bool Prepare();
    void Run(bool sse2);

private:
    const BYTE* SourceLine(int line) const { return m_srcTop + static_cast<std::ptrdiff_t>(line) * m_srcDown; }
    BYTE* DestLine(int line) const { return m_destTop + static_cast<std::ptrdiff_t>(line) * m_destDown; }
    void SumLinesPlain(const LinePair* pairs, std::uint32_t count);
    void SumLinesSse2(const LinePair* pairs, std::uint32_t count);
    void SumPlanSse2(const LinePlan& plan);
    void ReduceAcrossPlain();
    void ReduceAcrossSse2();
    void FinishPlain(BYTE* out, const Divider& divider) const;
    void FinishSse2(BYTE* out, const Divider& divider) const;
    bool PrepareNarrow(const Divider& divider);
    void SumPlanNarrowSse2(const LinePlan& plan);
    void ReduceAcrossNarrowSse2(BYTE* out, const Divider& divider);

    ImageBuffer* m_dest;
    const ImageBuffer* m_src;
    const BYTE* m_srcTop = nullptr;
    std::ptrdiff_t m_srcDown = 0;
    BYTE* m_destTop = nullptr;
    std::ptrdiff_t m_destDown = 0;
    Axis m_ax{}, m_ay{};

    HeapArray<Tap> m_taps;                // all target columns in order
    HeapArray<std::uint32_t> m_tapStart;  // first tap of column j; m + 1 entries
    HeapArray<LinePair> m_pairs;
    HeapArray<std::uint32_t> m_pairStart;
    HeapArray<LinePlan> m_plans;      // one per target line
    HeapArray<std::uint32_t> m_sums;  // n x 4: the current target line summed down
    HeapArray<std::uint64_t> m_acc;   // m x 4, lanes in the order 0 2 1 3

    // Lines of at most 128 units: their sums fit 16 bits and are kept as
    // pixel pairs (2i, 2i + 1), channels interleaved (b0 b1 g0 g1 r0 r1 x0 x1),
    // so that a pair goes through one multiply-add. Target column j reads
    // m_pairsPerColumn pairs from m_columnFirst[j] on, weighted by one word
    // each (the even pixel's weight in the low half), stored four times over
    // to be the multiply-add's operand as it is.
    HeapArray<std::int32_t> m_columnFirst;
    HeapArray<std::uint32_t> m_columnWeights;
    int m_pairsPerColumn = 0;
    int m_weightStride = 0;
    HeapArray<std::int16_t> m_sums16;     // 8 per pair: ceil(n / 2) pairs and m_pairsPerColumn zero ones
    HeapArray<std::int16_t> m_partial16;  // n x 4: whole lines summed so far, for lines of many
};

// The top line of an image and the step down the screen: a positive pitch
// keeps row 0 at the bottom (as a DIB does), a negative one at the top.
template <class Byte>
void TopDown(const ImageBuffer* p, Byte** top, std::ptrdiff_t* down) {
    const std::ptrdiff_t pitch = p->nPitch;
    *top = pitch < 0 ? p->ptrImage : p->ptrImage + (p->nHeight - 1) * pitch;
    *down = pitch < 0 ? pitch : -pitch;
}

bool Scaler::Prepare() {
    TopDown(m_src, &m_srcTop, &m_srcDown);
    TopDown(m_dest, &m_destTop, &m_destDown);
    const int n = m_src->nWidth, m = m_dest->nWidth;
    const int nh = m_src->nHeight, mh = m_dest->nHeight;
    m_ax = AxisFor(n, m, false);
    m_ay = AxisFor(nh, mh, true);
    // Every boundary once: each costs two 64-bit divisions.
    HeapArray<std::uint64_t> bx, by;
    if (!bx.Allocate(static_cast<std::size_t>(m) + 1) || !by.Allocate(static_cast<std::size_t>(mh) + 1))
        return false;
    for (int j = 0; j <= m; ++j)
        bx[j] = m_ax.Boundary(j);
    for (int l = 0; l <= mh; ++l)
        by[l] = m_ay.Boundary(l);

    if (!m_tapStart.Allocate(static_cast<std::size_t>(m) + 1))
        return false;
    std::uint64_t taps = 0;
    for (int j = 0; j < m; ++j) {
        m_tapStart[j] = static_cast<std::uint32_t>(taps);
        ForEachCover(bx[j], bx[j + 1], m_ax.a, [&](int, std::uint32_t) { ++taps; });
        if (taps > 0x3FFFFFFF)
            return false;
    }
    m_tapStart[m] = static_cast<std::uint32_t>(taps);
    if (!m_taps.Allocate(taps))
        return false;
    for (int j = 0; j < m; ++j) {
        Tap* t = &m_taps[m_tapStart[j]];
        ForEachCover(bx[j], bx[j + 1], m_ax.a, [&](int i, std::uint32_t w) { *t++ = Tap{i, w}; });
    }

    if (!m_pairStart.Allocate(static_cast<std::size_t>(mh) + 1))
        return false;
    std::uint64_t pairs = 0;
    for (int l = 0; l < mh; ++l) {
        m_pairStart[l] = static_cast<std::uint32_t>(pairs);
        std::uint64_t lines = 0;
        ForEachCover(by[l], by[l + 1], m_ay.a, [&](int, std::uint32_t) { ++lines; });
        pairs += (lines + 1) / 2;
        if (pairs > 0x3FFFFFFF)
            return false;
    }
    m_pairStart[mh] = static_cast<std::uint32_t>(pairs);
    if (!m_pairs.Allocate(pairs))
        return false;
    for (int l = 0; l < mh; ++l) {
        LinePair* p = &m_pairs[m_pairStart[l]];
        bool second = false;
        ForEachCover(by[l], by[l + 1], m_ay.a, [&](int k, std::uint32_t w) {
            if (!second) {
                *p = LinePair{k, k, w};
            } else {
                p->line1 = k;
                p->weights |= w << 16;
                ++p;
            }
            second = !second;
        });
    }
    if (!m_plans.Allocate(static_cast<std::size_t>(mh)))
        return false;
    for (int l = 0; l < mh; ++l) {
        LinePlan plan{0, 0, static_cast<std::uint32_t>(m_ay.a), 0, LinePair{0, 0, 0}};
        bool half = false;
        ForEachCover(by[l], by[l + 1], m_ay.a, [&](int k, std::uint32_t w) {
            if (w == m_ay.a) {
                if (!plan.fullCount)
                    plan.fullFirst = k;
                ++plan.fullCount;
            } else if (!half) {
                plan.edges = LinePair{k, k, w};
                plan.edgeCount = 1;
                half = true;
            } else {
                plan.edges.line1 = k;
                plan.edges.weights |= w << 16;
            }
        });
        m_plans[l] = plan;
    }
    return m_sums.Allocate(static_cast<std::size_t>(n) * 4) && m_acc.Allocate(static_cast<std::size_t>(m) * 4);
}

void Scaler::SumLinesPlain(const LinePair* pairs, std::uint32_t count) {
    const std::size_t bytes = static_cast<std::size_t>(m_src->nWidth) * 4;
    std::uint32_t* sums = m_sums.Get();
    for (std::uint32_t k = 0; k < count; ++k) {
        const BYTE* r0 = SourceLine(pairs[k].line0);
        const BYTE* r1 = SourceLine(pairs[k].line1);
        const std::uint32_t w0 = pairs[k].weights & 0xFFFF, w1 = pairs[k].weights >> 16;
        for (std::size_t i = 0; i < bytes; ++i) {
            const std::uint32_t v = r0[i] * w0 + r1[i] * w1;
            sums[i] = k ? sums[i] + v : v;
        }
    }
}

// Four pixels of two lines at a time: the lines' bytes interleaved, so that
// one multiply-add gives w0 p0 + w1 p1 for each channel. N pairs are summed
// in registers; `accumulate` adds what earlier pairs left in memory.
template <int N>
ESL_SSE2 void SumBlocksSse2(const BYTE* const* r0, const BYTE* const* r1, const __m128i* w, int blocks, __m128i* sums,
                            bool accumulate) {
    const __m128i zero = _mm_setzero_si128();
    for (int b = 0; b < blocks; ++b) {
        __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
        for (int k = 0; k < N; ++k) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0[k]) + b);
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1[k]) + b);
            const __m128i lo = _mm_unpacklo_epi8(a, c), hi = _mm_unpackhi_epi8(a, c);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w[k]));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w[k]));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w[k]));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w[k]));
        }
        __m128i* out = sums + 4 * b;
        if (accumulate) {
            s0 = _mm_add_epi32(s0, _mm_load_si128(out));
            s1 = _mm_add_epi32(s1, _mm_load_si128(out + 1));
            s2 = _mm_add_epi32(s2, _mm_load_si128(out + 2));
            s3 = _mm_add_epi32(s3, _mm_load_si128(out + 3));
        }
        _mm_store_si128(out, s0);
        _mm_store_si128(out + 1, s1);
        _mm_store_si128(out + 2, s2);
        _mm_store_si128(out + 3, s3);
    }
}

ESL_SSE2 void Scaler::SumLinesSse2(const LinePair* pairs, std::uint32_t count) {
    const int width = m_src->nWidth, blocks = width / 4;
    auto* sums = reinterpret_cast<__m128i*>(m_sums.Get());
    for (std::uint32_t first = 0; first < count; first += 4) {
        const std::uint32_t chunk = std::min<std::uint32_t>(4, count - first);
        const BYTE* r0[4];
        const BYTE* r1[4];
        __m128i w[4];
        for (std::uint32_t k = 0; k < chunk; ++k) {
            r0[k] = SourceLine(pairs[first + k].line0);
            r1[k] = SourceLine(pairs[first + k].line1);
            w[k] = _mm_set1_epi32(static_cast<int>(pairs[first + k].weights));
        }
        switch (chunk) {
        case 1:
            SumBlocksSse2<1>(r0, r1, w, blocks, sums, first != 0);
            break;
        case 2:
            SumBlocksSse2<2>(r0, r1, w, blocks, sums, first != 0);
            break;
        case 3:
            SumBlocksSse2<3>(r0, r1, w, blocks, sums, first != 0);
            break;
        default:
            SumBlocksSse2<4>(r0, r1, w, blocks, sums, first != 0);
            break;
        }
        // The last pixels of a line that do not fill a block; reading a whole
        // block there could pass the end of the image.
        for (std::size_t i = static_cast<std::size_t>(blocks) * 16; i < static_cast<std::size_t>(width) * 4; ++i) {
            std::uint32_t v = 0;
            for (std::uint32_t k = 0; k < chunk; ++k) {
                const std::uint32_t wk = pairs[first + k].weights;
                v += r0[k][i] * (wk & 0xFFFF) + r1[k][i] * (wk >> 16);
            }
            m_sums[i] = first ? m_sums[i] + v : v;
        }
    }
}

// True when the narrow path applies and its tables are built: line sums
// below 2^15, column weights below 2^15, pixel sums below 2^32, and the
// divider exact through a 32-bit multiply.
bool Scaler::PrepareNarrow(const Divider& divider) {
    const int n = m_src->nWidth, m = m_dest->nWidth;
    if (!m_ay.exact || 255 * m_ay.Boundary(1) > 32767 || std::min(m_ax.a, m_ax.Boundary(1)) > 32767 || !divider.fits)
        return false;
    // Taps of a column are neighbours; the pairs that hold them start at an
    // even pixel, and every column reads as many pairs as the widest one.
    std::uint64_t widest = 1;
    for (int j = 0; j < m; ++j) {
        const std::uint32_t first = m_tapStart[j], last = m_tapStart[j + 1] - 1;
        widest = std::max<std::uint64_t>(widest, m_taps[last].index / 2 - m_taps[first].index / 2 + 1);
    }
    if (widest > 0x3FFFFFFF / 8)
        return false;
    m_pairsPerColumn = static_cast<int>(widest);
    m_weightStride = 4 * m_pairsPerColumn;
    const std::uint64_t pairs = (static_cast<std::uint64_t>(n) + 1) / 2 + widest;
    if (!m_columnFirst.Allocate(static_cast<std::size_t>(m)) ||
        !m_columnWeights.Allocate(static_cast<std::uint64_t>(m) * m_weightStride) || !m_sums16.Allocate(pairs * 8))
        return false;
    // The pixel after an odd last one and the pairs past the end are read
    // with weight 0 only, but must hold numbers.
    std::memset(m_sums16.Get(), 0, static_cast<std::size_t>(pairs) * 16);
    const bool many = std::any_of(m_plans.Get(), m_plans.Get() + m_dest->nHeight,
                                  [](const LinePlan& plan) { return plan.fullCount >= kUnrolledLines; });
    if (many && !m_partial16.Allocate(static_cast<std::size_t>(n) * 4))
        return false;
    std::memset(m_columnWeights.Get(), 0, static_cast<std::size_t>(m) * m_weightStride * 4);
    for (int j = 0; j < m; ++j) {
        const int firstPair = m_taps[m_tapStart[j]].index / 2;
        m_columnFirst[j] = firstPair;
        std::uint32_t* w = &m_columnWeights[static_cast<std::size_t>(j) * m_weightStride];
        for (std::uint32_t k = m_tapStart[j]; k < m_tapStart[j + 1]; ++k) {
            const int i = m_taps[k].index;
            for (int copy = 0; copy < 4; ++copy)
                w[(i / 2 - firstPair) * 4 + copy] |= m_taps[k].weight << (i % 2 ? 16 : 0);
        }
    }
    return true;
}

// Whole lines of a target line in 16 bits, each source line read by a load
// of its own (a loop over lines would give one load many interleaved
// streams, which the processor's prefetch does not follow). More than
// kUnrolledLines whole lines are first summed into `partial`, eight at a time.
template <int K>
ESL_SSE2 void AddLines16Sse2(const BYTE* const* lines, bool first, int blocks, __m128i* partial) {
    const __m128i zero = _mm_setzero_si128();
    for (int b = 0; b < blocks; ++b) {
        __m128i lo = first ? zero : _mm_load_si128(partial + 2 * b);
        __m128i hi = first ? zero : _mm_load_si128(partial + 2 * b + 1);
#pragma GCC unroll 8
        for (int k = 0; k < K; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[k]) + b);
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(x, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(x, zero));
        }
        _mm_store_si128(partial + 2 * b, lo);
        _mm_store_si128(partial + 2 * b + 1, hi);
    }
}

// K whole lines (kCarry: their sum from `carry` instead) multiplied once,
// then E edge lines after them each by its weight (weights: whole, edge 0,
// edge 1); pixels paired.
template <int K, int E, bool kCarry>
ESL_SSE2 void FinishLines16Sse2(const BYTE* const* lines, const __m128i* carry, const __m128i* weights, int blocks,
                                __m128i* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i wWhole = weights[0], w0 = weights[1], w1 = weights[2];
    const BYTE* e0 = lines[K];
    const BYTE* e1 = lines[K + 1];
    for (int b = 0; b < blocks; ++b) {
        __m128i lo = zero, hi = zero;
        if (kCarry) {
            lo = _mm_mullo_epi16(_mm_load_si128(carry + 2 * b), wWhole);
            hi = _mm_mullo_epi16(_mm_load_si128(carry + 2 * b + 1), wWhole);
        } else if (K > 0) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[0]) + b);
            lo = _mm_unpacklo_epi8(x, zero);
            hi = _mm_unpackhi_epi8(x, zero);
#pragma GCC unroll 8
            for (int k = 1; k < K; ++k) {
                const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[k]) + b);
                lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(y, zero));
                hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(y, zero));
            }
            lo = _mm_mullo_epi16(lo, wWhole);
            hi = _mm_mullo_epi16(hi, wWhole);
        }
        if (E >= 1) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e0) + b);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), w0));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), w0));
        }
        if (E >= 2) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e1) + b);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), w1));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), w1));
        }
        // b0 g0 r0 x0 b1 g1 r1 x1 -> b0 b1 g0 g1 r0 r1 x0 x1
        _mm_store_si128(out + 2 * b, _mm_unpacklo_epi16(lo, _mm_srli_si128(lo, 8)));
        _mm_store_si128(out + 2 * b + 1, _mm_unpacklo_epi16(hi, _mm_srli_si128(hi, 8)));
    }
}

using AddLines16 = void (*)(const BYTE* const*, bool, int, __m128i*);
using FinishLines16 = void (*)(const BYTE* const*, const __m128i*, const __m128i*, int, __m128i*);

// By the number of lines.
constexpr AddLines16 kAddLines16[kUnrolledLines + 1] = {
    nullptr,           AddLines16Sse2<1>, AddLines16Sse2<2>, AddLines16Sse2<3>, AddLines16Sse2<4>,
    AddLines16Sse2<5>, AddLines16Sse2<6>, AddLines16Sse2<7>, AddLines16Sse2<8>,
};

// By edge lines, then by whole lines; the last of a row takes them summed.
constexpr FinishLines16 kFinishLines16[3][kUnrolledLines + 1] = {
    {FinishLines16Sse2<0, 0, false>, FinishLines16Sse2<1, 0, false>, FinishLines16Sse2<2, 0, false>,
     FinishLines16Sse2<3, 0, false>, FinishLines16Sse2<4, 0, false>, FinishLines16Sse2<5, 0, false>,
     FinishLines16Sse2<6, 0, false>, FinishLines16Sse2<7, 0, false>, FinishLines16Sse2<0, 0, true>},
    {FinishLines16Sse2<0, 1, false>, FinishLines16Sse2<1, 1, false>, FinishLines16Sse2<2, 1, false>,
     FinishLines16Sse2<3, 1, false>, FinishLines16Sse2<4, 1, false>, FinishLines16Sse2<5, 1, false>,
     FinishLines16Sse2<6, 1, false>, FinishLines16Sse2<7, 1, false>, FinishLines16Sse2<0, 1, true>},
    {FinishLines16Sse2<0, 2, false>, FinishLines16Sse2<1, 2, false>, FinishLines16Sse2<2, 2, false>,
     FinishLines16Sse2<3, 2, false>, FinishLines16Sse2<4, 2, false>, FinishLines16Sse2<5, 2, false>,
     FinishLines16Sse2<6, 2, false>, FinishLines16Sse2<7, 2, false>, FinishLines16Sse2<0, 2, true>},
};

ESL_SSE2 void Scaler::SumPlanNarrowSse2(const LinePlan& plan) {
    const int width = m_src->nWidth, blocks = width / 4;
    const BYTE* lines[kMaxWholeLines + 2];
    for (int k = 0; k < plan.fullCount; ++k)
        lines[k] = SourceLine(plan.fullFirst + k);
    const std::uint32_t ew0 = plan.edges.weights & 0xFFFF, ew1 = plan.edges.weights >> 16;
    const int edges = !plan.edgeCount ? 0 : ew1 ? 2 : 1;
    lines[plan.fullCount] = SourceLine(plan.edges.line0);
    lines[plan.fullCount + 1] = SourceLine(plan.edges.line1);
    const __m128i weights[3] = {_mm_set1_epi16(static_cast<short>(plan.fullWeight)),
                                _mm_set1_epi16(static_cast<short>(ew0)), _mm_set1_epi16(static_cast<short>(ew1))};
    auto* out = reinterpret_cast<__m128i*>(m_sums16.Get());
    if (plan.fullCount < kUnrolledLines) {
        kFinishLines16[edges][plan.fullCount](lines, nullptr, weights, blocks, out);
    } else {
        auto* partial = reinterpret_cast<__m128i*>(m_partial16.Get());
        for (int k = 0; k < plan.fullCount; k += kUnrolledLines)
            kAddLines16[std::min(kUnrolledLines, plan.fullCount - k)](lines + k, k == 0, blocks, partial);
        kFinishLines16[edges][kUnrolledLines](lines + plan.fullCount, partial, weights, blocks, out);
    }
    // The last pixels of a line that do not fill a block.
    std::int16_t* sums = m_sums16.Get();
    for (int i = blocks * 4; i < width; ++i)
        for (int c = 0; c < 4; ++c) {
            const std::size_t at = static_cast<std::size_t>(i) * 4 + c;
            std::uint32_t v = 0;
            for (int k = 0; k < plan.fullCount; ++k)
                v += lines[k][at];
            v *= plan.fullWeight;
            if (edges >= 1)
                v += lines[plan.fullCount][at] * ew0;
            if (edges >= 2)
                v += lines[plan.fullCount + 1][at] * ew1;
            sums[static_cast<std::size_t>(i / 2) * 8 + c * 2 + i % 2] = static_cast<std::int16_t>(v);
        }
}

// The sum of target column j: K pairs from its first, one weight vector each.
template <int K>
ESL_SSE2 inline __m128i ColumnSum(const __m128i* pairs, const std::uint32_t* weights) {
    const auto* w = reinterpret_cast<const __m128i*>(weights);
    __m128i sum = _mm_madd_epi16(_mm_load_si128(pairs), _mm_load_si128(w));
    if (K >= 2)
        sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_load_si128(pairs + 1), _mm_load_si128(w + 1)));
    if (K >= 3)
        sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_load_si128(pairs + 2), _mm_load_si128(w + 2)));
    if (K >= 4)
        sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_load_si128(pairs + 3), _mm_load_si128(w + 3)));
    return sum;
}

// Any number of pairs (K = 0 stands for m_pairsPerColumn above 4).
ESL_SSE2 inline __m128i ColumnSumAny(const __m128i* pairs, const std::uint32_t* weights, int count) {
    const auto* w = reinterpret_cast<const __m128i*>(weights);
    __m128i sum = _mm_setzero_si128();
    for (int k = 0; k < count; ++k)
        sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_load_si128(pairs + k), _mm_load_si128(w + k)));
    return sum;
}

// Rounded means of four channels as bytes in the low lanes (or, for
// FloatMeans of four registers, sixteen bytes).
struct NarrowDivide {
    __m128i half, multiplier, shift;
    __m128 offset, reciprocal;
    bool useFloat;
};

ESL_SSE2 inline __m128i IntegerMean(__m128i sum, const NarrowDivide& d) {
    const __m128i total = _mm_add_epi32(sum, d.half);
    const __m128i even = _mm_srl_epi64(_mm_mul_epu32(total, d.multiplier), d.shift);
    const __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(total, 32), d.multiplier), d.shift);
    return _mm_or_si128(even, _mm_slli_epi64(odd, 32));
}

ESL_SSE2 inline __m128i FloatMean(__m128i sum, const NarrowDivide& d) {
    return _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(sum), d.offset), d.reciprocal));
}

template <int K>
ESL_SSE2 inline __m128i SumOfColumn(const __m128i* pairs, const std::int32_t* first, const std::uint32_t* weights,
                                    int stride, int count, int j) {
    const std::uint32_t* w = weights + static_cast<std::size_t>(j) * stride;
    constexpr int kPairs = K ? K : 1;  // instantiated for K = 0 too, never called there
    return K ? ColumnSum<kPairs>(pairs + first[j], w) : ColumnSumAny(pairs + first[j], w, count);
}

template <int K>
ESL_SSE2 void ReduceColumnsSse2(const __m128i* pairs, const std::int32_t* first, const std::uint32_t* weights,
                                int stride, int count, int m, const NarrowDivide& d, BYTE* out) {
    int j = 0;
    if (d.useFloat) {
        for (; j + 4 <= m; j += 4) {
            const __m128i s0 = SumOfColumn<K>(pairs, first, weights, stride, count, j);
            const __m128i s1 = SumOfColumn<K>(pairs, first, weights, stride, count, j + 1);
            const __m128i s2 = SumOfColumn<K>(pairs, first, weights, stride, count, j + 2);
            const __m128i s3 = SumOfColumn<K>(pairs, first, weights, stride, count, j + 3);
            const __m128i q01 = _mm_packs_epi32(FloatMean(s0, d), FloatMean(s1, d));
            const __m128i q23 = _mm_packs_epi32(FloatMean(s2, d), FloatMean(s3, d));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * j), _mm_packus_epi16(q01, q23));
        }
    }
    for (; j < m; ++j) {
        const __m128i sum = SumOfColumn<K>(pairs, first, weights, stride, count, j);
        const __m128i q = d.useFloat ? FloatMean(sum, d) : IntegerMean(sum, d);
        const int v = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(q, q), q));
        std::memcpy(out + 4 * j, &v, 4);
    }
}

ESL_SSE2 void Scaler::ReduceAcrossNarrowSse2(BYTE* out, const Divider& divider) {
    NarrowDivide d;
    d.half = _mm_set1_epi32(static_cast<int>(divider.d / 2));
    d.multiplier = _mm_set1_epi64x(static_cast<long long>(divider.multiplier));
    d.shift = _mm_cvtsi32_si128(divider.shift);
    d.offset = _mm_set1_ps(static_cast<float>(divider.d / 2) + 0.5f);
    d.reciprocal = _mm_set1_ps(1.0f / static_cast<float>(divider.d));
    d.useFloat = divider.d <= kMaxFloatDivisor;
    const auto* pairs = reinterpret_cast<const __m128i*>(m_sums16.Get());
    const int m = m_dest->nWidth, k = m_pairsPerColumn, stride = m_weightStride;
    const std::int32_t* first = m_columnFirst.Get();
    const std::uint32_t* weights = m_columnWeights.Get();
    switch (k) {
    case 1:
        ReduceColumnsSse2<1>(pairs, first, weights, stride, k, m, d, out);
        break;
    case 2:
        ReduceColumnsSse2<2>(pairs, first, weights, stride, k, m, d, out);
        break;
    case 3:
        ReduceColumnsSse2<3>(pairs, first, weights, stride, k, m, d, out);
        break;
    case 4:
        ReduceColumnsSse2<4>(pairs, first, weights, stride, k, m, d, out);
        break;
    default:
        ReduceColumnsSse2<0>(pairs, first, weights, stride, k, m, d, out);
        break;
    }
}

// Whole lines: bytes widened to 16 bits and added, then one multiply-add
// against (weight, 0) per channel; the edge pair as in SumBlocksSse2.
template <bool kEdges>
ESL_SSE2 void SumWholeBlocksSse2(const BYTE* const* whole, int count, __m128i wWhole, const BYTE* e0, const BYTE* e1,
                                 __m128i wEdges, int blocks, __m128i* sums) {
    const __m128i zero = _mm_setzero_si128();
    for (int b = 0; b < blocks; ++b) {
        __m128i lo = zero, hi = zero;
        for (int k = 0; k < count; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(whole[k]) + b);
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(x, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(x, zero));
        }
        __m128i s0 = _mm_madd_epi16(_mm_unpacklo_epi16(lo, zero), wWhole);
        __m128i s1 = _mm_madd_epi16(_mm_unpackhi_epi16(lo, zero), wWhole);
        __m128i s2 = _mm_madd_epi16(_mm_unpacklo_epi16(hi, zero), wWhole);
        __m128i s3 = _mm_madd_epi16(_mm_unpackhi_epi16(hi, zero), wWhole);
        if (kEdges) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e0) + b);
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e1) + b);
            const __m128i elo = _mm_unpacklo_epi8(a, c), ehi = _mm_unpackhi_epi8(a, c);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(elo, zero), wEdges));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(elo, zero), wEdges));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(ehi, zero), wEdges));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(ehi, zero), wEdges));
        }
        __m128i* out = sums + 4 * b;
        _mm_store_si128(out, s0);
        _mm_store_si128(out + 1, s1);
        _mm_store_si128(out + 2, s2);
        _mm_store_si128(out + 3, s3);
    }
}

ESL_SSE2 void Scaler::SumPlanSse2(const LinePlan& plan) {
    const int width = m_src->nWidth, blocks = width / 4;
    const BYTE* whole[kMaxWholeLines];
    for (int k = 0; k < plan.fullCount; ++k)
        whole[k] = SourceLine(plan.fullFirst + k);
    const BYTE* e0 = SourceLine(plan.edges.line0);
    const BYTE* e1 = SourceLine(plan.edges.line1);
    const __m128i wWhole = _mm_set1_epi32(static_cast<int>(plan.fullWeight));
    const __m128i wEdges = _mm_set1_epi32(static_cast<int>(plan.edges.weights));
    auto* sums = reinterpret_cast<__m128i*>(m_sums.Get());
    if (plan.edgeCount)
        SumWholeBlocksSse2<true>(whole, plan.fullCount, wWhole, e0, e1, wEdges, blocks, sums);
    else
        SumWholeBlocksSse2<false>(whole, plan.fullCount, wWhole, e0, e1, wEdges, blocks, sums);
    // The last pixels of a line that do not fill a block.
    const std::uint32_t ew0 = plan.edges.weights & 0xFFFF, ew1 = plan.edges.weights >> 16;
    for (std::size_t i = static_cast<std::size_t>(blocks) * 16; i < static_cast<std::size_t>(width) * 4; ++i) {
        std::uint32_t v = 0;
        for (int k = 0; k < plan.fullCount; ++k)
            v += whole[k][i];
        v *= plan.fullWeight;
        if (plan.edgeCount)
            v += e0[i] * ew0 + e1[i] * ew1;
        m_sums[i] = v;
    }
}

void Scaler::ReduceAcrossPlain() {
    const int m = m_dest->nWidth;
    const std::uint32_t* sums = m_sums.Get();
    std::uint64_t* acc = m_acc.Get();
    for (int j = 0; j < m; ++j, acc += 4) {
        std::uint64_t c[4] = {};
        for (std::uint32_t k = m_tapStart[j]; k < m_tapStart[j + 1]; ++k) {
            const std::uint32_t* s = sums + static_cast<std::size_t>(m_taps[k].index) * 4;
            const std::uint64_t w = m_taps[k].weight;
            for (int ch = 0; ch < 4; ++ch)
                c[ch] += s[ch] * w;
        }
        acc[0] = c[0];
        acc[1] = c[2];
        acc[2] = c[1];
        acc[3] = c[3];
    }
}

ESL_SSE2 void Scaler::ReduceAcrossSse2() {
    const int m = m_dest->nWidth;
    const auto* sums = reinterpret_cast<const __m128i*>(m_sums.Get());
    auto* acc = reinterpret_cast<__m128i*>(m_acc.Get());
    const Tap* t = m_taps.Get();
    for (int j = 0; j < m; ++j, acc += 2) {
        __m128i even = _mm_setzero_si128(), odd = _mm_setzero_si128();
        for (const Tap* end = m_taps.Get() + m_tapStart[j + 1]; t < end; ++t) {
            const __m128i v = _mm_load_si128(sums + t->index);
            const __m128i w = _mm_cvtsi32_si128(static_cast<int>(t->weight));
            even = _mm_add_epi64(even, _mm_mul_epu32(v, _mm_unpacklo_epi64(w, w)));
            odd = _mm_add_epi64(odd, _mm_mul_epu32(_mm_srli_epi64(v, 32), _mm_unpacklo_epi64(w, w)));
        }
        _mm_store_si128(acc, even);
        _mm_store_si128(acc + 1, odd);
    }
}

void Scaler::FinishPlain(BYTE* out, const Divider& divider) const {
    const std::uint64_t half = divider.d / 2;
    const std::uint64_t* acc = m_acc.Get();
    static constexpr int kLaneOfChannel[4] = {0, 2, 1, 3};
    for (int j = 0; j < m_dest->nWidth; ++j, acc += 4, out += 4)
        for (int c = 0; c < 4; ++c)
            out[c] = static_cast<BYTE>(std::min<std::uint32_t>(divider.Divide(acc[kLaneOfChannel[c]] + half), 255));
}

ESL_SSE2 void Scaler::FinishSse2(BYTE* out, const Divider& divider) const {
    if (!divider.fits) {
        FinishPlain(out, divider);
        return;
    }
    const __m128i half = _mm_set1_epi64x(static_cast<long long>(divider.d / 2));
    const __m128i multiplier = _mm_set1_epi64x(static_cast<long long>(divider.multiplier));
    const __m128i shift = _mm_cvtsi32_si128(divider.shift);
    const auto* acc = reinterpret_cast<const __m128i*>(m_acc.Get());
    // Sums below 2^32 here: the multiply sees the low half of each lane.
    for (int j = 0; j < m_dest->nWidth; ++j, acc += 2, out += 4) {
        const __m128i even = _mm_srl_epi64(_mm_mul_epu32(_mm_add_epi64(_mm_load_si128(acc), half), multiplier), shift);
        const __m128i odd =
            _mm_srl_epi64(_mm_mul_epu32(_mm_add_epi64(_mm_load_si128(acc + 1), half), multiplier), shift);
        const __m128i q = _mm_or_si128(even, _mm_slli_epi64(odd, 32));  // channels 0 1 2 3
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q, q), q);
        const int v = _mm_cvtsi128_si32(bytes);
        std::memcpy(out, &v, 4);
    }
}

void Scaler::Run(bool sse2) {
    const std::uint64_t columnUnits = m_ax.Boundary(1);  // the same for every column
    Divider uniform(columnUnits * m_ay.Boundary(1));
    const bool narrow = sse2 && PrepareNarrow(uniform);
    // Target lines in the order of rising source addresses: prefetch follows
    // a rising stream best.
    const int mh = m_dest->nHeight;
    for (int step = 0; step < mh; ++step) {
        const int l = m_srcDown < 0 ? mh - 1 - step : step;
        const std::uint32_t first = m_pairStart[l], count = m_pairStart[l + 1] - first;
        if (sse2) {
            const LinePlan& plan = m_plans[l];
            if (narrow) {
                SumPlanNarrowSse2(plan);
                ReduceAcrossNarrowSse2(DestLine(l), uniform);
                continue;
            }
            if (plan.fullCount > 0 && plan.fullCount <= kMaxWholeLines)
                SumPlanSse2(plan);
            else
                SumLinesSse2(&m_pairs[first], count);
        }
        if (sse2) {
            ReduceAcrossSse2();
        } else {
            SumLinesPlain(&m_pairs[first], count);
            ReduceAcrossPlain();
        }
        const Divider lineDivider =
            m_ay.exact ? uniform : Divider(columnUnits * (m_ay.Boundary(l + 1) - m_ay.Boundary(l)));
        if (sse2)
            FinishSse2(DestLine(l), lineDivider);
        else
            FinishPlain(DestLine(l), lineDivider);
    }
}

bool IsColor32(const ImageBuffer* p) {
    return p && (p->dwKind == kImageKindFull || p->dwKind == kImageKindView) && p->ptrImage &&
           p->dwFormat == kImageFormatColor && p->dwBitsPerPixel == 32 && p->nWidth > 0 && p->nHeight > 0;
}

}  // namespace

int ScaleImageByAreaAverage(ImageBuffer* pDest, const ImageBuffer* pSource) {
    if (!IsColor32(pDest) || !IsColor32(pSource))
        return 1;
    Scaler scaler(pDest, pSource);
    if (!scaler.Prepare())
        return 1;
    scaler.Run(esl::image::UseSse2());
    return 0;
}
