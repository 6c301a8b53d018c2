// The archive plug-in through its exports, on archives the build wrote with
// Python's zipfile and tarfile, 7z and a ZIP writer of our own. No tool here
// writes RAR: RAR and RAR5 go through the same listing, caching and
// extraction code as the formats tested here, and only libarchive's own
// RAR readers are not exercised.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "ArchivePlugin.h"
#include "support/Mutator.h"

using namespace archive_test;

namespace {

const char* const kValidArchives[] = {"stored.zip",  "zip64.zip",    "shuffled.zip", "utf8.zip",   "sjis.zip",
                                      "names.zip",   "methods.zip",  "many.zip",     "over4g.zip", "book.tar",
                                      "book.tar.gz", "book.tar.bz2", "book.tar.xz",  "solid.7z"};

bool NeedsCp932(const std::vector<Expected>& entries) {
    return std::any_of(entries.begin(), entries.end(), [](const Expected& e) { return e.flags == "cp932"; });
}

// Sizes and checksums of every entry the build wrote: a hostile archive that
// extracts at all must give one of these.
const std::map<std::uint32_t, std::set<std::uint32_t>>& KnownContents() {
    static const auto known = [] {
        std::map<std::uint32_t, std::set<std::uint32_t>> m;
        for (const auto& archive : GetFixtures().manifest)
            for (const Expected& e : archive.second)
                m[e.size].insert(e.crc);
        return m;
    }();
    return known;
}

// Empty when what was extracted is plausible, else what is wrong.
std::string CheckExtracted(const SpiFileInfo& record, const std::string& bytes) {
    std::string name = FullName(record);
    if (name == "lie.bin" || name == "huge.bin")
        return "the lying entry " + name + " extracted";
    auto it = KnownContents().find(record.filesize);
    if (it == KnownContents().end() || !it->second.count(Crc(bytes)))
        return "bytes of " + name + " are no entry the build wrote";
    return {};
}

void ExpectSoundRecords(const std::vector<SpiFileInfo>& records, size_t blockSize) {
    EXPECT_EQ((records.size() + 1) * sizeof(SpiFileInfo), blockSize) << "432-byte records and a terminator";
    for (size_t k = 0; k < records.size(); ++k) {
        const SpiFileInfo& r = records[k];
        SCOPED_TRACE(FullName(r));
        EXPECT_EQ(k + 1, r.position) << "position is the 1-based index in the listing";
        size_t method = strnlen(reinterpret_cast<const char*>(r.method), sizeof r.method);
        EXPECT_GT(method, 0u);
        for (size_t i = 0; i < sizeof r.method; ++i)
            EXPECT_TRUE(i < method ? (r.method[i] >= 0x20 && r.method[i] < 0x7F) : r.method[i] == 0);
        size_t path = strnlen(r.path, sizeof r.path);
        ASSERT_LT(path, sizeof r.path);
        ASSERT_LT(strnlen(r.filename, sizeof r.filename), sizeof r.filename);
        EXPECT_TRUE(path == 0 || r.path[path - 1] == '\\');
        EXPECT_NE('\0', r.filename[0]);
    }
}

TEST(ArchivePlugin, IdentifiesItselfAsArchivePlugin) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    char buf[256];
    ASSERT_EQ(4, spi.GetPluginInfo(0, buf, sizeof buf));
    EXPECT_STREQ("00AM", buf);
    ASSERT_GT(spi.GetPluginInfo(2, buf, sizeof buf), 0);
    EXPECT_STREQ("*.zip;*.cbz;*.rar;*.cbr;*.7z;*.cb7;*.tar;*.cbt", buf);
    EXPECT_EQ(0, spi.GetPluginInfo(4, buf, sizeof buf));
    EXPECT_EQ(3, spi.GetPluginInfo(0, buf, 4)) << "cut to the buffer, NUL included";
}

TEST(ArchivePlugin, IsSupportedByContents) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    struct Case {
        const char* name;
        std::string head;
        int supported;
    };
    std::string tar(2048, '\0');
    tar.replace(257, 5, "ustar");
    const Case cases[] = {
        {"a.cbz", "PK\3\4", 1}, {"a.cb7", "7z\xBC\xAF\x27\x1C", 1}, {"a.cbr", "Rar!\x1A\x07\x01", 1},
        {"a.cbt", tar, 1},      {"a.cbt", "\x1F\x8B\x08", 1},       {"a.zip", "\x1F\x8B\x08", 0},
        {"a.zip", "GIF89a", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + (" " + c.head.substr(0, 4)));
        std::string head = c.head;
        head.resize(2048);
        EXPECT_EQ(c.supported, spi.IsSupported(c.name, &head[0]));
    }
}

