#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "esl/FileTestSupport.h"
#include "esl_handle.h"
#include "qel_exception.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "spi/spi_test.h"

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Copies of the test plug-in under chosen names, each with its own answers.
// Declare it before the registry: the files go after the modules do.
class PluginFolder {
public:
    std::wstring Path() const { return Wide(m_folder.Path()); }
    std::wstring File(const wchar_t* name) const { return Path() + L"\\" + name; }

    // Copies `source` as `name`; with texts or flags also loads the copy and
    // sets its answers (this reference goes with ReleaseOwn).
    std::wstring Add(const wchar_t* name, const std::vector<std::string>& texts = {}, unsigned flags = 0,
                     const std::wstring& source = TestPluginPath(L"spi_test")) {
        const std::wstring path = File(name);
        EXPECT_TRUE(::CopyFileW(source.c_str(), path.c_str(), FALSE)) << source;
        if (texts.empty() && flags == 0)
            return path;
        esl::UniqueModule module(::LoadLibraryW(path.c_str()));
        std::vector<const char*> pointers;
        for (const std::string& text : texts)
            pointers.push_back(text.c_str());
        if (auto setInfo = TestPluginProc<TestSetInfoProc>(module.get(), "TestSetInfo"))
            setInfo(pointers.data(), int(pointers.size()), flags);
        else
            ADD_FAILURE() << "no control export";
        m_modules.push_back(std::move(module));
        return path;
    }
    void ReleaseOwn() { m_modules.clear(); }
    bool IsLoaded(const wchar_t* name) const { return ::GetModuleHandleW(File(name).c_str()) != nullptr; }

private:
    ScratchFolder m_folder;
    std::vector<esl::UniqueModule> m_modules;
};

std::vector<std::string> Picture(std::vector<std::string> filters) {
    filters.insert(filters.begin(), {"00IN", "about"});
    return filters;
}

struct FilterCase {
    const char* name;
    std::vector<std::string> texts;
    unsigned flags;
    std::vector<std::wstring> found;
    std::vector<std::wstring> notFound;
};

const std::wstring kLongA(1021, L'a');

const FilterCase kFilterCases[] = {
    {"lookup ignores ASCII case", Picture({"*.JPG"}), 0, {L"page01.jpg", L"C:\\B\\x.Jpg"}, {L"a.png", L"jpg"}},
    {"items by their last dot", Picture({"*.bmp;*.tar.gz;name.dib"}), 0, {L"a.bmp", L"a.gz", L"x.dib"}, {L"a.tar"}},
    {"every even entry is a filter", Picture({"*.a", "*.odd", "*.b"}), 0, {L"x.a", L"x.b"}, {L"x.odd"}},
    {"no entry 2", {"00IN"}, 0, {}, {L"x.tpic", L"noext"}},
    {"no dot: the empty extension", Picture({"*"}), 0, {L"README", L"c:\\a.b\\x"}, {L"a.txt"}},
    {"trailing text stays in the key", Picture({"*.jpg "}), 0, {L"a.jpg "}, {L"a.jpg"}},
    {"the last dot outlives a ';'", Picture({"*.jpg;*"}), 0, {L"a.jpg"}, {L"README"}},
    {"unterminated text cut at the buffer's end",
     Picture({"*." + std::string(2000, 'a')}),
     0,
     {L"x." + kLongA},
     {L"x." + kLongA + L"a"}},
    {"archive plug-ins go to the archive map", {"00AM", "", "*.zip"}, 0, {L"C:\\books\\book.ZIP"}, {L"a.rar"}},
    {"unknown kind", {"00XX", "", "*.jpg"}, 0, {}, {L"a.jpg"}},
    {"kind compared exactly", {"00in", "", "*.jpg"}, 0, {}, {L"a.jpg"}},
    {"endless entries cut off", {"00IN"}, kTestEndless, {L"x.e0", L"x.e255"}, {L"x.e256"}},
};

}  // namespace

