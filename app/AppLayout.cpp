// Placing the visible pages, composing the canvas, the animation of a single
// page, and painting.
#include "App.h"

#include <mmsystem.h>

#include "ProbeHooks.h"

namespace {

constexpr UINT_PTR kAnimTimerId = 1;      // one timer serves every page: SetTimer replaces it
constexpr int kDefaultFrameDelayMs = 80;  // for frames that state no delay

SIZE DrawSize(const qel::CPicture& page) {
    return SIZE{page.GetDrawWidth(), page.GetDrawHeight()};
}

}  // namespace

void App::Layout(HWND hwnd) {
    const int width = m_canvas.GetWidth();
    const int height = m_canvas.GetHeight();
    ShowSlot(0);
    if (m_bSpread) {
        ShowSlot(1);
        FitPair(*Slot(0), *Slot(1));
        PlaceSpread(width, height, DrawSize(*LeftPage()), DrawSize(*RightPage()), m_ptLeft, m_ptRight);
    } else {
        FitSingle(*Slot(0));
        m_ptLeft = CentreIn(width, height, Slot(0)->GetDrawWidth(), Slot(0)->GetDrawHeight());
    }
    Render(hwnd);
    m_bPainted = false;
}

void App::Render(HWND hwnd) {
    ProbeEvent("render");
    m_canvas.Clear();
    if (m_bSpread) {
        // A spread shows first frames only; a timer left from a single
        // animated page would only compose the same canvas again and again.
        StopAnimation(hwnd);
        for (auto place : {std::make_pair(LeftPage(), m_ptLeft), std::make_pair(RightPage(), m_ptRight)}) {
            if (place.first->IsLoaded())
                place.first->Draw(m_canvas, place.second.x, place.second.y);
        }
    } else {
        PagePtr page = Slot(0);
        if (page->IsLoaded())
            DrawAnimated(hwnd, *page);
    }
    ::InvalidateRect(hwnd, nullptr, FALSE);
}

// Draws the frame prepared before and prepares the next one now; the time
// this takes comes off the frame's delay, with at least 1 ms left.
void App::DrawAnimated(HWND hwnd, qel::CPicture& page) {
    const bool animated = page.IsAnimated();
    DWORD deadline = 0;
    if (animated) {
        const int delay = page.GetFrameDelay();
        deadline = ::timeGetTime() + (delay > 0 ? delay : kDefaultFrameDelayMs);
    }
    page.Draw(m_canvas, m_ptLeft.x, m_ptLeft.y);
    if (!animated) {
        StopAnimation(hwnd);
        return;
    }
    UINT next = static_cast<UINT>(page.GetCurrentFrame()) + 1;
    page.SelectFrame(next < page.GetFrameCount() ? static_cast<int>(next) : 0);
    const int remaining = static_cast<int>(deadline - ::timeGetTime());  // the clock wraps
    m_animTimer = ::SetTimer(hwnd, kAnimTimerId, remaining > 0 ? remaining : 1, nullptr);
}

void App::StopAnimation(HWND hwnd) {
    if (m_animTimer == 0)
        return;
    ::KillTimer(hwnd, m_animTimer);
    m_animTimer = 0;
}

// Only the paint rectangle is copied; the canvas keeps the composed screen.
LRESULT App::OnPaint(HWND hwnd, UINT, WPARAM, LPARAM) {
    PAINTSTRUCT ps{};
    HDC dc = ::BeginPaint(hwnd, &ps);
    if (dc)
        m_canvas.Present(dc, ps.rcPaint, SRCCOPY);
    ::EndPaint(hwnd, &ps);
    m_bPainted = true;
    ProbeEvent("paint");
    return 0;
}

LRESULT App::OnTimer(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Render(hwnd);
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}
