#include "ProgramInfo.h"

#include <shellapi.h>

#include <cstdlib>

#include "esl_library.h"

ProgramInfo::ProgramInfo(const wchar_t* commandLine) {
    // The foundation library comes first: everything after may allocate from it.
    glsInitializeLibrary();
    m_argv = ::CommandLineToArgvW(commandLine, &m_argc);
    if (!m_argv)
        m_argc = 0;
    const wchar_t* program = Argument(0);
    if (!program)
        return;
    m_path = qel::CPath(program, L'\\');

    wchar_t drive[_MAX_DRIVE] = {};
    wchar_t dir[_MAX_DIR] = {};
    wchar_t name[_MAX_FNAME] = {};
    wchar_t ext[_MAX_EXT] = {};
    if (_wsplitpath_s(m_path.c_str(), drive, dir, name, ext) != 0)
        return;
    m_folder = std::wstring(drive) + dir;
    if (!m_folder.empty() && m_folder.back() != L'\\' && m_folder.back() != L'/')
        m_folder += L'\\';
    m_fileName = std::wstring(name) + ext;
    m_stem = name;
}

ProgramInfo::~ProgramInfo() {
    if (m_argv)
        ::GlobalFree(m_argv);
    glsCloseLibrary();
}

const wchar_t* ProgramInfo::Argument(int index) const {
    return index >= 0 && index < m_argc ? m_argv[index] : nullptr;
}

namespace {
// Built before WinMain; App and the process-wide managers are created later
// and therefore destroyed before it, which closes the foundation library last.
const ProgramInfo gProgramInfo(::GetCommandLineW());
}  // namespace

const ProgramInfo& TheProgramInfo() { return gProgramInfo; }
