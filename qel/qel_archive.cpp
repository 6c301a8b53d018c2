#include "qel_archive.h"

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "esl_handle.h"
#include "esl_string.h"
#include "qel_buffer.h"
#include "qel_exception.h"
#include "qel_file.h"
#include "qel_susie.h"

#define QEL_SOURCE "qel_archive"

namespace qel {

namespace {

// For checks whose text names a call other than the one the code makes.
[[noreturn]] void Fail(int line, const char* expression) {
    throw CException(QEL_SOURCE, line, expression);
}

// ---------------------------------------------------------------------------
// File-information records as plug-ins lay them out

constexpr size_t kNameField = sizeof(SpiFileInfo::path);
static_assert(sizeof(SpiFileInfo::filename) == kNameField, "both name fields are read alike");

// Plug-ins built with a 4-byte time type write records 4 bytes shorter, with
// both names 4 bytes earlier; position and size lie before the timestamp.
struct RecordLayout {
    size_t stride;
    size_t pathOffset;
    size_t nameOffset;
};
constexpr RecordLayout kLayout432 = {kSpiFileInfoSize, offsetof(SpiFileInfo, path), offsetof(SpiFileInfo, filename)};
constexpr RecordLayout kLayout428 = {kSpiFileInfoSize32, offsetof(SpiFileInfo, path) - 4,
                                     offsetof(SpiFileInfo, filename) - 4};

// One record with its names cut at their NUL, or at the end of their field.
struct Record {
    uint32_t position;
    uint32_t size;
    std::string path;
    std::string name;
};

uint32_t ReadU32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

std::string ReadName(const uint8_t* p) {
    const char* text = reinterpret_cast<const char*>(p);
    return std::string(text, strnlen(text, kNameField));
}

Record ReadRecord(const uint8_t* p, const RecordLayout& layout) {
    return {ReadU32(p + offsetof(SpiFileInfo, position)), ReadU32(p + offsetof(SpiFileInfo, filesize)),
            ReadName(p + layout.pathOffset), ReadName(p + layout.nameOffset)};
}

// The method text is printable and padded with NULs; both names end in
// their fields.
bool IsPlausible(const uint8_t* p, const RecordLayout& layout) {
    const size_t kMethod = sizeof(SpiFileInfo::method);
    size_t i = 0;
    while (i < kMethod && p[i] >= 0x20 && p[i] < 0x7F)
        ++i;
    for (; i < kMethod; ++i) {
        if (p[i] != 0)
            return false;
    }
    return std::memchr(p + layout.pathOffset, 0, kNameField) && std::memchr(p + layout.nameOffset, 0, kNameField);
}

// Calls fn with each whole record before the terminating one; a record that
// does not fit in the block ends the walk like the terminating one. Answers
// whether the terminating record is the block's last.
template <typename Fn>
bool ForEachRecord(const uint8_t* block, size_t blockSize, const RecordLayout& layout, Fn&& fn) {
    for (size_t offset = 0; offset + layout.stride <= blockSize; offset += layout.stride) {
        if (block[offset] == 0)
            return offset + layout.stride == blockSize;
        fn(block + offset);
    }
    return false;
}

// Decided once per block: the stride at which the block ends exactly with
// its terminating record, then the one at which every record is plausible;
// when both or neither, the 8-byte time type.
const RecordLayout& ChooseLayout(const uint8_t* block, size_t blockSize) {
    struct Reading {
        bool exactFit;
        bool plausible;
    };
    auto read = [&](const RecordLayout& layout) {
        Reading reading = {false, true};
        reading.exactFit = ForEachRecord(block, blockSize, layout, [&](const uint8_t* p) {
            reading.plausible = reading.plausible && IsPlausible(p, layout);
        });
        return reading;
    };
    const Reading wide = read(kLayout432), narrow = read(kLayout428);
    if (wide.exactFit != narrow.exactFit)
        return wide.exactFit ? kLayout432 : kLayout428;
    if (wide.plausible != narrow.plausible)
        return wide.plausible ? kLayout432 : kLayout428;
    return kLayout432;
}

// The text every plug-in call is given: the short form where there is one,
// since the plug-in sees 8-bit text in the ANSI code page.
EString PluginPath(const wchar_t* path) {
    wchar_t shortPath[MAX_PATH] = {};
    DWORD length = ::GetShortPathNameW(path, shortPath, MAX_PATH);
    return EString(length >= 1 && length < MAX_PATH ? shortPath : path);
}

}  // namespace

// ---------------------------------------------------------------------------
// CArchive

struct CArchive::Inner : boost::noncopyable {
    struct FileInfo {
        uint32_t position;
        uint32_t _size;
    };

