// The round-trip promise of the description reader and writer as a property:
// whatever tree the reader makes of any input, writing it in either dialect
// and any encoding and reading that back gives the same tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "esl_description.h"
#include "esl_file.h"
#include "esl_heap.h"
#include "esl_stream.h"
#include "support/Mutator.h"

namespace {

// Every field of every node, with lengths, so that no two trees look alike.
void Dump(const EDescription& node, std::wstring& out) {
    auto put = [&out](const EWideString& s) {
        out += std::to_wstring(s.GetLength()) + L':';
        out.append(s.CharPtr(), s.GetLength());
    };
    out += node.IsComment() ? L'C' : node.IsText() ? L'T' : L'E';
    put(node.GetTag());
    put(node.GetText());
    for (int i = 0; i < node.GetAttrCount(); ++i) {
        out += L'@';
        put(node.GetAttrAt(i)->name);
        put(node.GetAttrAt(i)->value);
    }
    out += L'(';
    for (int i = 0; i < node.GetContentCount(); ++i)
        Dump(*node.GetContentAt(i), out);
    out += L')';
}

std::wstring Dump(const EDescription& node) {
    std::wstring out;
    Dump(node, out);
    return out;
}

ESLError Read(EDescription& node, const std::string& bytes, int nMode, int nEncoding) {
    EStreamBuffer sb(bytes.data(), static_cast<DWORD>(bytes.size()));
    return node.ReadDescription(sb, nMode, nEncoding);
}

// A written form and the way to read it back: with the declaration the file
// names its encoding; without it the reader is told.
struct Form {
    DWORD dwFlags;
    int nMode;
};
const Form kForms[] = {
    {0, EDescription::modeXML},
    {EDescription::flagDescription, EDescription::modeDescription},
    {EDescription::flagXMLDeclaration, EDescription::modeAuto},
};

constexpr int kEncodings = 5;
// The last, a UTF-16 body after the 8-bit declaration, is not a readable file.
constexpr int kWays = 3 * kEncodings - 1;
constexpr unsigned kSettingsWay = 2 * kEncodings + EDescription::encodingUTF8;

// Empty when the tree written in each of the chosen ways (bits of ways, by
// form and encoding) reads back as the same tree, or, in the Shift-JIS
// family, is refused before a byte is written.
std::string RoundTrip(const EDescription& tree, const std::wstring& expected, unsigned ways = (1u << kWays) - 1) {
    for (int way = 0; way < kWays; ++way) {
        if (!(ways >> way & 1))
            continue;
        const Form& form = kForms[way / kEncodings];
        const int enc = way % kEncodings;
        {
            const std::string where =
                " (flags " + std::to_string(form.dwFlags) + ", encoding " + std::to_string(enc) + ")";
            EMemoryFile file;
            file.Create(0);
            const ESLError err = tree.WriteDescription(file, 0, form.dwFlags, enc);
            if (err == reinterpret_cast<ESLError>(kDescriptionUncarriedUnit) &&
                (enc != EDescription::encodingUTF8 && enc != EDescription::encodingUTF16) && file.GetLength() == 0)
                continue;
            if (err)
                return "write failed" + where;
            const char* p = static_cast<const char*>(file.GetBuffer());
            EDescription back;
            if (Read(back, std::string(p, p + file.GetLength()), form.nMode, enc) != 0)
                return "reading back failed" + where;
            if (Dump(back) != expected)
                return "another tree came back" + where;
        }
    }
    return "";
}

class RandomTree {
public:
    explicit RandomTree(unsigned seed) : m_rng(seed) {}

