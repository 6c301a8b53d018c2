// Area-average resampling: the plan. Along each axis, the source pixels that
// every target pixel covers (its taps); from the taps of the lines, what each
// path needs of them; and the one path a call takes.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "esl_image_reduce.h"
#include "esl_image_reduce_internal.h"

namespace esl::image::reduce {

namespace {

// Line weights enter 16-bit multiplies, and a summed line must stay below
// 2^32 (255 x the units of a target line).
constexpr std::uint64_t kMaxLineWeight = 32767;
constexpr std::uint64_t kMaxLineUnits = std::uint64_t{1} << 24;

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

bool BuildCovers(const Axis& axis, int m, Covers& covers) {
    // Every boundary once: each costs two 64-bit divisions.
    HeapArray<std::uint64_t> bounds;
    if (!bounds.Allocate(static_cast<std::size_t>(m) + 1) || !covers.start.Allocate(static_cast<std::size_t>(m) + 1))
        return false;
    for (int j = 0; j <= m; ++j)
        bounds[j] = axis.Boundary(j);
    std::uint64_t taps = 0;
    for (int j = 0; j < m; ++j) {
        covers.start[j] = static_cast<std::uint32_t>(taps);
        ForEachCover(bounds[j], bounds[j + 1], axis.a, [&](int, std::uint32_t) { ++taps; });
        if (taps > 0x3FFFFFFF)
            return false;
    }
    covers.start[m] = static_cast<std::uint32_t>(taps);
    if (!covers.taps.Allocate(taps))
        return false;
    Tap* t = covers.taps.Get();
    for (int j = 0; j < m; ++j)
        ForEachCover(bounds[j], bounds[j + 1], axis.a, [&](int i, std::uint32_t w) { *t++ = Tap{i, w}; });
    return true;
}

LinePlan PlanOf(const Tap* taps, std::uint32_t count, std::uint32_t whole) {
    LinePlan plan{0, 0, whole, 0, LinePair{0, 0, 0}};
    for (const Tap* t = taps; t < taps + count; ++t) {
        if (t->weight == whole) {
            if (!plan.fullCount)
                plan.fullFirst = t->index;
            ++plan.fullCount;
        } else if (!plan.edgeCount) {
            plan.edges = LinePair{t->index, t->index, t->weight};
            plan.edgeCount = 1;
        } else {
            plan.edges.line1 = t->index;
            plan.edges.weights |= t->weight << 16;
        }
    }
    return plan;
}

bool BuildPairs(const Covers& lines, int mh, HeapArray<LinePair>& pairs, HeapArray<std::uint32_t>& pairStart) {
    if (!pairStart.Allocate(static_cast<std::size_t>(mh) + 1))
        return false;
    std::uint32_t count = 0;
    for (int l = 0; l < mh; ++l) {
        pairStart[l] = count;
        count += (lines.CountOf(l) + 1) / 2;
    }
    pairStart[mh] = count;
    if (!pairs.Allocate(count))
        return false;
    LinePair* p = pairs.Get();
    for (int l = 0; l < mh; ++l) {
        const Tap* t = lines.Of(l);
        for (std::uint32_t k = 0; k < lines.CountOf(l); k += 2, ++p) {
            const bool second = k + 1 < lines.CountOf(l);
            *p = LinePair{t[k].index, second ? t[k + 1].index : t[k].index,
                          t[k].weight | (second ? t[k + 1].weight << 16 : 0)};
        }
    }
    return true;
}

// The narrow path's tables, when it applies: line sums below 2^15, column
// weights below 2^15, pixel sums below 2^32 and the divider exact through
// a 32-bit multiply. Taps of a column are neighbours; the pairs that hold
// them start at an even pixel, and every column reads as many pairs as the
// widest one.
bool BuildNarrowColumns(Plan& plan, int m) {
    if (!plan.ay.exact || 255 * plan.ay.Boundary(1) > 32767 || std::min(plan.ax.a, plan.ax.Boundary(1)) > 32767 ||
        !plan.uniform.fits)
        return false;
    const Covers& columns = plan.columns;
    std::uint64_t widest = 1;
    for (int j = 0; j < m; ++j) {
        const Tap* t = columns.Of(j);
        widest = std::max<std::uint64_t>(widest, t[columns.CountOf(j) - 1].index / 2 - t[0].index / 2 + 1);
    }
    if (widest > 0x3FFFFFFF / 8)
        return false;
    plan.pairsPerColumn = static_cast<int>(widest);
    plan.weightStride = 4 * plan.pairsPerColumn;
    if (!plan.columnFirst.Allocate(static_cast<std::size_t>(m)) ||
        !plan.columnWeights.Allocate(static_cast<std::uint64_t>(m) * plan.weightStride))
        return false;
    std::memset(plan.columnWeights.Get(), 0, static_cast<std::size_t>(m) * plan.weightStride * 4);
    for (int j = 0; j < m; ++j) {
        const Tap* t = columns.Of(j);
        const int firstPair = t[0].index / 2;
        plan.columnFirst[j] = firstPair;
        std::uint32_t* w = &plan.columnWeights[static_cast<std::size_t>(j) * plan.weightStride];
        for (std::uint32_t k = 0; k < columns.CountOf(j); ++k)
            for (int copy = 0; copy < 4; ++copy)
                w[(t[k].index / 2 - firstPair) * 4 + copy] |= t[k].weight << (t[k].index % 2 ? 16 : 0);
    }
    return true;
}

bool IsColor32(const ImageBuffer* p) {
    return p && (p->dwKind == kImageKindFull || p->dwKind == kImageKindView) && p->ptrImage &&
           p->dwFormat == kImageFormatColor && p->dwBitsPerPixel == 32 && p->nWidth > 0 && p->nHeight > 0;
}

}  // namespace

Divider::Divider(std::uint64_t divisor) : d(divisor) {
    // n * (2^k / d + e) / 2^k is exact when 2^k > 256 d^2.
    if (d > (std::uint64_t{1} << 23))
        return;
    const std::uint64_t bound = 256 * d * d;
    while (shift < 63 && (std::uint64_t{1} << shift) <= bound)
        ++shift;
    multiplier = ((std::uint64_t{1} << shift) / d) + 1;
    fits = multiplier <= 0xFFFFFFFFull && 256 * d + d / 2 <= 0xFFFFFFFFull;
}

std::uint32_t Divider::Divide(std::uint64_t n) const {
    if (fits)
        return static_cast<std::uint32_t>((n * multiplier) >> shift);
    std::uint64_t q = static_cast<std::uint64_t>(static_cast<double>(n) / static_cast<double>(d));
    while (q > 0 && q * d > n)
        --q;
    while ((q + 1) * d <= n)
        ++q;
    return static_cast<std::uint32_t>(q);
}

bool Plan::Build(int n, int m, int nh, int mh, bool sse2) {
    ax = AxisFor(n, m, false);
    ay = AxisFor(nh, mh, true);
    uniform = Divider(ax.Boundary(1) * ay.Boundary(1));
    if (!BuildCovers(ax, m, columns) || !BuildCovers(ay, mh, lines) || !plans.Allocate(static_cast<std::size_t>(mh)))
        return false;
    int mostWhole = 0;
    for (int l = 0; l < mh; ++l) {
        plans[l] = PlanOf(lines.Of(l), lines.CountOf(l), static_cast<std::uint32_t>(ay.a));
        mostWhole = std::max(mostWhole, static_cast<int>(plans[l].fullCount));
    }
    if (!sse2)
        path = Path::kPlain;
    else if (BuildNarrowColumns(*this, m))
        path = Path::kNarrow;
    else if (mostWhole <= kMaxWholeLines)
        path = Path::kWholeLines;
    else
        path = Path::kLinePairs;
    return path != Path::kLinePairs || BuildPairs(lines, mh, pairs, pairStart);
}

Divider Plan::LineDivider(int l) const {
    return ay.exact ? uniform : Divider(ax.Boundary(1) * (ay.Boundary(l + 1) - ay.Boundary(l)));
}

}  // namespace esl::image::reduce

int ScaleImageByAreaAverage(ImageBuffer* pDest, const ImageBuffer* pSource) {
    using namespace esl::image::reduce;
    if (!IsColor32(pDest) || !IsColor32(pSource))
        return 1;
    Plan plan;
    if (!plan.Build(pSource->nWidth, pDest->nWidth, pSource->nHeight, pDest->nHeight, esl::image::UseSse2()))
        return 1;
    return RunPlan(plan, pDest, pSource) ? 0 : 1;
}
