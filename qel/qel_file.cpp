#include "qel_file.h"

#include <mmsystem.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "esl_handle.h"
#include "qel_archive.h"
#include "qel_exception.h"
#include "qel_hash.h"

namespace qel {

namespace {

constexpr const char* kSource = "qel_file";

}  // namespace

// ---------------------------------------------------------------------------
// CFile

struct CFile::Inner : boost::noncopyable {
    explicit Inner(CFile* pOwner) : _pOwner(pOwner) {}
    // The record owns the handle: whatever leaves the record closes it.
    ~Inner() { Close(); }
    void Close() noexcept {
        if (_hFile != INVALID_HANDLE_VALUE)
            ::CloseHandle(_hFile);
        _hFile = INVALID_HANDLE_VALUE;
    }

    CFile* _pOwner;
    HANDLE _hFile = INVALID_HANDLE_VALUE;
};

CFile::CFile() : m_pInner(std::make_unique<Inner>(this)) {}

CFile::~CFile() = default;

void CFile::Open(const wchar_t* path, bool bWrite) {
    m_pInner->Close();
    if (bWrite) {
        m_pInner->_hFile =
            ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    } else {
        m_pInner->_hFile =
            ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    QEL_FAIL_IF_AT(kSource, 78, m_pInner->_hFile == INVALID_HANDLE_VALUE);
}

void CFile::Close() noexcept {
    m_pInner->Close();
}

bool CFile::IsOpen() const noexcept {
    return m_pInner->_hFile != INVALID_HANDLE_VALUE;
}

ULONGLONG CFile::Size() const {
    DWORD sizeHigh = 0;
    // A stale error code must not turn a size of exactly 4 GiB - 1 into a failure.
    ::SetLastError(NO_ERROR);
    DWORD sizeLow = ::GetFileSize(m_pInner->_hFile, &sizeHigh);
    QEL_FAIL_IF_AT(kSource, 95, sizeLow == 0xFFFFFFFF && ::GetLastError() != NO_ERROR);
    return (ULONGLONG(sizeHigh) << 32) | sizeLow;
}

DWORD CFile::Read(void* buffer, DWORD count) {
    DWORD done = 0;
    if (!::ReadFile(m_pInner->_hFile, buffer, count, &done, nullptr))
        return 0;
    return done;
}

DWORD CFile::Write(const void* buffer, DWORD count) {
    DWORD done = 0;
    if (!::WriteFile(m_pInner->_hFile, buffer, count, &done, nullptr))
        return 0;
    return done;
}

// ---------------------------------------------------------------------------
// Paths into archives ('D:\vol1.zip\001.jpg'), for paths not found on disk

namespace {

ULONGLONG ArchiveFileSize(const wchar_t* path) {
    CArchiveManager& arcMgr = CArchiveManager::Instance();
    CPath arcPath, filePath;
    if (!arcMgr.SeparateArcPath(path, arcPath, filePath))
        return 0;
    CArchive* pArc = arcMgr.GetArchive(arcPath.c_str());
    return pArc ? pArc->GetFileSize(filePath.c_str()) : 0;
}

void ReadFromArchive(const wchar_t* pwszFilePath, void* buffer, size_t bufferSize) {
    CArchiveManager& arcMgr = CArchiveManager::Instance();
    CPath arcPath, filePath;
    QEL_FAIL_IF_AT(kSource, 245, !arcMgr.SeparateArcPath(pwszFilePath, arcPath, filePath));
    CArchive* pArc = arcMgr.GetArchive(arcPath.c_str());
    QEL_FAIL_IF_AT(kSource, 249, pArc == NULL);
    const DWORD size = pArc->GetFileSize(filePath.c_str());
    if (bufferSize < size)
        throw -1;
    pArc->Extract(filePath.c_str(), buffer, size);
}

}  // namespace

ULONGLONG GetFileSize(const wchar_t* path) noexcept {
    try {
        CFile file;
        file.Open(path, false);
        return file.Size();
    } catch (...) {
    }
    try {
        return ArchiveFileSize(path);
    } catch (...) {
        return 0;
    }
}

void ReadWholeFile(const wchar_t* pwszFilePath, void* buffer, size_t bufferSize) {
    CFile file;
    try {
        file.Open(pwszFilePath, false);
    } catch (const CException&) {
        ReadFromArchive(pwszFilePath, buffer, bufferSize);
        return;
    }
    // From here on failures go to the caller: a file on disk that cannot be
    // read is not looked for in an archive.
    ULONGLONG size = file.Size();
    if (ULONGLONG(bufferSize) < size)
        throw -1;
    // ReadFile moves at most 4 GiB - 1 per call.
    uint8_t* out = static_cast<uint8_t*>(buffer);
    ULONGLONG done = 0;
    while (done < size) {
        DWORD chunk = DWORD(std::min<ULONGLONG>(size - done, 0x40000000));
        DWORD got = file.Read(out + done, chunk);
        if (got != chunk)
            throw -1;
        done += got;
    }
    file.Close();
}

void WriteWholeFile(const wchar_t* path, const void* buffer, DWORD size) {
    CFile file;
    file.Open(path, true);
    const DWORD written = file.Write(buffer, size);
    QEL_FAIL_IF_AT(kSource, 262, written != size);
}

void RemoveFile(const wchar_t* path, bool toRecycleBin) {
    if (!path || !*path)
        return;
    if (!toRecycleBin) {
        ::DeleteFileW(path);
        return;
    }
    // The source is a list of names ended by an empty one: two NULs.
    size_t length = std::wcslen(path);
    std::vector<wchar_t> list(length + 2, L'\0');
    std::copy(path, path + length, list.begin());
    SHFILEOPSTRUCTW op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = list.data();
    op.pTo = nullptr;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
    ::SHFileOperationW(&op);
}

// ---------------------------------------------------------------------------
// Unique file names

namespace {

// Candidate names are ever longer prefixes of a digest of the current time,
// so that a call usually ends with a one- or two-character name.
class CUniqueNameGenerator : boost::noncopyable {
public:
    CUniqueNameGenerator(const wchar_t* folder, const wchar_t* extension);
    // The next candidate that does not exist yet.
    CPath Next();

private:
    void Seed();

    struct Inner {
        CUniqueNameGenerator* _pOwner;
        CPath _folder;
        CWString _extension;
        CHashValue _digest;
        size_t _length;
    };
    std::unique_ptr<Inner> m_pInner;
};

CUniqueNameGenerator::CUniqueNameGenerator(const wchar_t* folder, const wchar_t* extension)
    : m_pInner(std::make_unique<Inner>()) {
    Inner& s = *m_pInner;
    s._pOwner = this;
    if (folder && *folder) {
        s._folder = CPath(folder, L'\\');
    } else {
        wchar_t temp[MAX_PATH + 1] = {};
        DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
        s._folder = CPath(n > 0 && n <= MAX_PATH ? temp : L"", L'\\');
    }
    DWORD attributes = ::GetFileAttributesW(s._folder.c_str());
    QEL_FAIL_IF_AT(kSource, 301, attributes == 0xFFFFFFFF || !(attributes & FILE_ATTRIBUTE_DIRECTORY));
    if (extension && *extension) {
        if (extension[0] != L'.')
            s._extension += L'.';
        s._extension += extension;
    }
    Seed();
}

void CUniqueNameGenerator::Seed() {
    SYSTEMTIME now = {};
    ::GetSystemTime(&now);
    DWORD ticks = ::timeGetTime();
    uint8_t tickBytes[4] = {uint8_t(ticks), uint8_t(ticks >> 8), uint8_t(ticks >> 16), uint8_t(ticks >> 24)};
    CSHA256 sha;
    sha.Update(&now, sizeof(now));
    sha.Update(tickBytes, sizeof(tickBytes));
    sha.GetHash(m_pInner->_digest);
    m_pInner->_length = 1;
}

CPath CUniqueNameGenerator::Next() {
    Inner& s = *m_pInner;
    for (;;) {
        if (s._length > 2 * CSHA256::kDigestSize) {
            // A new digest needs a new time.
            ::Sleep(1);
            Seed();
        }
        const char* digits = s._digest.Text();
        CWString name;
        for (size_t i = 0; i < s._length; ++i)
            name += wchar_t(digits[i]);
        ++s._length;
        name += s._extension;
        CPath candidate = s._folder / name.c_str();
        if (::GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES)
            return candidate;
    }
}

}  // namespace

CPath CreateUniqueFile(const wchar_t* folder, const wchar_t* extension) {
    CUniqueNameGenerator generator(folder, extension);
    for (int failures = 0;;) {
        CPath candidate = generator.Next();
        esl::UniqueFile file(
            ::CreateFileW(candidate.c_str(), 0, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return candidate;
        ++failures;
        QEL_FAIL_IF_AT(kSource, 330, failures >= kMaxFailedCreations);
    }
}

}  // namespace qel
