// The modal colour dialog in which the user picks the background colour: the
// system's full colour dialog with the current colour preselected, a title
// of the caller's choosing, centred over its owner.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>

#include "esl_string.h"

namespace qel {

// Pixel codes keep blue in the low byte; COLORREF keeps red there.
COLORREF PixelCodeToColorRef(DWORD dwPixelCode) noexcept;
// Bytes 0 to 2 of the pixel code take the colour; byte 3 stays.
void ColorRefToPixelCode(COLORREF color, DWORD& dwPixelCode) noexcept;

class CChooseColorDlg : boost::noncopyable {
public:
    CChooseColorDlg(const char* pszTitle, DWORD dwInitialPixelCode);
    ~CChooseColorDlg();

    // IDOK when a colour was chosen, IDCANCEL otherwise.
    INT_PTR DoModal(HWND hWndParent);
    void GetColor(DWORD& dwPixelCode) const noexcept { ColorRefToPixelCode(m_cc.rgbResult, dwPixelCode); }

    const CHOOSECOLORA& Record() const noexcept { return m_cc; }
    // The 16 custom colours every dialog of the process shares.
    static COLORREF* CustomColors() noexcept;

private:
    static UINT_PTR CALLBACK HookProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void Centre() const;

    // The dialog's window and the procedure its subclassing replaced: both
    // live only while DoModal runs.
    HWND m_hWnd = nullptr;
    WNDPROC m_pfnSuperWindowProc = nullptr;
    CHOOSECOLORA m_cc{};
    EString m_strTitle;
};

}  // namespace qel
