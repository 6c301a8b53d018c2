#include "PageList.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "esl_handle.h"
#include "qel_archive.h"
#include "qel_picture.h"

namespace {

constexpr wchar_t kSeparator = L'\\';
// One read of a list file: at most 4095 bytes and the terminating NUL.
constexpr int kLineBufferSize = 4096;

struct FileCloser {
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};
using UniqueCFile = std::unique_ptr<FILE, FileCloser>;

bool IsPicture(const qel::CPath& path) {
    return qel::CPicture::IsSupported(path.c_str());
}

std::string ToAnsi(const wchar_t* text) {
    int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string ansi(size_t(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], size, nullptr, nullptr);
    ansi.resize(size_t(size - 1));
    return ansi;
}

// CR LF ends a line; so does a line feed alone, as lists written on other
// systems end theirs (a path never ends with one). A lone CR stays.
void CutLineEnd(char* line) {
    size_t length = std::strlen(line);
    if (length == 0 || line[length - 1] != '\n')
        return;
    --length;
    if (length > 0 && line[length - 1] == '\r')
        --length;
    line[length] = '\0';
}

}  // namespace

//--- Opening

uint32_t PageList::Open(const wchar_t* path) {
    const qel::CPath page(path, kSeparator);
    DWORD attributes = ::GetFileAttributesW(page.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return OpenInsideArchive(page);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return OpenFolder(page, page);
    if (page.Extension() == L".sz7")
        return OpenListFile(path);
    if (qel::CArchiveManager::IsArchivePath(page.c_str()))
        return OpenArchive(page);
    if (IsPicture(page))
        return OpenFolder(qel::CPath(page.Folder().c_str(), kSeparator), page);
    return OpenListFile(path);
}

// The path as given, not its normalised form, names the file.
uint32_t PageList::OpenListFile(const wchar_t* path) {
    UniqueCFile file(std::fopen(ToAnsi(path).c_str(), "rb"));
    if (!file)
        return 0;
    // A longer line arrives in pieces, each taken as a path of its own.
    char line[kLineBufferSize];
    while (std::fgets(line, kLineBufferSize, file.get())) {
        CutLineEnd(line);
        qel::CPath page(line, kSeparator);
        if (IsPicture(page))
            m_entries.push_back(std::move(page));
    }
    return TakeInOrder();
}

// Every picture of the archive at every depth, in the archive's own order.
uint32_t PageList::OpenArchive(const qel::CPath& arcPath) {
    const qel::CArchive* archive = qel::CArchiveManager::Instance().GetArchive(arcPath.c_str());
    if (!archive)
        return 0;
    for (const qel::CPath& inner : archive->GetFileList()) {
        if (IsPicture(inner))
            m_entries.push_back(arcPath / inner.c_str());
    }
    return TakeInOrder();
}

uint32_t PageList::OpenFolder(const qel::CPath& folder, const qel::CPath& select) {
    WIN32_FIND_DATAW data{};
    esl::UniqueFind find(::FindFirstFileW((folder / L"*.*").c_str(), &data));
    if (!find)
        return 0;
    PageSet pages;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;  // hidden and system files are pages like any other
        qel::CPath page = folder / data.cFileName;
        if (IsPicture(page))
            pages.insert(std::move(page));
    } while (::FindNextFileW(find.get(), &data));
    return TakeSorted(pages, select);
}

// A picture inside an archive lists the pictures of its folder; a folder
// inside an archive lists its own. Top-level entries are never taken here.
uint32_t PageList::OpenInsideArchive(const qel::CPath& path) {
    qel::CArchiveManager& manager = qel::CArchiveManager::Instance();
    qel::CPath arcPath(kSeparator);
    qel::CPath inner(kSeparator);
    if (!manager.SeparateArcPath(path.c_str(), arcPath, inner))
        return 0;
    const qel::CArchive* archive = manager.GetArchive(arcPath.c_str());
    if (!archive)
        return 0;
    qel::CPath folder = inner;
    if (archive->Contains(inner.c_str())) {
        if (!IsPicture(inner))
            return 0;
        folder = qel::CPath(inner.Folder().c_str(), kSeparator);
    }
    PageSet pages;
    for (const qel::CPath& entry : archive->GetFileList()) {
        if (entry.Count() == 1 || qel::CPath(entry.Folder().c_str(), kSeparator) != folder || !IsPicture(entry))
            continue;
        pages.insert(arcPath / entry.c_str());
    }
    return TakeSorted(pages, arcPath / inner.c_str());
}

uint32_t PageList::TakeSorted(PageSet& pages, const qel::CPath& select) {
    m_entries.assign(pages.begin(), pages.end());
    m_current = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i] == select) {
            m_current = i;
            break;
        }
    }
    return uint32_t(m_entries.size());
}

// An empty list gives no book, rather than whatever the working folder holds.
uint32_t PageList::TakeInOrder() {
    m_current = 0;
    return uint32_t(m_entries.size());
}

//--- Moving around the circle

const wchar_t* PageList::PathAfter(size_t k) const noexcept {
    if (m_entries.empty())
        return nullptr;
    return m_entries[(m_current + k % m_entries.size()) % m_entries.size()].c_str();
}

const wchar_t* PageList::PathBefore(size_t k) const noexcept {
    if (m_entries.empty())
        return nullptr;
    size_t count = m_entries.size();
    return m_entries[(m_current + count - k % count) % count].c_str();
}

void PageList::Advance() noexcept {
    if (!m_entries.empty())
        m_current = (m_current + 1) % m_entries.size();
}

void PageList::Retreat() noexcept {
    if (!m_entries.empty())
        m_current = (m_current + m_entries.size() - 1) % m_entries.size();
}

void PageList::EraseCurrent() {
    if (m_entries.empty())
        return;
    m_entries.erase(m_entries.begin() + std::ptrdiff_t(m_current));
    if (m_current == m_entries.size())
        m_current = 0;
}
