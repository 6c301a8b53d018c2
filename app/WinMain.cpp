// Entry point and main routine of the viewer.
#include <windows.h>

#include "App.h"
#include "qel_exception.h"

namespace {

int RunViewer(HINSTANCE hInstance) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "velk58";
    if (!::RegisterClassA(&wc))
        return 0;

    HWND hwnd = ::CreateWindowExA(0, "velk58", "velk58", WS_POPUP | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
    if (!hwnd) {
        RethrowCarriedException();
        return 0;
    }

    MSG msg{};
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    RethrowCarriedException();
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    try {
        return RunViewer(hInstance);
    } catch (const qel::CException& e) {
        ::MessageBoxA(nullptr, e.Message(), nullptr, MB_OK);
        return 0;
    } catch (...) {
        // Not ours to report; end as a failed start-up does, quietly.
        return 0;
    }
}
