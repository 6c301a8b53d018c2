#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "esl_description.h"
#include "esl_file.h"
#include "esl_stream.h"

namespace {

std::wstring Str(const EWideString& wstr) {
    return std::wstring(wstr.CharPtr(), wstr.GetLength());
}

// Keeps every report, marked "M:" (markup) or "C:" (character), in one log
// shared by all nodes of the tree.
class RecordingNode : public EDescription {
public:
    explicit RecordingNode(std::vector<std::string>* pLog) : m_pLog(pLog) {}
    EDescription* CreateDescription() noexcept override { return new RecordingNode(m_pLog); }
    ESLError ReportMarkupError(const char* pszMessage) noexcept override {
        m_pLog->push_back(std::string("M:") + pszMessage);
        return 0;
    }
    ESLError ReportCharacterError(const char* pszMessage) noexcept override {
        m_pLog->push_back(std::string("C:") + pszMessage);
        return 0;
    }

private:
    std::vector<std::string>* m_pLog;
};

ESLError ReadInto(EDescription& node, const std::string& bytes, int nMode = EDescription::modeAuto, int nEncoding = 0) {
    EStreamBuffer sb(bytes.data(), static_cast<DWORD>(bytes.size()));
    return node.ReadDescription(sb, nMode, nEncoding);
}

struct Doc {
    std::vector<std::string> reports;
    RecordingNode root{&reports};

    ESLError Read(const std::string& bytes, int nMode = EDescription::modeAuto, int nEncoding = 0) {
        return ReadInto(root, bytes, nMode, nEncoding);
    }
};

std::string Write(const EDescription& node, DWORD dwFlags = EDescription::flagXMLDeclaration,
                  int nEncoding = EDescription::encodingUTF8, int nIndent = 0) {
    EMemoryFile file;
    EXPECT_EQ(0, file.Create(0));
    EXPECT_EQ(0, node.WriteDescription(file, nIndent, dwFlags, nEncoding));
    const char* p = static_cast<const char*>(file.GetBuffer());
    return p ? std::string(p, file.GetLength()) : std::string();
}

std::wstring DumpContents(const EDescription& node);

// element: tag{name=value;...}(contents), text: "text", comment: <!--...-->
std::wstring Dump(const EDescription& node) {
    if (node.IsComment())
        return L"<" + Str(node.GetText());
    if (node.IsText())
        return L"\"" + Str(node.GetText()) + L"\"";
    std::wstring s = Str(node.GetTag());
    if (node.GetAttrCount()) {
        s += L"{";
        for (int i = 0; i < node.GetAttrCount(); ++i) {
            if (i)
                s += L";";
            s += Str(node.GetAttrAt(i)->name) + L"=" + Str(node.GetAttrAt(i)->value);
        }
        s += L"}";
    }
    if (node.GetContentCount())
        s += L"(" + DumpContents(node) + L")";
    return s;
}

std::wstring DumpContents(const EDescription& node) {
    std::wstring s;
    for (int i = 0; i < node.GetContentCount(); ++i) {
        if (i)
            s += L",";
        s += Dump(*node.GetContentAt(i));
    }
    return s;
}

std::string Repeat(const char* psz, int n) {
    std::string s;
    while (n-- > 0)
        s += psz;
    return s;
}

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

}  // namespace

//--- markup

