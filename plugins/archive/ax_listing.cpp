#include "ax_listing.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "ax_names.h"

namespace ax {

namespace {

// A book has a few thousand pages; the record block of this many is 43 MB.
constexpr size_t kMaxEntries = 100000;
constexpr std::uint64_t kMaxEntrySize = 1u << 30;
// Deflate's largest ratio (1032:1) stands for every method: pages are
// pictures, so a larger declared ratio is taken for a lie.
constexpr std::uint64_t kLargestRatio = 1032;
// Fields of 200 bytes with their NUL.
constexpr size_t kMaxField = 199;

struct MethodName {
    const char* libarchive;  // ZIP method as libarchive names it
    const char* shown;
};
constexpr MethodName kZipMethods[] = {
    {"(uncompressed)", "Store"}, {"(deflation)", "Deflate"}, {"(deflation-64-bit)", "Defl64"},
    {"(bzip)", "BZip2"},         {"(lzma)", "LZMA"},         {"(xz)", "XZ"},
    {"(zstd)", "Zstd"},          {"(ppmd-1)", "PPMd"},       {"(aes)", "AES"},
};

const char* MethodOf(int format, const char* formatName) {
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP:
        for (const MethodName& m : kZipMethods)
            if (formatName && std::strstr(formatName, m.libarchive))
                return m.shown;
        return "ZIP";
    case ARCHIVE_FORMAT_7ZIP:
        return "7z";
    case ARCHIVE_FORMAT_RAR:
        return "RAR";
    case ARCHIVE_FORMAT_RAR_V5:
        return "RAR5";
    case ARCHIVE_FORMAT_TAR:
        return "TAR";
    default:
        return "Unknown";
    }
}

std::wstring EntryName(archive_entry* e) {
    if (const wchar_t* w = archive_entry_pathname_w(e))
        return w;
    // No wide form: the bytes as stored, read in the system code page.
    if (const char* m = archive_entry_pathname(e))
        return FromAnsi(m);
    return {};
}

struct Candidate {
    Entry entry;
    bool exact = true;  // came through the code page unchanged
};

// Folder and name in the code page, or false when the record cannot hold them.
bool MakeCandidate(const std::wstring& name, std::vector<Span>& parts, Candidate& c) {
    if (!SplitEntryName(name, parts))
        return false;
    std::string ansi;
    for (size_t k = 0; k < parts.size(); ++k) {
        c.exact = ToAnsi(name.data() + parts[k].start, parts[k].length, ansi) && c.exact;
        if (k > 0)
            c.entry.path += L'\\';
        c.entry.path += c.exact ? name.substr(parts[k].start, parts[k].length) : FromAnsi(ansi);
        if (k + 1 < parts.size())
            (c.entry.folder += ansi) += '\\';
        else
            c.entry.name = std::move(ansi);
    }
    return c.entry.folder.size() <= kMaxField && c.entry.name.size() <= kMaxField && !c.entry.name.empty();
}

// A name that lost characters to the code page may now equal another one;
// it gets "~N" (N: its header number, then a counter) before its extension so
// that it still opens its own entry. Names that came through unchanged keep theirs.
void MakeReplacementsUnique(std::vector<Candidate>& all) {
    if (std::all_of(all.begin(), all.end(), [](const Candidate& c) { return c.exact; }))
        return;
    std::unordered_set<std::wstring> taken;
    for (Candidate& c : all)
        if (c.exact)
            taken.insert(FoldName(c.entry.path));
    for (Candidate& c : all) {
        if (c.exact)
            continue;
        const std::string base = c.entry.name;
        const std::wstring folder = c.entry.path.substr(0, c.entry.path.rfind(L'\\') + 1);
        size_t dot = base.rfind('.');
        std::string stem = base.substr(0, dot), extension = dot == std::string::npos ? "" : base.substr(dot);
        for (int n = 0; taken.count(FoldName(c.entry.path)); ++n) {
            char tag[32];
            std::snprintf(tag, sizeof tag, n == 0 ? "~%d" : "~%d-%d", c.entry.header + 1, n + 1);
            c.entry.name = stem + tag + extension;
            c.entry.path = folder + FromAnsi(c.entry.name);
        }
        taken.insert(FoldName(c.entry.path));
    }
}

}  // namespace

