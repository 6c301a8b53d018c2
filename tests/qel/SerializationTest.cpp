#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "esl_heap.h"
#include "qel_exception.h"
#include "qel_serialization.h"
#include "support/Mutator.h"

namespace {

using NameRow = std::pair<int, const wchar_t*>;

const NameRow kKeyNames[] = {
    {0x0D, L"RETURN"}, {0x1B, L"ESCAPE"}, {0x20, L"SPACE"},  {0x25, L"LEFT"}, {0x26, L"UP"},
    {0x27, L"RIGHT"},  {0x28, L"DOWN"},   {0x2E, L"DELETE"}, {0x41, L"A"},    {0x42, L"B"},
    {0x43, L"C"},      {0x4C, L"L"},      {0x53, L"S"},      {0x70, L"F1"},
};
const NameRow kActionNames[] = {
    {0, L"None"}, {1, L"Exit"},         {2, L"Delete"},     {3, L"Next1"},        {4, L"Next"},           {5, L"Prev1"},
    {6, L"Prev"}, {7, L"ToggleSpread"}, {8, L"ToggleBind"}, {9, L"SetWallPaper"}, {10, L"ChangeBkColor"},
};

using KeyMap = std::map<int, int>;

const KeyMap kDefaultBindings = {{0x53, 7}, {0x4C, 8}, {0x42, 9}, {0x43, 10}, {0x27, 4}, {0x28, 3},
                                 {0x25, 6}, {0x26, 5}, {0x2E, 2}, {0x0D, 1},  {0x1B, 1}, {0x20, 1}};

struct Settings {
    DWORD dwColor = 0xFF808080u;
    bool bWriteLastSz = true;
    KeyMap keys = kDefaultBindings;
};

// The viewer's own order of calls when it saves and loads.
void Save(const std::string& path, const Settings& s) {
    qel::CSerializationWriter ar(path.c_str(), "option");
    ar.WriteInteger("bkColor.dwPixelCode", s.dwColor);
    ar.WriteBool("m_bWriteLastSz", s.bWriteLastSz);
    ar.BeginArray("m_keyAction");
    for (const auto& binding : s.keys) {
        ar.BeginObject("std::pair");
        ar.WriteEnum("first", binding.first, kKeyNames);
        ar.WriteEnum("second", binding.second, kActionNames);
        ar.End();
    }
    ar.End();
}

Settings Load(const std::string& path) {
    Settings s;
    qel::CSerializationReader ar(path.c_str(), "option");
    ar.ReadInteger("bkColor.dwPixelCode", s.dwColor);
    ar.ReadBool("m_bWriteLastSz", s.bWriteLastSz);
    if (ar.BeginArray("m_keyAction") == 0) {
        s.keys.clear();
        const int nCount = ar.GetCount();
        for (int i = 0; i < nCount; ++i) {
            std::pair<int, int> binding(0, 0);
            if (ar.BeginObject(i, "std::pair") == 0) {
                ar.ReadEnum("first", binding.first, kKeyNames);
                ar.ReadEnum("second", binding.second, kActionNames);
                ar.End();
            }
            s.keys.insert(binding);
        }
        ar.End();
    }
    return s;
}

// As the viewer does: every failure is swallowed, and then loading keeps the
// defaults.
void SaveLikeTheViewer(const std::string& path, const Settings& s) {
    try {
        Save(path, s);
    } catch (...) {
    }
}

Settings LoadLikeTheViewer(const std::string& path) {
    try {
        return Load(path);
    } catch (...) {
        return Settings();
    }
}

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

// A file whose option section holds the given bytes, unformatted.
std::string Section(const std::string& body) {
    return kDecl + ("<serialization><option>" + body) + "</option></serialization>";
}

// The file the writer gives for an option section of these lines.
std::string Written(const std::string& lines, const char* root = "serialization", const char* section = "option") {
    return kDecl + ("<" + std::string(root) + ">\r\n\t<" + section + ">\r\n") + lines + "\t</" + section + ">\r\n</" +
           root + ">\r\n";
}

std::string DefaultFile() {
    std::string lines =
        "\t\t<_bkColor.dwPixelCode type=\"integer\" value=\"0FF808080H\"/>\r\n"
        "\t\t<_m_bWriteLastSz type=\"string\" value=\"true\"/>\r\n\t\t<_m_keyAction type=\"array\">\r\n";
    const char* const kPairs[][2] = {{"RETURN", "Exit"},     {"ESCAPE", "Exit"},   {"SPACE", "Exit"},
                                     {"LEFT", "Prev"},       {"UP", "Prev1"},      {"RIGHT", "Next"},
                                     {"DOWN", "Next1"},      {"DELETE", "Delete"}, {"B", "SetWallPaper"},
                                     {"C", "ChangeBkColor"}, {"L", "ToggleBind"},  {"S", "ToggleSpread"}};
    for (const auto& pair : kPairs)
        lines += std::string("\t\t\t<element obj_name=\"std::pair\" type=\"object\">\r\n") +
                 "\t\t\t\t<_first type=\"string\" value=\"" + pair[0] + "\"/>\r\n" +
                 "\t\t\t\t<_second type=\"string\" value=\"" + pair[1] + "\"/>\r\n\t\t\t</element>\r\n";
    return Written(lines + "\t\t</_m_keyAction>\r\n");
}

class Serialization : public testing::Test {
protected:
    void SetUp() override {
        // Thousands of small files in the mutation test: a memory file system
        // where the machine has one.
        char temp[MAX_PATH] = "Z:\\dev\\shm\\";
        if (::GetFileAttributesA(temp) == INVALID_FILE_ATTRIBUTES) {
            ASSERT_NE(0u, ::GetTempPathA(MAX_PATH, temp));
        }
        static int s_nCount = 0;
        m_dir = std::string(temp) + "velk58_serialization_" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(++s_nCount);
        ASSERT_TRUE(::CreateDirectoryA(m_dir.c_str(), nullptr));
        m_path = m_dir + "\\velk58.xml";
    }
    void TearDown() override {
        ::DeleteFileA(m_path.c_str());
        ::RemoveDirectoryA(m_dir.c_str());
    }
    void Put(const std::string& bytes) {
        std::ofstream out(m_path, std::ios::binary);
        out << bytes;
    }
    std::string Get() {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string m_dir;
    std::string m_path;
};

std::string RaisedBy(const std::string& path) {
    try {
        qel::CSerializationReader ar(path.c_str(), "option");
    } catch (const qel::CException& e) {
        return e.Message();
    }
    return "";
}

}  // namespace

TEST_F(Serialization, DefaultsGiveTheFileOfTheViewerAndASecondSaveTheSameBytes) {
    SaveLikeTheViewer(m_path, Settings());
    EXPECT_EQ(DefaultFile(), Get());
    SaveLikeTheViewer(m_path, Settings());
    EXPECT_EQ(DefaultFile(), Get());
    const Settings defaults = LoadLikeTheViewer(m_path);
    EXPECT_EQ(kDefaultBindings, defaults.keys);
}

TEST_F(Serialization, EverythingNotWrittenSurvivesInDocumentOrder) {
    auto file = [](const char* value, const char* added) {
        return std::string(kDecl) +
               "<!-- hand-written -->\r\n<serialization>\r\n"
               "\t<other>\r\n\t\t<_x type=\"integer\" value=\"5\"/>\r\n\t</other>\r\n"
               "\t<!-- keep me -->\r\n\t<option>\r\n"
               "\t\t<unknown a=\"1\">text</unknown>\r\n"
               "\t\t<_m_bWriteLastSz extra=\"kept\" type=\"string\" value=\"" +
               value + "\"/>\r\n\t\tloose&#32;text\r\n" + added + "\t</option>\r\n</serialization>\r\n<trailer/>\r\n";
    };
    Put(file("false", ""));
    {
        qel::CSerializationWriter ar(m_path.c_str(), "option");
        ar.WriteBool("m_bWriteLastSz", true);
        ar.WriteInteger("bkColor.dwPixelCode", -1);
    }
    EXPECT_EQ(file("true", "\t\t<_bkColor.dwPixelCode type=\"integer\" value=\"-1\"/>\r\n"), Get());
}

TEST_F(Serialization, OtherEncodingsAreReadAndRewrittenAsUtf8) {
    Put("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<serialization><option>"
        "<!--\x93\xfa\x96\x7b--><_m_bWriteLastSz type=\"string\" value=\"false\"/></option></serialization>");
    EXPECT_FALSE(LoadLikeTheViewer(m_path).bWriteLastSz);
    { qel::CSerializationWriter ar(m_path.c_str(), "option"); }
    EXPECT_EQ(
        Written("\t\t<!--\xE6\x97\xA5\xE6\x9C\xAC-->\r\n\t\t<_m_bWriteLastSz type=\"string\" value=\"false\"/>\r\n"),
        Get());
}

TEST_F(Serialization, WrongTypesAreIgnoredOnReadingAndCorrectedOnWriting) {
    Put(
        Section("<_bkColor.dwPixelCode type=\"string\" value=\"5\"/>"
                "<_m_bWriteLastSz type=\"integer\" value=\"false\"/>"
                "<_m_keyAction type=\"object\"><element/></_m_keyAction>"));
    const Settings s = LoadLikeTheViewer(m_path);
    EXPECT_EQ(0xFF808080u, s.dwColor);
    EXPECT_TRUE(s.bWriteLastSz);
    EXPECT_EQ(kDefaultBindings, s.keys);
    SaveLikeTheViewer(m_path, Settings());
    EXPECT_EQ(DefaultFile(), Get());
}

TEST_F(Serialization, OnlyTrueAndFalseChangeABoolean) {
    struct Case {
        const char* pszValue;
        bool bFromTrue;
        bool bFromFalse;
    };
    const Case cases[] = {
        {"true", true, true},    {"false", false, false}, {"TRUE", true, false}, {"yes", true, false},
        {"false ", true, false}, {"", true, false},       {"1", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszValue);
        Put(Section(std::string("<_b type=\"string\" value=\"") + c.pszValue + "\"/><_none type=\"string\"/>"));
        qel::CSerializationReader ar(m_path.c_str(), "option");
        bool b = true;
        ar.ReadBool("b", b);
        EXPECT_EQ(c.bFromTrue, b);
        b = false;
        ar.ReadBool("B", b);  // names are found without regard to case
        EXPECT_EQ(c.bFromFalse, b);
        b = true;
        ar.ReadBool("none", b);
        EXPECT_TRUE(b) << "no value attribute reads as the empty string";
    }
}

TEST_F(Serialization, ArrayItemsThatAreNotPairsAreSkipped) {
    auto pair = [](const char* tag, const char* first, const char* second) {
        return std::string("<element obj_name=\"") + tag + "\" type=\"object\"><_first type=\"string\" value=\"" +
               first + "\"/>" + second + "</element>";
    };
    Put(Section("<_m_keyAction type=\"array\">" +
                pair("std::pair", "RIGHT", "<_second type=\"string\" value=\"Next\"/>") + pair("std::map", "LEFT", "") +
                "<element obj_name=\"std::pair\" type=\"string\"/>junk<!-- note -->" +
                pair("std::pair", "UP", "<_second type=\"string\" value=\"Prev1\"/>") +
                "<element obj_name=\"STD::PAIR\" type=\"object\"/>" +
                pair("std::pair", "NOPE", "<_second type=\"integer\" value=\"4\"/>") + "</_m_keyAction>"));
    {
        qel::CSerializationReader ar(m_path.c_str(), "option");
        ASSERT_EQ(0, ar.BeginArray("m_keyAction"));
        ASSERT_EQ(8, ar.GetCount()) << "text and comment nodes count too";
        const int expected[] = {0, 1, 1, 1, 1, 0, 1, 0, 1};
        for (int i = 0; i < 9; ++i) {
            SCOPED_TRACE(i);
            const int nResult = ar.BeginObject(i, "std::pair");
            EXPECT_EQ(expected[i], nResult);
            if (nResult == 0 || i == 8)
                ar.End();
        }
        EXPECT_EQ(1, ar.BeginArray("m_missing"));
    }
    const KeyMap expected = {{0x27, 4}, {0x26, 5}, {0, 0}};
    EXPECT_EQ(expected, LoadLikeTheViewer(m_path).keys);
}

TEST_F(Serialization, ReaderFailuresNameTheirCheck) {
    EXPECT_EQ("qel_serialization(280)\nfile.Open(pszFilePath, ESLFileObject::modeRead | ESLFileObject::shareRead)",
              RaisedBy(m_path));
    Put("<serialization><option></oops></option></serialization>");
    EXPECT_EQ("qel_serialization(283)\nm_desc.ReadDescription(sb)", RaisedBy(m_path));
    EXPECT_EQ(kDefaultBindings, LoadLikeTheViewer(m_path).keys);
    Put(std::string(kDecl) + "<serialization><elsewhere/></serialization>");
    EXPECT_EQ("", RaisedBy(m_path)) << "a missing section is an empty one";
}

TEST_F(Serialization, WriterStartsEmptyOrKeepsWhatWasParsed) {
    {
        qel::CSerializationWriter ar(m_path.c_str(), "option");
        ar.WriteString("name", EWideString(L"a \u65e5\"<"));
    }
    EXPECT_EQ(Written("\t\t<_name type=\"string\" value=\"a&#32;\xE6\x97\xA5&quot;&lt;\"/>\r\n"), Get());
    qel::CSerializationReader reader(m_path.c_str(), "option");
    EWideString name(L"old");
    reader.ReadString("name", name);
    EXPECT_EQ(std::wstring(L"a \u65e5\"<"), std::wstring(name.CharPtr()));

    // The stray closing tag fails its element, which ends the parse there.
    Put("<serialization><option><_keep type=\"integer\" value=\"1\"/><_bad></wrong><_x/></_bad><_lost/>");
    { qel::CSerializationWriter ar(m_path.c_str(), "option"); }
    EXPECT_EQ(Written("\t\t<_keep type=\"integer\" value=\"1\"/>\r\n\t\t<_bad>\r\n\t\t\t<_x/>\r\n\t\t</_bad>\r\n"),
              Get());
}

// A stray character typed into the file, or a comment left open, must not
// make every later save unreadable.
TEST_F(Serialization, HandEditedJunkNeverLosesTheNextSave) {
    Settings s;
    s.dwColor = 0x00123456u;
    s.bWriteLastSz = false;
    for (const std::string& file : {Section("<;>x</;>"), std::string(kDecl) + "<serialization><option><!-- note"}) {
        SCOPED_TRACE(file);
        Put(file);
        SaveLikeTheViewer(m_path, s);
        EXPECT_EQ("", RaisedBy(m_path));
        EXPECT_EQ(s.dwColor, LoadLikeTheViewer(m_path).dwColor);
    }
}

TEST_F(Serialization, CommentsGoJustBeforeTheirValueOnce) {
    for (int round = 0; round < 2; ++round) {
        qel::CSerializationWriter ar(m_path.c_str(), "option");
        ar.WriteInteger("n", 32769, L" the count ");
        ar.BeginArray("list", L" items ");
        ar.End();
    }
    EXPECT_EQ(Written("\t\t<!-- the count -->\r\n\t\t<_n type=\"integer\" value=\"00008001H\"/>\r\n"
                      "\t\t<!-- items -->\r\n\t\t<_list type=\"array\"/>\r\n"),
              Get());
}

TEST_F(Serialization, AnUnwritablePathIsSilent) {
    const std::string missing = m_dir + "\\no such folder\\velk58.xml";
    EXPECT_NO_THROW({
        qel::CSerializationWriter ar(missing.c_str(), "option");
        ar.WriteBool("m_bWriteLastSz", false);
    });
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(missing.c_str()));
}

