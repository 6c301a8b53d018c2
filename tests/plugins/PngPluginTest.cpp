// The PNG plug-in against the pixels of PNG files written here (every colour
// type and depth, transparency, interlacing), and hostile files.
#include <zlib.h>

#include <string>
#include <vector>

#include "PicturePlugin.h"

namespace {

using namespace plugtest;

const CPlugin& Plugin() {
    static CPlugin plugin(VELK58_PNG_PLUGIN);
    return plugin;
}

SDecoded Decode(const std::string& file) {
    return plugtest::Decode(Plugin(), file);
}

enum { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

struct SVariant {
    int type, depth;
    bool interlaced, transparent;  // transparent: a tRNS chunk
    int width, height;
};

int Channels(const SVariant& v) {
    return v.type == kRgb ? 3 : v.type == kGreyAlpha ? 2 : v.type == kRgba ? 4 : 1;
}
unsigned Max(const SVariant& v) {
    return (1u << v.depth) - 1;
}
unsigned PaletteSize(const SVariant& v) {
    return v.depth == 8 ? 200 : 1u << v.depth;
}
unsigned char PaletteEntry(unsigned i, int c) {
    return static_cast<unsigned char>(i * 37 + c * 91);
}
unsigned char PaletteAlpha(unsigned i) {
    return static_cast<unsigned char>(i * 53);
}

// The transparent colour's samples; every fifth pixel has them.
unsigned Key(const SVariant& v, int c) {
    return (Max(v) / 3 + c) % (Max(v) + 1);
}

unsigned Sample(const SVariant& v, int x, int y, int c) {
    if ((x + 2 * y) % 5 == 0 && c < 3)
        return Key(v, c);
    const unsigned hash = (x * 7919u + y * 104729u + c * 31u) * 2654435761u >> 7;
    return v.type == kPalette ? hash % PaletteSize(v) : hash & Max(v);
}

std::string Be32(std::uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string Chunk(const char* type, const std::string& data) {
    const std::string body = type + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return Be32(static_cast<std::uint32_t>(data.size())) + body + Be32(static_cast<std::uint32_t>(crc));
}

// One row of the pass image: a filter byte (none, sub or up by row) and the
// packed samples.
std::string Row(const SVariant& v, int y, int x0, int dx, int filter, std::string& previous) {
    std::string raw;
    int bits = 0, acc = 0;
    for (int x = x0; x < v.width; x += dx)
        for (int c = 0; c < Channels(v); ++c) {
            const unsigned s = Sample(v, x, y, c);
            if (v.depth == 16)
                raw += {char(s >> 8), char(s)};
            else if (v.depth == 8)
                raw += char(s);
            else {
                acc = acc << v.depth | s;
                if ((bits += v.depth) == 8)
                    raw += char(acc), bits = acc = 0;
            }
        }
    if (bits)
        raw += char(acc << (8 - bits));
    const std::size_t bpp = std::max(1, Channels(v) * v.depth / 8);
    std::string out(1, char(filter));
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char left = i >= bpp ? raw[i - bpp] : 0, up = previous.empty() ? 0 : previous[i];
        out += char(raw[i] - (filter == 1 ? left : filter == 2 ? up : 0));
    }
    previous = raw;
    return out;
}

std::string Encode(const SVariant& v) {
    // Adam7's passes (first x, first y, x step, y step); a plain picture is one pass.
    static const int kPasses[8][4] = {{0, 0, 1, 1}, {0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                                      {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::string image;
    for (int pass = v.interlaced ? 1 : 0; pass < (v.interlaced ? 8 : 1); ++pass) {
        const int* p = kPasses[pass];
        std::string previous;
        for (int y = p[1]; y < v.height && p[0] < v.width; y += p[3])
            image += Row(v, y, p[0], p[2], y % 3, previous);
    }
    std::string packed(compressBound(static_cast<uLong>(image.size())), '\0');
    uLongf size = static_cast<uLongf>(packed.size());
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(image.data()),
             static_cast<uLong>(image.size()));
    packed.resize(size);

    std::string png = "\x89PNG\r\n\x1A\n";
    png += Chunk("IHDR",
                 Be32(v.width) + Be32(v.height) + std::string{char(v.depth), char(v.type), 0, 0, char(v.interlaced)});
    if (v.type == kPalette) {
        std::string plte, trns;
        for (unsigned i = 0; i < PaletteSize(v); ++i) {
            plte += {char(PaletteEntry(i, 0)), char(PaletteEntry(i, 1)), char(PaletteEntry(i, 2))};
            trns += char(PaletteAlpha(i));
        }
        png += Chunk("PLTE", plte);
        if (v.transparent)
            png += Chunk("tRNS", trns.substr(0, trns.size() / 2));  // the later entries stay opaque
    } else if (v.transparent) {
        std::string key;
        for (int c = 0; c < (v.type == kRgb ? 3 : 1); ++c)
            key += {char(Key(v, c) >> 8), char(Key(v, c))};
        png += Chunk("tRNS", key);
    }
    return png + Chunk("IDAT", packed) + Chunk("IEND", "");
}

// What the picture must show: 8-bit samples rounded from 16, transparency onto white.
std::vector<unsigned char> Expected(const SVariant& v) {
    auto to8 = [&](unsigned s) { return v.depth == 16 ? (s * 255 + 32767) / 65535 : s * 255 / Max(v); };
    auto onWhite = [](unsigned c, unsigned a) { return (c * a + 255 * (255 - a) + 127) / 255; };
    std::vector<unsigned char> rgb;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x) {
            unsigned s[4], out[3];
            for (int c = 0; c < Channels(v); ++c)
                s[c] = Sample(v, x, y, c);
            bool keyed = v.transparent && v.type != kPalette;
            for (int c = 0; c < Channels(v); ++c)
                keyed = keyed && s[c] == Key(v, c);
            for (int c = 0; c < 3; ++c)
                if (v.type == kPalette)
                    out[c] = onWhite(PaletteEntry(s[0], c),
                                     v.transparent && s[0] < PaletteSize(v) / 2 ? PaletteAlpha(s[0]) : 255);
                else if (keyed)
                    out[c] = 255;
                else if (v.type == kGreyAlpha)
                    out[c] = onWhite(to8(s[0]), to8(s[1]));
                else if (v.type == kRgba)
                    out[c] = onWhite(to8(s[c]), to8(s[3]));
                else
                    out[c] = to8(s[v.type == kRgb ? c : 0]);
            rgb.insert(rgb.end(), out, out + 3);
        }
    return rgb;
}

const SVariant kVariants[] = {
    {kGrey, 1, false, false, 37, 21},      {kGrey, 2, true, false, 37, 21},       {kGrey, 4, false, true, 13, 9},
    {kGrey, 8, false, true, 37, 21},       {kGrey, 16, true, false, 37, 21},      {kGrey, 16, false, true, 11, 7},
    {kGreyAlpha, 8, false, false, 37, 21}, {kGreyAlpha, 16, true, false, 37, 21}, {kRgb, 8, false, false, 37, 21},
    {kRgb, 8, true, true, 37, 21},         {kRgb, 16, false, false, 37, 21},      {kRgb, 16, true, true, 3, 9},
    {kRgba, 8, false, false, 37, 21},      {kRgba, 8, true, false, 1, 1},         {kRgba, 16, true, false, 37, 21},
    {kPalette, 1, false, false, 37, 21},   {kPalette, 2, true, false, 5, 3},      {kPalette, 4, true, true, 37, 21},
    {kPalette, 8, false, true, 37, 21},    {kPalette, 8, false, false, 301, 203},
};

std::string Name(const SVariant& v) {
    return "type " + std::to_string(v.type) + " depth " + std::to_string(v.depth) +
           (v.interlaced ? " interlaced" : "") + (v.transparent ? " tRNS" : "") + " " + std::to_string(v.width) + "x" +
           std::to_string(v.height);
}

TEST(PngPlugin, AnswersItsInfo) {
    ExpectInfo(Plugin(), "*.png", Encode(kVariants[0]));
}

TEST(PngPlugin, GivesTheWrittenPixelsWithTransparencyOnWhite) {
    for (const SVariant& v : kVariants) {
        SCOPED_TRACE(Name(v));
        const SDecoded d = Decode(Encode(v));
        ASSERT_EQ(kSpiOk, d.result);
        ASSERT_EQ("", Insane(d));
        // Grey and palette pictures keep one byte a pixel, with a colour table.
        EXPECT_EQ(v.type == kRgb || v.type == kRgba ? 24 : 8, d.header.biBitCount);
        EXPECT_EQ(v.width, d.header.biWidth);
        EXPECT_TRUE(Expected(v) == Rgb(d));
    }
}

// Each chunk's CRC made right again, so that a mutation reaches the decoder.
std::string WithCrcs(std::string png) {
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = std::size_t(std::uint8_t(png[at])) << 24 | std::uint8_t(png[at + 1]) << 16 |
                                   std::uint8_t(png[at + 2]) << 8 | std::uint8_t(png[at + 3]);
        if (length > png.size() - at - 12)
            break;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(&png[at + 4]), static_cast<uInt>(length + 4));
        png.replace(at + 8 + length, 4, Be32(static_cast<std::uint32_t>(crc)));
        at += length + 12;
    }
    return png;
}

// The header's width and height set to other values.
std::string WithSize(const SVariant& v, std::uint32_t width, std::uint32_t height) {
    std::string png = Encode(v);
    png.replace(16, 8, Be32(width) + Be32(height));
    return WithCrcs(png);
}

TEST(PngPlugin, RejectsHugeAndEmptySizesAndBrokenFiles) {
    const SVariant rgb = kVariants[8];
    std::string badCrc = Encode(rgb);
    badCrc[29] ^= 1;
    const std::string whole = Encode(rgb);
    const std::string cases[] = {
        WithSize(rgb, 65536, 1),
        WithSize(rgb, 20000, 20000),  // over a side, over 1 GiB of rows
        WithSize(rgb, 0, 5),
        badCrc,                              // no pixels, a header that lies
        whole.substr(0, whole.size() - 30),  // image data cut short
        "P6 1 1 255\n\1\2\3",
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(fuzz::Hex(c, 40));
        const SDecoded d = Decode(c);
        EXPECT_EQ(kSpiUnknownFormat, d.result);
        EXPECT_FALSE(d.handlesLeft);
    }
}

TEST(PngPlugin, MutatedFilesAreRejectedOrDecodedSanely) {
    std::vector<std::string> corpus;
    for (const SVariant& v : kVariants)
        if (v.width < 100)
            corpus.push_back(Encode(v));
    FuzzPlugin(Plugin(), "png", 9300, 1500, corpus);
    FuzzPlugin(Plugin(), "png with right CRCs", 9300, 1500, corpus, WithCrcs);
}

TEST(PngPlugin, FourThreadsGiveTheSamePixelsAsOne) {
    ExpectSameInFourThreads(Plugin(), Encode({kRgba, 16, true, false, 301, 203}));
}

TEST(PngPlugin, ProgressReachesTheEndAndAStopAnswerEndsTheDecode) {
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced);
        ExpectProgressAndStop(Plugin(), Encode({kRgba, 8, interlaced, false, 40, 300}));
    }
}

}  // namespace
