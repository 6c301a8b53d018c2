// The description tree, its reader and writer, and round trips of random trees and mutated documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "esl_description.h"
#include "esl_file.h"
#include "esl_heap.h"
#include "esl_stream.h"
#include "support/Mutator.h"

namespace {

using E = EDescription;

std::wstring Str(const EWideString& s) {
    return std::wstring(s.CharPtr(), s.GetLength());
}

// All the units, zeros too (the string's own copy stops at a zero).
EWideString Units(const std::wstring& s) {
    EWideString out;
    std::copy_n(s.data(), s.size(), out.GetBuffer(static_cast<int>(s.size())));
    out.SetLength(static_cast<int>(s.size()));
    return out;
}

std::wstring AttrString(const EDescription& node, const wchar_t* pwszName, const wchar_t* pwszDefault = L"<none>") {
    EWideString value(L"old");
    node.GetAttrString(value, pwszName, pwszDefault);
    return Str(value);
}

// element: tag{name=value;...}(contents), text: "text", comment: <!--...-->
std::wstring Dump(const EDescription& node, bool bWithTag = false) {
    if (node.IsComment() || node.IsText())
        return node.IsComment() ? L"<" + Str(node.GetText()) : L"\"" + Str(node.GetText()) + L"\"";
    std::wstring s = bWithTag ? Str(node.GetTag()) : L"", contents;
    for (int i = 0; i < node.GetAttrCount(); ++i)
        s += (i ? L";" : L"{") + Str(node.GetAttrAt(i)->name) + L"=" + Str(node.GetAttrAt(i)->value) +
             (i + 1 == node.GetAttrCount() ? L"}" : L"");
    for (int i = 0; i < node.GetContentCount(); ++i)
        contents += (i ? L"," : L"") + Dump(*node.GetContentAt(i), true);
    return bWithTag && !contents.empty() ? s + L"(" + contents + L")" : s + contents;
}

ESLError Read(EDescription& node, const std::string& bytes, int nMode = E::modeAuto, int nEncoding = 0) {
    EStreamBuffer sb(bytes.data(), static_cast<DWORD>(bytes.size()));
    return node.ReadDescription(sb, nMode, nEncoding);
}

// The bytes written; the result goes to *pErr, or must be 0 without it.
std::string Write(const EDescription& node, DWORD dwFlags = 0, int nEncoding = E::encodingUTF8,
                  ESLError* pErr = nullptr) {
    EMemoryFile file;
    file.Create(0);
    const ESLError err = node.WriteDescription(file, 0, dwFlags, nEncoding);
    if (pErr)
        *pErr = err;
    else
        EXPECT_EQ(0, err);
    return std::string(static_cast<const char*>(file.GetBuffer()), file.GetLength());
}

EDescription* Add(EDescription* parent, const wchar_t* tag, const wchar_t* text = nullptr) {
    EDescription* p = parent->CreateDescription();
    p->SetTag(tag);
    p->SetText(text);
    parent->AddContent(p);
    return p;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

// Counts the reports of its tree; the factory makes every child of its kind.
class CountingNode : public EDescription {
public:
    ESL_RUNTIME_CLASS("CountingNode", EDescription);
    explicit CountingNode(int* pnReports) : m_pnReports(pnReports) {}
    EDescription* CreateDescription() noexcept override { return new CountingNode(m_pnReports); }
    ESLError ReportMarkupError(const char*) noexcept override { return ++*m_pnReports, 0; }
    ESLError ReportCharacterError(const char*) noexcept override { return ++*m_pnReports, 0; }
    int* m_pnReports;
};

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

}  // namespace

TEST(EDescriptionAttributes, StaySortedByUnitsAndUniqueWhateverTheOrderSet) {
    std::vector<std::wstring> names = {L"type", L"value", L"obj_name", L"Zeta", L"a", L"ab", L"\u3042", L"_", L"A"};
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        std::shuffle(names.begin(), names.end(), rng);
        EDescription node;
        node.SetTag(L"n");
        for (const wchar_t* prefix : {L"first", L"v"})
            for (const std::wstring& name : names)
                node.SetAttrString(name.c_str(), EWideString((prefix + name).c_str()));
        EXPECT_EQ(L"n{A=vA;Zeta=vZeta;_=v_;a=va;ab=vab;obj_name=vobj_name;type=vtype;value=vvalue;\u3042=v\u3042}",
                  Dump(node, true));
        for (const std::wstring& name : names)
            EXPECT_EQ(L"v" + name, AttrString(node, name.c_str()));
    }
    EDescription node;
    EXPECT_EQ(L"", AttrString(node, L"a", nullptr)) << "a null default is the empty string";
    EXPECT_EQ(7, node.GetAttrInteger(L"a", 7));
    EXPECT_NE(0, node.SetAttrString(L"", EWideString(L"x"))) << "an attribute needs a name";
}

