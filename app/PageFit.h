// Fitting pages to the screen: one page alone, or two pages brought to one
// height and fitted side by side as one picture; and where they are placed.
// Page is anything with the sizes and SetDrawSize of qel::CPicture.
#pragma once

#include <windows.h>

#include "qel_picture.h"

// Fill the area with the proportions kept, enlarging as well as reducing.
constexpr unsigned kFitFlags = qel::FIT_WIDTH | qel::FIT_HEIGHT | qel::FIT_KEEP_ASPECT;

template <class Page>
void FitSingle(Page& page, int areaWidth, int areaHeight) {
    auto size = qel::CalcFitSize(areaWidth, areaHeight, page.GetWidth(), page.GetHeight(), kFitFlags, nullptr, 0.0);
    page.SetDrawSize(size.first, size.second, true);
}

// Both pages get one draw height; their draw widths add up to the fitted width.
template <class Page>
void FitPair(Page& a, Page& b, int areaWidth, int areaHeight) {
    if (b.GetHeight() <= 0)
        return;  // no picture decodes to an empty image; nothing to scale by
    const double r = static_cast<double>(a.GetHeight()) / b.GetHeight();
    const double wb = b.GetWidth() * r;                   // b's width at a's height
    const double k = a.GetWidth() / (a.GetWidth() + wb);  // a's share of the width
    auto size = qel::CalcFitSize(areaWidth, areaHeight, static_cast<int>(a.GetWidth() + wb), a.GetHeight(), kFitFlags,
                                 nullptr, 0.0);
    a.SetDrawSize(static_cast<int>(size.first * k), size.second, true);
    b.SetDrawSize(size.first - a.GetDrawWidth(), size.second, true);
}

// Top-left corner of a page of the given size centred in the area; the
// halves truncate toward zero, so a page larger than the area starts left of it.
inline POINT CentreIn(int areaWidth, int areaHeight, int width, int height) {
    return POINT{(areaWidth - width) / 2, (areaHeight - height) / 2};
}

// The two pages of a spread centred together, each centred vertically.
inline void PlaceSpread(int areaWidth, int areaHeight, SIZE left, SIZE right, POINT& ptLeft, POINT& ptRight) {
    ptLeft = CentreIn(areaWidth, areaHeight, left.cx + right.cx, left.cy);
    ptRight = POINT{ptLeft.x + left.cx, (areaHeight - right.cy) / 2};
}
