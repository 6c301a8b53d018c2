#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "esl/FileTestSupport.h"
#include "esl_heap.h"
#include "qel/Thrown.h"
#include "qel_serialization.h"
#include "support/Mutator.h"

namespace {

const std::pair<int, const wchar_t*> kKeyNames[] = {{0x0D, L"RETURN"}, {0x25, L"LEFT"}, {0x41, L"A"}};

// A colour, a flag and an array of key pairs, in the viewer's own order of calls.
void Save(const std::string& path, int color, bool flag, int key) {
    qel::CSerializationWriter ar(path.c_str(), "option");
    ar.WriteInteger("bkColor.dwPixelCode", color, L" background ");
    ar.WriteBool("m_bWriteLastSz", flag);
    ar.BeginArray("m_keyAction");
    ar.BeginObject("std::pair");
    ar.WriteEnum("first", key, kKeyNames);
    ar.End();
    ar.End();
}

// "color flag" and the key of each array item; what is not read stays 7,
// true or -1.
std::string Load(const std::string& path) {
    qel::CSerializationReader ar(path.c_str(), "option");
    int color = 7;
    bool flag = true;
    ar.ReadInteger("bkColor.dwPixelCode", color);
    ar.ReadBool("m_bWriteLastSz", flag);
    std::string text = std::to_string(color) + (flag ? " true" : " false");
    for (int i = 0, n = ar.BeginArray("m_keyAction") == 0 ? ar.GetCount() : 0; i < n; ++i) {
        int key = -1;
        if (ar.BeginObject(i, "std::pair") == 0) {
            ar.ReadEnum("first", key, kKeyNames);
            ar.End();
        }
        text += " " + std::to_string(key);
    }
    return text;
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
std::string Written(const std::string& lines) {
    return kDecl + ("<serialization>\r\n\t<option>\r\n" + lines) + "\t</option>\r\n</serialization>\r\n";
}

// The lines Save(7, true, 0x0D) writes.
const std::string kColor = "\t\t<!-- background -->\r\n" + Value("bkColor.dwPixelCode", "integer", "7");
const std::string kFlag = Value("m_bWriteLastSz", "string", "true");
const std::string kKeys =
    "\t\t<_m_keyAction type=\"array\">\r\n\t\t\t<element obj_name=\"std::pair\" type=\"object\">\r\n" +
    Value("first", "string", "RETURN", 4) + "\t\t\t</element>\r\n\t\t</_m_keyAction>\r\n";

const std::string kWrongTypes = Section(
    "<_BKCOLOR.dwPixelCode type=\"string\" value=\"5\"/><_m_bWriteLastSz type=\"integer\" value=\"false\"/>"
    "<_m_keyAction type=\"object\"><element/></_m_keyAction>");

class Serialization : public testing::Test {
protected:
    void Put(const std::string& bytes) const { ScratchFolder::WriteBytes(path_, bytes); }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    ScratchFolder folder_;
    const std::string path_ = folder_.File("velk58.xml");
};

}  // namespace

// Values of another type, booleans other than "true" and "false", and array
// items that are no "std::pair" object read as nothing. Names are found
// without regard to ASCII case; text and comments count as array items.
TEST_F(Serialization, OnlyValuesOfTheirTypeAreRead) {
    Put(kWrongTypes);
    EXPECT_EQ("7 true", Load(path_));
    for (const std::string value : {"true", "false", "FALSE", "false ", "", "0"}) {
        Put(Section("<_M_BWRITELASTSZ type=\"string\" value=\"" + value + "\"/>"));
        EXPECT_EQ(value == "false" ? "7 false" : "7 true", Load(path_)) << value;
    }
    Put(Section("<_m_bWriteLastSz type=\"string\"/><_bkColor.dwPixelCode type=\"integer\" value=\"12h\"/>"));
    EXPECT_EQ("18 true", Load(path_)) << "no value attribute reads as the empty string";
    auto item = [](const char* name, const char* type, const char* key) {
        return std::string("<element obj_name=\"") + name + "\" type=\"" + type + "\">" +
               Value("first", "string", key) + "</element>";
    };
    Put(Section("<_m_keyAction type=\"array\">" + item("std::pair", "object", "A") + item("std::map", "object", "A") +
                item("std::pair", "string", "A") + "junk<!-- note -->" + item("STD::PAIR", "object", "A") +
                item("std::pair", "object", "NOPE") + item("std::pair", "object", "LEFT") + "</_m_keyAction>"));
    EXPECT_EQ("7 true 65 -1 -1 -1 -1 -1 -1 37", Load(path_));
}

// Two saves over a file: everything else that was parsed stays in document
// order with one comment per value, and what was not parsed goes.
TEST_F(Serialization, SavesKeepWhatWasParsedAroundTheirValues) {
    const std::string hand =
        "<!-- hand-written -->\r\n<serialization>\r\n\t<other>\r\n\t\t<_x type=\"integer\" value=\"5\"/>\r\n"
        "\t</other>\r\n\t<!-- keep me -->\r\n\t<option>\r\n\t\t<unknown a=\"1\">text</unknown>\r\n"
        "\t\t<_m_bWriteLastSz extra=\"kept\" type=\"string\" value=\"";
    const std::string end = "\"/>\r\n\t\tloose&#32;text\r\n";
    const std::string close = "\t</option>\r\n</serialization>\r\n<trailer/>\r\n";
    const struct {
        const char* name;
        std::string before, after;  // before "": no file
    } cases[] = {
        {"no file", "", Written(kColor + kFlag + kKeys)},
        {"values of another type are put right; tags keep their case", kWrongTypes,
         Written("\t\t<!-- background -->\r\n" + Value("BKCOLOR.dwPixelCode", "integer", "7") + kFlag + kKeys)},
        {"a hand-written file", kDecl + hand + "false" + end + close,
         kDecl + hand + "true" + end + kColor + kKeys + close},
        {"another encoding, rewritten as UTF-8",
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<serialization><option>"
         "<!--\x93\xfa\x96\x7b--><_m_bWriteLastSz type=\"string\" value=\"false\"/></option></serialization>",
         Written("\t\t<!--\xE6\x97\xA5\xE6\x9C\xAC-->\r\n" + kFlag + kColor + kKeys)},
        {"a stray closing tag ends the parse there",
         "<serialization><option><_keep type=\"integer\" value=\"1\"/><_bad></wrong><_x/></_bad><_lost/>",
         Written(Value("keep", "integer", "1") + "\t\t<_bad>\r\n\t\t\t<_x/>\r\n\t\t</_bad>\r\n" + kColor + kFlag +
                 kKeys)},
    };
    for (const auto& c : cases) {
        ::DeleteFileA(path_.c_str());
        if (!c.before.empty())
            Put(c.before);
        Save(path_, 7, true, 0x0D);
        Save(path_, 7, true, 0x0D);
        EXPECT_EQ(c.after, Get()) << c.name;
    }
}

TEST_F(Serialization, FailuresNameTheirCheckOrAreHarmless) {
    auto opened = [&] { return Thrown([&] { qel::CSerializationReader(path_.c_str(), "option"); }); };
    EXPECT_EQ("qel_serialization(280)\nfile.Open(pszFilePath, ESLFileObject::modeRead | ESLFileObject::shareRead)",
              opened());
    Put("<serialization><option></oops></option></serialization>");
    EXPECT_EQ("qel_serialization(283)\nm_desc.ReadDescription(sb)", opened());
    Put(std::string(kDecl) + "<serialization><elsewhere/></serialization>");
    EXPECT_EQ("7 true", Load(path_)) << "a missing section is an empty one";
    qel::CSerializationReader ar(path_.c_str(), "option");
    ar.End();
    ar.End();  // below the section: nothing is current any more
    int n = 7;
    ar.ReadInteger("x", n);
    EXPECT_TRUE(n == 7 && ar.GetCount() == 0 && ar.BeginObject(0, "std::pair") == 1);
    // A save that cannot go through is silent; the file is swapped in whole
    // or not at all (see ReplaceFileContents).
    EXPECT_NO_THROW(Save(folder_.File("no such folder\\velk58.xml"), 1, true, 0));
}

// Whatever a hand edit or a damaged disk leaves in the file, reading raises
// nothing but the reader's own exception, and the next save reads back: a
// stray character or a comment left open once made every later save fail.
TEST_F(Serialization, MutatedSettingsFilesNeverLoseTheNextSave) {
    const std::vector<std::string> corpus = {
        Written(kColor + kFlag + kKeys),
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<!-- \x93\xfa -->\r\n<serialization><other a=\"1\"/>"
        "<option><_m_bWriteLastSz type=\"string\" value=\"false\"/><!--note--><unknown>text &amp; more</unknown>"
        "<_bkColor.dwPixelCode type=\"integer\" value=\"12h\"/></option></serialization>",
        Section("<_m_keyAction type=\"array\"><element obj_name=\"std::pair\" type=\"object\">" +
                Value("first", "string", "LEFT") + "junk</element><;>x</;></_m_keyAction>"),
        std::string(kDecl) + "<serialization><option><!-- note",
    };
    const fuzz::Report report = fuzz::Run("settings", 26000, 2000, corpus, [&](const std::string& input) {
        Put(input);
        try {
            Load(path_);
        } catch (const qel::CException&) {
        }
        Save(path_, 0x123456, false, 0x41);
        if (Load(path_) != "1193046 false 65")
            return "the saved settings did not read back";
        return eslVerifyHeapChain(nullptr) ? "heap chain broken" : "";
    });
    EXPECT_EQ(0u, report.failures);
}
