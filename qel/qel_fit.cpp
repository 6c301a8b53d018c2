// Fitting a picture's size into an area, and where it goes inside it.
#include <windows.h>

#include <algorithm>
#include <climits>

#include "qel_picture.h"

namespace qel {

namespace {

// Truncated toward zero, kept within int: a page one pixel wide fitted only
// by width could otherwise grow past it.
int Truncate(double v) {
    if (!(v < static_cast<double>(INT_MAX)))
        return INT_MAX;
    return v > 0.0 ? static_cast<int>(v) : 0;
}

// The free space split evenly (a negative odd difference rounds down), or
// the picture pushed to the far edge, or left at the near one.
LONG Offset(int area, int size, bool alignFar, bool alwaysCenter) {
    const int free = area - size;
    if (area > size || alwaysCenter)
        return free >= 0 ? free / 2 : -((1 - free) / 2);
    return alignFar ? free : 0;
}

}  // namespace

std::pair<int, int> CalcFitSize(int aw, int ah, int pw, int ph, unsigned flags, POINT* pOffset, double maxScale) {
    if (pOffset)
        *pOffset = POINT{0, 0};
    if (aw <= 0 || ah <= 0 || pw <= 0 || ph <= 0)
        return {0, 0};

    int w = (flags & FIT_WIDTH) ? aw : pw;
    int h = (flags & FIT_HEIGHT) ? ah : ph;
    if (flags & FIT_NO_ENLARGE) {
        w = std::min(w, pw);
        h = std::min(h, ph);
    } else if (maxScale > 0.0) {
        if (static_cast<double>(w) / pw > maxScale)
            w = Truncate(pw * maxScale);
        if (static_cast<double>(h) / ph > maxScale)
            h = Truncate(ph * maxScale);
    }

    if (flags & FIT_KEEP_ASPECT) {
        const double rx = static_cast<double>(w) / pw;
        const double ry = static_cast<double>(h) / ph;
        const bool byWidth = (flags & FIT_WIDTH) != 0, byHeight = (flags & FIT_HEIGHT) != 0;
        if (byWidth && byHeight) {
            if (ry > rx)
                h = Truncate(ph * rx);
            else
                w = Truncate(pw * ry);
        } else if (byWidth) {
            h = Truncate(ph * rx);
        } else if (byHeight) {
            w = Truncate(pw * ry);
        }
    }
    // A sliver of a picture is still drawn, one pixel across.
    w = std::max(w, 1);
    h = std::max(h, 1);

    if (pOffset) {
        if (flags & FIT_CALC_X)
            pOffset->x = Offset(aw, w, (flags & FIT_ALIGN_RIGHT) != 0, (flags & FIT_ALWAYS_CENTER) != 0);
        if (flags & FIT_CALC_Y)
            pOffset->y = Offset(ah, h, (flags & FIT_ALIGN_BOTTOM) != 0, (flags & FIT_ALWAYS_CENTER) != 0);
    }
    return {w, h};
}

}  // namespace qel