// Written: decimal up to 32768 either way, else hexadecimal ("0" before a letter).
TEST(EDescriptionAttributes, IntegersByTheNumberRule) {
    const int values[] = {0, 32768, 32769, -32768, -32769, -0x60000001, -0x60000000};
    const wchar_t* texts[] = {L"0", L"32768", L"00008001H", L"-32768", L"0FFFF7FFFH", L"9FFFFFFFH", L"0A0000000H"};
    for (int i = 0; i < 7; ++i) {
        EDescription node;
        node.SetAttrInteger(L"v", values[i]);
        EXPECT_EQ(texts[i], AttrString(node, L"v"));
        EXPECT_EQ(values[i], node.GetAttrInteger(L"v", 12345)) << "reads back";
    }
    // 999 is the default: not a number; "b" is a hexadecimal digit, not a suffix.
    const std::pair<const wchar_t*, int> read[] = {
        {L"41h", 0x41}, {L"41H", 0x41}, {L"17o", 15}, {L"99t", 99},  {L"  -12", -12}, {L"+7", 7},  {L"1.9", 1},
        {L"12 x", 12},  {L"fFh", 255},  {L"1f", 999}, {L"19o", 999}, {L"", 999},      {L"-", 999}, {L"1b", 999},
    };
    for (const auto& [text, expected] : read) {
        EDescription node;
        node.SetAttrString(L"n", EWideString(text));
        EXPECT_EQ(expected, node.GetAttrInteger(L"n", 999)) << '"' << text << '"';
    }
}

TEST(EDescriptionContents, FindInsertRemoveAndSections) {
    int nReports = 0;
    CountingNode root(&nReports);
    for (const wchar_t* tag : {L"Option", L"", L"option", L"\u00c4", L"!--"})
        EXPECT_EQ(&root, Add(&root, tag)->GetParent());
    EXPECT_EQ(2, root.FindContentTag(L"option", 1));
    EXPECT_EQ(-1, root.FindContentTag(L"option", 3));
    EXPECT_EQ(1, root.FindContentTag(nullptr)) << "null finds the first empty tag";
    EXPECT_EQ(-1, root.FindContentTag(L"\u00e4")) << "only A-Z fold";
    EXPECT_EQ(nullptr, root.GetContentAt(5));
    EXPECT_EQ(nullptr, root.GetContentAt(-1));
    EXPECT_EQ(root.GetContentAt(0), root.GetContentTag(L"oPtIoN"));
    EDescription* pComment = root.CreateDescription();
    pComment->SetAsComment(L" note ");
    root.InsertContent(1, pComment);
    EXPECT_EQ(L"<!-- note -->", Dump(*root.GetContentAt(1)));
    root.RemoveContentAt(1);
    root.RemoveContentAt(7);  // out of range: nothing
    EXPECT_EQ(L"Option,\"\",option,\u00c4,<", Dump(root));
    // Sections are found with ASCII case ignored or made by the factory.
    EDescription* pOption = root.GetOrCreateSection(L"serialization\\option");
    EXPECT_NE(nullptr, ESLTypeCast<CountingNode>(pOption)) << "children are the derived type";
    EXPECT_EQ(pOption, root.GetOrCreateSection(L"SERIALIZATION\\\\Option\\")) << "empty parts name nothing";
    EXPECT_EQ(&root, root.GetOrCreateSection(L""));
    EXPECT_EQ(6, root.GetContentCount());
    EXPECT_EQ(L"serialization", Str(pOption->GetParent()->GetTag()));
    root.RemoveAllContents();
    EXPECT_EQ(0, root.GetContentCount());
}

