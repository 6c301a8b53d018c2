// Archives read through Susie archive plug-ins: one opened archive with its
// table of contents, and the process-wide manager that splits paths running
// into archives, opens and caches them, and copies archives that lie inside
// other archives to temporary files.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>

#include <cstddef>
#include <memory>
#include <vector>

#include "qel_path.h"
#include "qel_spi.h"

namespace qel {

class CSpi;

class CArchive : boost::noncopyable {
public:
    // Reads the table of contents through the archive plug-in for the path's
    // extension; throws qel::CException, or the int -1 when a re-query fails.
    explicit CArchive(const wchar_t* path);
    ~CArchive();

    // Paths inside the archive (backslash separator) in the plug-in's order.
    const std::vector<CPath>& GetFileList() const;
    // Names are relative to the archive; case and separator do not matter.
    bool Contains(const wchar_t* name) const;
    DWORD GetFileSize(const wchar_t* name) const;
    void Extract(const wchar_t* name, void* buffer, size_t bufferSize) const;

private:
    struct Inner;
    std::unique_ptr<Inner> m_pInner;
};

class CArchiveManager : boost::noncopyable {
public:
    static CArchiveManager& Instance();

    static bool IsArchivePath(const wchar_t* path);
    // The longest leading part that ends in an archive extension, and the rest.
    static bool SeparateArcPath(const wchar_t* path, CPath& arcPath, CPath& filePath);
    // Valid until the manager ends; null when the archive cannot be opened.
    // Safe from several threads.
    CArchive* GetArchive(const wchar_t* path);

    // The process uses Instance(); tests build managers of their own.
    CArchiveManager();
    ~CArchiveManager();

private:
    struct Inner;
    std::unique_ptr<Inner> m_pInner;
};

}  // namespace qel
