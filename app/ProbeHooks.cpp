#include "ProbeHooks.h"

#ifdef VELK58_TEST_FAULTS

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "esl_handle.h"

bool FaultRequested(const char* place) {
    const char* fault = std::getenv("VELK58_FAULT");
    return fault && std::strcmp(fault, place) == 0;
}

namespace {

// Opened on first use.
HANDLE EventLog() {
    static const esl::UniqueFile log([] {
        const char* path = std::getenv("VELK58_EVENT_LOG");
        return path ? ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)
                    : INVALID_HANDLE_VALUE;
    }());
    return log.get();
}

void WriteEvent(const char* text) {
    HANDLE log = EventLog();
    if (log == INVALID_HANDLE_VALUE)
        return;
    // Appends of two threads at once can land on one place under Wine: one
    // writer at a time.
    static std::mutex writing;
    std::lock_guard<std::mutex> lock(writing);
    FILETIME ft;
    ::GetSystemTimePreciseAsFileTime(&ft);
    // 100 ns units since 1601; 11644473600 s lie between 1601 and 1970.
    const unsigned long long us =
        ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10) - 11644473600000000ULL;
    char line[256];
    const int n = std::snprintf(line, sizeof line, "%llu %s\n", us, text);
    DWORD written = 0;
    if (n > 0)
        ::WriteFile(log, line, static_cast<DWORD>(n < int(sizeof line) ? n : int(sizeof line) - 1), &written, nullptr);
}

}  // namespace

void ProbeEvent(const char* name) {
    WriteEvent(name);
}

// Kernel handles by trying every handle value: the count the system reports
// is not kept under every platform this runs on.
unsigned long CountKernelHandles() {
    unsigned long count = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
        count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

void ProbeStats() {
    if (EventLog() == INVALID_HANDLE_VALUE)
        return;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    char text[160];
    std::snprintf(text, sizeof text, "stats %llu %lu %lu", static_cast<unsigned long long>(memory.PrivateUsage),
                  ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), CountKernelHandles());
    WriteEvent(text);
}

#endif
