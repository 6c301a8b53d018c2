// Our picture plug-ins through their exports, as the host calls them: input
// copies that end where readable memory ends, what GetPicture handed over
// read back as top-down RGB, checks of the blocks' layout, and the shared
// hostile-input, thread and progress checks.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "esl_handle.h"
#include "qel_spi.h"
#include "support/Mutator.h"

namespace plugtest {

class CPlugin {
    esl::UniqueModule m_dll;  // first: the exports below are looked up in it

public:
    explicit CPlugin(const char* path) : m_dll(::LoadLibraryA(path)) {}

    SPI_GetPluginInfo info = Find<SPI_GetPluginInfo>("GetPluginInfo");
    SPI_IsSupported isSupported = Find<SPI_IsSupported>("IsSupported");
    SPI_GetPictureInfo getPictureInfo = Find<SPI_GetPictureInfo>("GetPictureInfo");
    SPI_GetPicture getPicture = Find<SPI_GetPicture>("GetPicture");

    // The filter text of entry 2.
    std::string Filter() const {
        char buf[256] = "";
        info(2, buf, sizeof(buf));
        return buf;
    }

private:
    template <class T>
    T Find(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(m_dll.get(), name)));
    }
};

// A copy of the file that ends where readable memory ends: one byte too far faults.
class CGuarded {
public:
    explicit CGuarded(const std::string& data) {
        const std::size_t pages = data.size() / 4096 + 2;
        m_base = static_cast<char*>(::VirtualAlloc(nullptr, pages * 4096, MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        ::VirtualProtect(m_base + (pages - 1) * 4096, 4096, PAGE_NOACCESS, &old);
        m_data = m_base + (pages - 1) * 4096 - data.size();
        std::copy(data.begin(), data.end(), m_data);
    }
    ~CGuarded() { ::VirtualFree(m_base, 0, MEM_RELEASE); }
    const char* data() const { return m_data; }

private:
    char* m_base;
    char* m_data;
};

// What the host sees: the result and, on success, both blocks and their sizes.
struct SDecoded {
    int result = -99;
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> colours;
    std::vector<unsigned char> bits;
    SIZE_T bitsSize = 0;
    bool handlesLeft = false;  // a failed call handed out a handle
};

// Copies what a GetPicture call answered, then frees its handles.
inline SDecoded Collect(int result, HLOCAL info, HLOCAL bits) {
    SDecoded d;
    d.result = result;
    esl::UniqueLocal infoOwner(info), bitsOwner(bits);
    d.handlesLeft = d.result != kSpiOk && (info || bits);
    if (d.result != kSpiOk || !info || !bits)
        return d;
    esl::LocalLockGuard<BITMAPINFOHEADER> header(info);
    esl::LocalLockGuard<unsigned char> pixels(bits);
    const SIZE_T infoSize = ::LocalSize(info);
    d.bitsSize = ::LocalSize(bits);
    if (!header.get() || !pixels.get() || infoSize < sizeof(BITMAPINFOHEADER))
        return d;  // a zero header: reported as insane
    d.header = *header.get();
    const RGBQUAD* table = reinterpret_cast<const RGBQUAD*>(header.get() + 1);
    d.colours.assign(table, table + (infoSize - sizeof(BITMAPINFOHEADER)) / sizeof(RGBQUAD));
    d.bits.assign(pixels.get(), pixels.get() + d.bitsSize);
    return d;
}

inline SDecoded Decode(const CPlugin& plugin, const std::string& file, SPI_PROGRESS progress = nullptr,
                       LONG_PTR data = 0) {
    CGuarded input(file);
    HLOCAL info = nullptr, bits = nullptr;
    const int result = plugin.getPicture(input.data(), static_cast<LONG_PTR>(file.size()), kSpiInputMemory, &info,
                                         &bits, progress, data);
    return Collect(result, info, bits);
}

inline std::size_t Stride(const BITMAPINFOHEADER& h) {
    return (std::size_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
}

// Empty when the blocks hold what the header claims, else what is wrong. A
// palette picture carries an entry for every value its pixels can hold.
inline std::string Insane(const SDecoded& d) {
    const BITMAPINFOHEADER& h = d.header;
    const unsigned bitCount = h.biBitCount;
    if (h.biSize != 40 || h.biWidth <= 0 || h.biHeight <= 0 || h.biCompression != BI_RGB ||
        (bitCount != 1 && bitCount != 8 && bitCount != 24))
        return "bad header";
    if (bitCount <= 8 && d.colours.size() < (1u << bitCount))
        return "short colour table";
    return d.bitsSize < Stride(h) * h.biHeight ? "short pixel block" : "";
}

// Top-down red, green, blue bytes; bytes past the rows' pixels must be zero.
inline std::vector<unsigned char> Rgb(const SDecoded& d) {
    const BITMAPINFOHEADER& h = d.header;
    std::vector<unsigned char> out;
    out.reserve(std::size_t(3) * h.biWidth * h.biHeight);
    for (LONG y = h.biHeight - 1; y >= 0; --y) {
        const unsigned char* row = d.bits.data() + Stride(h) * y;
        for (LONG x = 0; x < h.biWidth; ++x) {
            const RGBQUAD q = h.biBitCount == 24  ? RGBQUAD{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0}
                              : h.biBitCount == 8 ? d.colours[row[x]]
                                                  : d.colours[(row[x / 8] >> (7 - x % 8)) & 1];
            out.insert(out.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
        }
        for (std::size_t i = (std::size_t(h.biWidth) * h.biBitCount + 7) / 8; i < Stride(h); ++i)
            EXPECT_EQ(0, row[i]) << "padding byte " << i;
    }
    return out;
}

// Decodes that succeed give sane blocks; the others say "not my format".
inline std::string DecodedSanely(const SDecoded& d) {
    if (d.result == kSpiOk)
        return Insane(d);
    if (d.handlesLeft)
        return "a handle with result " + std::to_string(d.result);
    return d.result == kSpiUnknownFormat ? "" : "result " + std::to_string(d.result);
}

inline std::size_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof(counters));
    return counters.PrivateUsage;
}

// At least a thousand mutations of the corpus, each rejected or decoded
// sanely, with no memory kept from one to the next. A repair (checksums made
// right, say) lets mutations reach deeper.
inline void FuzzPlugin(
    const CPlugin& plugin, const char* name, std::uint64_t seed, std::size_t count,
    const std::vector<std::string>& corpus, std::string (*repair)(std::string) = [](std::string s) { return s; }) {
    std::size_t before = 0;
    const fuzz::Report report = fuzz::Run(name, seed, count, corpus, [&](const std::string& input) {
        if (before == 0)
            before = CommittedBytes();  // after the first call has set up what stays
        return DecodedSanely(Decode(plugin, repair(input)));
    });
    EXPECT_GE(report.inputs, 1000u);
    EXPECT_EQ(0u, report.failures);
    EXPECT_LT(CommittedBytes(), before + (std::size_t(64) << 20)) << "memory grew over the run";
}

// Four threads decode the same file at once, five times each, to the pixels of one.
inline void ExpectSameInFourThreads(const CPlugin& plugin, const std::string& file) {
    const std::vector<unsigned char> expected = Rgb(Decode(plugin, file));
    ASSERT_FALSE(expected.empty());
    std::vector<int> matches(4, 0);
    std::vector<std::thread> threads;
    for (int& m : matches)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i)
                m += Rgb(Decode(plugin, file)) == expected;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(std::vector<int>(4, 5), matches);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A reference decoder's output: a raw Netpbm file (P5, P6, or P7 with four
// channels), maximum 255, as top-down RGB and, for P7, the alpha values.
struct SReference {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb, alpha;
};

inline SReference ReadReference(const std::string& path) {
    const std::string file = ReadFile(path);
    std::istringstream in(file);
    std::string magic, word;
    SReference r;
    int channels = 0, maxval = 0;
    in >> magic;
    if (magic == "P7") {
        while (in >> word && word != "ENDHDR")
            if (word == "WIDTH")
                in >> r.width;
            else if (word == "HEIGHT")
                in >> r.height;
            else if (word == "DEPTH")
                in >> channels;
            else if (word == "MAXVAL")
                in >> maxval;
    } else {
        in >> r.width >> r.height >> maxval;
        channels = magic == "P5" ? 1 : 3;
    }
    const std::size_t start = static_cast<std::size_t>(in.tellg()) + 1;  // one whitespace byte
    EXPECT_EQ(255, maxval) << path;
    EXPECT_EQ(file.size(), start + std::size_t(r.width) * r.height * channels) << path;
    for (std::size_t i = start; i + channels <= file.size(); i += channels) {
        const unsigned char* px = reinterpret_cast<const unsigned char*>(file.data() + i);
        r.rgb.insert(r.rgb.end(), {px[0], px[channels > 1], px[channels > 1 ? 2 : 0]});
        if (channels == 4)
            r.alpha.push_back(px[3]);
    }
    return r;
}

// The plug-in's filter text and its claim on a file's first bytes.
inline void ExpectInfo(const CPlugin& plugin, const char* filter, const std::string& file) {
    char buf[64];
    EXPECT_EQ(4, plugin.info(0, buf, sizeof(buf)));
    EXPECT_STREQ("00IN", buf);
    EXPECT_EQ(filter, plugin.Filter());
    std::string head = file.substr(0, 2048);
    head.resize(2048);
    EXPECT_NE(0, plugin.isSupported("a", &head[0]));
    head[1] ^= 0x55;
    EXPECT_EQ(0, plugin.isSupported("a", &head[0]));
}

struct SCalls {
    int count, stopAt, lastNum, denom;
};

inline int __stdcall CountCalls(int num, int denom, LONG_PTR data) {
    SCalls* calls = reinterpret_cast<SCalls*>(data);
    calls->lastNum = num;
    calls->denom = denom;
    return ++calls->count == calls->stopAt;
}

// Progress comes between row blocks and reaches its end; a stop answer ends
// the decode at once, with nothing handed out.
inline void ExpectProgressAndStop(const CPlugin& plugin, const std::string& file) {
    SCalls run = {0, 0, -1, 0}, stop = {0, 2, -1, 0};
    EXPECT_EQ(kSpiOk, Decode(plugin, file, CountCalls, reinterpret_cast<LONG_PTR>(&run)).result);
    EXPECT_GT(run.count, 2);  // between row blocks, not only at the ends
    EXPECT_EQ(run.denom, run.lastNum);
    const SDecoded d = Decode(plugin, file, CountCalls, reinterpret_cast<LONG_PTR>(&stop));
    EXPECT_EQ(kSpiAborted, d.result);
    EXPECT_FALSE(d.handlesLeft);
    EXPECT_EQ(2, stop.count);
}

}  // namespace plugtest
