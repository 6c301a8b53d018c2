// Test tool: finds the colour dialog of another process on the same
// wineserver and closes it with a colour, or cancels it after picking 102030.
// Usage: color_dialog TIMEOUT_MS (RRGGBB | cancel). Output: "owner yes|no"
// (an owner window, which it disables), "cursor shown|hidden" (over the
// dialog), then "closed".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kRedEdit = 706;  // then green and blue: the edit boxes of the full colour dialog

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lParam) {
    char cls[64] = {};
    ::GetClassNameA(hwnd, cls, sizeof(cls));
    if (std::strcmp(cls, "#32770") != 0 || !::IsWindowVisible(hwnd) || !::GetDlgItem(hwnd, kRedEdit))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hwnd;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const DWORD timeout = std::strtoul(argv[1], nullptr, 10);
    const DWORD start = ::GetTickCount();
    HWND dialog = nullptr;
    for (; !dialog && ::GetTickCount() - start < timeout; ::Sleep(50))
        ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return std::printf("no dialog\n"), 1;
    ::Sleep(300);  // let it finish its start
    HWND owner = ::GetWindow(dialog, GW_OWNER);
    std::printf("owner %s\n", owner && !::IsWindowEnabled(owner) ? "yes" : "no");

    RECT rc{};
    ::GetWindowRect(dialog, &rc);
    ::SetCursorPos((rc.left + rc.right) / 2, rc.top + 10);
    ::Sleep(300);
    CURSORINFO ci{sizeof(ci), 0, nullptr, {}};
    std::printf("cursor %s\n", ::GetCursorInfo(&ci) && (ci.flags & CURSOR_SHOWING) && ci.hCursor ? "shown" : "hidden");

    const bool cancel = std::strcmp(argv[2], "cancel") == 0;
    const unsigned long rgb = cancel ? 0x102030 : std::strtoul(argv[2], nullptr, 16);
    for (int i = 0; i < 3; ++i)
        ::SetDlgItemInt(dialog, kRedEdit + i, (rgb >> (16 - 8 * i)) & 0xFF, FALSE);
    const int button = cancel ? IDCANCEL : IDOK;
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(::GetDlgItem(dialog, button)));
    while (::IsWindow(dialog) && ::GetTickCount() - start < timeout)
        ::Sleep(50);
    std::printf("%s\n", ::IsWindow(dialog) ? "still open" : "closed");
    return 0;
}
