// Where the tests find the test plug-ins built from tests/spi, and how they
// reach a plug-in's control exports.
#pragma once

#include <windows.h>

#include <string>

// The folder "spi" beside the running test executable, with a backslash.
inline std::wstring TestPluginFolder() {
    wchar_t exe[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"spi\\";
}

// NAME.sph for the 64-bit build, NAME.spi for the 32-bit one.
inline std::wstring TestPluginPath(const wchar_t* name) {
    return TestPluginFolder() + name + (sizeof(void*) == 8 ? L".sph" : L".spi");
}

// A control export of a loaded test plug-in, or null.
template <class Proc>
Proc TestPluginProc(HMODULE module, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}
