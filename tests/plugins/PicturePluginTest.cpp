// The contract our picture plug-ins keep, run against each through its exports.
// Each brings pictures with the pixels they must show (make_pictures.py writes
// most), damaged files and the seeds of its mutations.
#include <windows.h>

#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <future>
#include <vector>

#include "PicturePlugin.h"
#include "jpeglib.h"

namespace plugtest {
namespace {

struct CPlugin : CDll {
    using CDll::CDll;
    SPI_GetPluginInfo info = Find<SPI_GetPluginInfo>("GetPluginInfo");
    SPI_IsSupported isSupported = Find<SPI_IsSupported>("IsSupported");
    SPI_GetPictureInfo getPictureInfo = Find<SPI_GetPictureInfo>("GetPictureInfo");
    SPI_GetPicture getPicture = Find<SPI_GetPicture>("GetPicture");
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

// What the host sees.
struct SDecoded {
    std::vector<int> head;           // GetPictureInfo's result, width, height and depth
    int result = -99;                // GetPicture's
    std::vector<int> shape;          // width, height and depth of the picture handed over
    std::vector<unsigned char> rgb;  // its pixels, top-down red, green, blue
    std::string insane;              // what its blocks hold that the header does not claim
    bool handlesLeft = false;        // a failed call handed out a handle
};

// GetPictureInfo and GetPicture on the file in memory or, given a path, from
// offset 4 of that file; what GetPicture handed over read back and freed. A
// palette has an entry for every pixel value; bits past a row's pixels are 0.
SDecoded Decode(const CPlugin& plugin, const std::string& file, const char* path = nullptr,
                SPI_PROGRESS progress = nullptr, LONG_PTR data = 0) {
    const CGuarded input(file);
    const LPCSTR buf = path ? path : input.data();
    const LONG_PTR len = path ? 4 : static_cast<LONG_PTR>(file.size());
    const unsigned flag = path ? 0u : kSpiInputMemory;
    LONG head[8] = {};  // left, top, width, height; then densities, depth and a handle, byte-packed
    SDecoded d;
    d.head = {plugin.getPictureInfo(buf, len, flag, head), head[2], head[3], reinterpret_cast<const short*>(head)[10]};
    HLOCAL info = nullptr, bits = nullptr;
    d.result = plugin.getPicture(buf, len, flag, &info, &bits, progress, data);
    esl::UniqueLocal infoOwner(info), bitsOwner(bits);
    d.handlesLeft = d.result != kSpiOk && (info || bits);
    esl::LocalLockGuard<BITMAPINFOHEADER> header(info);
    esl::LocalLockGuard<unsigned char> pixels(bits);
    if (d.result != kSpiOk)
        return d;
    const BITMAPINFOHEADER h = header.get() ? *header.get() : BITMAPINFOHEADER{};
    const std::size_t stride = (std::size_t(h.biWidth) * h.biBitCount + 31) / 32 * 4,
                      used = (std::size_t(h.biWidth) * h.biBitCount + 7) / 8;
    d.shape = {h.biWidth, h.biHeight, h.biBitCount};
    if (!pixels.get() || h.biSize != 40 || h.biWidth <= 0 || h.biHeight <= 0 || h.biCompression != BI_RGB ||
        (h.biBitCount != 1 && h.biBitCount != 8 && h.biBitCount != 24))
        d.insane = "bad header";
    else if (h.biBitCount <= 8 && (::LocalSize(info) - sizeof(h)) / sizeof(RGBQUAD) < (1u << h.biBitCount))
        d.insane = "short colour table";
    else if (::LocalSize(bits) < stride * h.biHeight)
        d.insane = "short pixel block";
    const RGBQUAD* colours = reinterpret_cast<const RGBQUAD*>(header.get() + 1);
    for (LONG y = h.biHeight - 1; y >= 0 && d.insane.empty(); --y) {
        const unsigned char* row = pixels.get() + stride * y;
        for (LONG x = 0; x < h.biWidth; ++x) {
            const RGBQUAD q = h.biBitCount == 24  ? RGBQUAD{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0}
                              : h.biBitCount == 8 ? colours[row[x]]
                                                  : colours[(row[x / 8] >> (7 - x % 8)) & 1];
            d.rgb.insert(d.rgb.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
        }
        if ((row[used - 1] & ((1u << (used * 8 - std::size_t(h.biWidth) * h.biBitCount)) - 1)) ||
            std::any_of(row + used, row + stride, [](unsigned char b) { return b; }))
            d.insane = "padding not zero";
    }
    return d;
}

// A file of the build's pictures folder (make_pictures.py).
std::string ReadPicture(const std::string& name) {
    return ReadFile(std::string(VELK58_PICTURES) + "/" + name);
}

// One picture of a plug-in and what it must show.
struct SPixels {
    std::string label, file;
    int width, height, bitCount;
    std::vector<unsigned char> rgb;  // top-down red, green, blue
    int tolerance = 0;               // how far off a sample may be
};

// The file with the pixels of a PAM of red, green, blue and opacity, samples
// of one or two bytes: rounded to 8 bits, alpha on white.
SPixels Reference(const std::string& label, std::string file, const std::string& picture, int bitCount) {
    const std::string pam = ReadPicture(picture);
    std::istringstream in(pam);
    std::string word;
    std::map<std::string, std::string> head;
    for (in >> word; in >> word && word != "ENDHDR";)
        in >> head[word];
    SPixels px{label, std::move(file), std::stoi(head["WIDTH"]), std::stoi(head["HEIGHT"]), bitCount, {}};
    const unsigned maxval = std::stoi(head["MAXVAL"]), bytes = maxval > 255 ? 2 : 1;
    const std::size_t start = static_cast<std::size_t>(in.tellg()) + 1;
    EXPECT_EQ(pam.size(), start + std::size_t(4) * bytes * px.width * px.height) << picture;
    for (std::size_t at = start; at + 4 * bytes <= pam.size(); at += 4 * bytes) {
        unsigned s[4];
        for (unsigned c = 0; c < 4; ++c) {
            const unsigned char* b = reinterpret_cast<const unsigned char*>(&pam[at + bytes * c]);
            s[c] = static_cast<unsigned>(std::lround((bytes == 2 ? b[0] << 8 | b[1] : b[0]) * 255.0 / maxval));
        }
        for (unsigned c = 0; c < 3; ++c)
            px.rgb.push_back((s[c] * s[3] + 255 * (255 - s[3]) + 127) / 255);
    }
    return px;
}

// A plug-in and what it brings to the contract.
struct SFormat {
    CPlugin plugin;
    const char* filter;
    std::vector<SPixels> pictures{};    // the first also read from a file
    std::vector<std::string> corpus{};  // seeds of the mutations
    std::vector<std::string> broken{};  // damaged or cut short
    std::function<std::string(std::uint32_t width, std::uint32_t height)> withSize{};  // a file claiming that size
    std::string (*repair)(std::string) = nullptr;  // lets mutations reach deeper (checksums made right)

    // Pictures named by a list: a file, the picture it holds and, for an
    // animation's first frame, the canvas and its place on it; the rest white.
    void AddListed(const std::string& list, int (*bitCount)(const std::string&)) {
        std::istringstream lines(ReadPicture(list));
        for (std::string line, file, picture; std::getline(lines, line);) {
            std::istringstream in(line);
            int width = 0, height = 0, x = 0, y = 0;
            in >> file >> picture >> width >> height >> x >> y;
            SPixels px = Reference(file, ReadPicture(file), picture, bitCount(file));
            if (width > 0) {
                std::vector<unsigned char> canvas(std::size_t(3) * width * height, 255);
                for (int row = 0; row < px.height; ++row)
                    std::copy_n(&px.rgb[std::size_t(3) * px.width * row], 3 * px.width,
                                &canvas[3 * (std::size_t(width) * (y + row) + x)]);
                px = SPixels{px.label, px.file, width, height, px.bitCount, canvas};
            }
            if (px.file.size() < (std::size_t(128) << 10))
                corpus.push_back(px.file);
            pictures.push_back(std::move(px));
        }
    }
};

// Netpbm: every kind, plain and raw, samples up to 65535; bitmaps with a
// two-entry colour table. Refused (one per '|'): a number too long, a picture
// larger than its data, a row cut short, a comment for a sample, maxval 0 or
// over 65535, a bit 2, no raster separator, a sample over 65535, P7, no raster.
SFormat Pnm() {
    using namespace std::string_literals;
    SFormat f{CPlugin(VELK58_PNM_PLUGIN), "*.pnm;*.pbm;*.pgm;*.ppm"};
    f.AddListed("pnms.txt", [](const std::string& file) { return file[1] == '1' || file[1] == '4' ? 1 : 24; });
    std::istringstream broken(
        "P6 99999999999999999999999 1 255 |P6 1000 1000 255 \1\2\3|P5 2 2 255 \1\2\3|"
        "P2 2 2 255 1 2 3|P2 1 1 255 #only a comment|P5 1 1 0 \0|P5 1 1 65536 \0\0|"
        "P1 3 1 0 2 1|P5 1 1 255x\0|P3 1 1 255 1 2 99999|P7 1 1 255 \0|P6 1 1 255"s);
    for (std::string c; std::getline(broken, c, '|');)
        f.broken.push_back(c);
    f.withSize = [](std::uint32_t width, std::uint32_t height) {
        return "P5 " + std::to_string(width) + " " + std::to_string(height) + " 255\n" + std::string(64, 'x');
    };
    return f;
}

// The stored picture as shown under an EXIF orientation (make_pictures.py adds it).
SPixels Oriented(const SPixels& stored, unsigned o) {
    const int w = stored.width, h = stored.height, turned = o >= 5;
    const std::string name = "c420_o" + std::to_string(o) + ".jpg";
    SPixels px{name, ReadPicture(name), turned ? h : w, turned ? w : h, 24, {}};
    for (int v = 0; v < px.height; ++v)
        for (int u = 0; u < px.width; ++u) {
            // Where the shown pixel (u, v) comes from in the stored picture.
            const int from[9][2] = {{0, 0},         {u, v}, {w - 1 - u, v}, {w - 1 - u, h - 1 - v},
                                    {u, h - 1 - v}, {v, u}, {v, h - 1 - u}, {w - 1 - v, h - 1 - u},
                                    {w - 1 - v, u}};
            const unsigned char* rgb = &stored.rgb[3 * (std::size_t(from[o][1]) * w + from[o][0])];
            px.rgb.insert(px.rgb.end(), rgb, rgb + 3);
        }
    return px;
}

// Blocks of one ink each (cyan, magenta, yellow, black; 255 full) side by
// side, at the highest quality, yet lossy; Adobe's files hold the inks inverted.
SPixels CmykPicture(bool adobe) {
    static const unsigned char kInks[6][4] = {{0, 0, 0, 0},   {255, 0, 0, 0}, {0, 255, 0, 0},
                                              {0, 0, 255, 0}, {0, 0, 0, 255}, {40, 90, 160, 30}};
    SPixels px{adobe ? "Adobe CMYK" : "CMYK", "", 16 * 6, 16, 24, {}, 3};
    std::vector<unsigned char> row;
    for (int x = 0; x < px.width; ++x)
        for (int c = 0; c < 4; ++c)
            row.push_back(adobe ? 255 - kInks[x / 16][c] : kInks[x / 16][c]);
    for (int i = 0; i < px.width * px.height * 3; ++i)
        px.rgb.push_back((255 - kInks[i / 48 % 6][i % 3]) * (255 - kInks[i / 48 % 6][3]) / 255);
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = px.width;
    c.image_height = px.height;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_CMYK);
    jpeg_set_quality(&c, 100, TRUE);
    c.write_Adobe_marker = adobe;
    jpeg_start_compress(&c, TRUE);
    for (JSAMPROW r = row.data(); c.next_scanline < c.image_height;)
        jpeg_write_scanlines(&c, &r, 1);
    jpeg_finish_compress(&c);
    px.file.assign(reinterpret_cast<char*>(out), size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return px;
}

// JPEG: the reference decoder's pixels (subsampled, progressive, restarts, grey
// through a grey colour table), every EXIF orientation, CMYK; no rows.
SFormat Jpeg() {
    SFormat f{CPlugin(VELK58_JPEG_PLUGIN), "*.jpg;*.jpeg;*.jpe;*.jfif"};
    f.AddListed("jpegs.txt", [](const std::string& file) { return file == "grey.jpg" ? 8 : 24; });
    for (unsigned o = 1; o <= 8; ++o)
        f.pictures.push_back(Oriented(f.pictures[0], o));
    f.pictures.push_back(CmykPicture(false));
    f.pictures.push_back(CmykPicture(true));
    f.corpus.insert(f.corpus.end(), {f.pictures[5 + 6].file, f.pictures.back().file});  // orientation 6, Adobe
    f.broken = {f.pictures[0].file.substr(0, 200)};
    // The frame header's height and width set to other values.
    f.withSize = [jpeg = f.pictures[0].file](std::uint32_t width, std::uint32_t height) {
        const char size[4] = {char(height >> 8), char(height), char(width >> 8), char(width)};
        return std::string(jpeg).replace(jpeg.find("\xFF\xC0") + 5, 4, size, 4);
    };
    return f;
}

// Each chunk's CRC made right again, so that a mutation reaches the decoder.
std::string WithCrcs(std::string png) {
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = std::size_t(std::uint8_t(png[at])) << 24 | std::uint8_t(png[at + 1]) << 16 |
                                   std::uint8_t(png[at + 2]) << 8 | std::uint8_t(png[at + 3]);
        if (length > png.size() - at - 12)
            break;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(&png[at + 4]), static_cast<uInt>(length + 4));
        png.replace(at + 8 + length, 4, {char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc)});
        at += length + 12;
    }
    return png;
}

// PNG: every colour type and depth, interlaced or not, opacities and
// transparent colours on white; grey and palette through a colour table. A
// header that fails its CRC; image data cut short.
SFormat Png() {
    SFormat f{CPlugin(VELK58_PNG_PLUGIN), "*.png"};
    f.AddListed("pngs.txt", [](const std::string& file) { return file.compare(0, 3, "rgb") ? 8 : 24; });
    const std::string rgb = ReadPicture("rgb8_37x21.png");
    f.broken = {rgb.substr(0, 29) + char(rgb[29] ^ 1) + rgb.substr(30), rgb.substr(0, rgb.size() - 30)};
    f.withSize = [rgb](std::uint32_t width, std::uint32_t height) {
        const char size[8] = {char(width >> 24),  char(width >> 16),  char(width >> 8),  char(width),
                              char(height >> 24), char(height >> 16), char(height >> 8), char(height)};
        return WithCrcs(std::string(rgb).replace(16, 8, size, 8));
    };
    f.repair = WithCrcs;
    return f;
}

// WebP: the reference decoder's pixels, lossy and lossless, alpha on white,
// an animation's first frame on its canvas; files cut short.
SFormat Webp() {
    SFormat f{CPlugin(VELK58_WEBP_PLUGIN), "*.webp"};
    f.AddListed("webps.txt", [](const std::string&) { return 24; });
    const std::string& lossy = f.pictures[0].file;
    f.broken = {lossy.substr(0, lossy.size() / 2), lossy.substr(0, 30), std::string("RIFF\4\0\0\0WEBP", 12)};
    // The extended header's canvas set to another size (stored less one, 24 bits each).
    f.withSize = [webp = f.pictures[4].file](std::uint32_t width, std::uint32_t height) {
        std::string file = webp;
        for (int i = 0; i < 3; ++i) {
            file[24 + i] = static_cast<char>((width - 1) >> (8 * i));
            file[27 + i] = static_cast<char>((height - 1) >> (8 * i));
        }
        return file;
    };
    return f;
}

class PictureContract : public testing::TestWithParam<const char*> {
protected:
    const SFormat& F() const {  // each made once, on first use
        static const std::map<std::string, SFormat (*)()> kMake = {
            {"Pnm", Pnm}, {"Jpeg", Jpeg}, {"Png", Png}, {"Webp", Webp}};
        static std::map<std::string, SFormat> made;
        auto it = made.find(GetParam());
        return it != made.end() ? it->second : made.emplace(GetParam(), kMake.at(GetParam())()).first->second;
    }
    const CPlugin& P() const { return F().plugin; }
};

INSTANTIATE_TEST_SUITE_P(Plugins, PictureContract, testing::Values("Pnm", "Jpeg", "Png", "Webp"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST_P(PictureContract, AnswersItsInfoAndClaimsItsHeads) {
    char buf[64];
    EXPECT_EQ(4, P().info(0, buf, sizeof(buf)));
    EXPECT_STREQ("00IN", buf);
    P().info(2, buf, sizeof(buf));
    EXPECT_STREQ(F().filter, buf);
    EXPECT_EQ(0, P().info(4, buf, sizeof(buf)));
    EXPECT_EQ(3, P().info(2, buf, 4));  // cut short, still terminated
    EXPECT_EQ(std::string(F().filter, 3), buf);
    std::string head = F().pictures[0].file.substr(0, 2048);
    head.resize(2048);
    EXPECT_NE(0, P().isSupported("a", &head[0]));
    head[1] ^= 0x55;
    EXPECT_EQ(0, P().isSupported("a", &head[0]));
}

TEST_P(PictureContract, GivesEachPicturesSizeDepthAndPixels) {
    auto expect = [](const SPixels& px, const SDecoded& d) {
        EXPECT_EQ((std::vector<int>{kSpiOk, px.width, px.height, px.bitCount}), d.head);
        ASSERT_EQ(kSpiOk, d.result);
        ASSERT_EQ("", d.insane);
        EXPECT_EQ((std::vector<int>{px.width, px.height, px.bitCount}), d.shape);
        EXPECT_TRUE(px.rgb.size() == d.rgb.size() &&
                    std::equal(px.rgb.begin(), px.rgb.end(), d.rgb.begin(),
                               [&](int a, int b) { return std::abs(a - b) <= px.tolerance; }));
    };
    for (const SPixels& px : F().pictures) {
        SCOPED_TRACE(px.label);
        expect(px, Decode(P(), px.file));
    }
    const std::string path = std::string(VELK58_PICTURES) + "/at4-" + GetParam();
    std::ofstream(path, std::ios::binary) << "junk" << F().pictures[0].file;
    SCOPED_TRACE("from a file");
    expect(F().pictures[0], Decode(P(), "", path.c_str()));
}

// Over a side, over 1 GiB of rows, no pixels: refused by GetPictureInfo too.
TEST_P(PictureContract, RejectsDamagedAndHostileFilesHandingOutNothing) {
    std::vector<std::string> cases = {F().withSize(65536, 1), F().withSize(20000, 20000), F().withSize(0, 5)};
    for (const std::string& c : cases)
        EXPECT_EQ(kSpiUnknownFormat, Decode(P(), c).head[0]) << fuzz::Hex(c, 40);
    cases.insert(cases.end(), F().broken.begin(), F().broken.end());
    cases.push_back("GIF89a\1\2\3\4");  // another format
    for (const std::string& c : cases) {
        const SDecoded d = Decode(P(), c);
        EXPECT_EQ(kSpiUnknownFormat, d.result) << fuzz::Hex(c, 40);
        EXPECT_FALSE(d.handlesLeft);
    }
}

// Progress rises between row blocks to its end; a stop answer ends the decode
// at once, handing out nothing. Four threads at once get the same pixels.
TEST_P(PictureContract, TallPicturesReportProgressStopAndDecodeInFourThreads) {
    for (const SPixels& px : F().pictures) {
        if (px.height <= 2 * 64)
            continue;
        SCOPED_TRACE(px.label);
        SCalls run = {0, 0, -1, 0, false}, stop = {0, 2, -1, 0, false};
        EXPECT_EQ(kSpiOk, Decode(P(), px.file, nullptr, CountCalls, reinterpret_cast<LONG_PTR>(&run)).result);
        EXPECT_TRUE(run.count > 2 && !run.falling && run.lastNum == run.denom);
        const SDecoded d = Decode(P(), px.file, nullptr, CountCalls, reinterpret_cast<LONG_PTR>(&stop));
        EXPECT_EQ(kSpiAborted, d.result);
        EXPECT_FALSE(d.handlesLeft);
        EXPECT_EQ(2, stop.count);
        std::vector<std::future<bool>> same;
        for (int t = 0; t < 4; ++t)
            same.push_back(std::async(std::launch::async, [&] { return Decode(P(), px.file).rgb == px.rgb; }));
        for (auto& s : same)
            EXPECT_TRUE(s.get());
    }
}

std::size_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof(counters));
    return counters.PrivateUsage;
}

// Mutations of the corpus, as they are and repaired: each rejected handing out
// nothing, or a sane picture of the size GetPictureInfo gives; no memory kept.
TEST_P(PictureContract, MutatedFilesAreRejectedOrDecodedSanely) {
    std::size_t before = 0;
    for (int repaired = 0; repaired < (F().repair ? 2 : 1); ++repaired) {
        const fuzz::Report report =
            fuzz::Run(GetParam(), 5800, 1500, F().corpus, [&](const std::string& input) -> std::string {
                if (before == 0)
                    before = CommittedBytes();  // after the first call has set up what stays
                const SDecoded d = Decode(P(), repaired ? F().repair(input) : input);
                if (d.handlesLeft || (d.result != kSpiOk && d.result != kSpiUnknownFormat))
                    return "result " + std::to_string(d.result) + (d.handlesLeft ? " with a handle" : "");
                if (d.result == kSpiOk && d.head != std::vector<int>{kSpiOk, d.shape[0], d.shape[1], d.shape[2]})
                    return "GetPictureInfo differs";
                return d.insane;
            });
        EXPECT_TRUE(report.inputs >= 1000 && report.failures == 0);
    }
    EXPECT_LT(CommittedBytes(), before + (std::size_t(64) << 20)) << "memory grew over the run";
}

}  // namespace
}  // namespace plugtest
