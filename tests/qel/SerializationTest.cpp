#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "esl/FileTestSupport.h"
#include "esl_handle.h"
#include "esl_heap.h"
#include "qel/Thrown.h"
#include "qel_serialization.h"
#include "support/Mutator.h"

namespace {

using NameRow = std::pair<int, const wchar_t*>;
const NameRow kKeyNames[] = {{0x0D, L"RETURN"}, {0x25, L"LEFT"}, {0x27, L"RIGHT"}, {0x41, L"A"}};
const NameRow kActionNames[] = {{0, L"None"}, {1, L"Exit"}, {4, L"Next"}, {6, L"Prev"}};

struct Settings {
    DWORD color = 0xFF808080u;
    bool writeLastSz = true;
    std::map<int, int> keys = {{0x0D, 1}, {0x25, 6}, {0x27, 4}};
    bool operator==(const Settings& o) const {
        return color == o.color && writeLastSz == o.writeLastSz && keys == o.keys;
    }
};

// The viewer's own order of calls when it saves and loads.
void Save(const std::string& path, const Settings& s) {
    qel::CSerializationWriter ar(path.c_str(), "option");
    ar.WriteInteger("bkColor.dwPixelCode", s.color);
    ar.WriteBool("m_bWriteLastSz", s.writeLastSz);
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
    ar.ReadInteger("bkColor.dwPixelCode", s.color);
    ar.ReadBool("m_bWriteLastSz", s.writeLastSz);
    if (ar.BeginArray("m_keyAction") == 0) {
        s.keys.clear();
        for (int i = 0, n = ar.GetCount(); i < n; ++i) {
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

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

// A file whose option section holds the given bytes, unformatted.
std::string Section(const std::string& body) {
    return kDecl + ("<serialization><option>" + body) + "</option></serialization>";
}

// One value line as the writer lays it out.
std::string Value(const std::string& name, const char* type, const std::string& value, int depth = 2) {
    return std::string(size_t(depth), '\t') + "<_" + name + " type=\"" + type + "\" value=\"" + value + "\"/>\r\n";
}

// The file the writer gives for an option section of these lines.
std::string Written(const std::string& lines, const char* root = "serialization", const char* section = "option") {
    return kDecl + ("<" + std::string(root) + ">\r\n\t<" + section + ">\r\n") + lines + "\t</" + section + ">\r\n</" +
           root + ">\r\n";
}

std::string DefaultFile() {
    std::string lines = Value("bkColor.dwPixelCode", "integer", "0FF808080H") +
                        Value("m_bWriteLastSz", "string", "true") + "\t\t<_m_keyAction type=\"array\">\r\n";
    for (const auto& pair : {std::make_pair("RETURN", "Exit"), {"LEFT", "Prev"}, {"RIGHT", "Next"}})
        lines += "\t\t\t<element obj_name=\"std::pair\" type=\"object\">\r\n" +
                 Value("first", "string", pair.first, 4) + Value("second", "string", pair.second, 4) +
                 "\t\t\t</element>\r\n";
    return Written(lines + "\t\t</_m_keyAction>\r\n");
}

class Serialization : public testing::Test {
protected:
    void Put(const std::string& bytes) const { ScratchFolder::WriteBytes(path_, bytes); }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string Opened() const {
        return Thrown([&] { qel::CSerializationReader ar(path_.c_str(), "option"); });
    }

    ScratchFolder folder_;
    const std::string path_ = folder_.File("velk58.xml");
};

}  // namespace

// Values of another type are not read, and the save puts them right.
TEST_F(Serialization, DefaultsGiveTheViewersFileAndASecondSaveTheSameBytes) {
    Put(
        Section("<_bkColor.dwPixelCode type=\"string\" value=\"5\"/><_m_bWriteLastSz type=\"integer\" value=\"false\"/>"
                "<_m_keyAction type=\"object\"><element/></_m_keyAction>"));
    EXPECT_TRUE(Settings() == Load(path_));
    for (int round = 0; round < 2; ++round) {
        Save(path_, Settings());
        EXPECT_EQ(DefaultFile(), Get());
    }
    EXPECT_TRUE(Settings() == Load(path_));
}

// Two saves each rewrite one value and add another with its comment; all
// else that was parsed stays in document order, and what was not goes.
TEST_F(Serialization, TheWriterKeepsWhatItParsedAndEachCommentOnce) {
    const std::string hand =
        "<!-- hand-written -->\r\n<serialization>\r\n"
        "\t<other>\r\n\t\t<_x type=\"integer\" value=\"5\"/>\r\n\t</other>\r\n"
        "\t<!-- keep me -->\r\n\t<option>\r\n\t\t<unknown a=\"1\">text</unknown>\r\n"
        "\t\t<_m_bWriteLastSz extra=\"kept\" type=\"string\" value=\"";
    const std::string handEnd = "\"/>\r\n\t\tloose&#32;text\r\n";
    const std::string kName = "\t\t<!-- the name -->\r\n" + Value("name", "string", "a&#32;\xE6\x97\xA5&quot;&lt;");
    const std::string kTrue = Value("m_bWriteLastSz", "string", "true");
    const struct {
        const char* name;
        std::string before, after;  // before "": no file
    } cases[] = {
        {"no file", "", Written(kTrue + kName)},
        {"a hand-written file", kDecl + hand + "false" + handEnd + "\t</option>\r\n</serialization>\r\n<trailer/>\r\n",
         kDecl + hand + "true" + handEnd + kName + "\t</option>\r\n</serialization>\r\n<trailer/>\r\n"},
        {"another encoding, rewritten as UTF-8",
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<serialization><option>"
         "<!--\x93\xfa\x96\x7b--><_m_bWriteLastSz type=\"string\" value=\"false\"/></option></serialization>",
         Written("\t\t<!--\xE6\x97\xA5\xE6\x9C\xAC-->\r\n" + kTrue + kName)},
        {"a stray closing tag ends the parse there",
         "<serialization><option><_keep type=\"integer\" value=\"1\"/><_bad></wrong><_x/></_bad><_lost/>",
         Written(Value("keep", "integer", "1") + "\t\t<_bad>\r\n\t\t\t<_x/>\r\n\t\t</_bad>\r\n" + kTrue + kName)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::DeleteFileA(path_.c_str());
        if (!c.before.empty())
            Put(c.before);
        for (int round = 0; round < 2; ++round) {
            qel::CSerializationWriter ar(path_.c_str(), "option");
            ar.WriteBool("m_bWriteLastSz", true);
            ar.WriteString("name", EWideString(L"a \u65e5\"<"), L" the name ");
        }
        EXPECT_EQ(c.after, Get());
        EWideString name(L"old");
        qel::CSerializationReader(path_.c_str(), "option").ReadString("name", name);
        EXPECT_EQ(std::wstring(L"a \u65e5\"<"), name.CharPtr());
    }
}

TEST_F(Serialization, OnlyTrueAndFalseChangeABoolean) {
    for (const std::string value : {"true", "false", "TRUE", "false ", "", "1"}) {
        Put(Section("<_b type=\"string\" value=\"" + value + "\"/><_none type=\"string\"/>"));
        qel::CSerializationReader ar(path_.c_str(), "option");
        bool fromTrue = true, fromFalse = false, none = true;
        ar.ReadBool("b", fromTrue);
        ar.ReadBool("B", fromFalse);  // names are found without regard to case
        ar.ReadBool("none", none);    // no value attribute reads as the empty string
        EXPECT_EQ(value != "false", fromTrue) << value;
        EXPECT_EQ(value == "true", fromFalse) << value;
        EXPECT_TRUE(none);
    }
}

TEST_F(Serialization, ArrayItemsThatAreNotPairsAreSkipped) {
    auto pair = [](const char* tag, const char* first, const std::string& second) {
        return std::string("<element obj_name=\"") + tag + "\" type=\"object\"><_first type=\"string\" value=\"" +
               first + "\"/>" + second + "</element>";
    };
    Put(Section("<_m_keyAction type=\"array\">" + pair("std::pair", "RIGHT", Value("second", "string", "Next")) +
                pair("std::map", "LEFT", "") + "<element obj_name=\"std::pair\" type=\"string\"/>junk<!-- note -->" +
                pair("std::pair", "LEFT", Value("second", "string", "Prev")) +
                "<element obj_name=\"STD::PAIR\" type=\"object\"/>" +
                pair("std::pair", "NOPE", Value("second", "integer", "4")) + "</_m_keyAction>"));
    {
        qel::CSerializationReader ar(path_.c_str(), "option");
        ASSERT_EQ(0, ar.BeginArray("m_keyAction"));
        ASSERT_EQ(8, ar.GetCount()) << "text and comment nodes count too";
        const int expected[] = {0, 1, 1, 1, 1, 0, 1, 0, 1};
        for (int i = 0; i < 9; ++i) {
            const int result = ar.BeginObject(i, "std::pair");
            EXPECT_EQ(expected[i], result) << i;
            if (result == 0 || i == 8)
                ar.End();
        }
        EXPECT_EQ(1, ar.BeginArray("m_missing"));
    }
    EXPECT_EQ((std::map<int, int>{{0x27, 4}, {0x25, 6}, {0, 0}}), Load(path_).keys);
}

TEST_F(Serialization, ReaderFailuresNameTheirCheckAndStackMisuseIsHarmless) {
    EXPECT_EQ("qel_serialization(280)\nfile.Open(pszFilePath, ESLFileObject::modeRead | ESLFileObject::shareRead)",
              Opened());
    Put("<serialization><option></oops></option></serialization>");
    EXPECT_EQ("qel_serialization(283)\nm_desc.ReadDescription(sb)", Opened());
    Put(std::string(kDecl) + "<serialization><elsewhere/></serialization>");
    EXPECT_EQ("no exception", Opened()) << "a missing section is an empty one";

    Put(std::string(kDecl) +
        "<SERIALIZATION><Option><_BKCOLOR.DWPIXELCODE type=\"integer\" value=\"12h\"/></Option></SERIALIZATION>");
    {
        qel::CSerializationReader ar(path_.c_str(), "option");
        int n = 0;
        ar.ReadInteger("bkColor.dwPixelCode", n);
        EXPECT_EQ(0x12, n) << "lookups ignore ASCII case";
        ar.End();
        ar.End();  // below the section: nothing is current any more
        ar.ReadInteger("bkColor.dwPixelCode", n = 7);
        EXPECT_EQ(7, n);
        EXPECT_EQ(0, ar.GetCount());
        EXPECT_EQ(1, ar.BeginObject(0, "std::pair"));
    }
    qel::CSerializationWriter(path_.c_str(), "option").WriteInteger("bkColor.dwPixelCode", 0x34);
    EXPECT_EQ(Written(Value("BKCOLOR.DWPIXELCODE", "integer", "52"), "SERIALIZATION", "Option"), Get());
}

// A save that cannot go through is silent and leaves the old file as it was.
TEST_F(Serialization, AFailedSaveKeepsTheOldFile) {
    const std::string missing = folder_.File("no such folder\\velk58.xml");
    EXPECT_NO_THROW(Save(missing, Settings()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(missing.c_str()));
    Put(Section("<!-- mine -->"));
    esl::UniqueFile held(::CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    Save(path_, Settings());
    held.reset();
    EXPECT_EQ(Section("<!-- mine -->"), Get());
}

// Whatever a hand edit or a damaged disk leaves in the file, reading raises
// nothing but the reader's own exception, and the next save reads back as
// saved: a stray character or a comment left open once made every later
// save unreadable.
TEST_F(Serialization, MutatedSettingsFilesNeverLoseTheNextSave) {
    Settings saved;
    saved.color = 0x00123456u;
    saved.writeLastSz = false;
    saved.keys = {{0x41, 4}, {0x25, 1}, {0x0D, 0}};
    const std::vector<std::string> corpus = {
        DefaultFile(),
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<!-- \x93\xfa -->\r\n<serialization><other a=\"1\"/>"
        "<option><_m_bWriteLastSz type=\"string\" value=\"false\"/><!--note--><unknown>text &amp; more</unknown>"
        "<_bkColor.dwPixelCode type=\"integer\" value=\"12h\"/></option></serialization>",
        Section("<_m_keyAction type=\"array\"><element obj_name=\"std::pair\" type=\"object\">" +
                Value("first", "string", "RIGHT") + "junk</element><;>x</;></_m_keyAction>"),
        std::string(kDecl) + "<serialization><option><!-- note",
    };
    const fuzz::Report report = fuzz::Run("settings", 26000, 2000, corpus, [&](const std::string& input) {
        Put(input);
        try {
            Load(path_);
        } catch (const qel::CException&) {
        }
        Save(path_, saved);
        if (!(Load(path_) == saved))
            return "the saved settings did not read back";
        return eslVerifyHeapChain(nullptr) ? "heap chain broken" : "";
    });
    EXPECT_EQ(0u, report.failures);
}
