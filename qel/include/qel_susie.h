// The Susie plug-in host: one loaded plug-in (qel::CSpi) whose calls never
// throw, and the process-wide registry that maps file extensions to the
// picture or archive plug-in that registered them first.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <memory>

#include "qel_spi.h"
#include "qel_string.h"

namespace qel {

class CSpi : boost::noncopyable {
public:
    // Loads the DLL (qel_susie(74) "_hDLL == NULL" when it cannot) and looks
    // up the eight exports; a missing export is not an error.
    explicit CSpi(const wchar_t* path);
    ~CSpi();

    // Each forwards to the export of the same name: -1 when the plug-in
    // lacks it, 8 when the call throws. An empty callback becomes one that
    // answers 0. GetArchiveInfo answers 0 for a 2 that came with a live handle.
    int GetPluginInfo(int infono, LPSTR buf, int buflen);
    int GetPicture(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                   SPI_PROGRESS lpPrgressCallback, LONG_PTR lData);
    int GetArchiveInfo(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* lphInf);
    int GetFileInfo(LPCSTR buf, LONG_PTR len, LPCSTR filename, unsigned int flag, SpiFileInfo* lpInfo);
    int GetFile(LPCSTR src, LONG_PTR len, LPSTR dest, unsigned int flag, SPI_PROGRESS lpPrgressCallback,
                LONG_PTR lData);

    HMODULE Module() const noexcept;

private:
    struct Inner;
    std::unique_ptr<Inner> m_pInner;
};

class CSpiManager : boost::noncopyable {
public:
    static CSpiManager& Instance();

    // Registers "*.spi" in the folder, and on x86_64 then "*.sph" (the
    // extension of 64-bit plug-ins), in the order the directory lists them.
    void LoadPlugins(const wchar_t* folder);
    // Never throws; a file that cannot be loaded or is of no known kind is
    // skipped. The first plug-in of a name key, and of an extension, wins.
    void RegisterPlugin(const wchar_t* path);

    CSpi* FindPicturePlugin(const wchar_t* path) const;
    CSpi* FindArchivePlugin(const wchar_t* path) const;
    bool HasPicturePlugin(const wchar_t* path) const { return FindPicturePlugin(path) != nullptr; }
    bool HasArchivePlugin(const wchar_t* path) const { return FindArchivePlugin(path) != nullptr; }

    // The process uses Instance(); tests build registries of their own.
    CSpiManager();
    ~CSpiManager();

private:
    struct Inner;
    std::unique_ptr<Inner> m_pInner;
};

// GetPluginInfo filter entries asked for before a plug-in is cut off.
constexpr int kMaxPluginFilterEntries = 256;

}  // namespace qel
