// Area-average resampling: the kernels of the four paths, plain and SSE2.
// Each sums a target line down from the source lines it covers and reduces
// that sum line across into the target line.
#include <algorithm>
#include <cstring>

#include "esl_image_reduce_internal.h"

namespace esl::image::reduce {

namespace {

class Reducer {
public:
    Reducer(const Plan& plan, ImageBuffer* pDest, const ImageBuffer* pSource)
        : m_plan(plan), m_src(pSource), m_dest(pDest), m_n(pSource->nWidth), m_m(pDest->nWidth), m_mh(pDest->nHeight) {}

    bool Allocate();
    // The target lines in the order of rising source addresses: prefetch
    // follows a rising stream best.
    template <class Line>
    void EachLine(Line&& line) {
        for (int step = 0; step < m_mh; ++step)
            line(m_src.down < 0 ? m_mh - 1 - step : step);
    }

    void SumDown(int l, std::size_t from, std::size_t to, std::uint32_t* out) const;
    void SumPlain(int l) { SumDown(l, 0, LineBytes(), m_sums.Get()); }
    void ReduceAcrossPlain();
    void FinishPlain(int l) const;
    void SumLinePairs(int l);
    void SumWholeLines(int l);
    void ReduceAcrossSse2();
    void FinishSse2(int l) const;
    void SumNarrow(int l);
    void ReduceAcrossNarrow(int l);

private:
    // From the last whole block of four pixels to the end of a line.
    std::size_t TailStart() const { return static_cast<std::size_t>(m_n / 4) * 16; }
    std::size_t LineBytes() const { return static_cast<std::size_t>(m_n) * 4; }