// Character errors are reported but do not fail.
TEST(ReadDescription, TreesAndReportsWithTheirTexts) {
    const std::string kBad = "C:&#xxx; 構文で文字コードの指定が不正です。\n";
    const std::string kNoSemi = "C:&#xxx; 構文がセミコロンで閉じられていません。\n";
    const std::string kAmp = "C:& 記号は &amp; と記述しなければなりません。\n";
    const std::string kEntitySemi = "C:特殊文字の終端はセミコロンで終わらなければなりません。\n";
    struct Case {
        const char* pszInput;
        const wchar_t* pwszTree;
        std::vector<std::string> reports;
        ESLError result;
    };
    const Case cases[] = {
        {"<a>x</b></a>", L"a(\"x\")", {"M:</b> に対応するタグがありません。"}, 1},
        {"<a><b>x", L"a(b(\"x\"))", {}, 0},
        {"<a>x</A>", L"a(\"x\")", {}, 0},
        {"<a>x</a y>", L"a(\"x\")", {"M:</a> の閉じ括弧がありません。"}, 1},
        {"<a / b>", L"a,\"b>\"", {"M:書式中に不正な / 記号を見つけました。"}, 1},
        {"<a =b>t</a>", L"a(\"t\")", {"M:<a> タグに不正なタグ属性 '=' が指定されています。"}, 1},
        {"</x>y", L"\"y\"", {"M:</x> に対応するタグがありません。"}, 1},
        {"<a><b></a></b><c/>", L"a(b)", {"M:</a> に対応するタグがありません。"}, 1},
        {"</>z", L"\"z\"", {"M:</> に対応するタグがありません。"}, 1},
        // only "</>" is a closing tag without a name; a symbol is a name
        {"<a><;>x</;><b/></a>", L"a(;(\"x\"),b)", {}, 0},
        {"<a>x</b>y</a>", L"a(\"xy\")", {"M:</b> に対応するタグがありません。"}, 1},
        {"<>x", L"\"x\"", {}, 0},
        {"<a>x<", L"a(\"x\")", {}, 0},
        {"<a>x</a >", L"a(\"x\")", {}, 0},
        // line breaks and indentation are dropped from text
        {"<t>\r\n\t\thello  world\r\n\t</t>", L"t(\"hello  world\")", {}, 0},
        {"<t>x\ny</t>", L"t(\"xy\")", {}, 0},
        {"<t>  lead</t>", L"t(\"lead\")", {}, 0},
        {"<t>a\t<b/>\tc</t>", L"t(\"a\t\",b,\"\tc\")", {}, 0},
        {"<t>a\x01"
         "b</t>",
         L"t(\"ab\")",
         {},
         0},
        {"<t>&#32;x\r\n  y</t>", L"t(\" xy\")", {}, 0},
        // comments are kept, declarations skipped
        {"<?xml version=\"1.0\"?><!DOCTYPE x><?pi a?><!-- c --><a/>", L"<!-- c -->,a", {}, 0},
        {"<t>a<?pi?>b<>c</t>", L"t(\"abc\")", {}, 0},
        {"<!---->", L"<!---->", {}, 0},
        {"<!-->-->", L"<!-->-->", {}, 0},
        {"<!-- a -- b -->x", L"<!-- a -- b -->,\"x\"", {}, 0},
        // an open comment is closed at the end, so that it cannot swallow
        // what a writer puts after it
        {"<!-- open", L"<!-- open-->", {}, 0},
        {"<a><!-- note --", L"a(<!-- note ---->)", {}, 0},
        {"<![CDATA[x>y]]>", L"\"y]]>\"", {}, 0},
        {"<a>t<!--c-->u</a>", L"a(\"t\",<!--c-->,\"u\")", {}, 0},
        // attributes: XML entities and "&#N;" with decimal digits only
        {"<?xml version=\"1.0\"?><a v=\"x&#10;y\" w=\"&lt;&amp;&quot;&gt;&nbsp;\" u=\"a & b\" s=\"&#12ab;\" "
         "t=\"a\\tb\" z=\"& lt ;\"/>",
         L"a{s=\x0c;t=a\\tb;u=a & b;v=x\ny;w=<&\"> ;z=<}",
         {},
         0},
        // attributes in the description dialect: backslash escapes
        {"<a t=\"a\\tb\" q=\"\\\"\" x=\"\\x41\\101\\x0411\" u=\"\\q\" n=\"&lt;\"/>",
         L"a{n=&lt;;q=\";t=a\tb;u=\\q;x=AAA1}",
         {},
         0},
        {"<a v=abc w=>t</a>", L"a{v=abc;w=}(\"t\")", {}, 0},
        {"<a k=\"1\" j=\"0\" k=\"2\"/>", L"a{j=0;k=2}", {}, 0},
        {"<a flag/>", L"a{flag=}", {}, 0},
        {"<a\r\n  b = \"1\"\r\n  c=\"2\"/>", L"a{b=1;c=2}", {}, 0},
        {"<a v=\"1>2\"/>", L"a{v=1>2}", {}, 0},
        // character references in text
        {"<t>a &lt; b</t>", L"t(\"a < b\")", {}, 0},
        {"<t>&copy;</t>", L"t(\"&copy;\")", {kAmp}, 0},
        {"<t>&#65;&#41h;&#101o;&#66t;</t>", L"t(\"AAAB\")", {}, 0},
        {"<t>&#x41;</t>", L"t(\"&#x41;\")", {kBad}, 0},
        {"<t>&#65</t>", L"t(\"A\")", {kNoSemi}, 0},
        {"<t>&lt</t>", L"t(\"<\")", {kEntitySemi}, 0},
        {"<t>&quot;&amp;&gt;&nbsp;|</t>", L"t(\"\"&> |\")", {}, 0},
        {"<t>a & b</t>", L"t(\"a & b\")", {kAmp}, 0},
        {"<t>&LT;</t>", L"t(\"&LT;\")", {kAmp}, 0},
        {"<t>x&</t>", L"t(\"x&\")", {kAmp}, 0},
        // encodings from the declaration; an unknown name or none is Shift-JIS
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a v=\"\xC3\xA9\xE3\x81\x82\"/>", L"a{v=\u00e9\u3042}", {}, 0},
        {"<?xml version='1.0' encoding='utf-8'?><a>\xE6\x97\xA5</a>", L"a(\"\u65e5\")", {}, 0},
        {"<?xml version=\"1.0\" encoding=\"latin-1\"?><a>\x82\xA0</a>", L"a(\"\u3042\")", {}, 0},
        {"<a>\x93\xFA\x96\x7B</a>", L"a(\"\u65e5\u672c\")", {}, 0},
        {"<?xml version=\"1.0\" encoding=\"iso-2022-jp\"?><a>\x1B$BF|K\\\x1B(Bx</a>", L"a(\"\u65e5\u672cx\")", {}, 0},
        {"<?xml version=\"1.0\" encoding=\"EUC-JP\"?><a>\xC6\xFC\xCB\xDC\x8E\xB1</a>",
         L"a(\"\u65e5\u672c\uff71\")",
         {},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszInput);
        Doc doc;
        EXPECT_EQ(c.result, doc.Read(c.pszInput));
        EXPECT_EQ(c.pwszTree, DumpContents(doc.root));
        EXPECT_EQ(c.reports, doc.reports);
    }
}

