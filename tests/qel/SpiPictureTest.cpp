#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "esl/FileTestSupport.h"
#include "qel_exception.h"
#include "qel_picture.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "spi/spi_test.h"

namespace {

const std::string kLine458 =
    "qel_picture(458)\npSpi->GetPicture( buffer.get(), buffer.size(), 0x0001, &hBitmapInfo, &hPixelBits, "
    "reinterpret_cast<FARPROC>(CallBack), reinterpret_cast<long>(&callBackData))";

// What the test plug-in is told to hand back for one ".tpic" file.
struct PluginResult {
    int width, height, bits;
    std::vector<DWORD> colors;
    std::vector<unsigned char> pixels;
    DWORD clrUsed = 0;
    // Changes to a sound result.
    DWORD biSize = sizeof(BITMAPINFOHEADER);
    DWORD compression = BI_RGB;
    int result = 0;
    std::uint32_t flags = 0;
    std::uint32_t steps = 0;
    int infoCut = 0;  // bytes dropped from the end of the info block
};

std::string TpicFile(const PluginResult& r) {
    BITMAPINFOHEADER h{};
    h.biSize = r.biSize;
    h.biWidth = r.width;
    h.biHeight = r.height;
    h.biPlanes = 1;
    h.biBitCount = WORD(r.bits);
    h.biCompression = r.compression;
    h.biClrUsed = r.clrUsed;
    std::string info(reinterpret_cast<const char*>(&h), sizeof h);
    info.resize(std::max<size_t>(r.biSize, sizeof h), '\0');
    info.append(reinterpret_cast<const char*>(r.colors.data()), r.colors.size() * 4);
    info.resize(info.size() - size_t(r.infoCut));
    const TestPicture head{{'T', 'P', 'I', 'C'},           r.result, r.flags, std::uint32_t(info.size()),
                           std::uint32_t(r.pixels.size()), r.steps};
    return std::string(reinterpret_cast<const char*>(&head), sizeof head) + info +
           std::string(r.pixels.begin(), r.pixels.end());
}

// The process-wide registry, as the picture source uses it, with the test
// plug-in for ".tpic" files.
class SpiPicture : public ::testing::Test {
protected:
    void SetUp() override {
        qel::CSpiManager::Instance().RegisterPlugin(TestPluginPath(L"spi_test").c_str());
        ASSERT_TRUE(qel::CSpiManager::Instance().HasPicturePlugin(L"a.tpic"));
    }

    std::wstring Write(const std::string& bytes) {
        const std::string path = m_folder.File("page" + std::to_string(++m_files) + ".tpic");
        ScratchFolder::WriteBytes(path, bytes);
        return std::wstring(path.begin(), path.end());
    }

    static TestPictureTrace LastPicture() {
        HMODULE module = qel::CSpiManager::Instance().FindPicturePlugin(L"a.tpic")->Module();
        return TestPluginProc<TestLastPictureProc>(module, "TestLastPicture")();
    }

    // The source, or null after reporting why it failed.
    static std::unique_ptr<qel::CSPIPictureRsrc> Decode(const std::wstring& path) {
        try {
            return std::make_unique<qel::CSPIPictureRsrc>(path.c_str(), nullptr, nullptr);
        } catch (const qel::CException& e) {
            ADD_FAILURE() << e.Message();
        }
        return nullptr;
    }

    // The message of the failure, or "decoded".
    static std::string FailureOf(const std::wstring& path, qel::ContinueProc pfnContinue = nullptr,
                                 void* pArg = nullptr) {
        try {
            qel::CSPIPictureRsrc source(path.c_str(), pfnContinue, pArg);
        } catch (const qel::CException& e) {
            return e.Message();
        }
        return "decoded";
    }

    // Pixel (x, y) of the decoded image, y counted from the top line.
    static DWORD Pixel(const ImageBuffer* image, int x, int y) {
        DWORD value;
        std::memcpy(&value, image->ptrImage + std::ptrdiff_t(y) * image->nPitch + 4 * x, 4);
        return value;
    }

    ScratchFolder m_folder;
    int m_files = 0;
};

struct DecodeCase {
    const char* name;
    PluginResult result;
    std::vector<DWORD> expected;  // top line first
};

const DWORD kC0 = 0x11223344, kC1 = 0xA0B0C0D0, kC2 = 0x00FF0000, kC3 = 0x0000FF00;

const DecodeCase kDecodeCases[] = {
    {"24-bit width 3: rows 12 bytes apart, fourth byte 0",
     {3, 2, 24, {}, {1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE, 0xEE, 0xEE,
                     11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE}},
     {0x0D0C0B, 0x100F0E, 0x131211, 0x030201, 0x060504, 0x090807}},
    {"24-bit width 5: four pixels at once, then one",
     {5, 1, 24, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xEE}},
     {0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x0F0E0D}},
    {"1-bit width 33: pixel 32 from the top bit of the second word",
     {33, 1, 1, {kC0, kC1}, {0x80, 0x00, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00}},
     {kC1, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0,
      kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC0, kC1, kC1}},
    {"4-bit: the high half of a byte first", {3, 1, 4, {kC0, kC1, kC2, kC3}, {0x12, 0x30, 0, 0}, 4}, {kC1, kC2, kC3}},
    {"2-bit", {5, 1, 2, {kC0, kC1, kC2, kC3}, {0x1B, 0x40, 0, 0}}, {kC0, kC1, kC2, kC3, kC1}},
    {"8-bit index past biClrUsed is black", {2, 2, 8, {kC0, kC1}, {1, 5, 0, 0, 0, 1, 0, 0}, 2}, {kC0, kC1, kC1, 0}},
    {"negative height: top line first, shown upright", {1, -2, 24, {}, {1, 2, 3, 0, 4, 5, 6, 0}}, {0x030201, 0x060504}},
};

}  // namespace

