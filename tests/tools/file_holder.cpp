// Test tool: holds files open without sharing, as another program might, so
// that nobody else can open, replace or delete them meanwhile.
// Usage: file_holder FLAG_FILE PATH...; prints "held" once every PATH is
// open, then holds them while FLAG_FILE exists (60 s at most).
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    // Held until the process ends, which closes them.
    for (int i = 2; i < argc; ++i) {
        if (::CreateFileA(argv[i], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
            INVALID_HANDLE_VALUE)
            return std::printf("cannot open %s\n", argv[i]), 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesA(argv[1]) != INVALID_FILE_ATTRIBUTES && ::GetTickCount() - start < 60000)
        ::Sleep(50);
    return 0;
}