// A save that cannot swap its new file in must neither damage the old file
// nor leave the new one behind.
TEST_F(Serialization, AFileHeldOpenElsewhereKeepsItsBytesAndNoStrayFileIsLeft) {
    const std::string old = "<serialization><option><!-- mine --></option></serialization>";
    Put(old);
    {
        HANDLE held = ::CreateFileA(m_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        SaveLikeTheViewer(m_path, Settings());
        ::CloseHandle(held);
    }
    EXPECT_EQ(old, Get());
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA((m_dir + "\\*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    int files = 0;
    do {
        files += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    EXPECT_EQ(1, files);
    // Released, the same save goes through.
    SaveLikeTheViewer(m_path, Settings());
    EXPECT_NE(old, Get());
}

TEST_F(Serialization, LookupsIgnoreAsciiCaseAndStackMisuseIsHarmless) {
    Put(std::string(kDecl) +
        "<SERIALIZATION><Option><_BKCOLOR.DWPIXELCODE type=\"integer\" value=\"12h\"/></Option></SERIALIZATION>");
    {
        qel::CSerializationReader ar(m_path.c_str(), "option");
        int n = 0;
        ar.ReadInteger("bkColor.dwPixelCode", n);
        EXPECT_EQ(0x12, n);
        ar.End();
        ar.End();  // below the section: nothing is current any more
        n = 7;
        ar.ReadInteger("bkColor.dwPixelCode", n);
        EXPECT_EQ(7, n);
        EXPECT_EQ(0, ar.GetCount());
        EXPECT_EQ(1, ar.BeginObject(0, "std::pair"));
    }
    {
        qel::CSerializationWriter ar(m_path.c_str(), "option");
        ar.WriteInteger("bkColor.dwPixelCode", 0x34);
    }
    EXPECT_EQ(Written("\t\t<_BKCOLOR.DWPIXELCODE type=\"integer\" value=\"52\"/>\r\n", "SERIALIZATION", "Option"),
              Get());
}

// Whatever a hand edit or a damaged disk leaves in the file, reading raises
// nothing but the reader's own exception, and the next save reads back as
// saved. (That a second save gives the same bytes follows from the round
// trip of the description, which has its own mutation test.)
TEST_F(Serialization, MutatedSettingsFilesNeverLoseTheNextSave) {
    Settings saved;
    saved.dwColor = 0x00123456u;
    saved.bWriteLastSz = false;
    saved.keys = {{0x41, 4}, {0x70, 1}, {0x0D, 0}};
    const std::vector<std::string> corpus = {
        DefaultFile(),
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<!-- \x93\xfa -->\r\n<serialization><other a=\"1\"/>"
        "<option><_m_bWriteLastSz type=\"string\" value=\"false\"/><!--note--><unknown>text &amp; more</unknown>"
        "<_bkColor.dwPixelCode type=\"integer\" value=\"12h\"/></option></serialization>",
        Section("<_m_keyAction type=\"array\"><element obj_name=\"std::pair\" type=\"object\">"
                "<_first type=\"string\" value=\"RIGHT\"/><_second type=\"string\" value=\"Next\"/></element>"
                "junk<element obj_name=\"std::map\" type=\"object\"/></_m_keyAction>"),
        "<serialization>\r\n<option>\r\n<_m_bWriteLastSz type=\"string\" value=\"tr\\x75e\"/></option>",
    };
    const fuzz::Report report =
        fuzz::Run("settings", 26000, 10000, corpus, [&](const std::string& input) -> std::string {
            Put(input);
            try {
                Load(m_path);
            } catch (const qel::CException&) {
            }
            Save(m_path, saved);
            const Settings back = Load(m_path);
            if (back.dwColor != saved.dwColor || back.bWriteLastSz != saved.bWriteLastSz || back.keys != saved.keys)
                return "the saved settings did not read back";
            return eslVerifyHeapChain(nullptr) ? "heap chain broken" : "";
        });
    EXPECT_EQ(0u, report.failures);
}