    const Plan& m_plan;
    const ScreenLines<const BYTE> m_src;
    const ScreenLines<BYTE> m_dest;
    const int m_n, m_m, m_mh;
    HeapArray<std::uint32_t> m_sums;      // n x 4: the current target line summed down
    HeapArray<std::uint64_t> m_acc;       // m x 4, lanes in the order 0 2 1 3
    HeapArray<std::int16_t> m_sums16;     // narrow: 8 a pixel pair, ceil(n / 2) pairs and pairsPerColumn zero ones
    HeapArray<std::int16_t> m_partial16;  // narrow: n x 4, whole lines summed so far, for lines of many
};

bool Reducer::Allocate() {
    if (m_plan.path != Path::kNarrow)
        return m_sums.Allocate(static_cast<std::size_t>(m_n) * 4) && m_acc.Allocate(static_cast<std::size_t>(m_m) * 4);
    // Lines of at most 128 units: their sums fit 16 bits and are kept as
    // pixel pairs (2i, 2i + 1), channels interleaved (b0 b1 g0 g1 r0 r1 x0 x1),
    // so that a pair goes through one multiply-add. The pixel after an odd
    // last one and the pairs past the end are read with weight 0 only, but
    // must hold numbers.
    const std::uint64_t pairs = (static_cast<std::uint64_t>(m_n) + 1) / 2 + m_plan.pairsPerColumn;
    if (!m_sums16.Allocate(pairs * 8))
        return false;
    std::memset(m_sums16.Get(), 0, static_cast<std::size_t>(pairs) * 16);
    const bool many = std::any_of(m_plan.plans.Get(), m_plan.plans.Get() + m_mh,
                                  [](const LinePlan& plan) { return plan.fullCount >= kUnrolledLines; });
    return !many || m_partial16.Allocate(static_cast<std::size_t>(m_n) * 4);
}

// The one scalar sum: bytes [from, to) of target line l's sum line, from
// its taps, to out[0] on. The plain path takes whole lines so; the others
// the last pixels of a line, which do not fill a block of four (reading a
// whole block there could pass the end of the image).
void Reducer::SumDown(int l, std::size_t from, std::size_t to, std::uint32_t* out) const {
    const Tap* taps = m_plan.lines.Of(l);
    for (std::uint32_t k = 0; k < m_plan.lines.CountOf(l); ++k) {
        const BYTE* line = m_src[taps[k].index];
        const std::uint32_t w = taps[k].weight;
        for (std::size_t i = from; i < to; ++i)
            out[i - from] = (k ? out[i - from] : 0) + line[i] * w;
    }
}

void Reducer::ReduceAcrossPlain() {
    const Covers& columns = m_plan.columns;
    const std::uint32_t* sums = m_sums.Get();
    std::uint64_t* acc = m_acc.Get();
    for (int j = 0; j < m_m; ++j, acc += 4) {
        std::uint64_t c[4] = {};
        const Tap* t = columns.Of(j);
        for (std::uint32_t k = 0; k < columns.CountOf(j); ++k) {
            const std::uint32_t* s = sums + static_cast<std::size_t>(t[k].index) * 4;
            for (int ch = 0; ch < 4; ++ch)
                c[ch] += s[ch] * static_cast<std::uint64_t>(t[k].weight);
        }
        acc[0] = c[0];
        acc[1] = c[2];
        acc[2] = c[1];
        acc[3] = c[3];
    }
}

void Reducer::FinishPlain(int l) const {
    const Divider divider = m_plan.LineDivider(l);
    const std::uint64_t half = divider.d / 2;
    const std::uint64_t* acc = m_acc.Get();
    static constexpr int kLaneOfChannel[4] = {0, 2, 1, 3};
    BYTE* out = m_dest[l];
    for (int j = 0; j < m_m; ++j, acc += 4, out += 4)
        for (int c = 0; c < 4; ++c)
            out[c] = static_cast<BYTE>(std::min<std::uint32_t>(divider.Divide(acc[kLaneOfChannel[c]] + half), 255));
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

ESL_SSE2 void Reducer::SumLinePairs(int l) {
    const int blocks = m_n / 4;
    const LinePair* pairs = &m_plan.pairs[m_plan.pairStart[l]];
    const std::uint32_t count = m_plan.pairStart[l + 1] - m_plan.pairStart[l];
    auto* sums = reinterpret_cast<__m128i*>(m_sums.Get());
    for (std::uint32_t first = 0; first < count; first += 4) {
        const std::uint32_t chunk = std::min<std::uint32_t>(4, count - first);
        const BYTE* r0[4];
        const BYTE* r1[4];
        __m128i w[4];
        for (std::uint32_t k = 0; k < chunk; ++k) {
            r0[k] = m_src[pairs[first + k].line0];
            r1[k] = m_src[pairs[first + k].line1];
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
    }
    SumDown(l, TailStart(), LineBytes(), m_sums.Get() + TailStart());
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

ESL_SSE2 void Reducer::SumWholeLines(int l) {
    const LinePlan& plan = m_plan.plans[l];
    const BYTE* whole[kMaxWholeLines];
    for (int k = 0; k < plan.fullCount; ++k)
        whole[k] = m_src[plan.fullFirst + k];
    const __m128i wWhole = _mm_set1_epi32(static_cast<int>(plan.fullWeight));
    const __m128i wEdges = _mm_set1_epi32(static_cast<int>(plan.edges.weights));
    const BYTE* e0 = m_src[plan.edges.line0];
    const BYTE* e1 = m_src[plan.edges.line1];
    auto* sums = reinterpret_cast<__m128i*>(m_sums.Get());
    if (plan.edgeCount)
        SumWholeBlocksSse2<true>(whole, plan.fullCount, wWhole, e0, e1, wEdges, m_n / 4, sums);
    else
        SumWholeBlocksSse2<false>(whole, plan.fullCount, wWhole, e0, e1, wEdges, m_n / 4, sums);
    SumDown(l, TailStart(), LineBytes(), m_sums.Get() + TailStart());
}

ESL_SSE2 void Reducer::ReduceAcrossSse2() {
    const auto* sums = reinterpret_cast<const __m128i*>(m_sums.Get());
    auto* acc = reinterpret_cast<__m128i*>(m_acc.Get());
    const Tap* t = m_plan.columns.taps.Get();
    for (int j = 0; j < m_m; ++j, acc += 2) {
        __m128i even = _mm_setzero_si128(), odd = _mm_setzero_si128();
        for (const Tap* end = m_plan.columns.Of(j + 1); t < end; ++t) {
            const __m128i v = _mm_load_si128(sums + t->index);
            const __m128i w = _mm_cvtsi32_si128(static_cast<int>(t->weight));
            even = _mm_add_epi64(even, _mm_mul_epu32(v, _mm_unpacklo_epi64(w, w)));
            odd = _mm_add_epi64(odd, _mm_mul_epu32(_mm_srli_epi64(v, 32), _mm_unpacklo_epi64(w, w)));
        }
        _mm_store_si128(acc, even);
        _mm_store_si128(acc + 1, odd);
    }
}

ESL_SSE2 void Reducer::FinishSse2(int l) const {
    const Divider divider = m_plan.LineDivider(l);
    if (!divider.fits) {
        FinishPlain(l);
        return;
    }
    const __m128i half = _mm_set1_epi64x(static_cast<long long>(divider.d / 2));
    const __m128i multiplier = _mm_set1_epi64x(static_cast<long long>(divider.multiplier));
    const __m128i shift = _mm_cvtsi32_si128(divider.shift);
    const auto* acc = reinterpret_cast<const __m128i*>(m_acc.Get());
    BYTE* out = m_dest[l];
    // Sums below 2^32 here: the multiply sees the low half of each lane.
    for (int j = 0; j < m_m; ++j, acc += 2, out += 4) {
        const __m128i even = _mm_srl_epi64(_mm_mul_epu32(_mm_add_epi64(_mm_load_si128(acc), half), multiplier), shift);
        const __m128i odd =
            _mm_srl_epi64(_mm_mul_epu32(_mm_add_epi64(_mm_load_si128(acc + 1), half), multiplier), shift);
        const __m128i q = _mm_or_si128(even, _mm_slli_epi64(odd, 32));  // channels 0 1 2 3
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q, q), q);
        const int v = _mm_cvtsi128_si32(bytes);
        std::memcpy(out, &v, 4);
    }
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

ESL_SSE2 void Reducer::SumNarrow(int l) {
    const LinePlan& plan = m_plan.plans[l];
    const int blocks = m_n / 4;
    const BYTE* lines[kMaxWholeLines + 2];
    for (int k = 0; k < plan.fullCount; ++k)
        lines[k] = m_src[plan.fullFirst + k];
    const std::uint32_t ew0 = plan.edges.weights & 0xFFFF, ew1 = plan.edges.weights >> 16;
    const int edges = !plan.edgeCount ? 0 : ew1 ? 2 : 1;
    lines[plan.fullCount] = m_src[plan.edges.line0];
    lines[plan.fullCount + 1] = m_src[plan.edges.line1];
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
    std::uint32_t tail[12];
    SumDown(l, TailStart(), LineBytes(), tail);
    for (std::size_t i = TailStart(); i < LineBytes(); ++i) {
        const std::size_t pixel = i / 4, c = i % 4;
        m_sums16[pixel / 2 * 8 + c * 2 + pixel % 2] = static_cast<std::int16_t>(tail[i - TailStart()]);
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

ESL_SSE2 void Reducer::ReduceAcrossNarrow(int l) {
    const Divider& divider = m_plan.uniform;
    NarrowDivide d;
    d.half = _mm_set1_epi32(static_cast<int>(divider.d / 2));
    d.multiplier = _mm_set1_epi64x(static_cast<long long>(divider.multiplier));
    d.shift = _mm_cvtsi32_si128(divider.shift);
    d.offset = _mm_set1_ps(static_cast<float>(divider.d / 2) + 0.5f);
    d.reciprocal = _mm_set1_ps(1.0f / static_cast<float>(divider.d));
    d.useFloat = divider.d <= kMaxFloatDivisor;
    const auto* pairs = reinterpret_cast<const __m128i*>(m_sums16.Get());
    const int k = m_plan.pairsPerColumn, stride = m_plan.weightStride;
    const std::int32_t* first = m_plan.columnFirst.Get();
    const std::uint32_t* weights = m_plan.columnWeights.Get();
    BYTE* out = m_dest[l];
    switch (k) {
    case 1:
        ReduceColumnsSse2<1>(pairs, first, weights, stride, k, m_m, d, out);
        break;
    case 2:
        ReduceColumnsSse2<2>(pairs, first, weights, stride, k, m_m, d, out);
        break;
    case 3:
        ReduceColumnsSse2<3>(pairs, first, weights, stride, k, m_m, d, out);
        break;
    case 4:
        ReduceColumnsSse2<4>(pairs, first, weights, stride, k, m_m, d, out);
        break;
    default:
        ReduceColumnsSse2<0>(pairs, first, weights, stride, k, m_m, d, out);
        break;
    }
}

}  // namespace

bool RunPlan(const Plan& plan, ImageBuffer* pDest, const ImageBuffer* pSource) {
    Reducer r(plan, pDest, pSource);
    if (!r.Allocate())
        return false;
    switch (plan.path) {
    case Path::kPlain:
        r.EachLine([&r](int l) {
            r.SumPlain(l);
            r.ReduceAcrossPlain();
            r.FinishPlain(l);
        });
        break;
    case Path::kNarrow:
        r.EachLine([&r](int l) {
            r.SumNarrow(l);
            r.ReduceAcrossNarrow(l);
        });
        break;
    case Path::kWholeLines:
        r.EachLine([&r](int l) {
            r.SumWholeLines(l);
            r.ReduceAcrossSse2();
            r.FinishSse2(l);
        });
        break;
    case Path::kLinePairs:
        r.EachLine([&r](int l) {
            r.SumLinePairs(l);
            r.ReduceAcrossSse2();
            r.FinishSse2(l);
        });
        break;
    }
    return true;
}

}  // namespace esl::image::reduce
