// File objects: an abstract byte stream with a position, over a file of the
// system (ERawFile) or a block of memory (EMemoryFile). Every operation takes
// the object's own lock, so one object can be shared between threads; a
// sequence of operations is not atomic.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "esl_error.h"
#include "esl_handle.h"
#include "esl_object.h"
#include "esl_string.h"

class ESLFileObject : public ESLObject {
public:
    ESL_RUNTIME_CLASS("ESLFileObject", ESLObject);

    // Open flags; they combine. The settings reader opens with
    // modeRead | shareRead (18), writers with modeCreate | modeWrite (5).
    enum : DWORD {
        modeCreate = 0x0001,  // create the file, or truncate it
        modeRead = 0x0002,
        modeWrite = 0x0004,
        shareRead = 0x0010,
        shareWrite = 0x0020,
    };
    // Seek origins.
    enum : int {
        FromBegin = 0,
        FromCurrent = 1,
        FromEnd = 2,
    };

    ESLFileObject() noexcept;
    ESLFileObject(const ESLFileObject&) = delete;
    ESLFileObject& operator=(const ESLFileObject&) = delete;
    ~ESLFileObject() override;

    // A new object of the same kind on the same data; null on failure.
    virtual std::unique_ptr<ESLFileObject> Duplicate() noexcept = 0;
    // The number of bytes transferred (0 on failure).
    virtual DWORD Read(void* ptrBuffer, DWORD dwBytes) noexcept = 0;
    virtual DWORD Write(const void* ptrBuffer, DWORD dwBytes) noexcept = 0;
    // The length in bytes; 0 on failure.
    virtual DWORD GetLength() const noexcept = 0;
    // Origin FromBegin, FromCurrent or FromEnd; returns the new position.
    virtual DWORD Seek(LONG nOffset, int nOrigin) noexcept = 0;
    virtual DWORD GetPosition() const noexcept = 0;
    // Truncates at the position: 0 on success. Not possible here (1).
    virtual ESLError SetEndOfFile() noexcept;
    // 64-bit forms; these call the 32-bit ones.
    virtual std::uint64_t GetLargeLength() const noexcept;
    virtual std::uint64_t SeekLarge(std::int64_t nOffset, int nOrigin) noexcept;
    virtual std::uint64_t GetLargePosition() const noexcept;

    DWORD GetOpenFlags() const noexcept;

    // Holds the object's lock across several operations.
    class Lock : public esl::CriticalSectionLock {
    public:
        explicit Lock(const ESLFileObject& file) noexcept : esl::CriticalSectionLock(&file.m_cs) {}
    };

protected:
    mutable CRITICAL_SECTION m_cs;
    DWORD m_dwAttributes = 0;  // the open flags
};

// A file of the system, named by an 8-bit path in the system code page.
class ERawFile : public ESLFileObject {
public:
    ESL_RUNTIME_CLASS("ERawFile", ESLFileObject);

    ERawFile() noexcept;
    ~ERawFile() override;

    // 0 on success, 1 on failure; closes any file held first. A path on a
    // drive letter that does not exist fails at once, and the system never
    // shows a critical-error box for it.
    ESLError Open(const char* pszFilePath, DWORD dwFlags) noexcept;
    // Uses a duplicate of a handle of this process (read and/or write access
    // by the flags); 0 or 1.
    ESLError Attach(HANDLE hFile, DWORD dwFlags) noexcept;
    void Close() noexcept;
    bool IsOpen() const noexcept;

    // Local calendar times; each pointer may be null. 0 or 1.
    ESLError GetFileTime(SYSTEMTIME* pCreation, SYSTEMTIME* pLastAccess, SYSTEMTIME* pLastWrite) const noexcept;
    ESLError SetFileTime(const SYSTEMTIME* pCreation, const SYSTEMTIME* pLastAccess,
                         const SYSTEMTIME* pLastWrite) noexcept;

    // Opened again by name when it was opened for reading (its own position),
    // otherwise the handle is duplicated (a shared position).
    std::unique_ptr<ESLFileObject> Duplicate() noexcept override;
    DWORD Read(void* ptrBuffer, DWORD dwBytes) noexcept override;
    DWORD Write(const void* ptrBuffer, DWORD dwBytes) noexcept override;
    // 0 on failure, and for a file longer than 32 bits can tell (see
    // GetLargeLength).
    DWORD GetLength() const noexcept override;
    // 0 on failure, and for a position beyond 32 bits.
    DWORD Seek(LONG nOffset, int nOrigin) noexcept override;
    DWORD GetPosition() const noexcept override;
    ESLError SetEndOfFile() noexcept override;
    std::uint64_t GetLargeLength() const noexcept override;
    std::uint64_t SeekLarge(std::int64_t nOffset, int nOrigin) noexcept override;
    std::uint64_t GetLargePosition() const noexcept override;

    HANDLE GetHandle() const noexcept;
    // The full path given by the system when opened ("" for an attached handle).
    const EString& GetFilePath() const noexcept;
    // The file-name part inside GetFilePath().
    const char* GetFileName() const noexcept;

private:
    esl::UniqueFile m_hFile;
    EString m_strFilePath;
    int m_nFileNamePos = 0;
};

// A file in memory: either an owned, growing block (Create), or a read-only
// view of the caller's block (Open).
class EMemoryFile : public ESLFileObject {
public:
    ESL_RUNTIME_CLASS("EMemoryFile", ESLFileObject);

    EMemoryFile() noexcept;
    ~EMemoryFile() override;

    // A new owned block of that capacity, length 0, flags
    // modeCreate | modeRead | modeWrite. 0 or 1.
    ESLError Create(DWORD dwCapacity) noexcept;
    // A read-only view of the caller's block (not owned; it must outlive
    // this object's use of it). 0 or 1.
    ESLError Open(const void* ptrBlock, DWORD dwLength) noexcept;

    // A writable copy of the whole data, position 0.
    std::unique_ptr<ESLFileObject> Duplicate() noexcept override;
    DWORD Read(void* ptrBuffer, DWORD dwBytes) noexcept override;
    // Fails (0) on a read-only view.
    DWORD Write(const void* ptrBuffer, DWORD dwBytes) noexcept override;
    DWORD GetLength() const noexcept override;
    // A negative result is clamped to 0. Past the length: a writable file
    // grows (the new bytes read as zeros), a view stops at its end.
    DWORD Seek(LONG nOffset, int nOrigin) noexcept override;
    DWORD GetPosition() const noexcept override;
    // The length becomes the position.
    ESLError SetEndOfFile() noexcept override;

    // The data, GetLength() bytes of it (grown to the full length first, so
    // that all of it can be read); null on failure.
    const void* GetBuffer() noexcept;
    DWORD GetCapacity() const noexcept;

private:
    void Release() noexcept;
    // A block of at least dwCapacity bytes; the new part is zero.
    bool GrowBlock(DWORD dwCapacity) noexcept;

    BYTE* m_ptrBlock = nullptr;
    DWORD m_dwLength = 0;
    DWORD m_dwPosition = 0;
    DWORD m_dwCapacity = 0;
};
