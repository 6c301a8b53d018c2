// PLACEHOLDER until pictures and the screen canvas land: a canvas that only
// keeps its size and background colour and paints that colour, and a page
// picture that is always empty.
#pragma once

#include <windows.h>

#include "esl_handle.h"
#include "qel_path.h"

class CCanvas {
public:
    // Placeholder: remembers the size; the real canvas is a 32-bit DIB.
    void Create(int width, int height) {
        m_width = width;
        m_height = height;
    }
    void SetBkColor(DWORD dwPixelCode) { m_dwBkColor = dwPixelCode; }
    DWORD GetBkColor() const { return m_dwBkColor; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Placeholder: fills the rectangle with the background colour.
    void Present(HDC dc, const RECT& rc, DWORD /*rop*/) const {
        // Pixel codes keep blue in the low byte; COLORREF keeps red there.
        COLORREF color = RGB((m_dwBkColor >> 16) & 0xFF, (m_dwBkColor >> 8) & 0xFF, m_dwBkColor & 0xFF);
        esl::UniqueGdiObject brush(::CreateSolidBrush(color));
        ::FillRect(dc, &rc, static_cast<HBRUSH>(brush.get()));
    }

private:
    int m_width = 0;
    int m_height = 0;
    DWORD m_dwBkColor = 0xFF808080;
};

namespace qel {

class CPicture {
public:
    // Placeholder: nothing is ever decoded.
    bool IsLoaded() const { return false; }
};

}  // namespace qel