    explicit Inner(CArchive* pOwner) : _pOwner(pOwner) {}
    void Open(const wchar_t* path);
    Record Requery(const Record& listed, const RecordLayout& layout) const;
    void Add(const Record& record);

    CArchive* _pOwner;
    CSpi* _pSpi = nullptr;
    EString _filePath;
    std::map<CPath, FileInfo> _fileInfoMap;
    std::vector<CPath> _fileList;
};

void CArchive::Inner::Open(const wchar_t* path) {
    _pSpi = CSpiManager::Instance().FindArchivePlugin(path);
    QEL_FAIL_IF_AT(QEL_SOURCE, 73, _pSpi == NULL);
    _filePath = PluginPath(path);

    HLOCAL hArchiveInfo = NULL;
    QEL_FAIL_IF_AT(QEL_SOURCE, 84, _pSpi->GetArchiveInfo(_filePath, 0, 0x0000, &hArchiveInfo));
    // A plug-in that answers success without a block it owns gives nothing
    // to free.
    QEL_FAIL_IF_AT(QEL_SOURCE, 85, hArchiveInfo == NULL || ::LocalFlags(hArchiveInfo) == LMEM_INVALID_HANDLE);
    esl::UniqueLocal archiveInfo(hArchiveInfo);
    esl::LocalLockGuard<const uint8_t> lock(hArchiveInfo);  // unlocked before the block is freed
    const uint8_t* pBlock = lock.get();
    QEL_FAIL_IF_AT(QEL_SOURCE, 87, pBlock == NULL);

    // Nothing past the block's own size is read.
    const size_t blockSize = ::LocalSize(hArchiveInfo);
    const RecordLayout& layout = ChooseLayout(pBlock, blockSize);
    ForEachRecord(pBlock, blockSize, layout, [&](const uint8_t* p) {
        Record record = ReadRecord(p, layout);
        // A folder entry is never asked for again: plug-ins commonly fail that
        // query, which would fail the whole archive.
        if (record.name.empty())
            return;
        if (record.position == 0 || record.size == 0)
            record = Requery(record, layout);
        Add(record);
    });
}

// A fresh record for a listed one whose position or size is missing; the
// int -1 when the plug-in has none.
Record CArchive::Inner::Requery(const Record& listed, const RecordLayout& layout) const {
    char query[2 * kNameField + 1] = {};
    std::memcpy(query, listed.path.data(), listed.path.size());
    std::memcpy(query + listed.path.size(), listed.name.data(), listed.name.size());
    // Room for the longer record; a plug-in of the shorter kind fills 428
    // bytes, read at the block's stride.
    SpiFileInfo local = {};
    if (_pSpi->GetFileInfo(_filePath, 0, query, kSpiIgnoreCase, &local) != 0)
        throw -1;
    return ReadRecord(reinterpret_cast<const uint8_t*>(&local), layout);
}

void CArchive::Inner::Add(const Record& record) {
    if (record.name.empty())
        return;
    CPath key = CPath(record.path.c_str(), L'\\') / CWString(record.name.c_str()).c_str();
    // A name that climbs out of the archive ('..') names nothing in it.
    if (key.IsEmpty())
        return;
    _fileInfoMap.emplace(key, FileInfo{record.position, record.size});  // the first entry of a path wins
    _fileList.push_back(std::move(key));
}

CArchive::CArchive(const wchar_t* path) : m_pInner(std::make_unique<Inner>(this)) {
    m_pInner->Open(path);
}

CArchive::~CArchive() = default;

const std::vector<CPath>& CArchive::GetFileList() const {
    return m_pInner->_fileList;
}

bool CArchive::Contains(const wchar_t* name) const {
    return m_pInner->_fileInfoMap.count(CPath(name, L'\\')) != 0;
}

DWORD CArchive::GetFileSize(const wchar_t* name) const {
    auto itr = m_pInner->_fileInfoMap.find(CPath(name, L'\\'));
    QEL_FAIL_IF_AT(QEL_SOURCE, 154, itr == m_pInner->_fileInfoMap.end());
    return itr->second._size;
}

void CArchive::Extract(const wchar_t* name, void* buffer, size_t bufferSize) const {
    auto itr = m_pInner->_fileInfoMap.find(CPath(name, L'\\'));
    QEL_FAIL_IF_AT(QEL_SOURCE, 168, itr == m_pInner->_fileInfoMap.end());
    QEL_FAIL_IF_AT(QEL_SOURCE, 169, bufferSize < itr->second._size);
    if (itr->second._size == 0)
        return;

    LPCSTR src = m_pInner->_filePath;
    LONG_PTR len = LONG_PTR(itr->second.position);
    HLOCAL hFileData = NULL;
    if (m_pInner->_pSpi->GetFile(src, len, reinterpret_cast<LPSTR>(&hFileData), kSpiFileToMemory, nullptr, 0))
        Fail(177, "m_pInner->_pSpi->GetFile(src, len, reinterpret_cast<LPSTR>(&hFileData), 0x0100)");
    QEL_FAIL_IF_AT(QEL_SOURCE, 178, hFileData == NULL);
    QEL_FAIL_IF_AT(QEL_SOURCE, 179, ::LocalFlags(hFileData) == LMEM_INVALID_HANDLE);
    esl::UniqueLocal fileData(hFileData);
    // A block shorter than the entry is refused rather than read past.
    QEL_FAIL_IF_AT(QEL_SOURCE, 180, ::LocalSize(hFileData) < itr->second._size);
    esl::LocalLockGuard<const uint8_t> lock(hFileData);
    QEL_FAIL_IF_AT(QEL_SOURCE, 181, lock.get() == NULL);
    std::memcpy(buffer, lock.get(), itr->second._size);
}

// ---------------------------------------------------------------------------
// CArchiveManager

namespace {

// Cache lookups by the caller's text, without building a string.
struct NaturalLess {
    using is_transparent = void;
    bool operator()(const CWString& a, const CWString& b) const noexcept { return a < b; }
    bool operator()(const CWString& a, const wchar_t* b) const noexcept { return a < b; }
    bool operator()(const wchar_t* a, const CWString& b) const noexcept { return b > a; }
};

// The inner file of an archive, copied whole to a file of its own; a copy
// that comes up short throws.
void CopyOut(const CArchive& outer, const CPath& name, const CPath& copy) {
    const DWORD size = outer.GetFileSize(name.c_str());
    CBuffer buffer(size);
    outer.Extract(name.c_str(), buffer.get(), size);
    WriteWholeFile(copy.c_str(), buffer.get(), size);
}

}  // namespace

struct CArchiveManager::Inner : boost::noncopyable {
    explicit Inner(CArchiveManager* pOwner);
    CArchive* Find(const wchar_t* path) const;
    CArchive* Open(const wchar_t* path);
    boost::shared_ptr<CArchive> Build(const wchar_t* path);

