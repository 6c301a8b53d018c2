#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "qel_color_dialog.h"

namespace {

TEST(ColorDialog, PixelCodesAndColorRefsSwapRedAndBlueAndKeepTheFourthByte) {
    qel::CChooseColorDlg rgb("", 0xAA123456u);
    EXPECT_EQ(0x00563412u, rgb.Record().rgbResult);
    EXPECT_EQ(DWORD(CC_FULLOPEN | CC_ENABLEHOOK | CC_RGBINIT), rgb.Record().Flags);
    // Black is the dialog's default: no initial colour is passed.
    EXPECT_EQ(DWORD(CC_FULLOPEN | CC_ENABLEHOOK), qel::CChooseColorDlg("", 0xFF000000u).Record().Flags);

    DWORD pixel = 0x7F000000u;
    qel::ColorRefToPixelCode(RGB(0xFF, 0, 0), pixel);
    EXPECT_EQ(0x7FFF0000u, pixel);
    EXPECT_EQ(RGB(0x80, 0x80, 0x80), qel::PixelCodeToColorRef(0x00808080u));
}

// Runs the dialog over a visible owner while another thread looks at it and
// presses a button; answers the dialog's caption and rectangle.
struct Seen {
    std::string caption;
    RECT rc{};
    INT_PTR result = 0;
};

BOOL CALLBACK FindDialog(HWND hWnd, LPARAM found) {
    char cls[16] = {};
    ::GetClassNameA(hWnd, cls, sizeof(cls));
    if (std::string(cls) != "#32770")
        return TRUE;
    *reinterpret_cast<HWND*>(found) = hWnd;
    return FALSE;
}

Seen RunDialog(const char* title, DWORD pixel, WORD button, const RECT& ownerRect) {
    HWND owner = ::CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, ownerRect.left, ownerRect.top,
                                   ownerRect.right - ownerRect.left, ownerRect.bottom - ownerRect.top, nullptr, nullptr,
                                   nullptr, nullptr);
    Seen seen;
    std::atomic<bool> done{false};
    DWORD threadId = ::GetCurrentThreadId();
    std::thread watcher([&] {
        for (int i = 0; i < 200 && !done; ++i) {
            HWND dialog = nullptr;
            ::EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&dialog));
            if (dialog && ::IsWindowVisible(dialog)) {
                char caption[128] = {};
                ::GetWindowTextA(dialog, caption, sizeof(caption));
                seen.caption = caption;
                ::GetWindowRect(dialog, &seen.rc);
                ::PostMessageA(dialog, WM_COMMAND, button, 0);
                return;
            }
            ::Sleep(50);
        }
    });
    qel::CChooseColorDlg dlg(title, pixel);
    seen.result = dlg.DoModal(owner);
    done = true;
    watcher.join();
    ::DestroyWindow(owner);
    return seen;
}

TEST(ColorDialog, CarriesItsTitleAndSitsCentredOverItsOwnerInsideTheWorkArea) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display";
    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    RECT middle = {work.left + 100, work.top + 100, work.right - 100, work.bottom - 100};
    Seen centred = RunDialog("背景色変更", 0x00123456u, IDOK, middle);
    EXPECT_EQ(IDOK, centred.result);
    EXPECT_EQ("背景色変更", centred.caption);
    LONG cx = (centred.rc.left + centred.rc.right) / 2, cy = (centred.rc.top + centred.rc.bottom) / 2;
    EXPECT_NEAR((middle.left + middle.right) / 2, cx, 1);
    EXPECT_NEAR((middle.top + middle.bottom) / 2, cy, 1);

    // An owner in the bottom-right corner would push the dialog off the screen.
    RECT corner = {work.right - 60, work.bottom - 40, work.right, work.bottom};
    Seen inside = RunDialog("", 0, IDCANCEL, corner);
    EXPECT_EQ(IDCANCEL, inside.result);
    EXPECT_FALSE(inside.caption.empty()) << "an empty title keeps the dialog's own caption";
    EXPECT_LE(inside.rc.right, work.right);
    EXPECT_LE(inside.rc.bottom, work.bottom);
    EXPECT_GE(inside.rc.left, work.left);
    EXPECT_GE(inside.rc.top, work.top);
}

}  // namespace
