// Test tool: waits for message boxes of other processes on the same
// wineserver, prints each one's caption and text, and answers it with OK.
// Usage: msgbox_reader TIMEOUT_MS [MAX_BOXES]; after a box, it waits 2.5 s
// more for another one.
// Output: one "box N" block per message box, then "boxes N".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

BOOL CALLBACK CollectDialogs(HWND hwnd, LPARAM lParam) {
    char cls[64] = {};
    ::GetClassNameA(hwnd, cls, sizeof(cls));
    if (lstrcmpA(cls, "#32770") == 0 && ::IsWindowVisible(hwnd))
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    DWORD timeout = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10000;
    int maxBoxes = argc > 2 ? std::atoi(argv[2]) : 1;
    DWORD start = ::GetTickCount();
    DWORD lastBox = 0;
    int boxes = 0;
    while (boxes < maxBoxes && ::GetTickCount() - start < timeout) {
        std::vector<HWND> dialogs;
        ::EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&dialogs));
        if (dialogs.empty()) {
            if (boxes > 0 && ::GetTickCount() - lastBox > 2500)
                break;
            ::Sleep(50);
            continue;
        }
        HWND box = dialogs.front();
        ::Sleep(200);  // let the box finish laying out its text
        char caption[256] = {};
        char text[2048] = {};
        ::GetWindowTextA(box, caption, sizeof(caption));
        // 0xFFFF is the id of a message box's text control.
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
        std::printf("box %d\ncaption %s\ntext-begin\n%s\ntext-end\n", ++boxes, caption, text);
        std::fflush(stdout);
        ::SendMessageA(box, WM_COMMAND, IDOK, 0);
        ::Sleep(300);
        lastBox = ::GetTickCount();
    }
    std::printf("boxes %d\n", boxes);
    return 0;
}
