// The plug-in host: its registry, the wrappers round each call, plug-in pictures.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "PictureTestSupport.h"
#include "qel_picture.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "spi/spi_test.h"

using namespace picturetest;
using namespace std::string_literals;

namespace {

const std::string kLine458 =
    "qel_picture(458)\npSpi->GetPicture( buffer.get(), buffer.size(), 0x0001, &hBitmapInfo, &hPixelBits, "
    "reinterpret_cast<FARPROC>(CallBack), reinterpret_cast<long>(&callBackData))";

// What the test plug-in hands back for one file.
struct PluginResult {
    int width, height, bits;
    std::vector<DWORD> colors;
    std::string pixels;
    DWORD clrUsed = 0, biSize = sizeof(BITMAPINFOHEADER), compression = BI_RGB;
    int result = 0;
    std::uint32_t flags = 0, steps = 0;
    size_t infoCut = 0;  // bytes dropped from the end of the info block
};

std::string TpicFile(const PluginResult& r) {
    const BITMAPINFOHEADER h{r.biSize, r.width, r.height, 1, WORD(r.bits), r.compression, 0, 0, 0, r.clrUsed, 0};
    std::string info(reinterpret_cast<const char*>(&h), sizeof h);
    info.resize(std::max<size_t>(r.biSize, sizeof h));
    info.append(reinterpret_cast<const char*>(r.colors.data()), 4 * r.colors.size());
    info.resize(info.size() - r.infoCut);
    const TestPicture head{{'T', 'P', 'I', 'C'},           r.result, r.flags, std::uint32_t(info.size()),
                           std::uint32_t(r.pixels.size()), r.steps};
    return std::string(reinterpret_cast<const char*>(&head), sizeof head) + info + r.pixels;
}

// Copies of the test plug-in in the scratch folder, each with answers of its
// own; and the process's registry, as pictures use it, with the plug-in.
class Spi : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        qel::GDIPlus::Startup();
        qel::CSpiManager::Instance().RegisterPlugin(TestPluginPath(L"spi_test").c_str());
    }
    // Copies the plug-in as `name` and loads the copy with these answers.
    std::wstring Add(const std::wstring& name, const std::vector<std::string>& texts, unsigned flags = 0) {
        EXPECT_TRUE(::CopyFileW(TestPluginPath(L"spi_test").c_str(), In(name).c_str(), FALSE));
        modules_.emplace_back(::LoadLibraryW(In(name).c_str()));
        std::vector<const char*> pointers;
        for (const std::string& text : texts)
            pointers.push_back(text.c_str());
        TestPluginProc<TestSetInfoProc>(modules_.back().get(), "TestSetInfo")(pointers.data(), int(texts.size()),
                                                                              flags);
        return In(name);
    }
    HMODULE Loaded(const wchar_t* name) const { return ::GetModuleHandleW(In(name).c_str()); }

    std::wstring Write(const PluginResult& result, const wchar_t* ext = L".tpic") {
        const std::wstring path = In(L"p" + std::to_wstring(++files_) + ext);
        const std::string file = TpicFile(result);
        WriteBytes(path, std::vector<std::uint8_t>(file.begin(), file.end()));
        return path;
    }
    static TestPictureTrace LastPicture() {
        const HMODULE module = ::GetModuleHandleW(TestPluginPath(L"spi_test").c_str());
        return TestPluginProc<TestLastPictureProc>(module, "TestLastPicture")();
    }

    std::vector<esl::UniqueModule> modules_;  // released before the folder goes
    int files_ = 0;
};

}  // namespace

