// The process-wide record of the command line and the program's own path,
// built during static initialisation, before the entry point runs.
#pragma once

#include <windows.h>

#include <string>

#include "qel_path.h"

class ProgramInfo {
public:
    // Splits commandLine as CommandLineToArgvW does; argument 0 is the program.
    explicit ProgramInfo(const wchar_t* commandLine);
    ~ProgramInfo();
    ProgramInfo(const ProgramInfo&) = delete;
    ProgramInfo& operator=(const ProgramInfo&) = delete;

    int m_argc = 0;
    LPWSTR* m_argv = nullptr;
    qel::CPath m_path;
    std::wstring m_folder;  // drive and directory, ending with the separator
    std::wstring m_fileName;  // name and extension
    std::wstring m_stem;  // name without the extension

    // The argument at index, or null when there is none.
    const wchar_t* Argument(int index) const;
};

// The record of this process's own command line.
const ProgramInfo& TheProgramInfo();