// Guards against a recursive destructor overflowing the stack.
TEST(EDescriptionContents, AMillionLevelChainIsDestroyedWithoutRecursion) {
    auto pRoot = std::make_unique<EDescription>();
    EDescription* p = pRoot.get();
    for (int i = 0; i < 1000000; ++i)
        p = Add(p, L"a");
    pRoot.reset();
}

// A markup error fails the read and ends it in its element; others are only reported.
TEST(ReadDescription, TreesAndReports) {
    const std::tuple<int, int, const char*, const wchar_t*> cases[] = {
        {1, 1, "<a>x</b></a>", L"a(\"x\")"},
        {0, 0, "<a>x</A ><b><c>y", L"a(\"x\"),b(c(\"y\"))"},
        {1, 1, "<a>x</a y>", L"a(\"x\")"},
        {1, 1, "<a / b>", L"a,\"b>\""},
        {1, 1, "<a =b>t</a>", L"a(\"t\")"},
        {1, 1, "<a><b></a></b><c/>", L"a(b)"},
        {1, 1, "</>z", L"\"z\""},
        {1, 1, "<a>x</b>y</a>", L"a(\"xy\")"},
        // only "</>" is a closing tag without a name; a symbol is a name
        {0, 0, "<a><;>x</;><b/></a><>x<", L"a(;(\"x\"),b),\"x\""},
        // line breaks, indentation and controls are dropped from text
        {0, 0, "<t>\r\n\t\thello  world\r\n\t</t><t>  lead</t><t>a\t<b/>\tc</t><t>a\x01z&#32;x\r\n  y</t>",
         L"t(\"hello  world\"),t(\"lead\"),t(\"a\t\",b,\"\tc\"),t(\"az xy\")"},
        // comments are kept (an open one closed at the end), declarations skipped
        {0, 0, "<?xml version=\"1.0\"?><!DOCTYPE x><?pi a?><!-- c --><t>a<?pi?>b<>c</t><![CDATA[x>y]]>",
         L"<!-- c -->,t(\"abc\"),\"y]]>\""},
        {0, 0, "<!----><!-->--><!-- a -- b -->x<a>t<!--c-->u</a>",
         L"<!---->,<!-->-->,<!-- a -- b -->,\"x\",a(\"t\",<!--c-->,\"u\")"},
        {0, 0, "<a><!-- note --", L"a(<!-- note ---->)"},
        // attributes: XML entities and "&#N;" with decimal digits only
        {0, 0,
         "<?xml version=\"1.0\"?><a v=\"x&#10;y\" w=\"&lt;&amp;&quot;&gt;&nbsp;\" u=\"a & b\" s=\"&#12ab;\" "
         "t=\"a\\tb\" z=\"& lt ;\"/>",
         L"a{s=\x0c;t=a\\tb;u=a & b;v=x\ny;w=<&\"> ;z=<}"},
        // attributes in the description dialect: backslash escapes
        {0, 0, "<a t=\"a\\tb\" q=\"\\\"\" x=\"\\x41\\101\\x0411\" u=\"\\q\" n=\"&lt;\"/>",
         L"a{n=&lt;;q=\";t=a\tb;u=\\q;x=AAA1}"},
        {0, 0, "<a v=abc w=>t</a><a k=\"1\" j=\"0\" k=\"2\"/><a\r\n  b = \"1\"\r\n  c=\"2>3\" flag/>",
         L"a{v=abc;w=}(\"t\"),a{j=0;k=2},a{b=1;c=2>3;flag=}"},
        // character references in text
        {0, 0, "<t>a &lt; b&quot;&amp;&gt;&nbsp;|&#65;&#41h;&#101o;&#66t;</t>", L"t(\"a < b\"&> |AAAB\")"},
        {0, 6, "<t>&#x41;&#65</t><t>&lt</t><t>&LT;a & b&</t>", L"t(\"&#x41;A\"),t(\"<\"),t(\"&LT;a & b&\")"},
        // encodings from the declaration; an unknown name or none is Shift-JIS
        {0, 0, "<?xml version='1.0' encoding='UTF-8'?><a v=\"\xC3\xA9\xE3\x81\x82\">\xE6\x97\xA5</a>",
         L"a{v=\u00e9\u3042}(\"\u65e5\")"},
        {0, 0, "<?xml version=\"1.0\" encoding=\"latin-1\"?><a>\x82\xA0</a><b>\x93\xFA\x96\x7B</b>",
         L"a(\"\u3042\"),b(\"\u65e5\u672c\")"},
        {0, 0, "<?xml version=\"1.0\" encoding=\"iso-2022-jp\"?><a>\x1B$BF|K\\\x1B(Bx</a>", L"a(\"\u65e5\u672cx\")"},
        {0, 0, "<?xml version=\"1.0\" encoding=\"EUC-JP\"?><a>\xC6\xFC\xCB\xDC\x8E\xB1</a>",
         L"a(\"\u65e5\u672c\uff71\")"},
    };
    for (const auto& [result, reports, input, tree] : cases) {
        int nReports = 0;
        CountingNode root(&nReports);
        EXPECT_EQ(result, Read(root, input)) << input;
        EXPECT_EQ(tree, Dump(root)) << input;
        EXPECT_EQ(reports, nReports) << input;
    }
}