// The first plug-in of a name (cut at its first dot) and of an extension
// wins; each ';' item of an even entry registers from the last dot seen.
TEST_F(Spi, LoadPluginsRegistersByNameKindAndFilter) {
    // Wine lists a folder sorted: each plug-in comes before those it must win over or lose to.
    Add(L"a.spi", {"00IN", "", "*.JPG;*.mp3"});
    Add(L"b.spi", {"00IN", "", "*.bmp;*.tar.gz;name.dib"});
    Add(L"c.spi", {"00IN", "", "*.c1", "*.odd", "*.c2;*", "", "*.s "});
    Add(L"d.spi", {"00IN", "", "*"});
    Add(L"e.spi", {"00IN", "", "*." + std::string(2000, 'e')});  // unterminated, cut at the buffer's end
    Add(L"g.spi", {"00AM", "", "*.zip"});
    Add(L"h.spi", {"00XX", "", "*.h"});
    Add(L"i.spi", {"00in", "", "*.i"});
    Add(L"l.spi", {"00IN"}, kTestEndless);
    Add(L"t.spi", {"00IN", "", "*.t"}, kTestThrow);
    Add(L"t.x.spi", {"00IN", "", "*.t"});
    ::CopyFileW((TestPluginFolder() + L"spi_test32.spi").c_str(), In(L"w.spi").c_str(), FALSE);
    Add(L"w.x.spi", {"00IN", "", "*.w"});
    Add(L"x.old.spi", {"00IN", "", "*.old;*.jpg;*.mp03"});  // '.mp03' is '.mp3' in natural order
    Add(L"x.spi", {"00IN", "", "*.new"});
    Add(L"y.bad.spi", {"00XX", "", "*.bad"});
    Add(L"y.spi", {"00IN", "", "*.y"});
    Add(L"z.spi", {"00IN"});
    if (sizeof(void*) == 8)
        Add(L"s.sph", {"00IN", "", "*.y;*.sph"});  // searched after every .spi
    ::CreateDirectoryW(In(L"dir.spi").c_str(), nullptr);
    qel::CSpiManager manager;
    manager.LoadPlugins(folder_.c_str());
    manager.LoadPlugins(In(L"missing").c_str());
    manager.RegisterPlugin(In(L"missing.spi").c_str());
    modules_.clear();
    // A name taken, a kind not known, a throw and the other word size leave a file unloaded.
    for (const wchar_t* name : {L"h.spi", L"i.spi", L"t.spi", L"w.spi", L"x.spi", L"y.bad.spi"})
        EXPECT_EQ(nullptr, Loaded(name)) << name;
    const std::wstring e1021 = L"x." + std::wstring(1021, L'e');
    const std::pair<std::wstring, const wchar_t*> owners[] = {
        {L"C:\\B\\x.Jpg", L"a.spi"}, {L"x.mp03", L"a.spi"},    {L"a.bmp", L"b.spi"},    {L"a.gz", L"b.spi"},
        {L"x.dib", L"b.spi"},        {L"a.tar", nullptr},      {L"x.c1", L"c.spi"},     {L"x.c2", L"c.spi"},
        {L"x.odd", nullptr},         {L"a.s ", L"c.spi"},      {L"a.s", nullptr},       {L"README", L"d.spi"},
        {L"c:\\a.b\\x", L"d.spi"},   {e1021, L"e.spi"},        {e1021 + L"e", nullptr}, {L"book.zip", nullptr},
        {L"x.e0", L"l.spi"},         {L"x.e255", L"l.spi"},    {L"x.e256", nullptr},    {L"p.t", L"t.x.spi"},
        {L"p.w", L"w.x.spi"},        {L"p.old", L"x.old.spi"}, {L"p.new", nullptr},     {L"p.bad", nullptr},
        {L"p.y", L"y.spi"},
    };
    for (const auto& [path, owner] : owners) {
        const qel::CSpi* spi = manager.FindPicturePlugin(path.c_str());
        EXPECT_EQ(owner ? Loaded(owner) : nullptr, spi ? spi->Module() : nullptr) << path;
        EXPECT_TRUE(!owner || Loaded(owner)) << owner;
    }
    const qel::CSpi* archive = manager.FindArchivePlugin(L"C:\\books\\book.ZIP");
    EXPECT_EQ(Loaded(L"g.spi"), archive ? archive->Module() : nullptr);
    EXPECT_FALSE(manager.HasArchivePlugin(L"a.jpg"));
    EXPECT_NE(nullptr, Loaded(L"z.spi"));
    EXPECT_EQ(sizeof(void*) == 8, manager.HasPicturePlugin(L"p.sph"));
}

