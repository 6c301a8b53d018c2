// The Susie plug-in host: loaded plug-ins whose calls never throw, and the
// registry of the plug-ins in the program's folder by name and extension.
#define QEL_SOURCE "qel_susie"

#include "qel_susie.h"

#include <boost/make_shared.hpp>

#include <array>
#include <cstring>
#include <map>

#include "esl_handle.h"
#include "qel_exception.h"
#include "qel_path.h"

namespace qel {

namespace {

// Looked up in this order; an export the library lacks leaves its slot empty.
enum SpiExport {
    kGetPluginInfo,
    kIsSupported,
    kGetPictureInfo,
    kGetPicture,
    kGetPreview,
    kGetArchiveInfo,
    kGetFileInfo,
    kGetFile,
    kSpiExportCount
};
constexpr const char* kSpiExportNames[kSpiExportCount] = {
    "GetPluginInfo", "IsSupported",    "GetPictureInfo", "GetPicture",
    "GetPreview",    "GetArchiveInfo", "GetFileInfo",    "GetFile",
};

int __stdcall DefaultProgress(int, int, LONG_PTR) {
    return 0;
}

// The host's rules common to every call: -1 without the export, 8 for
// anything that escapes it.
template <class Proc, class... Args>
int CallExport(FARPROC slot, Args... args) noexcept {
    if (!slot)
        return kSpiNotImplemented;
    try {
        return reinterpret_cast<Proc>(reinterpret_cast<void*>(slot))(args...);
    } catch (...) {
        return kSpiInternalError;
    }
}

// GetPluginInfo answers are read from buffers of this size.
constexpr int kInfoBufferSize = 1024;
using InfoBuffer = std::array<char, kInfoBufferSize>;

}  // namespace

struct CSpi::Inner {
    CSpi* _pOwner;
    esl::UniqueModule _hDLL;
    FARPROC _procs[kSpiExportCount];
};

CSpi::CSpi(const wchar_t* path) : m_pInner(new Inner{this, esl::UniqueModule(::LoadLibraryW(path)), {}}) {
    if (!m_pInner->_hDLL)
        throw CException(QEL_SOURCE, 74, "_hDLL == NULL");
    for (int i = 0; i < kSpiExportCount; ++i)
        m_pInner->_procs[i] = ::GetProcAddress(m_pInner->_hDLL.get(), kSpiExportNames[i]);
}

CSpi::~CSpi() = default;

HMODULE CSpi::Module() const noexcept {
    return m_pInner->_hDLL.get();
}

int CSpi::GetPluginInfo(int infono, LPSTR buf, int buflen) {
    return CallExport<SPI_GetPluginInfo>(m_pInner->_procs[kGetPluginInfo], infono, buf, buflen);
}

int CSpi::GetPicture(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                     SPI_PROGRESS lpPrgressCallback, LONG_PTR lData) {
    return CallExport<SPI_GetPicture>(m_pInner->_procs[kGetPicture], buf, len, flag, pHBInfo, pHBm,
                                      lpPrgressCallback ? lpPrgressCallback : DefaultProgress, lData);
}

int CSpi::GetArchiveInfo(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* lphInf) {
    *lphInf = nullptr;
    const int result = CallExport<SPI_GetArchiveInfo>(m_pInner->_procs[kGetArchiveInfo], buf, len, flag, lphInf);
    // Some plug-ins answer 2 although they built the list: a live handle wins.
    if (result == kSpiUnknownFormat && *lphInf && ::LocalFlags(*lphInf) != LMEM_INVALID_HANDLE)
        return kSpiOk;
    return result;
}

int CSpi::GetFileInfo(LPCSTR buf, LONG_PTR len, LPCSTR filename, unsigned int flag, SpiFileInfo* lpInfo) {
    return CallExport<SPI_GetFileInfo>(m_pInner->_procs[kGetFileInfo], buf, len, filename, flag,
                                       static_cast<void*>(lpInfo));
}

int CSpi::GetFile(LPCSTR src, LONG_PTR len, LPSTR dest, unsigned int flag, SPI_PROGRESS lpPrgressCallback,
                  LONG_PTR lData) {
    return CallExport<SPI_GetFile>(m_pInner->_procs[kGetFile], src, len, dest, flag,
                                   lpPrgressCallback ? lpPrgressCallback : DefaultProgress, lData);
}

namespace {

using PluginMap = std::map<CWString, boost::shared_ptr<CSpi>>;

// The file name cut before its first dot: 'a.b.spi' gives 'a'.
CWString NameKey(const wchar_t* path) {
    const CWString name = CPath(path).FileName();
    const wchar_t* dot = std::wcschr(name.c_str(), L'.');
    return dot ? CWString(name.c_str(), size_t(dot - name.c_str())) : name;
}

// Registers each ';'-separated item of one filter text by the text from the
// last dot seen so far; the text is cut at its last byte first, so that an
// unterminated answer is never read past the buffer.
void RegisterFilterText(InfoBuffer& text, const boost::shared_ptr<CSpi>& pSpi, PluginMap& map) {
    text.back() = '\0';
    const char* lastDot = nullptr;
    for (char* p = text.data();; ++p) {
        if (*p == '.') {
            lastDot = p;
        } else if (*p == ';' || *p == '\0') {
            const bool end = *p == '\0';
            *p = '\0';
            map.emplace(CWString(lastDot ? lastDot : p), pSpi);  // the first plug-in keeps the key
            if (end)
                return;
        }
    }
}

}  // namespace

struct CSpiManager::Inner {
    CSpiManager* _pOwner;
    PluginMap _nameMap;
    PluginMap _pictureMap;
    PluginMap _archiveMap;
};

CSpiManager::CSpiManager() : m_pInner(new Inner{this, {}, {}, {}}) {}

CSpiManager::~CSpiManager() {
    m_pInner->_archiveMap.clear();
    m_pInner->_pictureMap.clear();
    m_pInner->_nameMap.clear();
}

CSpiManager& CSpiManager::Instance() {
    static CSpiManager instance;
    return instance;
}

void CSpiManager::LoadPlugins(const wchar_t* folder) {
    // 64-bit plug-ins carry their own extension; the 32-bit program cannot load them.
    static constexpr const wchar_t* kPatterns[] = {L"*.spi", sizeof(void*) == 8 ? L"*.sph" : nullptr};
    const CPath dir(folder);
    for (const wchar_t* pattern : kPatterns) {
        if (!pattern)
            continue;
        WIN32_FIND_DATAW fd;
        esl::UniqueFind find(::FindFirstFileW((dir / pattern).c_str(), &fd));
        if (!find)
            continue;
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                RegisterPlugin((dir / fd.cFileName).c_str());
        } while (::FindNextFileW(find.get(), &fd));
    }
}

