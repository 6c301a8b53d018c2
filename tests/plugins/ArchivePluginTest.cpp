// The archive plug-in through its exports, on archives make_archives.py wrote.
// No tool here writes RAR: RAR and RAR5 take the same listing, caching and
// extraction code; only libarchive's own RAR readers go untested.
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <future>

#include "PicturePlugin.h"

namespace {

using plugtest::ReadFile;

std::uint32_t Crc(const std::string& bytes) {
    return std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// Path field followed by file name: the entry's name as the host builds it.
std::string FullName(const SpiFileInfo& info) {
    return std::string(info.path, strnlen(info.path, sizeof info.path)) +
           std::string(info.filename, strnlen(info.filename, sizeof info.filename));
}

// A fixture as Windows sees it under Wine.
std::string Path(const std::string& archive) {
    return "Z:" VELK58_ARCHIVE_FIXTURES "/" + archive;
}

struct SExpected {
    std::string flags;  // "cp932" (the name holds only there), "fail" (GetFile must fail) or "-"
    std::string name;   // in the ANSI code page, '\' separated
    std::uint32_t size, crc;
};

// What each archive must list (make_archives.py); "-" holds known contents only.
const std::map<std::string, std::vector<SExpected>>& Manifest() {
    static const auto manifest = [] {
        std::map<std::string, std::vector<SExpected>> m;
        std::istringstream in(ReadFile(Path("manifest.txt")));
        SExpected e;
        for (std::string archive; in >> archive >> e.flags >> e.name >> e.size >> std::hex >> e.crc >> std::dec;)
            m[archive].push_back(e);
        return m;
    }();
    return manifest;
}

struct CArchivePlugin : plugtest::CDll {
    CArchivePlugin() : CDll("Z:" VELK58_ARCHIVE_PLUGIN) {}
    SPI_GetPluginInfo GetPluginInfo = Find<SPI_GetPluginInfo>("GetPluginInfo");
    SPI_IsSupported IsSupported = Find<SPI_IsSupported>("IsSupported");
    SPI_GetArchiveInfo GetArchiveInfo = Find<SPI_GetArchiveInfo>("GetArchiveInfo");
    SPI_GetFileInfo GetFileInfo = Find<SPI_GetFileInfo>("GetFileInfo");
    SPI_GetFile GetFile = Find<SPI_GetFile>("GetFile");

    // The records up to the terminating one, which ends the block; none when the call fails.
    std::vector<SpiFileInfo> List(const std::string& archive) const {
        esl::UniqueLocal block;
        const int r = GetArchiveInfo(archive.c_str(), 0, 0, block.put());
        const size_t size = r == 0 && block ? ::LocalSize(block.get()) : 0;
        esl::LocalLockGuard<const SpiFileInfo> records(block.get());
        std::vector<SpiFileInfo> out;
        for (size_t k = 0; (k + 1) * sizeof(SpiFileInfo) <= size && records.get()[k].method[0]; ++k)
            out.push_back(records.get()[k]);
        EXPECT_EQ(r == 0 ? (out.size() + 1) * sizeof(SpiFileInfo) : 0, size) << archive;
        return out;
    }

    // GetFile to memory: the result and, on success, the record's size in bytes.
    std::pair<int, std::string> Extract(const std::string& archive, const SpiFileInfo& record,
                                        SPI_PROGRESS progress = nullptr, LONG_PTR data = 0) const {
        esl::UniqueLocal block;
        const int r =
            GetFile(archive.c_str(), record.position, reinterpret_cast<LPSTR>(block.put()), 0x0100, progress, data);
        if (r != 0 || (block && ::LocalSize(block.get()) >= record.filesize))
            return {r, r ? "" : std::string(esl::LocalLockGuard<const char>(block.get()).get(), record.filesize)};
        ADD_FAILURE() << "GetFile answered 0 with a block too small for " << FullName(record);
        return {r, ""};
    }
};

const CArchivePlugin& Spi() {
    static const CArchivePlugin plugin;
    return plugin;
}

// Lists an archive that may be hostile and extracts up to 64 entries: each
// fails or, where checksums guard the data, gives the bytes of an entry the
// build wrote, never of one that lies. Empty, or what broke.
std::string ExtractsSoundly(const std::string& path, bool checked) {
    static const auto known = [] {  // sizes and checksums
        std::set<std::pair<std::uint32_t, std::uint32_t>> all;
        for (const auto& archive : Manifest())
            for (const SExpected& e : archive.second)
                all.insert({e.size, e.crc});
        return all;
    }();
    const std::vector<SpiFileInfo> records = Spi().List(path);
    for (size_t k = 0; k < records.size() && k < 64; ++k) {
        const std::string name = FullName(records[k]);
        const auto [rc, bytes] = Spi().Extract(path, records[k]);
        if (rc == 0 && (name == "lie.bin" || name == "huge.bin"))
            return "the lying entry " + name + " extracted";
        if (rc == 0 && checked && !known.count({records[k].filesize, Crc(bytes)}))
            return "bytes of " + name + " are no entry the build wrote";
        if (rc != 0 && rc != 1 && rc != 2 && rc != 8)
            return "result " + std::to_string(rc);
    }
    return "";
}

TEST(ArchivePlugin, AnswersItsInfoAndClaimsArchivesByContents) {
    char buf[256];
    ASSERT_EQ(4, Spi().GetPluginInfo(0, buf, sizeof buf));
    EXPECT_STREQ("00AM", buf);
    ASSERT_GT(Spi().GetPluginInfo(2, buf, sizeof buf), 0);
    EXPECT_STREQ("*.zip;*.cbz;*.rar;*.cbr;*.7z;*.cb7;*.tar;*.cbt", buf);
    EXPECT_EQ(0, Spi().GetPluginInfo(4, buf, sizeof buf));
    EXPECT_EQ(3, Spi().GetPluginInfo(0, buf, 4)) << "cut to the buffer, NUL included";
    std::string tar(2048, '\0');
    tar.replace(257, 5, "ustar");
    // A compressed stream is a book only under a tar name.
    const std::vector<std::tuple<const char*, std::string, int>> cases = {
        {"a.cbz", "PK\3\4", 1}, {"a.cb7", "7z\xBC\xAF\x27\x1C", 1}, {"a.cbr", "Rar!\x1A\x07\x01", 1},
        {"a.cbt", tar, 1},      {"a.cbt", "\x1F\x8B\x08", 1},       {"a.zip", "\x1F\x8B\x08", 0},
        {"a.zip", "GIF89a", 0},
    };
    for (auto [name, head, supported] : cases) {
        SCOPED_TRACE(name + (" " + head.substr(0, 4)));
        head.resize(2048);
        EXPECT_EQ(supported, Spi().IsSupported(name, &head[0]));
    }
}

// Each fixture lists what it must (position the 1-based index; a method; a
// path ending in '\'); each entry gives its bytes, or fails where it must, and
// is found with flag 0x0080 by its name in other case with '/' (trail bytes kept).
TEST(ArchivePlugin, ListsAndExtractsEveryFixture) {
    for (const auto& [archive, expected] : Manifest()) {
        if (archive == "-")
            continue;
        SCOPED_TRACE(archive);
        std::multiset<std::tuple<std::string, std::uint32_t, std::uint32_t>> listed, wanted;  // name, size, crc
        for (const SExpected& e : expected)
            wanted.insert({e.name, e.size, e.flags == "fail" ? ~0u : e.crc});
        const std::vector<SpiFileInfo> records = Spi().List(Path(archive));
        for (const SpiFileInfo& r : records) {
            SCOPED_TRACE(FullName(r));
            EXPECT_EQ(&r - &records[0] + 1, r.position);
            const size_t method = strnlen(reinterpret_cast<const char*>(r.method), sizeof r.method);
            EXPECT_TRUE(method > 0 && method < sizeof r.method && std::all_of(r.method, r.method + method, ::isprint));
            const std::string folder(r.path, strnlen(r.path, sizeof r.path));
            EXPECT_TRUE(folder.empty() || folder.back() == '\\');
            const auto [rc, bytes] = Spi().Extract(Path(archive), r);
            listed.insert({FullName(r), r.filesize, rc == 0 ? Crc(bytes) : rc == 2 || rc == 8 ? ~0u : rc});
            std::string other = FullName(r);
            for (size_t i = 0; i < other.size(); ++i)
                if (::IsDBCSLeadByte(other[i]))
                    ++i;  // its trail byte stays
                else if (other[i] == '\\' || std::isalpha(static_cast<unsigned char>(other[i])))
                    other[i] = other[i] == '\\' ? '/' : other[i] ^ 0x20;
            SpiFileInfo found{};
            EXPECT_EQ(0, Spi().GetFileInfo(Path(archive).c_str(), 0, other.c_str(), 0x0080, &found));
            EXPECT_EQ(0, std::memcmp(&r, &found, sizeof r)) << "found by " << other;
        }
        EXPECT_EQ(wanted, listed);
    }
    // Neither a name not listed nor a folder's.
    SpiFileInfo info{};
    for (const char* name : {"sub\\p3.jpg", "p10.jpg\\", "sub"})
        EXPECT_NE(0, Spi().GetFileInfo(Path("shuffled.zip").c_str(), 0, name, 0x0080, &info)) << name;
}

// The listing in natural order, whatever the order in the archive's directory.
TEST(ArchivePlugin, ListsInNaturalOrder) {
    std::vector<std::string> names;
    for (const SpiFileInfo& r : Spi().List(Path("shuffled.zip")))
        names.push_back(FullName(r));
    EXPECT_EQ((std::vector<std::string>{"_x.jpg", "a.jpg", "p1.jpg", "p01b.jpg", "P9.jpg", "p10.jpg",
                                        "sub\\deep\\z.jpg", "sub\\p2.jpg", "sub\\P10.jpg", "Sub2\\a.jpg", "sub.jpg"}),
              names);
}

// Progress from nothing to the whole entry; a stop answer ends the copy at once.
TEST(ArchivePlugin, ProgressIsReportedAndStopsTheCopy) {
    const std::string path = Path("stored.zip");
    const std::vector<SpiFileInfo> records = Spi().List(path);
    const SpiFileInfo page =
        *std::max_element(records.begin(), records.end(), [](auto& a, auto& b) { return a.filesize < b.filesize; });
    plugtest::SCalls run = {0, 0, -1, 0, false};
    ASSERT_EQ(0, Spi().Extract(path, page, plugtest::CountCalls, reinterpret_cast<LONG_PTR>(&run)).first);
    EXPECT_FALSE(run.falling);
    EXPECT_EQ((std::vector<int>{int(page.filesize), int(page.filesize)}), (std::vector<int>{run.lastNum, run.denom}));
    for (int at : {1, 2}) {  // before the first block, after it
        plugtest::SCalls stop = {0, at, -1, 0, false};
        EXPECT_EQ(1, Spi().Extract(path, page, plugtest::CountCalls, reinterpret_cast<LONG_PTR>(&stop)).first);
        EXPECT_EQ(at, stop.count) << "nothing read after the stop";
    }
}

// Every entry of each archive (manifest name, path) backwards, forwards, then
// in the seed's order: parked readers and kept entries (of solid archives
// above all) must give each entry its own bytes. The entries that did not.
std::vector<std::string> WrongBytes(const std::map<std::string, std::string>& archives, std::uint64_t seed) {
    std::vector<std::string> wrong;
    fuzz::Random rnd(seed);
    for (const auto& [name, path] : archives) {
        std::map<std::string, std::uint32_t> crc;
        for (const SExpected& e : Manifest().at(name))
            crc[e.name] = e.crc;
        const std::vector<SpiFileInfo> records = Spi().List(path);
        std::vector<size_t> order(records.size());
        for (size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        for (int round = 0; round < 3; ++round) {
            std::reverse(order.begin(), order.end());
            for (size_t k = order.size(); round == 2 && k > 1; --k)
                std::swap(order[k - 1], order[rnd.Below(k)]);
            for (size_t k : order) {
                const auto [rc, bytes] = Spi().Extract(path, records[k]);
                if (rc != 0 || Crc(bytes) != crc[FullName(records[k])])
                    wrong.push_back(name + " " + FullName(records[k]));
            }
        }
    }
    return wrong;
}

// On copies nothing of which is cached yet: alone, then in four threads.
TEST(ArchivePlugin, GivesEachEntryItsOwnBytesInAnyOrderAndInFourThreads) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    for (size_t count : {1, 4}) {
        std::map<std::string, std::string> archives;
        for (const std::string name : {"solid.7z", "shuffled.zip", "book.tar.xz"}) {
            archives[name] = temp + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(count) + name;
            ::CopyFileA(Path(name).c_str(), archives[name].c_str(), FALSE);
        }
        std::vector<std::future<std::vector<std::string>>> wrong;
        for (std::uint64_t t = 0; t < count; ++t)
            wrong.push_back(std::async(std::launch::async, WrongBytes, std::cref(archives), t));
        for (auto& w : wrong)
            EXPECT_EQ(std::vector<std::string>(), w.get());
        for (const auto& archive : archives)
            ::DeleteFileA(archive.second.c_str());
    }
}

// Broken directories, offsets past the end, sizes that lie both ways, a bad
// checksum, 4 GB declared over 1 MB, overlapping and looping entries.
TEST(ArchivePlugin, HostileArchivesFailOrGiveTrueBytes) {
    std::istringstream hostile(ReadFile(Path("hostile.txt")));
    int count = 0;
    for (std::string archive; hostile >> archive; ++count)
        EXPECT_EQ("", ExtractsSoundly(Path(archive), true)) << archive;
    EXPECT_GE(count, 10);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    esl::UniqueFind find(::FindFirstFileA((folder + "*").c_str(), &data));
    for (bool more = bool(find); more; more = ::FindNextFileA(find.get(), &data))
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    return names;
}

// Random mutations of every valid format: a failure result or true bytes,
// never a crash, a hang or a file written (not even when asked for one).
TEST(ArchivePlugin, MutatedArchivesFailOrGiveTrueBytes) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    std::string scratch = std::string(temp) + "velk58-archive-" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(scratch.c_str(), nullptr);
    const std::string stored = Path("stored.zip");
    EXPECT_EQ(-1, Spi().GetFile(stored.c_str(), Spi().List(stored).at(0).position, &scratch[0], 0, nullptr, 0));
    EXPECT_EQ(std::vector<std::string>(), FilesIn(scratch)) << "GetFile to a file wrote one";
    std::vector<std::string> corpus;
    for (const char* archive : {"stored.zip", "zip64.zip", "shuffled.zip", "sjis.zip", "methods.zip", "names.zip",
                                "solid.7z", "book.tar", "book.tar.gz", "book.tar.bz2", "book.tar.xz"})
        corpus.push_back(ReadFile(Path(archive)));
    int serial = 0;
    const fuzz::Report report = fuzz::Run("archive", 1000, 1200, corpus, [&](const std::string& input) {
        // A fresh name each time: a cached listing must never stand for another file.
        const std::string path = scratch + "in" + std::to_string(serial++) + ".bin";
        std::ofstream(path, std::ios::binary) << input;
        // Only ZIP and 7z protect entries with checksums; tar data may change unnoticed.
        const std::string broken =
            ExtractsSoundly(path, input.compare(0, 2, "PK") == 0 || input.compare(0, 2, "7z") == 0);
        ::DeleteFileA(path.c_str());
        return broken;
    });
    EXPECT_TRUE(report.inputs >= 1000 && report.failures == 0);
    for (const std::string& name : FilesIn(scratch))  // inputs parked readers keep open stay a while
        EXPECT_EQ(0u, name.rfind("in", 0)) << "the plug-in wrote " << name;
}

}  // namespace