TEST(ReadDescription, AUtf8ByteOrderMarkBecomesText) {
    Doc doc;
    EXPECT_EQ(0, doc.Read("\xEF\xBB\xBF<a/>"));
    ASSERT_EQ(2, doc.root.GetContentCount());
    EXPECT_TRUE(doc.root.GetContentAt(0)->IsText());
    EXPECT_FALSE(doc.root.GetContentAt(0)->GetText().IsEmpty());
    EXPECT_EQ(L"a", Str(doc.root.GetContentAt(1)->GetTag()));
}

TEST(ReadDescription, Utf16LittleEndianDropsAnOddByte) {
    const std::wstring text = L"<a v=\"\u65e5\">x</a>";
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    bytes += '<';
    Doc doc;
    EXPECT_EQ(0, doc.Read(bytes, EDescription::modeXML, EDescription::encodingUTF16));
    EXPECT_EQ(L"a{v=\u65e5}(\"x\")", DumpContents(doc.root));
}

// A cut UTF-8 sequence ends with the data; Shift-JIS text ends at a zero.
TEST(ReadDescription, TextEndsWithTheDataOrItsFirstZeroByte) {
    Doc doc;
    EXPECT_EQ(0, doc.Read(std::string(kDecl) + "<a>x</a>\xE3\x81"));
    EXPECT_EQ(L"a", Str(doc.root.GetContentAt(0)->GetTag()));
    Doc sjis;
    EXPECT_EQ(0, sjis.Read(std::string("<a/>\0<b/>", 9)));
    EXPECT_EQ(L"a", DumpContents(sjis.root));
}

TEST(ReadDescription, UnknownEncodingNumberLeavesTheTree) {
    Doc doc;
    ASSERT_EQ(0, doc.Read("<keep/>"));
    EStreamBuffer sb("<a/>", 4);
    EXPECT_EQ(reinterpret_cast<ESLError>(kDescriptionBadEncoding), doc.root.ReadDescription(sb, 0, 5));
    EXPECT_STREQ("不正な文字エンコーディングが指定されました。", kDescriptionBadEncoding);
    EXPECT_EQ(L"keep", DumpContents(doc.root));
    EXPECT_EQ(0u, sb.GetLength()) << "the bytes are consumed";
}