// A read replaces all but the tag; Shift-JIS ends at a zero; a bad encoding changes nothing.
TEST(ReadDescription, ReplacesTheTreeOrLeavesIt) {
    EDescription root;
    root.SetTag(L"top");
    root.SetAttrString(L"old", EWideString(L"1"));
    ASSERT_EQ(0, Read(root, std::string("<keep/>\0<b/>", 13)));
    EXPECT_EQ(L"top(keep)", Dump(root, true));
    EStreamBuffer sb("<a/>", 4);
    EXPECT_EQ(eslErrorFromMessage(kDescriptionBadEncoding), root.ReadDescription(sb, 0, 5));
    EXPECT_EQ(L"keep", Dump(root));
    EXPECT_EQ(0u, sb.GetLength());
}

TEST(ReadDescription, DeepNestingStopsWithAMarkupErrorPastTheLimit) {
    const int nMax = E::kMaxNestingDepth;
    int nReports = 0, nDepth = 0;
    CountingNode root(&nReports);
    EXPECT_EQ(0, Read(root, Repeat("<a>", nMax) + "x" + Repeat("</a>", nMax))) << "the limit itself";
    EXPECT_EQ(1, Read(root, Repeat("<a>", 1000000)));
    EXPECT_EQ(1, nReports);
    for (const EDescription* p = &root; p->GetContentCount(); p = p->GetContentAt(0))
        ++nDepth;
    EXPECT_EQ(nMax + 1, nDepth);
}

