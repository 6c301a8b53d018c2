// The WebP plug-in against the reference decoder's pixels (dwebp, run at build
// time on files cwebp, img2webp and webpmux made), alpha onto white, the
// first frame of animations, and hostile files.
#include <string>
#include <vector>

#include "PicturePlugin.h"

namespace {

using namespace plugtest;

const CPlugin& Plugin() {
    static CPlugin plugin(VELK58_WEBP_PLUGIN);
    return plugin;
}

std::string Picture(const std::string& name) {
    return std::string(VELK58_PICTURES) + "/" + name;
}

SDecoded Decode(const std::string& file) {
    return plugtest::Decode(Plugin(), file);
}

const char* const kCoded[] = {"lossy", "lossless", "alpha_lossy", "alpha_lossless"};

TEST(WebpPlugin, AnswersItsInfo) {
    ExpectInfo(Plugin(), "*.webp", ReadFile(Picture("lossy.webp")));
}

// The reference's pixels with their alpha put onto white.
SReference OnWhite(const std::string& name) {
    SReference r = ReadReference(Picture(name));
    for (std::size_t i = 0; i < r.alpha.size(); ++i)
        for (int c = 0; c < 3; ++c) {
            unsigned char& v = r.rgb[3 * i + c];
            v = static_cast<unsigned char>((v * r.alpha[i] + 255 * (255 - r.alpha[i]) + 127) / 255);
        }
    return r;
}

// A white canvas with the frame at (x, y).
std::vector<unsigned char> OnCanvas(const SReference& frame, int width, int height, int x, int y) {
    std::vector<unsigned char> canvas(std::size_t(3) * width * height, 255);
    for (int row = 0; row < frame.height; ++row)
        std::copy_n(&frame.rgb[std::size_t(3) * frame.width * row], 3 * frame.width,
                    &canvas[3 * (std::size_t(width) * (y + row) + x)]);
    return canvas;
}

TEST(WebpPlugin, GivesTheReferenceDecodersPixelsWithAlphaOnWhite) {
    for (const std::string name : kCoded) {
        SCOPED_TRACE(name);
        const SReference expected = OnWhite(name + ".webp.pnm");
        const SDecoded d = Decode(ReadFile(Picture(name + ".webp")));
        ASSERT_EQ(kSpiOk, d.result);
        ASSERT_EQ("", Insane(d));
        EXPECT_EQ(expected.width, d.header.biWidth);
        EXPECT_EQ(expected.height, d.header.biHeight);
        EXPECT_TRUE(expected.rgb == Rgb(d));
    }
}

TEST(WebpPlugin, ShowsTheFirstFrameOfAnAnimationOnItsCanvas) {
    const SDecoded whole = Decode(ReadFile(Picture("animated.webp")));
    ASSERT_EQ(kSpiOk, whole.result);
    EXPECT_TRUE(ReadReference(Picture("frame1.ppm")).rgb == Rgb(whole));

    // A 32 x 24 first frame at (8, 6) of a 64 x 48 canvas; the rest is white.
    const SDecoded offset = Decode(ReadFile(Picture("offset.webp")));
    ASSERT_EQ(kSpiOk, offset.result);
    EXPECT_EQ(64, offset.header.biWidth);
    EXPECT_TRUE(OnCanvas(ReadReference(Picture("small.ppm")), 64, 48, 8, 6) == Rgb(offset));

    // Lossy with alpha, its first frame cut to the visible part: where the
    // frame header puts it (offsets stored halved, 24 bits each).
    const std::string animated = ReadFile(Picture("animated_alpha.webp"));
    const std::size_t frame = animated.find("ANMF") + 8;
    auto at = [&](std::size_t i) {
        return 2 *
               (std::uint8_t(animated[i]) | std::uint8_t(animated[i + 1]) << 8 | std::uint8_t(animated[i + 2]) << 16);
    };
    const SDecoded alpha = Decode(animated);
    ASSERT_EQ(kSpiOk, alpha.result);
    ASSERT_EQ(157, alpha.header.biWidth);
    EXPECT_TRUE(OnCanvas(OnWhite("animated_alpha.webp.pnm"), 157, 93, at(frame), at(frame + 3)) == Rgb(alpha));
}

// The extended header's canvas set to another size (stored less one, 24 bits each).
std::string WithCanvas(std::string webp, unsigned width, unsigned height) {
    for (int i = 0; i < 3; ++i) {
        webp[24 + i] = static_cast<char>((width - 1) >> (8 * i));
        webp[27 + i] = static_cast<char>((height - 1) >> (8 * i));
    }
    return webp;
}

TEST(WebpPlugin, RejectsHugeCanvasesAndBrokenFiles) {
    const std::string animated = ReadFile(Picture("animated.webp")), lossy = ReadFile(Picture("lossy.webp"));
    const std::string cases[] = {
        WithCanvas(animated, 70000, 64),
        WithCanvas(animated, 20000, 20000),  // over a side, over 1 GiB of rows
        lossy.substr(0, lossy.size() / 2),
        lossy.substr(0, 30),  // cut short
        "RIFF\4\0\0\0WEBP",
        "P6 1 1 255\n\1\2\3",
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(fuzz::Hex(c, 40));
        const SDecoded d = Decode(c);
        EXPECT_EQ(kSpiUnknownFormat, d.result);
        EXPECT_FALSE(d.handlesLeft);
    }
}

TEST(WebpPlugin, MutatedFilesAreRejectedOrDecodedSanely) {
    std::vector<std::string> corpus;
    for (const std::string name :
         {"lossy", "lossless", "alpha_lossy", "alpha_lossless", "animated", "offset", "animated_alpha"})
        corpus.push_back(ReadFile(Picture(name + ".webp")));
    FuzzPlugin(Plugin(), "webp", 4400, 1500, corpus);
}

TEST(WebpPlugin, FourThreadsGiveTheSamePixelsAsOne) {
    for (const char* name : {"lossy.webp", "alpha_lossless.webp"}) {
        SCOPED_TRACE(name);
        ExpectSameInFourThreads(Plugin(), ReadFile(Picture(name)));
    }
}

TEST(WebpPlugin, ProgressReachesTheEndAndAStopAnswerEndsTheDecode) {
    for (const char* name : {"lossy.webp", "lossless.webp"}) {
        SCOPED_TRACE(name);
        ExpectProgressAndStop(Plugin(), ReadFile(Picture(name)));
    }
}

}  // namespace
