// The JPEG plug-in against the reference decoder's pixels (djpeg, run at build
// time on files cjpeg made), EXIF orientations, CMYK written here, and
// hostile files.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PicturePlugin.h"
#include "jpeglib.h"

namespace {

using namespace plugtest;

const CPlugin& Plugin() {
    static CPlugin plugin(VELK58_JPEG_PLUGIN);
    return plugin;
}

std::string Picture(const std::string& name) {
    return std::string(VELK58_PICTURES) + "/" + name;
}

SDecoded Decode(const std::string& file) {
    return plugtest::Decode(Plugin(), file);
}

const char* const kCoded[] = {"c444", "c422", "c420", "progressive", "restarts", "grey"};

TEST(JpegPlugin, AnswersItsInfo) {
    ExpectInfo(Plugin(), "*.jpg;*.jpeg;*.jpe;*.jfif", ReadFile(Picture("c420.jpg")));
}

TEST(JpegPlugin, GivesTheReferenceDecodersPixels) {
    for (const std::string name : kCoded) {
        SCOPED_TRACE(name);
        const SReference expected = ReadReference(Picture(name + ".jpg.pnm"));
        const SDecoded d = Decode(ReadFile(Picture(name + ".jpg")));
        ASSERT_EQ(kSpiOk, d.result);
        ASSERT_EQ("", Insane(d));
        EXPECT_EQ(name == "grey" ? 8 : 24, d.header.biBitCount);  // grey through a grey colour table
        EXPECT_EQ(expected.width, d.header.biWidth);
        EXPECT_EQ(expected.height, d.header.biHeight);
        EXPECT_TRUE(expected.rgb == Rgb(d));
    }
}

// An APP1 segment whose first IFD holds another tag, then the orientation.
std::string WithOrientation(const std::string& jpeg, unsigned orientation, bool bigEndian) {
    auto u16 = [&](unsigned v) {
        return bigEndian ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
    };
    auto u32 = [&](unsigned v) { return bigEndian ? u16(v >> 16) + u16(v) : u16(v) + u16(v >> 16); };
    const std::string tiff = (bigEndian ? "MM" : "II") + u16(42) + u32(8) + u16(2) +  // header, two entries
                             u16(0x010F) + u16(2) + u32(4) + "abc" + '\0' +           // maker, text in place
                             u16(0x0112) + u16(3) + u32(1) + u16(orientation) + u16(0) + u32(0);
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    const unsigned length = static_cast<unsigned>(body.size() + 2);
    return jpeg.substr(0, 2) + "\xFF\xE1" + char(length >> 8) + char(length) + body + jpeg.substr(2);
}

TEST(JpegPlugin, TurnsAndMirrorsByTheExifOrientation) {
    const SReference stored = ReadReference(Picture("c420.jpg.pnm"));
    const std::string jpeg = ReadFile(Picture("c420.jpg"));
    const int w = stored.width, h = stored.height;
    for (unsigned o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        // Where each shown pixel (u, v) comes from in the stored picture.
        const bool turned = o >= 5;
        std::vector<unsigned char> expected;
        for (int v = 0; v < (turned ? w : h); ++v)
            for (int u = 0; u < (turned ? h : w); ++u) {
                const int from[9][2] = {{0, 0},         {u, v}, {w - 1 - u, v}, {w - 1 - u, h - 1 - v},
                                        {u, h - 1 - v}, {v, u}, {v, h - 1 - u}, {w - 1 - v, h - 1 - u},
                                        {w - 1 - v, u}};
                const unsigned char* px = &stored.rgb[3 * (std::size_t(from[o][1]) * w + from[o][0])];
                expected.insert(expected.end(), px, px + 3);
            }
        const SDecoded d = Decode(WithOrientation(jpeg, o, o % 2 == 0));
        ASSERT_EQ(kSpiOk, d.result);
        EXPECT_EQ(turned ? h : w, d.header.biWidth);
        EXPECT_TRUE(expected == Rgb(d));
    }
}

using Ink = std::array<unsigned char, 4>;  // cyan, magenta, yellow, black; 255 full

// Blocks of one ink each, side by side, at the highest quality; Adobe's
// files hold the inks inverted.
std::string CmykJpeg(const std::vector<Ink>& inks, bool adobe) {
    const int side = 16;
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(side * inks.size());
    c.image_height = side;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_CMYK);
    jpeg_set_quality(&c, 100, TRUE);
    c.write_Adobe_marker = adobe;
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row;
    for (const Ink& ink : inks)
        for (int x = 0; x < side; ++x)
            for (unsigned char v : ink)
                row.push_back(adobe ? 255 - v : v);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    const std::string file(reinterpret_cast<char*>(out), size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return file;
}

TEST(JpegPlugin, TurnsPlainAndAdobeCmykIntoRgb) {
    const std::vector<Ink> inks = {{0, 0, 0, 0},   {255, 0, 0, 0}, {0, 255, 0, 0},
                                   {0, 0, 255, 0}, {0, 0, 0, 255}, {40, 90, 160, 30}};
    for (bool adobe : {false, true}) {
        SCOPED_TRACE(adobe ? "Adobe" : "plain");
        const SDecoded d = Decode(CmykJpeg(inks, adobe));
        ASSERT_EQ(kSpiOk, d.result);
        ASSERT_EQ(24, d.header.biBitCount);
        const std::vector<unsigned char> rgb = Rgb(d);
        for (std::size_t i = 0; i < inks.size(); ++i)
            for (int c = 0; c < 3; ++c) {
                const int expected = (255 - inks[i][c]) * (255 - inks[i][3]) / 255;
                EXPECT_NEAR(expected, rgb[3 * (16 * i + 8) + c], 3) << "ink " << i << " channel " << c;
            }
    }
}

// The frame header's height and width set to other values.
std::string WithSize(std::string jpeg, unsigned width, unsigned height) {
    const std::size_t sof = jpeg.find("\xFF\xC0");
    const unsigned char size[4] = {static_cast<unsigned char>(height >> 8), static_cast<unsigned char>(height),
                                   static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(width)};
    jpeg.replace(sof + 5, 4, reinterpret_cast<const char*>(size), 4);
    return jpeg;
}

TEST(JpegPlugin, RejectsHugeAndEmptySizesAndForeignFiles) {
    const std::string grey = ReadFile(Picture("grey.jpg")), colour = ReadFile(Picture("c444.jpg"));
    const std::string cases[] = {
        WithSize(grey, 65500, 65500), WithSize(colour, 20000, 20000),  // over 1 GiB of rows
        WithSize(colour, 65535, 1),   WithSize(grey, 0, 10),           // over libjpeg's side, none
        grey.substr(0, 200),          "P6 1 1 255\n\1\2\3",            // no rows, not a JPEG
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(fuzz::Hex(c, 16));
        const SDecoded d = Decode(c);
        EXPECT_EQ(kSpiUnknownFormat, d.result);
        EXPECT_FALSE(d.handlesLeft);
    }
}

TEST(JpegPlugin, MutatedFilesAreRejectedOrDecodedSanely) {
    std::vector<std::string> corpus;
    for (const std::string name : kCoded)
        corpus.push_back(ReadFile(Picture(name + ".jpg")));
    corpus.push_back(WithOrientation(corpus[0], 6, true));
    corpus.push_back(CmykJpeg({{10, 20, 30, 40}, {200, 100, 0, 0}}, true));
    FuzzPlugin(Plugin(), "jpeg", 7100, 1500, corpus);
}

TEST(JpegPlugin, FourThreadsGiveTheSamePixelsAsOne) {
    ExpectSameInFourThreads(Plugin(), ReadFile(Picture("progressive.jpg")));
}

TEST(JpegPlugin, ProgressReachesTheEndAndAStopAnswerEndsTheDecode) {
    for (const char* name : {"c420.jpg", "progressive.jpg"}) {
        SCOPED_TRACE(name);
        ExpectProgressAndStop(Plugin(), ReadFile(Picture(name)));
    }
}

}  // namespace