// Line 74 for a file that does not load; -1 without the export, 8 for a throw;
// an empty callback lets the plug-in go on; a 2 with a live list is success.
TEST_F(Spi, WrappersKeepThePluginsFailuresFromTheCaller) {
    EXPECT_EQ("qel_susie(74)\n_hDLL == NULL", Thrown([&] { qel::CSpi spi(In(L"missing.spi").c_str()); }));
    qel::CSpi plain(TestPluginPath(L"spi_test").c_str());
    qel::CSpi throwing(Add(L"t.spi", {}, kTestThrow).c_str());
    char buf[16] = "";
    SpiFileInfo info{};
    EXPECT_EQ(-1, plain.GetFileInfo("a.zip", 0, "x", kSpiIgnoreCase, &info));
    EXPECT_EQ(-1, plain.GetFile("a.zip", 0, buf, kSpiFileToMemory, nullptr, 0));
    EXPECT_EQ(8, throwing.GetPluginInfo(0, buf, sizeof buf));
    PluginResult slow{1, 1, 24, {}, std::string(4, '\0')};
    slow.steps = 3;
    const std::string file = TpicFile(slow);
    esl::UniqueLocal hInfo, hBits;
    EXPECT_EQ(
        0, plain.GetPicture(file.data(), LONG_PTR(file.size()), kSpiInputMemory, hInfo.put(), hBits.put(), nullptr, 0));
    EXPECT_EQ(3u, LastPicture().progressCalls);
    for (const auto& [mode, answer, expected] :
         {std::tuple{"live", 2, 0}, {"none", 2, 2}, {"freed", 2, 2}, {"live", 8, 8}, {"none", 0, 0}}) {
        HLOCAL h = reinterpret_cast<HLOCAL>(1);  // cleared before the call
        EXPECT_EQ(expected, plain.GetArchiveInfo(mode, answer, 0, &h)) << mode << answer;
        EXPECT_EQ(std::string(mode) != "none", h != nullptr) << mode;
        if (std::string(mode) == "live")
            ::LocalFree(h);
    }
}

// The test plug-in's ".dib" is GDI+'s too: the plug-in is asked first, also
// for an empty file, and its rows become 32 bits, top line first.
TEST_F(Spi, PluginDecodesAheadOfGdiPlusTopLineFirst) {
    ASSERT_TRUE(qel::GDIPlus::IsSupported(L"a.dib"));
    const DWORD c0 = 0x11223344, c1 = 0xA0B0C0D0;
    const std::tuple<const char*, PluginResult, std::vector<DWORD>> cases[] = {
        {"24-bit width 3: rows 12 bytes apart, fourth byte 0",
         {3, 2, 24, {}, "\1\2\3\4\5\6\7\10\11\xEE\xEE\xEE\13\14\15\16\17\20\21\22\23\0\0\0"s},
         {0x0D0C0B, 0x100F0E, 0x131211, 0x030201, 0x060504, 0x090807}},
        {"24-bit width 5: four pixels at once, then one",
         {5, 1, 24, {}, "\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17\xEE"},
         {0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x0F0E0D}},
        {"1-bit: the top bit first", {10, 1, 1, {c0, c1}, "\x80\x40\0\0"s}, {c1, c0, c0, c0, c0, c0, c0, c0, c0, c1}},
        {"8-bit index past biClrUsed is black", {2, 2, 8, {c0, c1}, "\1\5\0\0\0\1\0\0"s, 2}, {c0, c1, c1, 0}},
        {"negative height: top line first", {1, -2, 24, {}, "\1\2\3\0\4\5\6\0"s}, {0x030201, 0x060504}},
    };
    qel::CPicture picture;
    for (const auto& [name, result, expected] : cases) {
        picture.Load(Write(result, L".dib").c_str());
        const ImageBuffer* image = picture.GetImage();
        ASSERT_EQ(result.width, image->nWidth) << name;
        ASSERT_EQ(std::abs(result.height), image->nHeight) << name;
        for (int i = 0; i < int(expected.size()); ++i)
            EXPECT_EQ(expected[size_t(i)], Pixel(image, i % image->nWidth, i / image->nWidth)) << name << i;
    }
    WriteBytes(In(L"empty.dib"), {});
    EXPECT_EQ("qel_picture(441)\nfileSize == 0", Thrown([&] { picture.Load(In(L"empty.dib").c_str()); }));
    // Past 4 GiB, not read as its size cut to 32 bits (here the good 24-bit page).
    WriteSparse(In(L"huge.dib"), ReadBytes(Write(std::get<1>(cases[1]), L".dib")), 0x100000000ull + 24);
    EXPECT_EQ("qel_picture(441)\nfileSize > MAXDWORD", Thrown([&] { picture.Load(In(L"huge.dib").c_str()); }));
    EXPECT_FALSE(picture.IsLoaded());
}