    CArchiveManager* _pOwner;
    std::wstring _tempFolder;
    std::vector<std::wstring> _tempFiles;
    std::map<CWString, boost::shared_ptr<CArchive>, NaturalLess> _cache;
    // Hits read the cache under a shared lock. A miss runs whole under
    // _missLock, which also guards the temporary-file list, and takes the
    // cache exclusively only to insert, so a slow plug-in holds up no hit.
    mutable std::shared_mutex _cacheLock;
    std::mutex _missLock;
};

CArchiveManager::Inner::Inner(CArchiveManager* pOwner) : _pOwner(pOwner) {
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD length = ::GetTempPathW(MAX_PATH, folder);
    if (length > 0 && length < MAX_PATH)
        _tempFolder = folder;
}

CArchive* CArchiveManager::Inner::Find(const wchar_t* path) const {
    std::shared_lock<std::shared_mutex> read(_cacheLock);
    auto itr = _cache.find(path);
    return itr == _cache.end() ? nullptr : itr->second.get();
}

// With _missLock held. Nothing is cached for a path that fails.
CArchive* CArchiveManager::Inner::Open(const wchar_t* path) {
    if (!IsArchivePath(path))
        return nullptr;
    if (CArchive* hit = Find(path))
        return hit;
    boost::shared_ptr<CArchive> archive;
    try {
        archive = Build(path);
    } catch (...) {
        return nullptr;
    }
    std::unique_lock<std::shared_mutex> write(_cacheLock);
    return _cache.emplace(CWString(path), archive).first->second.get();
}

boost::shared_ptr<CArchive> CArchiveManager::Inner::Build(const wchar_t* path) {
    CPath arcPath, filePath;
    if (!SeparateArcPath(path, arcPath, filePath))
        return boost::make_shared<CArchive>(path);
    // An archive inside an archive is opened from a copy that keeps its
    // extension, so that the same plug-in reads it. The copy is listed before
    // anything is written to it: whatever fails later, it goes at exit.
    CArchive* outer = Open(arcPath.c_str());
    if (!outer)
        throw -1;
    CPath copy = CreateUniqueFile(_tempFolder.c_str(), filePath.Extension().c_str());
    _tempFiles.push_back(copy.c_str());
    CopyOut(*outer, filePath, copy);
    return boost::make_shared<CArchive>(copy.c_str());
}

CArchiveManager& CArchiveManager::Instance() {
    // Archives point at plug-ins: the registry is made first, so it ends last.
    CSpiManager::Instance();
    static CArchiveManager manager;
    return manager;
}

CArchiveManager::CArchiveManager() : m_pInner(std::make_unique<Inner>(this)) {}

CArchiveManager::~CArchiveManager() {
    for (const std::wstring& file : m_pInner->_tempFiles)
        ::DeleteFileW(file.c_str());
    m_pInner->_cache.clear();
}

bool CArchiveManager::IsArchivePath(const wchar_t* path) {
    try {
        return path && CSpiManager::Instance().HasArchivePlugin(path);
    } catch (...) {
        return false;
    }
}

bool CArchiveManager::SeparateArcPath(const wchar_t* path, CPath& arcPath, CPath& filePath) {
    try {
        if (!path)
            return false;
        const CPath whole(path, L'\\');
        const size_t n = whole.Count();
        // The longest leading part with an archive extension wins; whether it
        // is a file is not asked.
        for (size_t k = n - 1; n >= 2 && k >= 1; --k) {
            CWString head = whole.Head(k);
            if (IsArchivePath(head.c_str())) {
                CPath inner(whole.Tail(n - k).c_str(), L'\\');
                arcPath = CPath(head.c_str(), L'\\');
                filePath = std::move(inner);
                return true;
            }
        }
    } catch (...) {
    }
    return false;
}

CArchive* CArchiveManager::GetArchive(const wchar_t* path) {
    if (!path)
        return nullptr;
    try {
        // A cached path was an archive path when it was cached, and the
        // registry only grows: the hit need not ask the registry.
        if (CArchive* hit = m_pInner->Find(path))
            return hit;
        if (!IsArchivePath(path))
            return nullptr;
        std::lock_guard<std::mutex> miss(m_pInner->_missLock);
        return m_pInner->Open(path);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace qel