// Every valid fixture lists what it must, in records the host can walk, and
// every entry extracts to its bytes (or fails where it must).
TEST(ArchivePlugin, ListsAndExtractsEveryFixture) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    const Fixtures& f = GetFixtures();
    for (const char* archive : kValidArchives) {
        SCOPED_TRACE(archive);
        const std::vector<Expected>& expected = f.manifest.at(archive);
        if (NeedsCp932(expected) && ::GetACP() != 932)
            continue;
        int rc = -1;
        size_t blockSize = 0;
        std::vector<SpiFileInfo> records = spi.List(f.Path(archive), &rc, &blockSize);
        ASSERT_EQ(0, rc);
        ExpectSoundRecords(records, blockSize);
        std::multiset<std::pair<std::string, std::uint32_t>> listed, wanted;
        for (const SpiFileInfo& r : records)
            listed.insert({FullName(r), r.filesize});
        for (const Expected& e : expected)
            wanted.insert({e.name, e.size});
        EXPECT_EQ(wanted, listed);
        std::map<std::string, const Expected*> byName;
        for (const Expected& e : expected)
            byName[e.name] = &e;
        for (const SpiFileInfo& r : records) {
            auto it = byName.find(FullName(r));
            if (it == byName.end())
                continue;
            SCOPED_TRACE(it->first);
            std::string bytes;
            int got = spi.Extract(f.Path(archive), r.position, r.filesize, bytes);
            if (it->second->flags == "fail") {
                EXPECT_TRUE(got == 2 || got == 8) << got;
            } else {
                ASSERT_EQ(0, got);
                EXPECT_EQ(it->second->crc, Crc(bytes));
            }
        }
    }
}

TEST(ArchivePlugin, ListsInNaturalOrderWhateverTheDirectoryOrder) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    std::vector<std::string> names;
    for (const SpiFileInfo& r : spi.List(GetFixtures().Path("shuffled.zip")))
        names.push_back(FullName(r));
    const std::vector<std::string> expected = {"_x.jpg",       "a.jpg",       "p1.jpg",           "p01b.jpg",
                                               "P9.jpg",       "p10.jpg",     "sub\\deep\\z.jpg", "sub\\p2.jpg",
                                               "sub\\P10.jpg", "Sub2\\a.jpg", "sub.jpg"};
    EXPECT_EQ(expected, names);
}

// Flag 0x0080: letter case ignored, '/' read as '\', and a double-byte
// character's trail byte neither folded nor taken for a separator.
TEST(ArchivePlugin, FindsEntriesByNameWithoutCase) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    struct Case {
        const char* archive;
        const char* query;
        const char* found;  // null: not found
    };
    const Case cases[] = {
        {"shuffled.zip", "SUB/p10.JPG", "sub\\P10.jpg"},
        {"shuffled.zip", "sub\\DEEP\\z.jpg", "sub\\deep\\z.jpg"},
        {"shuffled.zip", "sub\\p3.jpg", nullptr},
        {"shuffled.zip", "p10.jpg\\", nullptr},
        {"sjis.zip", "表紙.JPG", "表紙.jpg"},      // 表 ends in 0x5C
        {"sjis.zip", "ソ/ア.JPG", "ソ\\ア.jpg"},   // ア ends in 'A'
        {"sjis.zip", "ソ\\ャ.jpg", "ソ\\ャ.jpg"},  // ャ ends in 'a'
        {"sjis.zip", "表\\01.jpg", "表\\01.jpg"},
    };
    const Fixtures& f = GetFixtures();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.archive) + " " + c.query);
        if (std::strcmp(c.archive, "sjis.zip") == 0 && ::GetACP() != 932)
            continue;
        std::vector<SpiFileInfo> records = spi.List(f.Path(c.archive));
        SpiFileInfo info{};
        int rc = spi.GetFileInfo(f.Path(c.archive).c_str(), 0, c.query, 0x0080, &info);
        if (!c.found) {
            EXPECT_NE(0, rc);
            continue;
        }
        ASSERT_EQ(0, rc);
        EXPECT_EQ(c.found, FullName(info));
        ASSERT_GE(info.position, 1u);
        ASSERT_LE(info.position, records.size());
        EXPECT_EQ(0, std::memcmp(&records[info.position - 1], &info, sizeof info)) << "the listed record";
    }
}