TEST_F(SpiPicture, ConvertsRowsToTopDown32Bits) {
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        const auto source = Decode(Write(TpicFile(c.result)));
        ASSERT_TRUE(source);
        const ImageBuffer* image = source->GetImage();
        ASSERT_EQ(c.result.width, image->nWidth);
        ASSERT_EQ(std::abs(c.result.height), image->nHeight);
        for (int i = 0; i < int(c.expected.size()); ++i)
            EXPECT_EQ(c.expected[size_t(i)], Pixel(image, i % image->nWidth, i / image->nWidth)) << "pixel " << i;
        EXPECT_EQ(1u, source->GetFrameCount());
        EXPECT_EQ(0, source->GetFrameDelay());
    }
}

TEST_F(SpiPicture, HostileResultFailsWithTheCallAndFreesBothHandles) {
    const PluginResult good{3, 2, 24, {}, std::vector<unsigned char>(24)};
    const PluginResult good8{2, 1, 8, std::vector<DWORD>(256), std::vector<unsigned char>(4)};
    struct Case {
        const char* name;
        PluginResult result;
    };
    auto with = [](PluginResult r, auto change) {
        change(r);
        return r;
    };
    const Case cases[] = {
        {"non-zero result with handles", with(good, [](PluginResult& r) { r.result = 2; })},
        {"null info handle", with(good, [](PluginResult& r) { r.flags = kTestNullInfo; })},
        {"null pixel handle", with(good, [](PluginResult& r) { r.flags = kTestNullBits; })},
        {"pixel handle that cannot be locked", with(good, [](PluginResult& r) { r.pixels.clear(); })},
        {"info block shorter than its header", with(good, [](PluginResult& r) { r.infoCut = 1; })},
        {"biSize under 40", with(good, [](PluginResult& r) { r.biSize = 39; })},
        {"biSize past the block", with(good, [](PluginResult& r) { r.biSize = 41, r.infoCut = 1; })},
        {"compressed", with(good, [](PluginResult& r) { r.compression = BI_RLE8; })},
        {"16 bits", with(good, [](PluginResult& r) { r.bits = 16; })},
        {"32 bits", with(good, [](PluginResult& r) { r.bits = 32; })},
        {"0 bits", with(good, [](PluginResult& r) { r.bits = 0; })},
        {"width 0", with(good, [](PluginResult& r) { r.width = 0; })},
        {"negative width", with(good, [](PluginResult& r) { r.width = -3; })},
        {"height 0", with(good, [](PluginResult& r) { r.height = 0; })},
        {"height INT_MIN", with(good, [](PluginResult& r) { r.height = INT_MIN; })},
        {"pixel block one byte short", with(good, [](PluginResult& r) { r.pixels.pop_back(); })},
        {"stride times height past 32 bits", with(good, [](PluginResult& r) { r.width = r.height = 0x10000; })},
        {"colour table one entry short", with(good8, [](PluginResult& r) { r.infoCut = 4; })},
        {"biClrUsed past the block", with(good8, [](PluginResult& r) { r.clrUsed = 0x40000000; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kLine458, FailureOf(Write(TpicFile(c.result))));
        const TestPictureTrace trace = LastPicture();
        for (HLOCAL h : {trace.hInfo, trace.hBits})
            EXPECT_TRUE(!h || ::LocalFlags(h) == LMEM_INVALID_HANDLE) << "a handle was left";
    }
    // The sound results themselves decode.
    for (const PluginResult& r : {good, good8})
        EXPECT_TRUE(Decode(Write(TpicFile(r))));
}

TEST_F(SpiPicture, EmptyFileFailsBeforeThePluginRuns) {
    EXPECT_EQ("qel_picture(441)\nfileSize == 0", FailureOf(Write("")));
}

TEST_F(SpiPicture, ContinuePredicateStopsTheDecodeWithinOneCallback) {
    struct Counter {
        int answersLeft;  // true this many times, then false
        int calls;
    };
    const qel::ContinueProc countDown = [](void* pArg) {
        Counter* counter = static_cast<Counter*>(pArg);
        ++counter->calls;
        return counter->answersLeft-- > 0;
    };
    PluginResult slow{1, 1, 24, {}, {1, 2, 3, 0}};
    slow.steps = 1000;
    const std::wstring path = Write(TpicFile(slow));

    Counter stop{3, 0};
    EXPECT_EQ(kLine458, FailureOf(path, countDown, &stop));
    EXPECT_EQ(4, stop.calls);
    EXPECT_EQ(4u, LastPicture().progressCalls);

    // The argument arrives whole: a pointer cut to 32 bits would not count.
    Counter keep{INT_MAX, 0};
    qel::CSPIPictureRsrc source(path.c_str(), countDown, &keep);
    EXPECT_EQ(1000, keep.calls);
    EXPECT_EQ(0x030201u, Pixel(source.GetImage(), 0, 0));
}
