// The Netpbm plug-in through its exports, as the host calls it: every format
// against pixels computed here, hostile files read behind a guard page, and
// several threads decoding at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "esl_handle.h"
#include "qel_spi.h"
#include "support/Mutator.h"

namespace {

struct CPlugin {
    esl::UniqueModule dll{::LoadLibraryA(VELK58_PNM_PLUGIN)};
    SPI_GetPluginInfo info = Find<SPI_GetPluginInfo>("GetPluginInfo");
    SPI_IsSupported isSupported = Find<SPI_IsSupported>("IsSupported");
    SPI_GetPicture getPicture = Find<SPI_GetPicture>("GetPicture");

    template <class T>
    T Find(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(dll.get(), name)));
    }
};

const CPlugin& Plugin() {
    static CPlugin plugin;
    return plugin;
}

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
SDecoded Collect(int result, HLOCAL info, HLOCAL bits) {
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

SDecoded Decode(const std::string& file, SPI_PROGRESS progress = nullptr, LONG_PTR data = 0) {
    CGuarded input(file);
    HLOCAL info = nullptr, bits = nullptr;
    const int result = Plugin().getPicture(input.data(), static_cast<LONG_PTR>(file.size()), kSpiInputMemory, &info,
                                           &bits, progress, data);
    return Collect(result, info, bits);
}

std::size_t Stride(const BITMAPINFOHEADER& h) {
    return (std::size_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
}

// Empty when the blocks hold what the header claims, else what is wrong.
std::string Insane(const SDecoded& d) {
    const BITMAPINFOHEADER& h = d.header;
    if (h.biSize != 40 || h.biWidth <= 0 || h.biHeight <= 0 || h.biCompression != BI_RGB ||
        (h.biBitCount != 1 && h.biBitCount != 24) || d.colours.size() < (h.biBitCount == 1 ? 2u : 0u))
        return "bad header";
    return d.bitsSize < Stride(h) * h.biHeight ? "short pixel block" : "";
}

// Top-down red, green, blue bytes; pixels off the rows' ends must be zero.
std::vector<unsigned char> Rgb(const SDecoded& d) {
    const BITMAPINFOHEADER& h = d.header;
    std::vector<unsigned char> out;
    for (LONG y = h.biHeight - 1; y >= 0; --y) {
        const unsigned char* row = d.bits.data() + Stride(h) * y;
        for (LONG x = 0; x < h.biWidth; ++x) {
            const RGBQUAD q = h.biBitCount == 1 ? d.colours[(row[x / 8] >> (7 - x % 8)) & 1]
                                                : RGBQUAD{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
            out.insert(out.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
        }
        const std::size_t used = h.biBitCount == 1 ? (h.biWidth + 7) / 8 : 3 * h.biWidth;
        for (std::size_t i = used; i < Stride(h); ++i)
            EXPECT_EQ(0, row[i]) << "padding byte " << i;
    }
    return out;
}

struct SVariant {
    int kind, width, height, maxval;
};

// Samples spread over 0..maxval; a bitmap's are 0 or 1 (1 black).
unsigned Sample(const SVariant& v, int x, int y, int c) {
    return (x * 7919u + y * 104729u + c * 31u) % (v.maxval + 1);
}

// The file, with comments wherever the format allows them, and the pixels it must give.
std::string Encode(const SVariant& v, std::vector<unsigned char>* rgb = nullptr) {
    const bool plain = v.kind <= 3, bitmap = v.kind % 3 == 1;
    const int channels = v.kind % 3 == 0 ? 3 : 1;
    std::string f =
        "P" + std::to_string(v.kind) + "#c\n " + std::to_string(v.width) + "\t#c\r" + std::to_string(v.height);
    f += bitmap ? "#c\n" : "\n#c\n" + std::to_string(v.maxval) + (plain ? " " : "#c\n");
    for (int y = 0; y < v.height; ++y) {
        std::string packed(((v.width + 7) / 8), '\0');
        for (int x = 0; x < v.width; ++x)
            for (int c = 0; c < channels; ++c) {
                const unsigned s = Sample(v, x, y, c);
                if (plain)
                    f += std::to_string(s) + (bitmap && x % 2 ? "" : x % 3 ? " " : "#c\n");
                else if (bitmap)
                    packed[x / 8] |= static_cast<char>(s << (7 - x % 8));
                else
                    f += v.maxval > 255 ? std::string{char(s >> 8), char(s & 255)} : std::string(1, char(s));
                const unsigned char e =
                    bitmap ? (s ? 0 : 255) : static_cast<unsigned char>(std::lround(s * 255.0 / v.maxval));
                if (rgb)
                    rgb->insert(rgb->end(), channels == 3 ? 1 : 3, e);
            }
        if (bitmap && !plain)
            f += packed;
    }
    return f;
}

const SVariant kVariants[] = {
    {1, 33, 5, 1},    {4, 33, 5, 1},    {4, 8, 3, 1},    {2, 5, 3, 255},    {5, 5, 3, 255},
    {5, 2, 4, 1000},  {5, 3, 2, 1},     {3, 3, 2, 1000}, {6, 3, 3, 255},    {6, 1, 2, 1},
    {6, 5, 4, 65535}, {3, 2, 2, 65535}, {2, 7, 2, 1},    {6, 130, 70, 255},
};

TEST(PnmPlugin, AnswersItsInfoAndClaimsNetpbmHeads) {
    char buf[64];
    EXPECT_EQ(4, Plugin().info(0, buf, sizeof(buf)));
    EXPECT_STREQ("00IN", buf);
    Plugin().info(2, buf, sizeof(buf));
    EXPECT_STREQ("*.pnm;*.pbm;*.pgm;*.ppm", buf);
    EXPECT_EQ(0, Plugin().info(4, buf, sizeof(buf)));
    EXPECT_EQ(3, Plugin().info(2, buf, 4));  // cut short, still terminated
    EXPECT_STREQ("*.p", buf);
    char head[2048] = "P6\n1 1 255\n";
    EXPECT_NE(0, Plugin().isSupported("a.ppm", head));
    head[1] = '7';
    EXPECT_EQ(0, Plugin().isSupported("a.ppm", head));
}

TEST(PnmPlugin, DecodesEveryVariantToTheComputedPixels) {
    for (const SVariant& v : kVariants) {
        SCOPED_TRACE(testing::Message() << "P" << v.kind << " " << v.width << "x" << v.height << " max " << v.maxval);
        std::vector<unsigned char> expected;
        const SDecoded d = Decode(Encode(v, &expected));
        ASSERT_EQ(kSpiOk, d.result);
        ASSERT_EQ("", Insane(d));
        EXPECT_EQ(v.kind % 3 == 1 ? 1 : 24, d.header.biBitCount);
        EXPECT_EQ(v.width, d.header.biWidth);
        EXPECT_EQ(expected, Rgb(d));
    }
}

TEST(PnmPlugin, RejectsHostileFiles) {
    using namespace std::string_literals;
    const std::string kCases[] = {
        "P6 99999999999999999999999 1 255\n"s,  // overflow
        "P6 65536 1 255\n\0\0\0"s,              // side over 65535
        "P6 65535 65535 255\n\1\2\3"s,          // over 1 GiB of pixels
        "P6 1000 1000 255\n\1\2\3"s,            // larger than the data
        "P5 2 2 255\n\1\2\3"s,                  // truncated row
        "P2 2 2 255\n1 2 3"s,
        "P2 1 1 255\n#only a comment"s,
        "P5 1 1 0\n\0"s,
        "P5 1 1 65536\n\0\0"s,
        "P4 0 5\n"s,
        "P1 3 1\n0 2 1"s,
        "P5 1 1 255x\0"s,  // no separator before the raster
        "P3 1 1 255 1 2 99999"s,
        "P7 1 1 255\n\0"s,
        "P6 1 1 255"s,
    };
    for (const std::string& c : kCases) {
        SCOPED_TRACE(fuzz::Hex(c));
        const SDecoded d = Decode(c);
        EXPECT_EQ(kSpiUnknownFormat, d.result);
        EXPECT_FALSE(d.handlesLeft);
    }
}

TEST(PnmPlugin, MutatedFilesAreRejectedOrDecodedSanely) {
    std::vector<std::string> corpus;
    for (const SVariant& v : kVariants)
        corpus.push_back(Encode(v));
    const fuzz::Report report = fuzz::Run("pnm", 5800, 3000, corpus, [](const std::string& input) -> std::string {
        const SDecoded d = Decode(input);
        if (d.result == kSpiOk)
            return Insane(d);
        if (d.handlesLeft)
            return "a handle with result " + std::to_string(d.result);
        return d.result == kSpiUnknownFormat ? "" : "result " + std::to_string(d.result);
    });
    EXPECT_GE(report.inputs, 1000u);
    EXPECT_EQ(0u, report.failures);
}

TEST(PnmPlugin, FourThreadsGiveTheSamePixelsAsOne) {
    std::vector<unsigned char> expected;
    const std::string file = Encode({6, 301, 203, 65535}, &expected);
    ASSERT_EQ(expected, Rgb(Decode(file)));
    std::vector<int> matches(4, 0);
    std::vector<std::thread> threads;
    for (int& m : matches)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i)
                m += Rgb(Decode(file)) == expected;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(std::vector<int>(4, 5), matches);
}

TEST(PnmPlugin, ReadsAFileFromAnOffset) {
    std::vector<unsigned char> expected;
    const std::string file = "junk" + Encode({3, 4, 3, 1000}, &expected);
    char path[MAX_PATH], dir[MAX_PATH];
    ::GetTempPathA(MAX_PATH, dir);
    ::GetTempFileNameA(dir, "pnm", 0, path);
    std::FILE* f = std::fopen(path, "wb");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    // Susie's flag 0: the name of a file, and where in it the picture starts.
    HLOCAL info = nullptr, bits = nullptr;
    const int result = Plugin().getPicture(path, 4, 0, &info, &bits, nullptr, 0);
    const SDecoded d = Collect(result, info, bits);
    ::DeleteFileA(path);
    ASSERT_EQ(kSpiOk, d.result);
    EXPECT_EQ(expected, Rgb(d));
}

struct SCalls {
    int count, stopAt, lastNum, denom;
};

int __stdcall CountCalls(int num, int denom, LONG_PTR data) {
    SCalls* calls = reinterpret_cast<SCalls*>(data);
    calls->lastNum = num;
    calls->denom = denom;
    return ++calls->count == calls->stopAt;
}

TEST(PnmPlugin, ProgressReachesTheEndAndAStopAnswerEndsTheDecode) {
    const std::string file = Encode({5, 40, 300, 255});
    SCalls run = {0, 0, -1, 0}, stop = {0, 2, -1, 0};
    EXPECT_EQ(kSpiOk, Decode(file, CountCalls, reinterpret_cast<LONG_PTR>(&run)).result);
    EXPECT_GT(run.count, 2);  // between row blocks, not only at the ends
    EXPECT_EQ(300, run.lastNum);
    EXPECT_EQ(300, run.denom);
    const SDecoded d = Decode(file, CountCalls, reinterpret_cast<LONG_PTR>(&stop));
    EXPECT_EQ(kSpiAborted, d.result);
    EXPECT_FALSE(d.handlesLeft);
    EXPECT_EQ(2, stop.count);
}

}  // namespace