    void Fill(EDescription& node, int nDepth) {
        for (int i = Pick(nDepth > 3 ? 2 : 6); i > 0; --i) {
            EDescription* p = node.CreateDescription();
            const int kind = Pick(10);
            if (kind < 3) {
                p->SetText(Units(1 + Pick(12), true).c_str());
            } else if (kind < 4) {
                p->SetAsComment(CommentBody().c_str());
            } else {
                p->SetTag(Name().c_str());
                for (int n = Pick(5); n > 0; --n) {
                    const std::wstring value = Units(Pick(10), false);
                    p->SetAttrString(Name().c_str(), EWideString(value.c_str(), static_cast<int>(value.size())));
                    p->SetAttrString(L"z", ValueWithZero());
                }
                Fill(*p, nDepth + 1);
            }
            node.AddContent(p);
        }
    }

private:
    int Pick(int n) { return static_cast<int>(m_rng() % static_cast<unsigned>(n)); }

    // n units picked from the set.
    std::wstring From(const wchar_t* pwszSet, int n) {
        std::wstring s;
        while (n-- > 0)
            s += pwszSet[Pick(static_cast<int>(wcslen(pwszSet)))];
        return s;
    }
    std::wstring Name() {
        std::wstring s = From(L"abcXYZ_\u3042\u65e5", 1);
        return s + From(L"abcXYZ_09.-:\u3042", Pick(6));
    }
    // Every class of unit: controls and space, the specials, backslash and
    // quotes, ASCII, Japanese, half-width kana, surrogates and the top.
    wchar_t Unit(bool bText) {
        const int kind = Pick(8);
        if (kind == 0)
            return static_cast<wchar_t>(Pick(0x21) + (bText ? 1 : 0));
        if (kind == 1)
            return L"<>&\"'\\;=/"[Pick(9)];
        if (kind == 2)
            return L'\n';
        static const int kRanges[][2] = {{0x3040, 0x60}, {0xD800, 0x800}, {0xFF61, 0x9F}, {0x21, 0x5E}, {0x21, 0x5E}};
        return static_cast<wchar_t>(kRanges[kind - 3][0] + Pick(kRanges[kind - 3][1]));
    }
    std::wstring Units(int n, bool bText) {
        std::wstring s;
        for (int i = 0; i < n; ++i)
            s += Unit(bText);
        return s;
    }
    // A value with a zero unit inside.
    EWideString ValueWithZero() {
        EWideString s;
        std::copy_n(L"a\0b", 3, s.GetBuffer(3));
        s.SetLength(3);
        return s;
    }
    std::wstring CommentBody() { return From(L" abc<&\"\u3042\t", Pick(8)); }

