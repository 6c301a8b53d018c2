// The page list written as a list file: every page from the current one once
// around the circle, one path in the system's code page per line, CR LF after
// each.
#include "PageList.h"

#include <string>

#include "AnsiPath.h"
#include "qel_archive.h"
#include "qel_file.h"

namespace {

constexpr wchar_t kSeparator = L'\\';

// The outermost file on disk in its short form, then the path inside the
// archives: the short form stands for the long name wherever it is read.
qel::CPath ListedPath(const qel::CPath& page) {
    qel::CPath file = page;
    qel::CPath inner(kSeparator);
    qel::CPath arcPath(kSeparator);
    qel::CPath part(kSeparator);
    while (qel::CArchiveManager::SeparateArcPath(file.c_str(), arcPath, part)) {
        inner = inner.IsEmpty() ? part : part / inner.c_str();
        file = arcPath;
    }
    const qel::CPath listed(ShortPathOf(file.c_str()).c_str(), kSeparator);
    return inner.IsEmpty() ? listed : listed / inner.c_str();
}

}  // namespace

void PageList::WriteList(const wchar_t* path) const {
    std::string text;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        std::string line;
        // A path that the code page cannot hold would name another file, or
        // none: it is left out.
        if (ToAnsiExactly(ListedPath(m_entries[(m_current + i) % m_entries.size()]).c_str(), line))
            text += line + "\r\n";
    }
    // An empty list leaves an empty file. A save that fails keeps the old one.
    qel::ReplaceFileContents(path, text.data(), text.size());
}
