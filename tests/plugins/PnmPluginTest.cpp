// The Netpbm plug-in through its exports, as the host calls it: every format
// against pixels computed here, hostile files read behind a guard page, and
// several threads decoding at once.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "PicturePlugin.h"

namespace {

using namespace plugtest;

const CPlugin& Plugin() {
    static CPlugin plugin(VELK58_PNM_PLUGIN);
    return plugin;
}

SDecoded Decode(const std::string& file) {
    return plugtest::Decode(Plugin(), file);
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
    FuzzPlugin(Plugin(), "pnm", 5800, 3000, corpus);
}

TEST(PnmPlugin, FourThreadsGiveTheSamePixelsAsOne) {
    std::vector<unsigned char> expected;
    const std::string file = Encode({6, 301, 203, 65535}, &expected);
    ASSERT_EQ(expected, Rgb(Decode(file)));
    ExpectSameInFourThreads(Plugin(), file);
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

TEST(PnmPlugin, ProgressReachesTheEndAndAStopAnswerEndsTheDecode) {
    ExpectProgressAndStop(Plugin(), Encode({5, 40, 300, 255}));
}

}  // namespace