void CSpiManager::RegisterPlugin(const wchar_t* path) {
    try {
        const CWString key = NameKey(path);
        if (m_pInner->_nameMap.count(key))
            return;
        const boost::shared_ptr<CSpi> pSpi = boost::make_shared<CSpi>(path);
        InfoBuffer version{};
        pSpi->GetPluginInfo(0, version.data(), kInfoBufferSize);
        version[5] = '\0';
        PluginMap* pMap = std::strcmp(version.data(), "00IN") == 0   ? &m_pInner->_pictureMap
                          : std::strcmp(version.data(), "00AM") == 0 ? &m_pInner->_archiveMap
                                                                     : nullptr;
        if (!pMap)
            return;
        // A plug-in that answers every entry is cut off.
        for (int n = 0; n < kMaxPluginFilterEntries; ++n) {
            InfoBuffer text{};
            if (pSpi->GetPluginInfo(2 * n + 2, text.data(), kInfoBufferSize) == 0)
                break;
            RegisterFilterText(text, pSpi, *pMap);
        }
        m_pInner->_nameMap.emplace(key, pSpi);
    } catch (...) {
        // A file that cannot be registered is skipped like one of no known kind.
    }
}

namespace {

CSpi* FindByExtension(const PluginMap& map, const wchar_t* path) {
    const auto it = map.find(CPath(path).Extension());
    return it == map.end() ? nullptr : it->second.get();
}

}  // namespace

CSpi* CSpiManager::FindPicturePlugin(const wchar_t* path) const {
    return FindByExtension(m_pInner->_pictureMap, path);
}

CSpi* CSpiManager::FindArchivePlugin(const wchar_t* path) const {
    return FindByExtension(m_pInner->_archiveMap, path);
}

}  // namespace qel
