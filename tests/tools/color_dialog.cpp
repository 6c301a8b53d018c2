// Test tool: finds the colour dialog of another process on the same
// wineserver, reports on it, and closes it with a colour or cancels it.
// Usage: color_dialog TIMEOUT_MS (RRGGBB | cancel); cancel picks 102030
// first.
// Output: "owner yes|no" (whether the dialog has an owner window, which it
// then disables), "cursor shown|hidden" (over the dialog), then "closed".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The edit boxes of the full colour dialog for red, green and blue.
constexpr int kRedEdit = 706;
constexpr int kGreenEdit = 707;
constexpr int kBlueEdit = 708;

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lParam) {
    char cls[64] = {};
    ::GetClassNameA(hwnd, cls, sizeof(cls));
    if (std::strcmp(cls, "#32770") == 0 && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, kRedEdit)) {
        *reinterpret_cast<HWND*>(lParam) = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const DWORD timeout = std::strtoul(argv[1], nullptr, 10);
    const DWORD start = ::GetTickCount();
    HWND dialog = nullptr;
    while (!dialog && ::GetTickCount() - start < timeout) {
        ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
        ::Sleep(50);
    }
    if (!dialog) {
        std::printf("no dialog\n");
        return 1;
    }
    ::Sleep(300);  // let it finish its start
    HWND owner = ::GetWindow(dialog, GW_OWNER);
    std::printf("owner %s\n", owner && !::IsWindowEnabled(owner) ? "yes" : "no");

    RECT rc{};
    ::GetWindowRect(dialog, &rc);
    ::SetCursorPos((rc.left + rc.right) / 2, rc.top + 10);
    ::Sleep(300);
    CURSORINFO ci{};
    ci.cbSize = sizeof(ci);
    const bool shown = ::GetCursorInfo(&ci) && (ci.flags & CURSOR_SHOWING) && ci.hCursor;
    std::printf("cursor %s\n", shown ? "shown" : "hidden");

    // A cancel comes after a colour has been picked, as a user's would.
    const bool cancel = std::strcmp(argv[2], "cancel") == 0;
    const unsigned long rgb = cancel ? 0x102030 : std::strtoul(argv[2], nullptr, 16);
    ::SetDlgItemInt(dialog, kRedEdit, (rgb >> 16) & 0xFF, FALSE);
    ::SetDlgItemInt(dialog, kGreenEdit, (rgb >> 8) & 0xFF, FALSE);
    ::SetDlgItemInt(dialog, kBlueEdit, rgb & 0xFF, FALSE);
    const int button = cancel ? IDCANCEL : IDOK;
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(::GetDlgItem(dialog, button)));
    while (::IsWindow(dialog) && ::GetTickCount() - start < timeout)
        ::Sleep(50);
    std::printf("%s\n", ::IsWindow(dialog) ? "still open" : "closed");
    return 0;
}