struct ProgressLog {
    std::vector<std::pair<int, int>> calls;
    int stopAt = -1;  // answer non-zero on this call
};

int __stdcall OnProgress(int num, int denom, LONG_PTR data) {
    auto* log = reinterpret_cast<ProgressLog*>(data);
    log->calls.push_back({num, denom});
    return static_cast<int>(log->calls.size()) - 1 == log->stopAt;
}

TEST(ArchivePlugin, ProgressIsReportedAndStopsTheCopy) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    const std::string path = GetFixtures().Path("stored.zip");
    std::vector<SpiFileInfo> records = spi.List(path);
    ASSERT_FALSE(records.empty());
    const SpiFileInfo& page = records.front();
    ProgressLog log;
    std::string bytes;
    ASSERT_EQ(0, spi.Extract(path, page.position, page.filesize, bytes, OnProgress, reinterpret_cast<LONG_PTR>(&log)));
    ASSERT_FALSE(log.calls.empty());
    for (size_t k = 1; k < log.calls.size(); ++k)
        EXPECT_LE(log.calls[k - 1].first, log.calls[k].first);
    EXPECT_EQ(std::make_pair(int(page.filesize), int(page.filesize)), log.calls.back());

    ProgressLog stop;
    stop.stopAt = 0;
    EXPECT_EQ(1, spi.Extract(path, page.position, page.filesize, bytes, OnProgress, reinterpret_cast<LONG_PTR>(&stop)));
    EXPECT_EQ(1u, stop.calls.size()) << "nothing read after the stop";
}

// Pages of a solid archive in any order: parked readers and kept entries
// must hand out each entry's own bytes.
TEST(ArchivePlugin, SolidArchiveInAnyOrder) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    const std::string path = GetFixtures().Path("solid.7z");
    std::vector<SpiFileInfo> records = spi.List(path);
    ASSERT_EQ(30u, records.size());
    std::map<std::string, std::uint32_t> crc;
    for (const Expected& e : GetFixtures().manifest.at("solid.7z"))
        crc[e.name] = e.crc;
    std::vector<size_t> order;
    for (size_t k = 0; k < records.size(); ++k)
        order.push_back(k);
    std::vector<size_t> reverse(order.rbegin(), order.rend());
    fuzz::Random rnd(7);
    std::vector<size_t> shuffled = order;
    for (size_t k = shuffled.size(); k > 1; --k)
        std::swap(shuffled[k - 1], shuffled[rnd.Below(k)]);
    for (const auto* run : {&order, &reverse, &shuffled, &order}) {
        for (size_t k : *run) {
            std::string bytes;
            ASSERT_EQ(0, spi.Extract(path, records[k].position, records[k].filesize, bytes));
            EXPECT_EQ(crc[FullName(records[k])], Crc(bytes)) << FullName(records[k]);
        }
    }
}

TEST(ArchivePlugin, FourThreadsGetTheSameBytes) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    const Fixtures& f = GetFixtures();
    std::vector<std::pair<std::string, std::vector<SpiFileInfo>>> work;
    for (const char* archive : {"shuffled.zip", "solid.7z", "book.tar.xz"})
        work.push_back({f.Path(archive), spi.List(f.Path(archive))});
    auto extractAll = [&](int seed) {
        std::vector<std::uint32_t> crcs;
        fuzz::Random rnd(seed);
        for (int round = 0; round < 3; ++round)
            for (const auto& w : work)
                for (size_t k = 0; k < w.second.size(); ++k) {
                    // Each thread starts at its own place, so readers are shared out of order.
                    const SpiFileInfo& r = w.second[(k + rnd.Below(3)) % w.second.size()];
                    std::string bytes;
                    crcs.push_back(spi.Extract(w.first, r.position, r.filesize, bytes) == 0 ? Crc(bytes) ^ r.position
                                                                                            : 0);
                }
        return crcs;
    };
    std::vector<std::uint32_t> alone = extractAll(1);
    std::vector<std::vector<std::uint32_t>> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] { results[t] = extractAll(1); });
    for (std::thread& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(alone, r);
    EXPECT_EQ(alone.end(), std::find(alone.begin(), alone.end(), 0u));
}