TEST(CSpiManager, RegistersEachFilterItemByItsLastDot) {
    for (const FilterCase& c : kFilterCases) {
        SCOPED_TRACE(c.name);
        PluginFolder folder;
        qel::CSpiManager manager;
        manager.RegisterPlugin(folder.Add(L"p.spi", c.texts, c.flags).c_str());
        const bool archive = c.texts[0] == "00AM";
        for (const std::wstring& path : c.found) {
            EXPECT_EQ(!archive, manager.HasPicturePlugin(path.c_str())) << path;
            EXPECT_EQ(archive, manager.HasArchivePlugin(path.c_str())) << path;
        }
        for (const std::wstring& path : c.notFound)
            EXPECT_FALSE(manager.HasPicturePlugin(path.c_str()) || manager.HasArchivePlugin(path.c_str())) << path;
    }
}

TEST(CSpiManager, FirstRegistrationKeepsAnExtension) {
    PluginFolder folder;
    qel::CSpiManager manager;
    manager.RegisterPlugin(folder.Add(L"a.spi", Picture({"*.mp3;*.jpg"})).c_str());
    manager.RegisterPlugin(folder.Add(L"b.spi", Picture({"*.mp03;*.JPG;*.new"})).c_str());
    const HMODULE a = ::GetModuleHandleW(folder.File(L"a.spi").c_str());
    const HMODULE b = ::GetModuleHandleW(folder.File(L"b.spi").c_str());
    ASSERT_NE(a, b);
    // '.mp3' and '.mp03' are one key in natural order.
    EXPECT_EQ(a, manager.FindPicturePlugin(L"x.mp03")->Module());
    EXPECT_EQ(a, manager.FindPicturePlugin(L"x.jpg")->Module());
    EXPECT_EQ(b, manager.FindPicturePlugin(L"x.new")->Module());
}

TEST(CSpiManager, LoadPluginsKeysPluginsByTheNameBeforeTheFirstDot) {
    PluginFolder folder;
    qel::CSpiManager manager;
    // Wine lists a folder sorted: 'x.old.spi' before 'x.spi', and each
    // rejected plug-in before the one with its key that must still load.
    folder.Add(L"x.old.spi", Picture({"*.old"}));
    folder.Add(L"x.spi", Picture({"*.new"}));
    folder.Add(L"y.bad.spi", {"00XX", "", "*.bad"});
    folder.Add(L"y.spi", Picture({"*.y"}));
    folder.Add(L"z.spi", {"00IN"});
    folder.Add(L"t.spi", Picture({"*.t"}), kTestThrow);
    folder.Add(L"t.x.spi", Picture({"*.t"}));
    folder.Add(L"w.spi", {}, 0, TestPluginFolder() + L"spi_test32.spi");
    folder.Add(L"w.x.spi", Picture({"*.w"}));
    if (sizeof(void*) == 8)
        folder.Add(L"a.sph", Picture({"*.y;*.sph"}));  // searched after every .spi
    ::CreateDirectoryW(folder.File(L"dir.spi").c_str(), nullptr);
    manager.LoadPlugins(folder.Path().c_str());
    folder.ReleaseOwn();

    // A key taken, a rejected kind, a throw and the other word size leave a file unloaded.
    const std::pair<const wchar_t*, bool> loaded[] = {
        {L"x.old.spi", true}, {L"x.spi", false}, {L"y.bad.spi", false}, {L"y.spi", true},
        {L"z.spi", true},     {L"t.spi", false}, {L"w.spi", false},
    };
    for (const auto& [name, isLoaded] : loaded)
        EXPECT_EQ(isLoaded, folder.IsLoaded(name)) << name;

    EXPECT_TRUE(manager.HasPicturePlugin(L"p.old"));
    EXPECT_FALSE(manager.HasPicturePlugin(L"p.new"));
    EXPECT_FALSE(manager.HasPicturePlugin(L"p.bad"));
    EXPECT_EQ(::GetModuleHandleW(folder.File(L"y.spi").c_str()), manager.FindPicturePlugin(L"p.y")->Module());
    EXPECT_EQ(::GetModuleHandleW(folder.File(L"t.x.spi").c_str()), manager.FindPicturePlugin(L"p.t")->Module());
    EXPECT_TRUE(manager.HasPicturePlugin(L"p.w"));
    EXPECT_EQ(sizeof(void*) == 8, manager.HasPicturePlugin(L"p.sph"));
}