// Each of these would take hours if some step were quadratic in the input.
TEST(ReadDescription, LargeHostileInputsParseInLinearTime) {
    const std::string amps(4000000, '&');
    EDescription root;
    ASSERT_EQ(0, Read(root, std::string(kDecl) + "<a v=\"" + amps + "\"/><t>" + amps + "</t>"));
    EXPECT_EQ(4000000, root.GetContentAt(0)->GetAttrValue(L"v")->GetLength());
    EXPECT_EQ(4000000, root.GetContentAt(1)->GetContentAt(0)->GetText().GetLength());
    std::string s = "<a";
    for (int i = 99999; i >= 0; --i)
        s += " n" + std::to_string(1000000 + i) + "=\"" + std::to_string(i) + "\"";
    ASSERT_EQ(0, Read(root, s + "/>"));
    ASSERT_EQ(100000, root.GetContentAt(0)->GetAttrCount());
    EXPECT_EQ(77, root.GetContentAt(0)->GetAttrInteger(L"n1000077", -1));
    EXPECT_EQ(1, Read(root, Repeat("</x>&#q<!x>", 300000) + "<" + std::string(3000000, 'n') + "/>"));
    EXPECT_EQ(3000000, root.GetContentAt(root.GetContentCount() - 1)->GetTag().GetLength());
}

// One node a line, tabs, escapes; attributes wrap at 80 - 7 per level; comments
// made through the tree always end, and a "-->" inside is broken.
TEST(WriteDescription, LinesIndentationEscapesAndWraps) {
    EDescription root, back;
    EDescription* r = root.GetContentTag(L"r");
    r->SetAttrString(L"b", EWideString(L"2"));
    r->SetAttrString(L"a", EWideString(L"1 2<&\">"));
    Add(r, L"", L"hi there");
    Add(Add(r, L"one"), L"", L"x y");
    Add(r, L"!--", L"!-- c -->");
    Add(r, L"", L"l1\nl2");
    Add(Add(r, L"cr"), L"", L"\rx");
    Add(r, L"e")->SetAttrString(L"a", EWideString(std::wstring(65, L'v').c_str()));  // 1 + 2 + 65 + 1 + 4 = 73
    EDescription* f = root.GetContentTag(L"f");
    f->SetAttrString(L"c", EWideString(std::wstring(72, L'w').c_str()));  // 2 + 72 + 1 + 4 = 79: stays
    f->SetAttrString(L"d", EWideString(L"y"));                            // 79 + 1 + 1 + 4 = 85: wraps
    Add(&root, L"", nullptr)->SetAsComment(L" a --> b");
    Add(&root, L"!--", L"!-- open");
    const std::string body =
        "<r a=\"1&#32;2&lt;&amp;&quot;&gt;\" b=\"2\">\r\n\thi&#32;there\r\n\t<one>x&#32;y</one>\r\n"
        "\t<!-- c -->\r\n\tl1&#10;\r\n\tl2\r\n\t<cr>\r\n\t\t&#13;x\r\n\t</cr>\r\n\t<e\r\n\t  a=\"" +
        std::string(65, 'v') + "\"/>\r\n</r>\r\n<f c=\"" + std::string(72, 'w') +
        "\"\r\n  d=\"y\"/>\r\n<!-- a -- > b-->\r\n<!-- open-->\r\n";
    EXPECT_EQ(std::string(kDecl) + "\r\n" + body, Write(root, E::flagXMLDeclaration));
    EXPECT_EQ(body, Write(root));
    EXPECT_EQ(0, Read(back, body, E::modeXML));
    EXPECT_EQ(body, Write(back));
}

