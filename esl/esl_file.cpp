#include "esl_file.h"

#include <climits>
#include <cstring>

#include "esl_heap.h"

namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
// Largest block an EMemoryFile asks the heap for: well clear of any rounding
// inside a 32-bit size.
constexpr DWORD kMaxMemoryBlock = 0x7FFFF000u;
constexpr DWORD kMemoryGrain = 4096;

// The system's flags for the open flags of a pair of (ours, its) rows.
DWORD MapFlags(DWORD dwFlags, const DWORD (&rows)[2][2]) {
    return ((dwFlags & rows[0][0]) ? rows[0][1] : 0) | ((dwFlags & rows[1][0]) ? rows[1][1] : 0);
}

DWORD AccessOf(DWORD dwFlags) {
    static const DWORD kRows[2][2] = {{ESLFileObject::modeRead, GENERIC_READ},
                                      {ESLFileObject::modeWrite, GENERIC_WRITE}};
    return MapFlags(dwFlags, kRows);
}

DWORD ShareOf(DWORD dwFlags) {
    static const DWORD kRows[2][2] = {{ESLFileObject::shareRead, FILE_SHARE_READ},
                                      {ESLFileObject::shareWrite, FILE_SHARE_WRITE}};
    return MapFlags(dwFlags, kRows);
}

// Critical-error boxes ("insert a disk") suppressed for this thread only, so
// other threads keep their own mode.
class NoCriticalErrorBox {
public:
    NoCriticalErrorBox() noexcept {
        if (!::SetThreadErrorMode(::GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &m_dwOld))
            m_bSet = false;
    }
    NoCriticalErrorBox(const NoCriticalErrorBox&) = delete;
    NoCriticalErrorBox& operator=(const NoCriticalErrorBox&) = delete;
    ~NoCriticalErrorBox() {
        if (m_bSet)
            ::SetThreadErrorMode(m_dwOld, nullptr);
    }

private:
    DWORD m_dwOld = 0;
    bool m_bSet = true;
};

