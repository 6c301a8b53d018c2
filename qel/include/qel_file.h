// Files by name: a handle wrapper, and free functions that read a file on
// disk or inside an archive, delete or recycle it, and create a new file
// with a generated unique name. Failures are qel::CException from "qel_file"
// or, where a size does not fit, the int -1.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>

#include <cstddef>
#include <memory>

#include "qel_path.h"

namespace qel {

class CFile : boost::noncopyable {
public:
    CFile();
    ~CFile();

    // Reading: shared for reading, the file must exist. Writing: read and
    // write, unshared, created when missing and never emptied.
    void Open(const wchar_t* path, bool bWrite = false);
    void Close() noexcept;
    bool IsOpen() const noexcept;
    ULONGLONG Size() const;
    // One system call each; the bytes actually transferred, 0 on failure.
    DWORD Read(void* buffer, DWORD count);
    DWORD Write(const void* buffer, DWORD count);

private:
    struct Inner;
    std::unique_ptr<Inner> m_pInner;
};

// Size of a file on disk or inside an archive; 0 when neither is found.
ULONGLONG GetFileSize(const wchar_t* path) noexcept;

// The whole file, on disk or inside an archive, to the start of buffer.
// A buffer smaller than the file, or a short read, throws the int -1 and
// nothing is written past bufferSize.
void ReadWholeFile(const wchar_t* pwszFilePath, void* buffer, size_t bufferSize);

// Writes the bytes to a new file beside path and then swaps it in, so that a
// full disk, a write error, a file held open elsewhere or a crash mid-save
// leaves the previous file whole. False (and no stray file) on failure.
bool ReplaceFileContents(const wchar_t* path, const void* data, size_t size) noexcept;

// The whole buffer to the start of the file at path, in place (opened like
// CFile::Open for writing), for scratch copies that need no safe swap. A
// write that comes up short throws qel::CException "qel_file(262)\nwritten != size".
void WriteWholeFile(const wchar_t* path, const void* buffer, DWORD size);

// Deletes the file, or moves it to the recycle bin. Reports nothing.
void RemoveFile(const wchar_t* path, bool toRecycleBin);

// Failed creations in one call of CreateUniqueFile before it gives up:
// a folder that exists but cannot be written ends with
// qel::CException "qel_file(330)\nfailures >= kMaxFailedCreations".
constexpr int kMaxFailedCreations = 256;

// A new empty file with a name made from a digest of the time, in folder
// (the temporary folder when empty), with extension (a '.' is added when it
// has none). A missing folder throws line 301.
CPath CreateUniqueFile(const wchar_t* folder, const wchar_t* extension);

}  // namespace qel