const Entry* Listing::At(std::uint32_t position) const {
    return position >= 1 && position <= entries.size() ? &entries[position - 1] : nullptr;
}

const Entry* Listing::Find(const char* name, bool ignoreCase) const {
    std::wstring wanted = FromAnsi(name);
    if (ignoreCase) {
        std::call_once(m_indexed, [this] {
            for (const Entry& e : entries)
                m_byFoldedPath.emplace(FoldName(e.path), PositionOf(e));
        });
        auto it = m_byFoldedPath.find(FoldName(wanted));
        return it == m_byFoldedPath.end() ? nullptr : At(it->second);
    }
    std::replace(wanted.begin(), wanted.end(), L'/', L'\\');
    for (const Entry& e : entries)
        if (e.path == wanted)
            return &e;
    return nullptr;
}

void Listing::Fill(const Entry& entry, SpiFileInfo& info) const {
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.method, entry.method, sizeof info.method);
    info.position = PositionOf(entry);
    info.filesize = entry.size;
    info.timestamp = entry.time;
    std::memcpy(info.path, entry.folder.c_str(), entry.folder.size() + 1);
    std::memcpy(info.filename, entry.name.c_str(), entry.name.size() + 1);
}

std::shared_ptr<const Listing> ReadListing(const char* path) {
    std::unique_ptr<CReader> reader = CReader::Open(path);
    if (!reader)
        return nullptr;
    auto listing = std::make_shared<Listing>();
    std::vector<Candidate> all;
    std::vector<Span> parts;
    while (archive_entry* e = reader->NextHeader()) {
        if (all.size() >= kMaxEntries)
            return nullptr;
        // Folders, links and entries of unknown or 4 GiB or more size are not pages.
        la_int64_t size = archive_entry_size(e);
        if (reader->HeaderDamaged() || archive_entry_filetype(e) != AE_IFREG || archive_entry_hardlink(e) ||
            !archive_entry_size_is_set(e) || size < 0 || size > 0xFFFFFFFFll)
            continue;
        Candidate c;
        if (!MakeCandidate(EntryName(e), parts, c))
            continue;
        c.entry.header = reader->NextIndex() - 1;
        c.entry.size = static_cast<std::uint32_t>(size);
        c.entry.time = static_cast<std::int64_t>(archive_entry_mtime(e));
        c.entry.encrypted = archive_entry_is_encrypted(e) != 0;
        const char* method = MethodOf(reader->Format(), reader->FormatName());
        std::memcpy(c.entry.method, method, std::min<size_t>(std::strlen(method), sizeof c.entry.method - 1));
        all.push_back(std::move(c));
    }
    if (reader->Broken())
        return nullptr;

    MakeReplacementsUnique(all);
    std::vector<size_t> order(all.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return NaturalLess(all[a].entry.path, all[b].entry.path); });

    int base = reader->Format() & ARCHIVE_FORMAT_BASE_MASK;
    listing->identity = reader->GetIdentity();
    listing->solid = base == ARCHIVE_FORMAT_7ZIP || base == ARCHIVE_FORMAT_RAR || base == ARCHIVE_FORMAT_RAR_V5;
    std::uint64_t ratio = reader->PlainTar() ? 1 : kLargestRatio;
    listing->sizeCap = std::min(kMaxEntrySize, std::min(listing->identity.size, kMaxEntrySize) * ratio);
    listing->positionOfHeader.assign(reader->NextIndex(), 0);
    listing->entries.reserve(all.size());
    for (size_t k : order) {
        listing->positionOfHeader[all[k].entry.header] = static_cast<std::uint32_t>(listing->entries.size()) + 1;
        listing->entries.push_back(std::move(all[k].entry));
    }
    return listing;
}

}  // namespace ax