TEST(WriteDescription, EachEncodingNamedInTheDeclarationAndItsBytes) {
    EDescription root;
    Add(root.GetContentTag(L"a"), L"", L"\u65e5\u672cx");
    const std::tuple<int, const char*, const char*> cases[] = {
        {E::encodingShiftJIS, "shift_jis", "<a>\x93\xFA\x96\x7Bx</a>\r\n"},
        {E::encodingUTF8, "utf-8", "<a>\xE6\x97\xA5\xE6\x9C\xACx</a>\r\n"},
        {E::encodingISO2022JP, "iso-2022-jp", "<a>\x1B$BF|K\\\x1B(Bx</a>\r\n"},
        {E::encodingEUCJP, "euc-jp", "<a>\xC6\xFC\xCB\xDCx</a>\r\n"},
    };
    for (const auto& [nEncoding, name, body] : cases) {
        const std::string decl = std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?>\r\n";
        EXPECT_EQ(decl + body, Write(root, E::flagXMLDeclaration, nEncoding));
    }
    ESLError err = 0;
    EXPECT_EQ("", Write(root, 2, 9, &err));
    EXPECT_EQ(eslErrorFromMessage(kDescriptionBadEncoding), err);
}

// Units Shift-JIS cannot carry: escaped in text and values, refused in tags.
TEST(WriteDescription, TheShiftJisFamilyEscapesWhatItCannotCarryOrRefuses) {
    EDescription root;
    EDescription* a = root.GetContentTag(L"a");
    a->SetAttrString(L"v", EWideString(L"\u00e9\u1e00"));
    Add(a, L"", L"\u00e9");
    for (int enc : {E::encodingShiftJIS, E::encodingISO2022JP, E::encodingEUCJP}) {
        EDescription back;
        EXPECT_EQ("<a v=\"&#233;&#7680;\">&#233;</a>\r\n", Write(root, 0, enc));
        EXPECT_EQ(0, Read(back, Write(root, 0, enc), E::modeXML, enc));
        EXPECT_EQ(Dump(root), Dump(back));
    }
    for (int i = 0; i < 2; ++i) {  // a tag, then a dialect value
        EDescription bad;
        bad.GetContentTag(i ? L"t" : L"\u00e9")->SetAttrString(L"v", EWideString(L"\u1e00"));
        ESLError err = 0;
        EXPECT_EQ("", Write(bad, i, E::encodingShiftJIS, &err));
        EXPECT_EQ(eslErrorFromMessage(kDescriptionUncarriedUnit), err);
        Write(bad, i, E::encodingUTF8);
    }
}

namespace {

// Written forms and how they read back; UTF-16 after the 8-bit declaration is no file.
const std::pair<DWORD, int> kForms[] = {
    {0, E::modeXML}, {E::flagDescription, E::modeDescription}, {E::flagXMLDeclaration, E::modeAuto}};
constexpr int kEncodings = 5, kWays = 3 * kEncodings - 1;

// Empty when the tree reads back the same in each chosen way (or is refused whole).
std::string RoundTrip(const EDescription& tree, unsigned ways = (1u << kWays) - 1) {
    const std::wstring expected = Dump(tree);
    for (int way = 0; way < kWays; ++way) {
        const auto [dwFlags, nMode] = kForms[way / kEncodings];
        const int enc = way % kEncodings;
        ESLError err = 0;
        const std::string written = (ways >> way & 1) ? Write(tree, dwFlags, enc, &err) : "";
        if (!(ways >> way & 1) || (err == eslErrorFromMessage(kDescriptionUncarriedUnit) && written.empty() &&
                                   enc != E::encodingUTF8 && enc != E::encodingUTF16))
            continue;
        EDescription back;
        if (err || Read(back, written, nMode, enc) != 0 || Dump(back) != expected)
            return "another tree or none came back (way " + std::to_string(way) + ")";
    }
    return "";
}

// Every class of unit; no two texts side by side, as those come back as one.
void FillRandomTree(std::mt19937& rng, EDescription& node, int nDepth) {
    const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const auto from = [&pick](const std::wstring& set, int n) {
        std::wstring s;
        while (n-- > 0)
            s += set[pick(static_cast<int>(set.size()))];
        return s;
    };
    const auto units = [&pick](int n, bool bText) {
        static const int kRanges[][2] = {{0x3040, 0x60}, {0xD800, 0x800}, {0xFF61, 0x9F}, {0x21, 0x5E}, {0x21, 0x5E}};
        std::wstring s;
        for (int kind; n-- > 0;)
            s += (kind = pick(8)) == 0 ? static_cast<wchar_t>(pick(0x21) + bText)
                 : kind == 1           ? L"<>&\"'\\;=/"[pick(9)]
                 : kind == 2           ? L'\n'
                                       : static_cast<wchar_t>(kRanges[kind - 3][0] + pick(kRanges[kind - 3][1]));
        return s;
    };
    for (int i = pick(nDepth > 3 ? 2 : 6); i > 0; --i) {
        const int kind = pick(10), nLast = node.GetContentCount() - 1;
        if (kind < 3 && !(nLast >= 0 && node.GetContentAt(nLast)->IsText())) {
            Add(&node, L"", units(1 + pick(12), true).c_str());
        } else if (kind < 4) {
            Add(&node, L"", nullptr)->SetAsComment(from(L" abc<&\"\u3042\t", pick(8)).c_str());
        } else {
            EDescription* p =
                Add(&node, (from(L"abcXYZ_\u3042\u65e5", 1) + from(L"abcXYZ_09.-:\u3042", pick(6))).c_str());
            for (int n = pick(5); n > 0; --n) {
                const std::wstring value = units(pick(10), false);
                p->SetAttrString(from(L"abcXYZ_\u3042", 1 + pick(3)).c_str(), Units(value));
                p->SetAttrString(L"z", Units(std::wstring(L"a\0b", 3)));
            }
            FillRandomTree(rng, *p, nDepth + 1);
        }
    }
}

}  // namespace

