#include "qel_color_dialog.h"

#include <commdlg.h>

#include <algorithm>

namespace qel {

namespace {

// White at start; the dialog writes the user's custom colours back here so
// that they are offered again during the same run.
COLORREF gCustomColors[16] = {
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
};

// The dialog being opened on this thread: the hook finds it at WM_INITDIALOG.
thread_local CChooseColorDlg* tCreating = nullptr;

constexpr char kObjectProperty[] = "velk58.CChooseColorDlg";

UINT ColorOkMessage() {
    // A function-local static is initialised once, under the run-time's lock.
    static const UINT msg = ::RegisterWindowMessageA("commdlg_ColorOK");
    return msg;
}

// Moves rc by the least amount that puts it inside area: right and bottom
// edges first, then left and top, so a too-large rectangle keeps its corner.
void KeepInside(RECT& rc, const RECT& area) {
    LONG dx = 0, dy = 0;
    if (rc.right > area.right)
        dx = area.right - rc.right;
    if (rc.bottom > area.bottom)
        dy = area.bottom - rc.bottom;
    if (rc.left + dx < area.left)
        dx = area.left - rc.left;
    if (rc.top + dy < area.top)
        dy = area.top - rc.top;
    ::OffsetRect(&rc, dx, dy);
}

RECT WorkAreaNear(HWND hWnd) {
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoA(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    return mi.rcWork;
}

}  // namespace

COLORREF PixelCodeToColorRef(DWORD dwPixelCode) noexcept {
    return RGB((dwPixelCode >> 16) & 0xFF, (dwPixelCode >> 8) & 0xFF, dwPixelCode & 0xFF);
}

void ColorRefToPixelCode(COLORREF color, DWORD& dwPixelCode) noexcept {
    dwPixelCode = (dwPixelCode & 0xFF000000u) | (DWORD(GetRValue(color)) << 16) | (DWORD(GetGValue(color)) << 8) |
                  GetBValue(color);
}

CChooseColorDlg::CChooseColorDlg(const char* pszTitle, DWORD dwInitialPixelCode)
    : m_strTitle(pszTitle ? pszTitle : "") {
    m_cc.lStructSize = sizeof(m_cc);
    m_cc.rgbResult = PixelCodeToColorRef(dwInitialPixelCode);
    m_cc.lpCustColors = gCustomColors;
    // Black is the dialog's own default, so it needs no initial colour.
    m_cc.Flags = CC_FULLOPEN | CC_ENABLEHOOK | (m_cc.rgbResult ? CC_RGBINIT : 0);
    m_cc.lpfnHook = HookProc;
    m_cc.lCustData = reinterpret_cast<LPARAM>(this);
}

CChooseColorDlg::~CChooseColorDlg() = default;

COLORREF* CChooseColorDlg::CustomColors() noexcept {
    return gCustomColors;
}

INT_PTR CChooseColorDlg::DoModal(HWND hWndParent) {
    if (!m_cc.hwndOwner)
        m_cc.hwndOwner = hWndParent;
    ColorOkMessage();
    CChooseColorDlg* previous = tCreating;
    tCreating = this;
    BOOL chosen = ::ChooseColorA(&m_cc);
    tCreating = previous;
    m_hWnd = nullptr;
    m_pfnSuperWindowProc = nullptr;
    return chosen ? IDOK : IDCANCEL;
}

UINT_PTR CALLBACK CChooseColorDlg::HookProc(HWND hWnd, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        CChooseColorDlg* self = tCreating;
        if (!self || self->m_hWnd)
            return 0;
        // Subclassed so that the dialog's messages reach this object for as
        // long as the window lives.
        if (!::SetPropA(hWnd, kObjectProperty, self))
            return 0;
        LONG_PTR previous =
            ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CChooseColorDlg::SubclassProc));
        if (!previous) {
            ::RemovePropA(hWnd, kObjectProperty);
            return 0;
        }
        self->m_hWnd = hWnd;
        self->m_pfnSuperWindowProc = reinterpret_cast<WNDPROC>(previous);
        return self->OnInitDialog();
    }
    // 0 to "commdlg_ColorOK" accepts the chosen colour; every other message
    // is the common dialog's own.
    return 0;
}

LRESULT CALLBACK CChooseColorDlg::SubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CChooseColorDlg*>(::GetPropA(hWnd, kObjectProperty));
    WNDPROC super = self ? self->m_pfnSuperWindowProc : nullptr;
    if (!super)
        return ::DefWindowProcA(hWnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
        ::RemovePropA(hWnd, kObjectProperty);
    }
    return ::CallWindowProcA(super, hWnd, msg, wParam, lParam);
}

BOOL CChooseColorDlg::OnInitDialog() {
    if (m_strTitle.GetLength() > 0)
        ::SetWindowTextA(m_hWnd, m_strTitle);
    Centre();
    return TRUE;
}

void CChooseColorDlg::Centre() const {
    RECT rcDialog{};
    ::GetWindowRect(m_hWnd, &rcDialog);
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    bool usable = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);
    RECT area = WorkAreaNear(usable ? owner : m_hWnd);
    RECT around = area;
    if (usable)
        ::GetWindowRect(owner, &around);
    LONG width = rcDialog.right - rcDialog.left;
    LONG height = rcDialog.bottom - rcDialog.top;
    LONG left = around.left + ((around.right - around.left) - width) / 2;
    LONG top = around.top + ((around.bottom - around.top) - height) / 2;
    RECT rc = {left, top, left + width, top + height};
    KeepInside(rc, area);
    ::SetWindowPos(m_hWnd, nullptr, rc.left, rc.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static_assert(sizeof(CHOOSECOLORA) == (sizeof(void*) == 8 ? 72 : 36), "the record the dialog is handed");

}  // namespace qel
