// Test tool: waits for message boxes of other processes on the same
// wineserver, prints each one's caption and text, and answers it with OK.
// Usage: msgbox_reader TIMEOUT_MS [MAX_BOXES]; after a box, it waits 2.5 s
// more for another one. Output: a "box N" block per box, then "boxes N".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lParam) {
    char cls[64] = {};
    ::GetClassNameA(hwnd, cls, sizeof(cls));
    if (std::strcmp(cls, "#32770") != 0 || !::IsWindowVisible(hwnd))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hwnd;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    const DWORD timeout = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
    const int maxBoxes = argc > 2 ? std::atoi(argv[2]) : 1;
    const DWORD start = ::GetTickCount();
    DWORD lastBox = 0;
    int boxes = 0;
    while (boxes < maxBoxes && ::GetTickCount() - start < timeout) {
        HWND box = nullptr;
        ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        if (!box && boxes > 0 && ::GetTickCount() - lastBox > 2500)
            break;
        if (!box) {
            ::Sleep(50);
            continue;
        }
        ::Sleep(200);  // let the box finish laying out its text
        char caption[256] = {}, text[2048] = {};
        ::GetWindowTextA(box, caption, sizeof(caption));
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));  // the id of a message box's text
        std::printf("box %d\ncaption %s\ntext-begin\n%s\ntext-end\n", ++boxes, caption, text);
        std::fflush(stdout);
        ::SendMessageA(box, WM_COMMAND, IDOK, 0);
        ::Sleep(300);
        lastBox = ::GetTickCount();
    }
    std::printf("boxes %d\n", boxes);
    return 0;
}