TEST(CSpiManager, EmptyOrMissingFolderRegistersNothing) {
    PluginFolder folder;
    qel::CSpiManager manager;
    manager.LoadPlugins(folder.Path().c_str());
    manager.LoadPlugins(folder.File(L"missing").c_str());
    manager.RegisterPlugin(folder.File(L"missing.spi").c_str());
    EXPECT_FALSE(manager.HasPicturePlugin(L"a.tpic"));
    EXPECT_FALSE(manager.HasArchivePlugin(L""));
}

TEST(CSpi, LoadFailureIsLine74) {
    PluginFolder folder;
    for (const std::wstring& path : {folder.File(L"missing.spi"), TestPluginFolder() + L"spi_test32.spi"}) {
        try {
            qel::CSpi spi(path.c_str());
            ADD_FAILURE() << "loaded " << path;
        } catch (const qel::CException& e) {
            EXPECT_STREQ("qel_susie(74)\n_hDLL == NULL", e.Message());
        }
    }
}

TEST(CSpi, WrappersAnswerMinusOneWithoutTheExportAndEightForAThrow) {
    PluginFolder folder;
    qel::CSpi plain(TestPluginPath(L"spi_test").c_str());
    qel::CSpi throwing(folder.Add(L"t.spi", Picture({}), kTestThrow).c_str());
    char buf[16] = "";
    SpiFileInfo info{};
    HLOCAL h1 = nullptr, h2 = nullptr;
    EXPECT_EQ(-1, plain.GetFileInfo("a.zip", 0, "x", kSpiIgnoreCase, &info));
    EXPECT_EQ(-1, plain.GetFile("a.zip", 0, buf, kSpiFileToMemory, nullptr, 0));
    EXPECT_EQ(8, throwing.GetPluginInfo(0, buf, sizeof buf));
    EXPECT_EQ(8, throwing.GetPicture(buf, sizeof buf, kSpiInputMemory, &h1, &h2, nullptr, 0));
    EXPECT_EQ(8, throwing.GetArchiveInfo("live", 0, 0, &h1));
}

TEST(CSpi, EmptyCallbackBecomesOneThatAnswersZero) {
    qel::CSpi spi(TestPluginPath(L"spi_test").c_str());
    const TestPicture head{{'T', 'P', 'I', 'C'}, 0, 0, 4, 4, 3};
    std::string file(reinterpret_cast<const char*>(&head), sizeof head);
    file.append(8, '\0');
    esl::UniqueLocal info, bits;
    EXPECT_EQ(0,
              spi.GetPicture(file.data(), LONG_PTR(file.size()), kSpiInputMemory, info.put(), bits.put(), nullptr, 0));
    auto trace = TestPluginProc<TestLastPictureProc>(spi.Module(), "TestLastPicture")();
    EXPECT_EQ(3u, trace.progressCalls);
}

TEST(CSpi, ArchiveInfoTwoWithALiveHandleIsSuccess) {
    struct Case {
        const char* handle;
        int answer, expected;
        bool hasHandle;
    };
    const Case cases[] = {
        {"live", 2, 0, true}, {"none", 2, 2, false}, {"freed", 2, 2, true},
        {"live", 0, 0, true}, {"live", 8, 8, true},  {"none", 0, 0, false},
    };
    qel::CSpi spi(TestPluginPath(L"spi_test").c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.handle) + " " + std::to_string(c.answer));
        HLOCAL h = reinterpret_cast<HLOCAL>(1);  // the wrapper clears it before the call
        EXPECT_EQ(c.expected, spi.GetArchiveInfo(c.handle, c.answer, 0, &h));
        EXPECT_EQ(c.hasHandle, h != nullptr);
        if (std::string(c.handle) == "live")
            ::LocalFree(h);
    }
}