TEST(ReadDescription, ReplacesAttributesAndContentsButKeepsTheTag) {
    Doc doc;
    doc.root.SetTag(L"top");
    doc.root.SetAttrString(L"old", EWideString(L"1"));
    ASSERT_EQ(0, doc.Read("<a/>"));
    EXPECT_EQ(L"top(a)", Dump(doc.root));
}

//--- writing

TEST(WriteDescription, LinesIndentationAndEscapes) {
    Doc doc;
    ASSERT_EQ(0, doc.Read(""));
    EDescription* r = doc.root.GetContentTag(L"r");
    r->SetAttrString(L"b", EWideString(L"2"));
    r->SetAttrString(L"a", EWideString(L"1 2<&\">"));
    auto add = [](EDescription* parent, const wchar_t* tag, const wchar_t* text) {
        EDescription* p = parent->CreateDescription();
        p->SetTag(tag);
        if (text)
            p->SetText(text);
        parent->AddContent(p);
        return p;
    };
    add(r, L"", L"hi there");
    add(add(r, L"one", nullptr), L"", L"x y");
    EDescription* pComment = r->CreateDescription();
    pComment->SetAsComment(L" c ");
    r->AddContent(pComment);
    add(r, L"", L"l1\nl2");
    add(add(r, L"cr", nullptr), L"", L"\rx");
    add(r, L"empty", nullptr);
    const std::string body =
        "<r a=\"1&#32;2&lt;&amp;&quot;&gt;\" b=\"2\">\r\n\thi&#32;there\r\n\t<one>x&#32;y</one>\r\n\t<!-- c -->\r\n"
        "\tl1&#10;\r\n\tl2\r\n\t<cr>\r\n\t\t&#13;x\r\n\t</cr>\r\n\t<empty/>\r\n</r>\r\n";
    const std::string expected = std::string(kDecl) + "\r\n" + body;
    EXPECT_EQ(expected, Write(doc.root));
    EXPECT_EQ(body, Write(doc.root, 0)) << "flags 0: no declaration";

    Doc back;
    EXPECT_EQ(0, back.Read(expected));
    EXPECT_EQ(DumpContents(doc.root), DumpContents(back.root));
}

// Both sides of the limit: 79 stays at depth 0, 73 wraps at depth 1.
TEST(WriteDescription, LongAttributeLinesWrapAt80Minus7PerLevel) {
    EDescription root;
    EDescription* e = root.GetContentTag(L"e");
    e->SetAttrString(L"a", EWideString(std::wstring(72, L'v').c_str()));  // 2 + 72 + 1 + 4 = 79: stays
    e->SetAttrString(L"b", EWideString(L"x"));                            // 79 + 1 + 1 + 4 = 85: wraps
    EDescription* f = e->GetContentTag(L"f");
    f->SetAttrString(L"c", EWideString(std::wstring(59, L'w').c_str()));  // 1 + 2 + 59 + 1 + 4 = 67: stays
    f->SetAttrString(L"d", EWideString(L"y"));                            // 67 + 1 + 1 + 4 = 73: wraps
    const std::string expected = "<e a=\"" + std::string(72, 'v') + "\"\r\n  b=\"x\">\r\n\t<f c=\"" +
                                 std::string(59, 'w') + "\"\r\n\t  d=\"y\"/>\r\n</e>\r\n";
    EXPECT_EQ(expected, Write(root, 0));
    EDescription back;
    EXPECT_EQ(0, ReadInto(back, expected));
    EXPECT_EQ(DumpContents(root), DumpContents(back));
}

TEST(WriteDescription, DialectEscapesAttributeValues) {
    EDescription root;
    EDescription* a = root.GetContentTag(L"a");
    const std::wstring value =
        L"a\nb\\c\"d\x01"
        L"1' \t\r";
    a->SetAttrString(L"v", EWideString(value.c_str()));
    const std::string written = Write(root, EDescription::flagDescription);
    EXPECT_EQ("<a v=\"a\\nb\\\\c\\x022d\\x0011\\x27 \\t\\r\"/>\r\n", written);
    EDescription back;
    EXPECT_EQ(0, ReadInto(back, written, EDescription::modeDescription));
    EXPECT_EQ(L"a{v=" + value + L"}", DumpContents(back));
}