// A result that cannot be used, or a decode the predicate stops, fails with
// the call, and both handles are freed.
TEST_F(Spi, HostileOrStoppedResultFailsWithTheCallAndFreesBothHandles) {
    const PluginResult good{3, 2, 24, {}, std::string(24, '\0')},
        good8{2, 1, 8, std::vector<DWORD>(256), std::string(4, 0)};
    const auto with = [](PluginResult r, void (*change)(PluginResult&)) {
        change(r);
        return r;
    };
    const std::pair<const char*, PluginResult> cases[] = {
        {"non-zero result with handles", with(good, [](PluginResult& r) { r.result = 2; })},
        {"null info handle", with(good, [](PluginResult& r) { r.flags = kTestNullInfo; })},
        {"null pixel handle", with(good, [](PluginResult& r) { r.flags = kTestNullBits; })},
        {"pixel handle that cannot be locked", with(good, [](PluginResult& r) { r.pixels.clear(); })},
        {"info block shorter than its header", with(good, [](PluginResult& r) { r.infoCut = 1; })},
        {"biSize under 40", with(good, [](PluginResult& r) { r.biSize = 39; })},
        {"biSize past the block", with(good, [](PluginResult& r) { r.biSize = 41, r.infoCut = 1; })},
        {"compressed", with(good, [](PluginResult& r) { r.compression = BI_RLE8; })},
        {"32 bits", with(good, [](PluginResult& r) { r.bits = 32; })},
        {"width 0", with(good, [](PluginResult& r) { r.width = 0; })},
        {"height 0", with(good, [](PluginResult& r) { r.height = 0; })},
        {"height INT_MIN", with(good, [](PluginResult& r) { r.height = INT_MIN; })},
        {"pixel block one byte short", with(good, [](PluginResult& r) { r.pixels.pop_back(); })},
        {"stride times height past 32 bits", with(good, [](PluginResult& r) { r.width = r.height = 0x10000; })},
        {"colour table one entry short", with(good8, [](PluginResult& r) { r.infoCut = 4; })},
        {"biClrUsed past the block", with(good8, [](PluginResult& r) { r.clrUsed = 0x40000000; })},
        {"sound", good},
        {"sound, 8 bits", good8},
    };
    for (const auto& [name, result] : cases) {
        const std::string thrown =
            Thrown([&] { qel::CSPIPictureRsrc source(Write(result).c_str(), nullptr, nullptr); });
        EXPECT_EQ(std::string(name).find("sound") ? kLine458 : "no exception", thrown) << name;
        const TestPictureTrace trace = LastPicture();
        for (HLOCAL h : {trace.hInfo, trace.hBits})
            EXPECT_TRUE(!h || ::LocalFlags(h) == LMEM_INVALID_HANDLE) << name << ": a handle was left";
    }
    // The predicate answers true three times, then false: the plug-in is told
    // to stop at that call. Its argument arrives whole, not cut to 32 bits.
    const qel::ContinueProc countDown = [](void* pArg) { return --*static_cast<int*>(pArg) >= 0; };
    PluginResult slow{1, 1, 24, {}, "\1\2\3\0"s};
    slow.steps = 1000;
    const std::wstring path = Write(slow);
    int stop = 3, keep = INT_MAX;
    EXPECT_EQ(kLine458, Thrown([&] { qel::CSPIPictureRsrc source(path.c_str(), countDown, &stop); }));
    EXPECT_EQ(4u, LastPicture().progressCalls);
    EXPECT_EQ("no exception", Thrown([&] { qel::CSPIPictureRsrc source(path.c_str(), countDown, &keep); }));
    EXPECT_EQ(INT_MAX - 1000, keep);
}
