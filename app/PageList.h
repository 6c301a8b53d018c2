// The pages of one book: the paths that the start path names, in page order,
// with a current position on a circle (after the last page comes the first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "qel_path.h"

class PageList {
public:
    // Fills the empty list from a folder, a picture (its folder, the picture
    // current), a list file, an archive, or a folder or picture inside an
    // archive. The number of pages; 0 when the path gave none.
    uint32_t Open(const wchar_t* path);

    size_t Count() const noexcept { return m_entries.size(); }
    // Null while the list is empty; valid until the list changes.
    const wchar_t* CurrentPath() const noexcept { return PathAfter(0); }
    // k places after or before the current entry, around the circle.
    const wchar_t* PathAfter(size_t k) const noexcept;
    const wchar_t* PathBefore(size_t k) const noexcept;

    void Advance() noexcept;
    void Retreat() noexcept;
    // The entry that followed becomes current (the first after the last).
    void EraseCurrent();

    // Every entry from the current one once around, CR LF after each, as a
    // list file at path; nothing is reported.
    void WriteList(const wchar_t* path) const;

private:
    uint32_t OpenListFile(const wchar_t* path);
    uint32_t OpenArchive(const qel::CPath& arcPath);
    uint32_t OpenFolder(const qel::CPath& folder, const qel::CPath& select);
    uint32_t OpenInsideArchive(const qel::CPath& path);
    // Ordered by path; of two paths that compare equal the first inserted stays.
    using PageSet = std::set<qel::CPath>;
    // The end of a sorted listing: the first page equal to select is current.
    uint32_t TakeSorted(PageSet& pages, const qel::CPath& select);
    // The end of a listing in its own order: the first page is current.
    uint32_t TakeInOrder();

    std::vector<qel::CPath> m_entries;
    size_t m_current = 0;
};