TEST(WriteDescription, EachEncodingNamedInTheDeclarationAndItsBytes) {
    EDescription root;
    root.GetContentTag(L"a")->AddContent(root.CreateDescription());
    root.GetContentAt(0)->GetContentAt(0)->SetText(L"\u65e5\u672cx");
    struct Case {
        int nEncoding;
        const char* pszName;
        const char* pszBody;  // null: not checked
    };
    const Case cases[] = {
        {EDescription::encodingShiftJIS, "shift_jis", "<a>\x93\xFA\x96\x7Bx</a>\r\n"},
        {EDescription::encodingUTF8, "utf-8", "<a>\xE6\x97\xA5\xE6\x9C\xACx</a>\r\n"},
        {EDescription::encodingISO2022JP, "iso-2022-jp", "<a>\x1B$BF|K\\\x1B(Bx</a>\r\n"},
        {EDescription::encodingEUCJP, "euc-jp", "<a>\xC6\xFC\xCB\xDCx</a>\r\n"},
        {EDescription::encodingUTF16, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nEncoding);
        const std::string decl = std::string("<?xml version=\"1.0\" encoding=\"") + c.pszName + "\"?>\r\n";
        EXPECT_EQ(decl, Write(root, EDescription::flagXMLDeclaration, c.nEncoding).substr(0, decl.size()));
        if (c.pszBody) {
            EXPECT_EQ(c.pszBody, Write(root, 0, c.nEncoding));
        }
    }
    EMemoryFile file;
    file.Create(0);
    EXPECT_EQ(reinterpret_cast<ESLError>(kDescriptionBadEncoding), root.WriteDescription(file, 0, 2, 9));
    EXPECT_EQ(0u, file.GetLength());
}

