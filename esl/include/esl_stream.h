// A first-in first-out byte queue in a chain of heap blocks: filled at the
// end (Write, or PutBuffer then Flush), drained from the front (Read, or
// GetBuffer then Accept). A whole file is read into one with ReadFromFile.
#pragma once

#include <windows.h>

#include <memory>

#include "esl_error.h"
#include "esl_file.h"
#include "esl_object.h"

class EStreamBuffer : public ESLObject {
public:
    ESL_RUNTIME_CLASS("EStreamBuffer", ESLObject);
    // ReadFromFile reads in steps of this many bytes.
    static constexpr DWORD kReadStep = 8192;

    EStreamBuffer() noexcept = default;
    // Starts with a copy of the data.
    EStreamBuffer(const void* ptrData, DWORD dwBytes) noexcept;
    EStreamBuffer(const EStreamBuffer&) = delete;
    EStreamBuffer& operator=(const EStreamBuffer&) = delete;
    ~EStreamBuffer() override;

    // Room for dwBytes at the end of the queue (valid until the next change);
    // null on failure. Nothing is queued until Flush.
    void* PutBuffer(DWORD dwBytes) noexcept;
    // Counts dwBytes of the room from PutBuffer as written. More than that
    // room is refused (eslErrorInvalidParameter) and nothing is counted.
    ESLError Flush(DWORD dwBytes) noexcept;
    // Appends a copy; 0 on success, nothing queued on failure.
    ESLError Write(const void* ptrData, DWORD dwBytes) noexcept;

    // Copies from the front and removes what was copied; the count.
    DWORD Read(void* ptrData, DWORD dwBytes) noexcept;
    // The first dwBytes in one piece (all of them when dwBytes is 0 or more
    // than are queued), joining blocks when needed; the length in
    // *pdwLength. An empty queue gives a valid pointer and length 0; null
    // only when joining fails for want of memory. Valid until the next change.
    const void* GetBuffer(DWORD dwBytes = 0, DWORD* pdwLength = nullptr) noexcept;
    // Drops up to dwBytes from the front; the count dropped.
    DWORD Accept(DWORD dwBytes) noexcept;
    DWORD GetLength() const noexcept { return m_dwLength; }
    void Clear() noexcept;

    // Appends everything the file yields from its position: reads of
    // kReadStep bytes until one returns fewer. 0 on success; nonzero when
    // memory ran out or the queue would pass 32 bits (what arrived stays).
    ESLError ReadFromFile(ESLFileObject& file) noexcept;
    ESLError ReadFromFile(ESLFileObject* pFile) noexcept;

private:
    struct Block;
    Block* NewBlock(DWORD dwCapacity) noexcept;
    void DropFirst() noexcept;
    // Drops up to dwBytes from the front, copying them to pOut unless it is null.
    DWORD Take(BYTE* pOut, DWORD dwBytes) noexcept;

    Block* m_pFirst = nullptr;
    Block* m_pLast = nullptr;
    DWORD m_dwLength = 0;  // unread bytes in all blocks
};

// A file object over a stream buffer: Write queues at the end, Read takes
// from the front; the position counts the bytes taken. Both class names
// answer its IsKindOf.
class EStreamFileBuffer : public ESLFileObject, public EStreamBuffer {
public:
    static constexpr const char* kClassName = "EStreamFileBuffer";

    EStreamFileBuffer() noexcept = default;
    EStreamFileBuffer(const void* ptrData, DWORD dwBytes) noexcept : EStreamBuffer(ptrData, dwBytes) {}

    const char* ClassName() const noexcept override;
    void* DynamicCast(const char* pszClassName) noexcept override;
    bool IsKindOf(const char* pszClassName) const noexcept override;
    using ESLFileObject::operator new;
    using ESLFileObject::operator delete;

    // A new object holding a copy of the queued bytes.
    std::unique_ptr<ESLFileObject> Duplicate() noexcept override;
    DWORD Read(void* ptrBuffer, DWORD dwBytes) noexcept override;
    DWORD Write(const void* ptrBuffer, DWORD dwBytes) noexcept override;
    // The bytes taken plus those still queued.
    DWORD GetLength() const noexcept override;
    // Only forward: the bytes skipped are dropped from the queue.
    DWORD Seek(LONG nOffset, int nOrigin) noexcept override;
    DWORD GetPosition() const noexcept override;

private:
    DWORD m_dwPosition = 0;
};