// Broken directories, offsets past the end, sizes that lie both ways, a bad
// checksum, 4 GB declared over 1 MB, overlapping and looping entries.
TEST(ArchivePlugin, HostileArchivesFailOrGiveTrueBytes) {
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    const Fixtures& f = GetFixtures();
    ASSERT_GE(f.hostile.size(), 10u);
    for (const std::string& archive : f.hostile) {
        SCOPED_TRACE(archive);
        for (const SpiFileInfo& r : spi.List(f.Path(archive))) {
            std::string bytes;
            if (spi.Extract(f.Path(archive), r.position, r.filesize, bytes) == 0) {
                EXPECT_EQ("", CheckExtracted(r, bytes));
            }
        }
    }
}

// A private folder for generated inputs, removed with what is in it.
class ScratchFolder {
public:
    ScratchFolder() {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        m_path = std::string(temp) + "velk58-archive-" + std::to_string(::GetCurrentProcessId()) + "\\";
        ::CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~ScratchFolder() {
        for (const std::string& name : Files())
            ::DeleteFileA((m_path + name).c_str());
        ::RemoveDirectoryA(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        esl::UniqueFind find(::FindFirstFileA((m_path + "*").c_str(), &data));
        if (!find)
            return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(data.cFileName);
        } while (::FindNextFileA(find.get(), &data));
        return names;
    }

private:
    std::string m_path;
};

TEST(ArchivePlugin, NeverWritesAFile) {
    ScratchFolder scratch;
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    const std::string path = GetFixtures().Path("stored.zip");
    std::vector<SpiFileInfo> records = spi.List(path);
    ASSERT_FALSE(records.empty());
    std::string dest = scratch.Path();
    EXPECT_EQ(-1, spi.GetFile(path.c_str(), records[0].position, &dest[0], 0x0000, nullptr, 0));
    EXPECT_TRUE(scratch.Files().empty());
}

// Random mutations of every valid format: a failure result or true bytes,
// never a crash, a hang or a file written.
TEST(ArchivePlugin, MutatedArchivesFailOrGiveTrueBytes) {
    ScratchFolder scratch;  // outlives the plug-in, whose parked readers keep inputs open
    Plugin spi;
    ASSERT_TRUE(spi.Loaded());
    const Fixtures& f = GetFixtures();
    std::vector<std::string> corpus;
    for (const char* archive : {"stored.zip", "zip64.zip", "shuffled.zip", "sjis.zip", "methods.zip", "names.zip",
                                "solid.7z", "book.tar", "book.tar.gz", "book.tar.bz2", "book.tar.xz"})
        corpus.push_back(f.Read(archive));
    int serial = 0;
    fuzz::Report report = fuzz::Run("archive", 1000, 1200, corpus, [&](const std::string& input) -> std::string {
        // A fresh name each time: a cached listing must never stand for another file.
        std::string path = scratch.Path() + "in" + std::to_string(serial++) + ".bin";
        {
            std::ofstream out(path, std::ios::binary);
            out << input;
        }
        // Only ZIP and 7z protect entries with checksums; tar data may change unnoticed.
        bool checked = input.compare(0, 2, "PK") == 0 || input.compare(0, 2, "7z") == 0;
        std::string broken;
        std::vector<SpiFileInfo> records = spi.List(path);
        for (size_t k = 0; k < records.size() && k < 64 && broken.empty(); ++k) {
            std::string bytes;
            int rc = spi.Extract(path, records[k].position, records[k].filesize, bytes);
            if (rc == 0 && checked)
                broken = CheckExtracted(records[k], bytes);
            else if (rc != 0 && rc != 1 && rc != 2 && rc != 8)
                broken = "result " + std::to_string(rc);
        }
        ::DeleteFileA(path.c_str());
        return broken;
    });
    EXPECT_EQ(0u, report.failures);
    EXPECT_GE(report.inputs, 1000u);
    for (const std::string& name : scratch.Files())
        EXPECT_EQ(0u, name.rfind("in", 0)) << "the plug-in wrote " << name;
}

}  // namespace