// Markup that the reader takes in but that would read back as something else
// if it were written plainly.
TEST(WriteDescription, OddTagsAndOpenCommentsReadBackTheSame) {
    const char* const cases[][2] = {
        {"<=/>", "<=/ />\r\n"},
        {"< ?x/>", "< ?x/>\r\n"},
        {"< /y/>", "< / y=\"\"/>\r\n"},
        {"< !z>t</!>", "< ! z=\"\">t</!>\r\n"},
        {"<;>x</;>", "<;>x</;>\r\n"},
        {"<<>a</<>", "<<>a</<>\r\n"},
        {"<!-- open", "<!-- open-->\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        EDescription root;
        ASSERT_EQ(0, ReadInto(root, c[0], EDescription::modeXML));
        const std::string written = Write(root, 0);
        EXPECT_EQ(c[1], written);
        EDescription back;
        EXPECT_EQ(0, ReadInto(back, written, EDescription::modeXML));
        EXPECT_EQ(DumpContents(root), DumpContents(back));
    }
}

TEST(WriteDescription, CommentsMadeThroughTheTreeAlwaysEnd) {
    EDescription root;
    auto add = [&root](const wchar_t* pwszText) {
        EDescription* p = root.CreateDescription();
        p->SetTag(L"!--");
        p->SetText(pwszText);
        root.AddContent(p);
    };
    root.AddContent(root.CreateDescription());
    root.GetContentAt(0)->SetAsComment(L" a --> b");
    add(L"!-- open");
    add(L"x");
    root.GetContentTag(L"after");
    const std::string written = Write(root, 0);
    EXPECT_EQ("<!-- a -- > b-->\r\n<!-- open-->\r\n<!--x-->\r\n<after/>\r\n", written);
    EDescription back;
    EXPECT_EQ(0, ReadInto(back, written, EDescription::modeXML));
    EXPECT_EQ(L"<!-- a -- > b-->,<!-- open-->,<!--x-->,after", DumpContents(back));
}

// U+00E9 has no Shift-JIS code: text and values escape it, names cannot.
TEST(WriteDescription, TheShiftJisFamilyEscapesWhatItCannotCarryOrRefuses) {
    EDescription root;
    EDescription* a = root.GetContentTag(L"a");
    a->SetAttrString(L"v", EWideString(L"\u00e9\u1e00"));
    a->AddContent(a->CreateDescription());
    a->GetContentAt(0)->SetText(L"\u00e9");
    for (int enc : {EDescription::encodingShiftJIS, EDescription::encodingISO2022JP, EDescription::encodingEUCJP}) {
        SCOPED_TRACE(enc);
        EXPECT_EQ("<a v=\"&#233;&#7680;\">&#233;</a>\r\n", Write(root, 0, enc));
        EDescription back;
        EXPECT_EQ(0, ReadInto(back, Write(root, 0, enc), EDescription::modeXML, enc));
        EXPECT_EQ(DumpContents(root), DumpContents(back));
    }
    EDescription dialect;
    dialect.GetContentTag(L"a")->SetAttrString(L"v", EWideString(L"\u00e9a"));
    EXPECT_EQ("<a v=\"\\x0E9a\"/>\r\n", Write(dialect, EDescription::flagDescription, 0));

    const wchar_t* const kNames[] = {L"\u00e9", L"!--", L"t"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EDescription bad;
        EDescription* p = bad.GetContentTag(kNames[i % 3]);
        if (i == 1)
            p->SetText(L"!-- \u00e9 -->");
        if (i == 2)
            p->SetAttrString(L"\u00e9", EWideString(L"1"));
        if (i == 3)
            p->SetAttrString(L"v", EWideString(L"\u1e00"));
        const DWORD dwFlags = i == 3 ? DWORD(EDescription::flagDescription) : 0u;
        EMemoryFile file;
        file.Create(0);
        EXPECT_EQ(reinterpret_cast<ESLError>(kDescriptionUncarriedUnit), bad.WriteDescription(file, 0, dwFlags, 0));
        EXPECT_EQ(0u, file.GetLength()) << "nothing is written";
        EXPECT_NE("", Write(bad, dwFlags, EDescription::encodingUTF8));
    }
}

//--- hostile input

TEST(ReadDescription, DeepNestingStopsWithAMarkupError) {
    Doc doc;
    EXPECT_EQ(1, doc.Read(Repeat("<a>", 1000000)));
    ASSERT_EQ(1u, doc.reports.size());
    EXPECT_EQ("M:要素の入れ子が深すぎます。", doc.reports[0]);
    int nDepth = 0;
    for (const EDescription* p = &doc.root; p->GetContentCount(); p = p->GetContentAt(0))
        ++nDepth;
    EXPECT_EQ(EDescription::kMaxNestingDepth + 1, nDepth);

    const int nMax = EDescription::kMaxNestingDepth;
    Doc ok;
    EXPECT_EQ(0, ok.Read(Repeat("<a>", nMax) + "x" + Repeat("</a>", nMax))) << "the limit itself is allowed";
}

// Each of these would take hours if some step were quadratic in the input.
TEST(ReadDescription, LargeHostileInputsParseInLinearTime) {
    {
        const std::string amps(4000000, '&');
        EDescription root;
        ASSERT_EQ(0, ReadInto(root, std::string(kDecl) + "<a v=\"" + amps + "\"/>"));
        EXPECT_EQ(4000000, root.GetContentAt(0)->GetAttrValue(L"v")->GetLength());
        ASSERT_EQ(0, ReadInto(root, "<t>" + amps + "</t>"));
        EXPECT_EQ(4000000, root.GetContentAt(0)->GetContentAt(0)->GetText().GetLength());
    }
    {
        std::string s = "<a";
        for (int i = 99999; i >= 0; --i)
            s += " n" + std::to_string(1000000 + i) + "=\"" + std::to_string(i) + "\"";
        s += "/>";
        EDescription root;
        ASSERT_EQ(0, ReadInto(root, s));
        const EDescription* a = root.GetContentAt(0);
        ASSERT_EQ(100000, a->GetAttrCount());
        EXPECT_EQ(L"n1000000", Str(a->GetAttrAt(0)->name));
        EXPECT_EQ(77, a->GetAttrInteger(L"n1000077", -1));
    }
    {
        EDescription root;
        EXPECT_EQ(1, ReadInto(root, Repeat("</x>&#q<!x>", 300000) + "<" + std::string(3000000, 'n') + "/>"));
        EXPECT_EQ(3000000, root.GetContentAt(root.GetContentCount() - 1)->GetTag().GetLength());
    }
}