HANDLE OpenByName(const char* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwCreation) {
    NoCriticalErrorBox noBox;
    return ::CreateFileA(pszPath, dwAccess, dwShare, nullptr, dwCreation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool DriveExists(const char* pszPath) {
    const char root[4] = {pszPath[0], ':', '\\', 0};
    const UINT type = ::GetDriveTypeA(root);
    return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
}

bool ToLocalTime(const FILETIME& ft, SYSTEMTIME* pTime) {
    if (!pTime)
        return true;
    FILETIME local;
    return ::FileTimeToLocalFileTime(&ft, &local) && ::FileTimeToSystemTime(&local, pTime);
}

// The FILETIME of a local calendar time; null stays null (time unchanged).
const FILETIME* FromLocalTime(const SYSTEMTIME* pTime, FILETIME* pStore, bool* pbOk) {
    if (!pTime)
        return nullptr;
    FILETIME local;
    if (!::SystemTimeToFileTime(pTime, &local) || !::LocalFileTimeToFileTime(&local, pStore))
        *pbOk = false;
    return pStore;
}

// The target of a seek, from its origin; false for an unknown origin.
bool SeekTarget(std::int64_t nOffset, int nOrigin, std::uint64_t nPosition, std::uint64_t nLength,
                std::int64_t* pTarget) {
    std::int64_t base;
    switch (nOrigin) {
    case ESLFileObject::FromBegin:
        base = 0;
        break;
    case ESLFileObject::FromCurrent:
        base = static_cast<std::int64_t>(nPosition);
        break;
    case ESLFileObject::FromEnd:
        base = static_cast<std::int64_t>(nLength);
        break;
    default:
        return false;
    }
    *pTarget = base + nOffset;
    return true;
}

}  // namespace

//--- ESLFileObject

ESLFileObject::ESLFileObject() noexcept {
    ::InitializeCriticalSection(&m_cs);
}

ESLFileObject::~ESLFileObject() {
    ::DeleteCriticalSection(&m_cs);
}

ESLError ESLFileObject::SetEndOfFile() noexcept {
    return eslErrorGeneral;
}

std::uint64_t ESLFileObject::GetLargeLength() const noexcept {
    return GetLength();
}

std::uint64_t ESLFileObject::SeekLarge(std::int64_t nOffset, int nOrigin) noexcept {
    if (nOffset >= LONG_MIN && nOffset <= LONG_MAX)
        return Seek(static_cast<LONG>(nOffset), nOrigin);
    // Beyond one 32-bit step: reach the target from the start in two steps.
    std::int64_t target;
    if (!SeekTarget(nOffset, nOrigin, GetPosition(), GetLength(), &target) || target < 0 ||
        static_cast<std::uint64_t>(target) > kMax32)
        return GetPosition();
    Seek(LONG_MAX, FromBegin);
    return Seek(static_cast<LONG>(target - LONG_MAX), FromCurrent);
}

std::uint64_t ESLFileObject::GetLargePosition() const noexcept {
    return GetPosition();
}

DWORD ESLFileObject::GetOpenFlags() const noexcept {
    Lock lock(*this);
    return m_dwAttributes;
}

//--- ERawFile

ERawFile::ERawFile() noexcept = default;

ERawFile::~ERawFile() {
    Close();
}

ESLError ERawFile::Open(const char* pszFilePath, DWORD dwFlags) noexcept {
    Lock lock(*this);
    m_hFile.reset();
    m_dwAttributes = 0;
    m_strFilePath.Empty();
    m_nFileNamePos = 0;
    if (!pszFilePath || !pszFilePath[0])
        return eslErrorGeneral;
    if (pszFilePath[1] == ':' && !DriveExists(pszFilePath))
        return eslErrorGeneral;

    esl::UniqueFile file(OpenByName(pszFilePath, AccessOf(dwFlags), ShareOf(dwFlags),
                                    (dwFlags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING));
    if (!file)
        return eslErrorGeneral;
    m_hFile = std::move(file);
    m_dwAttributes = dwFlags;

    // 256 characters cover nearly every path; the system says when not.
    DWORD dwRoom = 256;
    for (int attempt = 0; attempt < 3; ++attempt) {
        char* pszBuffer = m_strFilePath.GetBuffer(static_cast<int>(dwRoom));
        if (!pszBuffer)
            break;
        char* pszFilePart = nullptr;
        const DWORD dwNeeded = ::GetFullPathNameA(pszFilePath, dwRoom + 1, pszBuffer, &pszFilePart);
        if (dwNeeded == 0)
            break;
        if (dwNeeded <= dwRoom) {
            m_strFilePath.SetLength(static_cast<int>(dwNeeded));
            m_nFileNamePos = pszFilePart ? static_cast<int>(pszFilePart - pszBuffer) : m_strFilePath.GetLength();
            return eslErrorSuccess;
        }
        if (dwNeeded > 0x7FFFFF00u)
            break;
        dwRoom = dwNeeded;
    }
    // No full path from the system: keep the name as given.
    m_strFilePath.Assign(pszFilePath);
    m_nFileNamePos = m_strFilePath.GetFileNamePosition();
    return eslErrorSuccess;
}

ESLError ERawFile::Attach(HANDLE hFile, DWORD dwFlags) noexcept {
    Lock lock(*this);
    m_hFile.reset();
    m_dwAttributes = 0;
    m_strFilePath.Empty();
    m_nFileNamePos = 0;
    if (!hFile || hFile == INVALID_HANDLE_VALUE)
        return eslErrorGeneral;
    DWORD access = 0;
    if (dwFlags & modeRead)
        access |= FILE_GENERIC_READ;
    if (dwFlags & modeWrite)
        access |= FILE_GENERIC_WRITE;
    HANDLE hProcess = ::GetCurrentProcess();
    HANDLE hCopy = nullptr;
    if (!::DuplicateHandle(hProcess, hFile, hProcess, &hCopy, access, TRUE, access ? 0 : DUPLICATE_SAME_ACCESS))
        return eslErrorGeneral;
    m_hFile.reset(hCopy);
    m_dwAttributes = dwFlags;
    return eslErrorSuccess;
}

void ERawFile::Close() noexcept {
    Lock lock(*this);
    m_hFile.reset();
    m_dwAttributes = 0;
    m_strFilePath.Empty();
    m_nFileNamePos = 0;
}

bool ERawFile::IsOpen() const noexcept {
    Lock lock(*this);
    return static_cast<bool>(m_hFile);
}

ESLError ERawFile::GetFileTime(SYSTEMTIME* pCreation, SYSTEMTIME* pLastAccess, SYSTEMTIME* pLastWrite) const noexcept {
    Lock lock(*this);
    FILETIME creation, lastAccess, lastWrite;
    if (!m_hFile || !::GetFileTime(m_hFile.get(), &creation, &lastAccess, &lastWrite))
        return eslErrorGeneral;
    const bool bOk =
        ToLocalTime(creation, pCreation) && ToLocalTime(lastAccess, pLastAccess) && ToLocalTime(lastWrite, pLastWrite);
    return bOk ? eslErrorSuccess : eslErrorGeneral;
}

ESLError ERawFile::SetFileTime(const SYSTEMTIME* pCreation, const SYSTEMTIME* pLastAccess,
                               const SYSTEMTIME* pLastWrite) noexcept {
    Lock lock(*this);
    if (!m_hFile)
        return eslErrorGeneral;
    bool bOk = true;
    FILETIME creation, lastAccess, lastWrite;
    const FILETIME* pc = FromLocalTime(pCreation, &creation, &bOk);
    const FILETIME* pa = FromLocalTime(pLastAccess, &lastAccess, &bOk);
    const FILETIME* pw = FromLocalTime(pLastWrite, &lastWrite, &bOk);
    if (!bOk || !::SetFileTime(m_hFile.get(), pc, pa, pw))
        return eslErrorGeneral;
    return eslErrorSuccess;
}

std::unique_ptr<ESLFileObject> ERawFile::Duplicate() noexcept {
    Lock lock(*this);
    if (!m_hFile)
        return nullptr;
    auto copy = std::make_unique<ERawFile>();
    if (!copy)
        return nullptr;
    if ((m_dwAttributes & modeRead) && !m_strFilePath.IsEmpty()) {
        const DWORD access = GENERIC_READ | ((m_dwAttributes & modeWrite) ? GENERIC_WRITE : 0);
        copy->m_hFile.reset(OpenByName(m_strFilePath, access, ShareOf(m_dwAttributes), OPEN_EXISTING));
    }
    if (!copy->m_hFile) {
        HANDLE hProcess = ::GetCurrentProcess();
        HANDLE hCopy = nullptr;
        if (!::DuplicateHandle(hProcess, m_hFile.get(), hProcess, &hCopy, 0, TRUE, DUPLICATE_SAME_ACCESS))
            return nullptr;
        copy->m_hFile.reset(hCopy);
    }
    copy->m_dwAttributes = m_dwAttributes;
    copy->m_strFilePath = m_strFilePath;
    copy->m_nFileNamePos = m_nFileNamePos;
    return copy;
}

DWORD ERawFile::Read(void* ptrBuffer, DWORD dwBytes) noexcept {
    Lock lock(*this);
    DWORD dwDone = 0;
    if (!m_hFile || !ptrBuffer || !::ReadFile(m_hFile.get(), ptrBuffer, dwBytes, &dwDone, nullptr))
        return 0;
    return dwDone;
}

DWORD ERawFile::Write(const void* ptrBuffer, DWORD dwBytes) noexcept {
    Lock lock(*this);
    DWORD dwDone = 0;
    if (!m_hFile || !ptrBuffer || !::WriteFile(m_hFile.get(), ptrBuffer, dwBytes, &dwDone, nullptr))
        return 0;
    return dwDone;
}

DWORD ERawFile::GetLength() const noexcept {
    const std::uint64_t n = GetLargeLength();
    return n <= kMax32 ? static_cast<DWORD>(n) : 0;
}

DWORD ERawFile::Seek(LONG nOffset, int nOrigin) noexcept {
    const std::uint64_t n = SeekLarge(nOffset, nOrigin);
    return n <= kMax32 ? static_cast<DWORD>(n) : 0;
}

DWORD ERawFile::GetPosition() const noexcept {
    const std::uint64_t n = GetLargePosition();
    return n <= kMax32 ? static_cast<DWORD>(n) : 0;
}

ESLError ERawFile::SetEndOfFile() noexcept {
    Lock lock(*this);
    return m_hFile && ::SetEndOfFile(m_hFile.get()) ? eslErrorSuccess : eslErrorGeneral;
}

std::uint64_t ERawFile::GetLargeLength() const noexcept {
    Lock lock(*this);
    LARGE_INTEGER size{};
    if (!m_hFile || !::GetFileSizeEx(m_hFile.get(), &size))
        return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::uint64_t ERawFile::SeekLarge(std::int64_t nOffset, int nOrigin) noexcept {
    Lock lock(*this);
    if (!m_hFile || nOrigin < FromBegin || nOrigin > FromEnd)
        return 0;
    LARGE_INTEGER distance, position{};
    distance.QuadPart = nOffset;
    // The origins are FILE_BEGIN, FILE_CURRENT and FILE_END.
    if (!::SetFilePointerEx(m_hFile.get(), distance, &position, static_cast<DWORD>(nOrigin)))
        return 0;
    return static_cast<std::uint64_t>(position.QuadPart);
}

std::uint64_t ERawFile::GetLargePosition() const noexcept {
    Lock lock(*this);
    LARGE_INTEGER distance{}, position{};
    if (!m_hFile || !::SetFilePointerEx(m_hFile.get(), distance, &position, FILE_CURRENT))
        return 0;
    return static_cast<std::uint64_t>(position.QuadPart);
}

HANDLE ERawFile::GetHandle() const noexcept {
    Lock lock(*this);
    return m_hFile.get();
}

const EString& ERawFile::GetFilePath() const noexcept {
    return m_strFilePath;
}

const char* ERawFile::GetFileName() const noexcept {
    const int nPos = m_nFileNamePos <= m_strFilePath.GetLength() ? m_nFileNamePos : m_strFilePath.GetLength();
    return m_strFilePath.CharPtr() + nPos;
}

//--- EMemoryFile
// Bytes of an owned block past the length are always zero: a length that
// grows by seeking never shows old data, and bytes of the length beyond the
// block's capacity read as zeros.

EMemoryFile::EMemoryFile() noexcept = default;

EMemoryFile::~EMemoryFile() {
    Release();
}

void EMemoryFile::Release() noexcept {
    if (m_ptrBlock && (m_dwAttributes & modeWrite))
        eslHeapFree(nullptr, m_ptrBlock, 0);
    m_ptrBlock = nullptr;
    m_dwLength = 0;
    m_dwPosition = 0;
    m_dwCapacity = 0;
    m_dwAttributes = 0;
}

bool EMemoryFile::GrowBlock(DWORD dwCapacity) noexcept {
    if (dwCapacity <= m_dwCapacity)
        return true;
    if (dwCapacity > kMaxMemoryBlock)
        return false;
    void* ptr =
        m_ptrBlock ? eslHeapReallocate(nullptr, m_ptrBlock, dwCapacity, 0) : eslHeapAllocate(nullptr, dwCapacity, 0);
    if (!ptr)
        return false;
    m_ptrBlock = static_cast<BYTE*>(ptr);
    std::memset(m_ptrBlock + m_dwCapacity, 0, dwCapacity - m_dwCapacity);
    m_dwCapacity = dwCapacity;
    return true;
}

ESLError EMemoryFile::Create(DWORD dwCapacity) noexcept {
    Lock lock(*this);
    Release();
    m_dwAttributes = modeCreate | modeRead | modeWrite;
    if (!GrowBlock(dwCapacity)) {
        m_dwAttributes = 0;
        return eslErrorGeneral;
    }
    return eslErrorSuccess;
}

ESLError EMemoryFile::Open(const void* ptrBlock, DWORD dwLength) noexcept {
    Lock lock(*this);
    Release();
    if (!ptrBlock && dwLength)
        return eslErrorGeneral;
    // Never written through: the flags have no modeWrite.
    m_ptrBlock = static_cast<BYTE*>(const_cast<void*>(ptrBlock));
    m_dwLength = dwLength;
    m_dwCapacity = dwLength;
    m_dwAttributes = modeRead;
    return eslErrorSuccess;
}

std::unique_ptr<ESLFileObject> EMemoryFile::Duplicate() noexcept {
    Lock lock(*this);
    auto copy = std::make_unique<EMemoryFile>();
    if (!copy || copy->Create(m_dwLength) != eslErrorSuccess)
        return nullptr;
    const DWORD dwStored = m_dwLength < m_dwCapacity ? m_dwLength : m_dwCapacity;
    if (dwStored)
        std::memcpy(copy->m_ptrBlock, m_ptrBlock, dwStored);
    copy->m_dwLength = m_dwLength;
    return copy;
}

DWORD EMemoryFile::Read(void* ptrBuffer, DWORD dwBytes) noexcept {
    Lock lock(*this);
    if (!ptrBuffer || m_dwPosition >= m_dwLength)
        return 0;
    const DWORD dwCount = dwBytes < m_dwLength - m_dwPosition ? dwBytes : m_dwLength - m_dwPosition;
    DWORD dwStored = 0;
    if (m_dwPosition < m_dwCapacity)
        dwStored = dwCount < m_dwCapacity - m_dwPosition ? dwCount : m_dwCapacity - m_dwPosition;
    if (dwStored)
        std::memcpy(ptrBuffer, m_ptrBlock + m_dwPosition, dwStored);
    std::memset(static_cast<BYTE*>(ptrBuffer) + dwStored, 0, dwCount - dwStored);
    m_dwPosition += dwCount;
    return dwCount;
}

DWORD EMemoryFile::Write(const void* ptrBuffer, DWORD dwBytes) noexcept {
    Lock lock(*this);
    if (!(m_dwAttributes & modeWrite) || !ptrBuffer || dwBytes == 0)
        return 0;
    const std::uint64_t end = static_cast<std::uint64_t>(m_dwPosition) + dwBytes;
    if (end > kMaxMemoryBlock)
        return 0;
    if (end > m_dwCapacity) {
        // Room for twice this write beyond the position, in whole pages.
        std::uint64_t capacity =
            (m_dwPosition + 2 * static_cast<std::uint64_t>(dwBytes) + kMemoryGrain - 1) / kMemoryGrain * kMemoryGrain;
        if (capacity > kMaxMemoryBlock)
            capacity = end;
        if (!GrowBlock(static_cast<DWORD>(capacity)))
            return 0;
    }
    std::memcpy(m_ptrBlock + m_dwPosition, ptrBuffer, dwBytes);
    m_dwPosition = static_cast<DWORD>(end);
    if (m_dwPosition > m_dwLength)
        m_dwLength = m_dwPosition;
    return dwBytes;
}

DWORD EMemoryFile::GetLength() const noexcept {
    Lock lock(*this);
    return m_dwLength;
}

DWORD EMemoryFile::Seek(LONG nOffset, int nOrigin) noexcept {
    Lock lock(*this);
    std::int64_t target;
    if (!SeekTarget(nOffset, nOrigin, m_dwPosition, m_dwLength, &target))
        return m_dwPosition;
    if (target < 0)
        target = 0;
    if (static_cast<std::uint64_t>(target) > kMax32)
        target = static_cast<std::int64_t>(kMax32);
    if (static_cast<std::uint64_t>(target) > m_dwLength) {
        if (m_dwAttributes & modeWrite)
            m_dwLength = static_cast<DWORD>(target);
        else
            target = m_dwLength;
    }
    m_dwPosition = static_cast<DWORD>(target);
    return m_dwPosition;
}

DWORD EMemoryFile::GetPosition() const noexcept {
    Lock lock(*this);
    return m_dwPosition;
}

ESLError EMemoryFile::SetEndOfFile() noexcept {
    Lock lock(*this);
    if ((m_dwAttributes & modeWrite) && m_dwPosition < m_dwCapacity && m_dwPosition < m_dwLength) {
        const DWORD dwStoredEnd = m_dwLength < m_dwCapacity ? m_dwLength : m_dwCapacity;
        std::memset(m_ptrBlock + m_dwPosition, 0, dwStoredEnd - m_dwPosition);
    }
    m_dwLength = m_dwPosition;
    return eslErrorSuccess;
}

const void* EMemoryFile::GetBuffer() noexcept {
    static const BYTE kEmpty[1] = {0};
    Lock lock(*this);
    if (m_dwLength > m_dwCapacity && !GrowBlock(m_dwLength))
        return nullptr;
    return m_ptrBlock ? m_ptrBlock : kEmpty;
}

DWORD EMemoryFile::GetCapacity() const noexcept {
    Lock lock(*this);
    return m_dwCapacity;
}
