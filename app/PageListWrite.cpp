// The page list written as a list file: every page from the current one once
// around the circle, one path in the system's code page per line, CR LF after
// each.
#include "PageList.h"

#include <windows.h>

#include <map>
#include <string>

#include "AnsiPath.h"
#include "esl_handle.h"
#include "qel_archive.h"
#include "qel_file.h"

namespace {

constexpr wchar_t kSeparator = L'\\';

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    }
};

// Short forms of files on disk, from one listing per folder: asked for one
// by one, each costs a search of its folder, which for a folder of
// thousands of pages adds up to seconds at every exit.
class ShortNames {
public:
    qel::CPath Of(const qel::CPath& file) {
        const std::wstring folder = file.Folder().c_str();
        auto listed = m_folders.find(folder);
        if (listed == m_folders.end())
            listed = m_folders.emplace(folder, List(folder)).first;
        const Folder& names = listed->second;
        auto name = names.shortNames.find(file.FileName().c_str());
        if (name == names.shortNames.end())
            return qel::CPath(ShortPathOf(file.c_str()).c_str(), kSeparator);
        return qel::CPath(names.shortFolder.c_str(), kSeparator) / name->second.c_str();
    }

private:
    struct Folder {
        std::wstring shortFolder;
        std::map<std::wstring, std::wstring, NoCaseLess> shortNames;  // a name already short maps to itself
    };

    static Folder List(const std::wstring& folder) {
        Folder names;
        if (folder.empty())
            return names;
        names.shortFolder = ShortPathOf(folder.c_str());
        WIN32_FIND_DATAW data{};
        esl::UniqueFind find(::FindFirstFileW((folder + L"*").c_str(), &data));
        if (!find)
            return names;
        do {
            names.shortNames.emplace(data.cFileName,
                                     *data.cAlternateFileName ? data.cAlternateFileName : data.cFileName);
        } while (::FindNextFileW(find.get(), &data));
        return names;
    }

    std::map<std::wstring, Folder> m_folders;
};

// The outermost file on disk in its short form, then the path inside the
// archives: the short form stands for the long name wherever it is read.
qel::CPath ListedPath(const qel::CPath& page, ShortNames& shortNames) {
    qel::CPath file = page;
    qel::CPath inner(kSeparator);
    qel::CPath arcPath(kSeparator);
    qel::CPath part(kSeparator);
    while (qel::CArchiveManager::SeparateArcPath(file.c_str(), arcPath, part)) {
        inner = inner.IsEmpty() ? part : part / inner.c_str();
        file = arcPath;
    }
    const qel::CPath listed = shortNames.Of(file);
    return inner.IsEmpty() ? listed : listed / inner.c_str();
}

}  // namespace

void PageList::WriteList(const wchar_t* path) const {
    std::string text;
    ShortNames shortNames;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        std::string line;
        // A path that the code page cannot hold would name another file, or
        // none: it is left out.
        if (ToAnsiExactly(ListedPath(m_entries[(m_current + i) % m_entries.size()], shortNames).c_str(), line))
            text += line + "\r\n";
    }
    // An empty list leaves an empty file. A save that fails keeps the old one.
    qel::ReplaceFileContents(path, text.data(), text.size());
}
