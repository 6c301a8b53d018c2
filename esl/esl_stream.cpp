#include "esl_stream.h"

#include <cstring>
#include <new>

#include "esl_heap.h"

namespace {
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
// Small writes share blocks of at least this size.
constexpr DWORD kMinBlock = 4096;
constexpr DWORD kMaxBlock = 0x7FFF0000u;
}  // namespace

// One heap allocation: this header, then dwCapacity bytes of data.
struct EStreamBuffer::Block {
    Block* pNext = nullptr;
    DWORD dwOffset = 0;  // first unread byte
    DWORD dwLength = 0;  // unread bytes
    DWORD dwCapacity = 0;

    BYTE* Data() noexcept { return reinterpret_cast<BYTE*>(this + 1); }
    DWORD Room() const noexcept { return dwCapacity - dwOffset - dwLength; }
};

EStreamBuffer::EStreamBuffer(const void* ptrData, DWORD dwBytes) noexcept {
    Write(ptrData, dwBytes);
}

EStreamBuffer::~EStreamBuffer() {
    Clear();
}

EStreamBuffer::Block* EStreamBuffer::NewBlock(DWORD dwCapacity) noexcept {
    if (dwCapacity > kMaxBlock)
        return nullptr;
    void* ptr = eslHeapAllocate(nullptr, static_cast<DWORD>(sizeof(Block) + dwCapacity), 0);
    if (!ptr)
        return nullptr;
    Block* pBlock = new (ptr) Block;
    pBlock->dwCapacity = dwCapacity;
    return pBlock;
}

void EStreamBuffer::DropFirst() noexcept {
    Block* pBlock = m_pFirst;
    m_pFirst = pBlock->pNext;
    if (!m_pFirst)
        m_pLast = nullptr;
    m_dwLength -= pBlock->dwLength;
    pBlock->~Block();
    eslHeapFree(nullptr, pBlock, 0);
}

void EStreamBuffer::Clear() noexcept {
    while (m_pFirst)
        DropFirst();
}

void* EStreamBuffer::PutBuffer(DWORD dwBytes) noexcept {
    if (m_pLast && m_pLast->dwLength == 0)
        m_pLast->dwOffset = 0;
    if (m_pLast && m_pLast->Room() >= dwBytes)
        return m_pLast->Data() + m_pLast->dwOffset + m_pLast->dwLength;
    Block* pBlock = NewBlock(dwBytes > kMinBlock ? dwBytes : kMinBlock);
    if (!pBlock)
        return nullptr;
    if (m_pLast)
        m_pLast->pNext = pBlock;
    else
        m_pFirst = pBlock;
    m_pLast = pBlock;
    return pBlock->Data();
}

ESLError EStreamBuffer::Flush(DWORD dwBytes) noexcept {
    if (dwBytes == 0)
        return eslErrorSuccess;
    if (!m_pLast || dwBytes > m_pLast->Room() || m_dwLength + static_cast<std::uint64_t>(dwBytes) > kMax32)
        return eslErrorInvalidParameter;
    m_pLast->dwLength += dwBytes;
    m_dwLength += dwBytes;
    return eslErrorSuccess;
}

ESLError EStreamBuffer::Write(const void* ptrData, DWORD dwBytes) noexcept {
    if (dwBytes == 0)
        return eslErrorSuccess;
    if (!ptrData || m_dwLength + static_cast<std::uint64_t>(dwBytes) > kMax32)
        return eslErrorInvalidParameter;
    void* ptr = PutBuffer(dwBytes);
    if (!ptr)
        return eslErrorGeneral;
    std::memcpy(ptr, ptrData, dwBytes);
    return Flush(dwBytes);
}

DWORD EStreamBuffer::Read(void* ptrData, DWORD dwBytes) noexcept {
    if (!ptrData)
        return 0;
    return Take(static_cast<BYTE*>(ptrData), dwBytes);
}

DWORD EStreamBuffer::Accept(DWORD dwBytes) noexcept {
    return Take(nullptr, dwBytes);
}

DWORD EStreamBuffer::Take(BYTE* pOut, DWORD dwBytes) noexcept {
    DWORD dwDone = 0;
    while (m_pFirst && dwDone < dwBytes) {
        Block* pBlock = m_pFirst;
        const DWORD dwTake = pBlock->dwLength < dwBytes - dwDone ? pBlock->dwLength : dwBytes - dwDone;
        if (pOut)
            std::memcpy(pOut + dwDone, pBlock->Data() + pBlock->dwOffset, dwTake);
        pBlock->dwOffset += dwTake;
        pBlock->dwLength -= dwTake;
        m_dwLength -= dwTake;
        dwDone += dwTake;
        if (pBlock->dwLength == 0)
            DropFirst();
    }
    return dwDone;
}