// Seeds: random trees (each round-tripped in every way) and hand-made markup;
// each mutant is read as its bytes pick, then round-tripped in four ways.
TEST(DescriptionFuzz, MutatedDocumentsReadBackAsTheSameTree) {
    std::vector<std::string> corpus = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<serialization>\r\n\t<option>\r\n\t\t<_bkColor.dwPixelCode "
        "type=\"integer\" value=\"0FF808080H\"/>\r\n\t\t<_m_keyAction type=\"array\">\r\n\t\t\t<element "
        "obj_name=\"std::pair\" type=\"object\"/>\r\n\t\t</_m_keyAction>\r\n\t</option>\r\n</serialization>\r\n",
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
        Repeat("<d n=\"1\">", 40) + "x",
    };
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        EDescription root, back;
        FillRandomTree(rng, root, 0);
        EXPECT_EQ("", RoundTrip(root)) << seed;
        const std::string xml = Write(root, E::flagXMLDeclaration);
        EXPECT_EQ(0, Read(back, xml));
        EXPECT_TRUE(xml == Write(back, E::flagXMLDeclaration)) << seed;
        ESLError err = 0;  // the Shift-JIS family may refuse a tree
        corpus.push_back(seed % 4 ? Write(root, E::flagXMLDeclaration, seed % 4, &err) : xml);
        corpus.push_back(Write(root, E::flagDescription, seed % 2, &err));
    }
    const fuzz::Report report = fuzz::Run("xml", 16000, 10000, corpus, [](const std::string& input) -> std::string {
        std::uint32_t h = 2166136261u;
        for (char c : input)
            h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        EDescription tree;
        const ESLError err = Read(tree, input, (h & 3) == 3 ? E::modeAuto : static_cast<int>(h & 3), (h >> 2) % 5);
        if (err != 0 && err != 1)
            return "read result " + std::to_string(err);
        if (eslVerifyHeapChain(nullptr) != 0)
            return "heap chain broken";
        constexpr unsigned kSettingsWay = 2 * kEncodings + E::encodingUTF8;
        return RoundTrip(
            tree, 1u << kSettingsWay | 1u << (h >> 5) % kWays | 1u << (h >> 10) % kWays | 1u << (h >> 15) % kWays);
    });
    EXPECT_EQ(0u, report.failures);
}
