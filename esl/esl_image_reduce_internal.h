// Area-average resampling, shared by its plan and its kernels; not for users.
//
// Exact integer arithmetic, separable and in one stream over the source: for
// each target line, the source lines it covers are summed down, and that sum
// line is reduced across with precomputed weights.
//
// Along an axis of n source and m target pixels, positions are counted in
// units so that a source pixel is a = m / g units long and a target pixel
// n / g (g = gcd(n, m)); the overlap of the two is an integer. A target
// pixel's sum is therefore exact, and its mean is the sum divided by the
// units of its area, rounded half up. Every path computes exactly this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "esl_image.h"
#include "esl_image_cpu.h"

namespace esl::image::reduce {

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

// A source pixel (or line) of a target pixel (or line) and its units.
struct Tap {
    std::int32_t index;
    std::uint32_t weight;
};

// The taps of every target pixel along an axis, in order: those of target j
// are taps[start[j]] up to taps[start[j + 1]].
struct Covers {
    HeapArray<Tap> taps;
    HeapArray<std::uint32_t> start;  // m + 1 entries

    const Tap* Of(int j) const { return &taps[start[j]]; }
    std::uint32_t CountOf(int j) const { return start[j + 1] - start[j]; }
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

    explicit Divider(std::uint64_t divisor);
    std::uint32_t Divide(std::uint64_t n) const;
};

// Target pixels with sums below 2^22 are divided in single floats: the
// quotient is within 2^-14 of the true one under any rounding mode, and a
// half-up mean lies at least 1 / (2 d) from a whole number.
constexpr std::uint64_t kMaxFloatDivisor = 4096;

// The four ways through, chosen once for a whole call.
enum class Path {
    kPlain,       // no SSE2: 32-bit sums of single lines
    kNarrow,      // every line sum below 2^15: 16-bit sums, pixels paired
    kWholeLines,  // whole lines summed in 16 bits, then widened
    kLinePairs,   // lines of more than 128 whole lines: two lines a multiply-add
};

struct Plan {
    Axis ax, ay;
    Covers columns, lines;
    Path path = Path::kPlain;
    Divider uniform{1};         // of a target pixel on an exact grid
    HeapArray<LinePair> pairs;  // kLinePairs: lines' taps two by two
    HeapArray<std::uint32_t> pairStart;
    HeapArray<LinePlan> plans;  // kWholeLines and kNarrow: one per target line
    // kNarrow: target column j reads pairsPerColumn pixel pairs from
    // columnFirst[j] on, weighted by one word each (the even pixel's weight
    // in the low half), stored four times over to be the multiply-add's
    // operand as it is.
    HeapArray<std::int32_t> columnFirst;
    HeapArray<std::uint32_t> columnWeights;
    int pairsPerColumn = 0;
    int weightStride = 0;

    // False when memory runs out or a table would not fit its counters.
    bool Build(int n, int m, int nh, int mh, bool sse2);
    // The divider of target line l (lines differ on a coarsened grid).
    Divider LineDivider(int l) const;
};

// The lines of an image from the top of the screen: a positive pitch keeps
// row 0 at the bottom (as a DIB does), a negative one at the top.
template <class Byte>
struct ScreenLines {
    Byte* top;
    std::ptrdiff_t down;

    explicit ScreenLines(const ImageBuffer* p)
        : top(p->nPitch < 0 ? p->ptrImage : p->ptrImage + (p->nHeight - 1) * static_cast<std::ptrdiff_t>(p->nPitch)),
          down(p->nPitch < 0 ? p->nPitch : -static_cast<std::ptrdiff_t>(p->nPitch)) {}
    Byte* operator[](int line) const { return top + static_cast<std::ptrdiff_t>(line) * down; }
};

// Runs the plan's path over every target line. False when memory runs out.
bool RunPlan(const Plan& plan, ImageBuffer* pDest, const ImageBuffer* pSource);

}  // namespace esl::image::reduce