    std::mt19937 m_rng;
};

// Adjacent texts come back as one.
void MergeTexts(EDescription& node) {
    for (int i = 0; i < node.GetContentCount(); ++i) {
        EDescription* p = node.GetContentAt(i);
        if (!p->IsText()) {
            MergeTexts(*p);
            continue;
        }
        while (i + 1 < node.GetContentCount() && node.GetContentAt(i + 1)->IsText()) {
            EWideString joined = p->GetText();
            joined += node.GetContentAt(i + 1)->GetText();
            p->SetText(joined);
            node.RemoveContentAt(i + 1);
        }
    }
}

std::string Written(const EDescription& tree, DWORD dwFlags, int nEncoding) {
    EMemoryFile file;
    file.Create(0);
    tree.WriteDescription(file, 0, dwFlags, nEncoding);
    const char* p = static_cast<const char*>(file.GetBuffer());
    return std::string(p, p + file.GetLength());
}

// Seeds: random trees in every written form, and the markup that hand-edited
// and foreign files bring.
std::vector<std::string> Corpus() {
    std::vector<std::string> corpus;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        EDescription root;
        RandomTree(seed).Fill(root, 0);
        if (!root.GetContentCount())
            continue;
        corpus.push_back(Written(root, EDescription::flagXMLDeclaration, seed % 4));
        corpus.push_back(Written(root, EDescription::flagDescription, seed % 2));
    }
    const char* const kMarkup[] = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<serialization>\r\n\t<option>\r\n"
        "\t\t<_bkColor.dwPixelCode type=\"integer\" value=\"0FF808080H\"/>\r\n"
        "\t\t<_m_keyAction type=\"array\">\r\n\t\t\t<element obj_name=\"std::pair\" type=\"object\">\r\n"
        "\t\t\t\t<_first type=\"string\" value=\"RIGHT\"/>\r\n\t\t\t</element>\r\n"
        "\t\t</_m_keyAction>\r\n\t</option>\r\n</serialization>\r\n",
        "<?xml version='1.0' encoding='Shift_JIS'?><a>\x93\xFA\x96\x7B &amp; &lt;&#65;&#41h;&#x41;&copy;& b</a>",
        "<?xml version=\"1.0\" encoding=\"euc-jp\"?><a v=\"\xC6\xFC\x8E\xB1\">\xCB\xDC</a>",
        "<?xml version=\"1.0\" encoding=\"iso-2022-jp\"?><a>\x1B$BF|K\\\x1B(Bx</a>",
        "<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>",
        "<a t=\"a\\tb\" q=\"\\\"\" x=\"\\x41\\101\\x0411\" u=\"\\q\" n=\"&lt;\"/><b v=abc w=>t</b>",
        "<!-- c --><!-- open -- <a><![CDATA[x>y]]><!DOCTYPE x><?pi a?>",
        "<a><;>x</;><b/></a></x></><>< ?q/><=/></ a>< /y/>< !z>t</!>",
        "<a k=\"1\" j=\"0\" k=\"2\" flag/><a\r\n  b = \"1\"\r\n  c=\"2\"/><a v=\"1>2\"/><a / b><a =b>",
        "<t>\r\n\t\thello  world\r\n\t</t><t>a\t<b/>\tc</t><t>&#32;x\r\n  y&#10;</t>",
        "\xEF\xBB\xBF<a>\x82\xA0</a>",
    };
    for (const char* p : kMarkup)
        corpus.push_back(p);
    std::string deep;
    for (int i = 0; i < 40; ++i)
        deep += "<d" + std::to_string(i) + " n=\"" + std::to_string(i) + "\">";
    corpus.push_back(deep + "x");
    return corpus;
}

std::uint32_t Hash(const std::string& s) {
    std::uint32_t h = 2166136261u;
    for (char c : s)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

}  // namespace

// Trees made through the tree, not read: every form reads back the same,
// but for adjacent texts, which come back as one.
TEST(DescriptionRoundTrip, RandomTreesReadBackTheSame) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        EDescription root;
        RandomTree(seed).Fill(root, 0);
        const std::string xml = Written(root, EDescription::flagXMLDeclaration, EDescription::encodingUTF8);
        MergeTexts(root);
        EXPECT_EQ("", RoundTrip(root, Dump(root)));
        EDescription back;
        ASSERT_EQ(0, Read(back, xml, EDescription::modeAuto, 0));
        EXPECT_TRUE(Written(root, EDescription::flagXMLDeclaration, EDescription::encodingUTF8) ==
                    Written(back, EDescription::flagXMLDeclaration, EDescription::encodingUTF8))
            << "a second write gives the same bytes";
    }
}

// Each input is read in a mode and encoding picked from its bytes, then
// written as settings are (XML, UTF-8) and in three more ways picked so.
TEST(DescriptionFuzz, MutatedDocumentsReadBackAsTheSameTree) {
    const std::vector<std::string> corpus = Corpus();
    const fuzz::Report report = fuzz::Run("xml", 16000, 10000, corpus, [](const std::string& input) -> std::string {
        const std::uint32_t h = Hash(input);
        const int nMode = (h & 3) == 3 ? EDescription::modeAuto : static_cast<int>(h & 3);
        const int nEncoding = static_cast<int>((h >> 2) % 5);
        EDescription tree;
        const ESLError err = Read(tree, input, nMode, nEncoding);
        if (err != 0 && err != 1)
            return "read result " + std::to_string(err);
        if (eslVerifyHeapChain(nullptr) != 0)
            return "heap chain broken";
        const unsigned ways =
            1u << kSettingsWay | 1u << (h >> 5) % kWays | 1u << (h >> 10) % kWays | 1u << (h >> 15) % kWays;
        return RoundTrip(tree, Dump(tree), ways);
    });
    EXPECT_EQ(0u, report.failures);
}