const void* EStreamBuffer::GetBuffer(DWORD dwBytes, DWORD* pdwLength) noexcept {
    static const BYTE kEmpty[1] = {0};
    const DWORD dwWant = (dwBytes == 0 || dwBytes > m_dwLength) ? m_dwLength : dwBytes;
    if (pdwLength)
        *pdwLength = 0;
    if (dwWant == 0)
        return kEmpty;
    // Queued bytes follow any empty blocks, so these are never the last one.
    while (m_pFirst->dwLength == 0)
        DropFirst();
    if (m_pFirst->dwLength < dwWant) {
        Block* pJoined = NewBlock(dwWant);
        if (!pJoined)
            return nullptr;
        Read(pJoined->Data(), dwWant);
        pJoined->dwLength = dwWant;
        m_dwLength += dwWant;
        pJoined->pNext = m_pFirst;
        m_pFirst = pJoined;
        if (!m_pLast)
            m_pLast = pJoined;
    }
    if (pdwLength)
        *pdwLength = dwWant;
    return m_pFirst->Data() + m_pFirst->dwOffset;
}

ESLError EStreamBuffer::ReadFromFile(ESLFileObject& file) noexcept {
    for (;;) {
        if (m_dwLength + static_cast<std::uint64_t>(kReadStep) > kMax32)
            return eslErrorInvalidParameter;
        void* ptr = PutBuffer(kReadStep);
        if (!ptr)
            return eslErrorGeneral;
        DWORD dwRead = file.Read(ptr, kReadStep);
        if (dwRead > kReadStep)  // a file object claiming more than it was asked
            dwRead = kReadStep;
        Flush(dwRead);
        if (dwRead < kReadStep)
            return eslErrorSuccess;
    }
}

ESLError EStreamBuffer::ReadFromFile(ESLFileObject* pFile) noexcept {
    return pFile ? ReadFromFile(*pFile) : eslErrorInvalidParameter;
}

//--- EStreamFileBuffer

const char* EStreamFileBuffer::ClassName() const noexcept {
    return kClassName;
}

void* EStreamFileBuffer::DynamicCast(const char* pszClassName) noexcept {
    if (IsClassName(pszClassName, kClassName))
        return this;
    if (void* ptr = ESLFileObject::DynamicCast(pszClassName))
        return ptr;
    return EStreamBuffer::DynamicCast(pszClassName);
}

bool EStreamFileBuffer::IsKindOf(const char* pszClassName) const noexcept {
    return const_cast<EStreamFileBuffer*>(this)->DynamicCast(pszClassName) != nullptr;
}

std::unique_ptr<ESLFileObject> EStreamFileBuffer::Duplicate() noexcept {
    ESLFileObject::Lock lock(*this);
    auto copy = std::make_unique<EStreamFileBuffer>();
    if (!copy)
        return nullptr;
    DWORD dwLength = 0;
    const void* ptr = GetBuffer(0, &dwLength);
    if (!ptr || copy->EStreamBuffer::Write(ptr, dwLength) != eslErrorSuccess)
        return nullptr;
    copy->m_dwPosition = m_dwPosition;
    return copy;
}

DWORD EStreamFileBuffer::Read(void* ptrBuffer, DWORD dwBytes) noexcept {
    ESLFileObject::Lock lock(*this);
    const DWORD dwDone = EStreamBuffer::Read(ptrBuffer, dwBytes);
    m_dwPosition += dwDone;
    return dwDone;
}

DWORD EStreamFileBuffer::Write(const void* ptrBuffer, DWORD dwBytes) noexcept {
    ESLFileObject::Lock lock(*this);
    if (m_dwPosition + static_cast<std::uint64_t>(EStreamBuffer::GetLength()) + dwBytes > kMax32)
        return 0;
    return EStreamBuffer::Write(ptrBuffer, dwBytes) == eslErrorSuccess ? dwBytes : 0;
}

DWORD EStreamFileBuffer::GetLength() const noexcept {
    ESLFileObject::Lock lock(*this);
    return m_dwPosition + EStreamBuffer::GetLength();
}

DWORD EStreamFileBuffer::Seek(LONG nOffset, int nOrigin) noexcept {
    ESLFileObject::Lock lock(*this);
    std::int64_t target;
    switch (nOrigin) {
    case FromBegin:
        target = nOffset;
        break;
    case FromCurrent:
        target = static_cast<std::int64_t>(m_dwPosition) + nOffset;
        break;
    case FromEnd:
        target = static_cast<std::int64_t>(m_dwPosition) + EStreamBuffer::GetLength() + nOffset;
        break;
    default:
        return m_dwPosition;
    }
    if (target > m_dwPosition) {
        const std::uint64_t skip = static_cast<std::uint64_t>(target - m_dwPosition);
        m_dwPosition += Accept(static_cast<DWORD>(skip > kMax32 ? kMax32 : skip));
    }
    return m_dwPosition;
}

DWORD EStreamFileBuffer::GetPosition() const noexcept {
    ESLFileObject::Lock lock(*this);
    return m_dwPosition;
}
