#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "esl_description.h"

namespace {

std::wstring Str(const EWideString& wstr) {
    return std::wstring(wstr.CharPtr(), wstr.GetLength());
}

std::wstring AttrString(const EDescription& node, const wchar_t* pwszName) {
    EWideString value;
    node.GetAttrString(value, pwszName, L"<missing>");
    return Str(value);
}

// A node type of its own, to see that every child is made by the factory.
class CountingNode : public EDescription {
public:
    ESL_RUNTIME_CLASS("CountingNode", EDescription);
    explicit CountingNode(int* pnCreated) : m_pnCreated(pnCreated) {}
    EDescription* CreateDescription() noexcept override {
        ++*m_pnCreated;
        return new CountingNode(m_pnCreated);
    }

private:
    int* m_pnCreated;
};

}  // namespace

TEST(EDescriptionAttributes, StaySortedByUnitsAndUniqueWhateverTheOrderSet) {
    std::vector<std::wstring> names = {L"type", L"value", L"obj_name", L"Zeta", L"a", L"ab", L"\u3042", L"_", L"A"};
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::shuffle(names.begin(), names.end(), rng);
        EDescription node;
        for (const std::wstring& name : names)
            ASSERT_EQ(0, node.SetAttrString(name.c_str(), EWideString(L"first")));
        for (const std::wstring& name : names)
            ASSERT_EQ(0, node.SetAttrString(name.c_str(), EWideString((L"v" + name).c_str())));
        ASSERT_EQ(static_cast<int>(names.size()), node.GetAttrCount());
        for (int i = 1; i < node.GetAttrCount(); ++i)
            EXPECT_LT(Str(node.GetAttrAt(i - 1)->name), Str(node.GetAttrAt(i)->name));
        for (const std::wstring& name : names) {
            EXPECT_GE(node.FindAttr(name.c_str()), 0);
            EXPECT_EQ(L"v" + name, AttrString(node, name.c_str()));
        }
        EXPECT_EQ(-1, node.FindAttr(L"missing"));
        EXPECT_EQ(L"<missing>", AttrString(node, L"TYPE")) << "names are case-sensitive";
    }
}

TEST(EDescriptionAttributes, RemoveAndDefaults) {
    EDescription node;
    node.SetAttrString(L"b", EWideString(L"2"));
    node.SetAttrString(L"a", EWideString(L"1"));
    node.RemoveAttr(L"a");
    EXPECT_EQ(1, node.GetAttrCount());
    EXPECT_EQ(L"<missing>", AttrString(node, L"a"));
    EWideString value(L"old");
    node.GetAttrString(value, L"a");
    EXPECT_EQ(L"", Str(value)) << "a null default is the empty string";
    EXPECT_EQ(7, node.GetAttrInteger(L"a", 7));
    EXPECT_NE(0, node.SetAttrString(L"", EWideString(L"x"))) << "an attribute needs a name";
}

TEST(EDescriptionAttributes, IntegersAreWrittenByTheIntegerRule) {
    struct Case {
        int nValue;
        const wchar_t* pwszText;
    };
    const Case cases[] = {
        {0, L"0"},
        {32768, L"32768"},
        {32769, L"00008001H"},
        {-1, L"-1"},
        {-32768, L"-32768"},
        {-32769, L"0FFFF7FFFH"},
        {static_cast<int>(0xFF808080u), L"0FF808080H"},
        {0x7FFFFFFF, L"7FFFFFFFH"},
        {static_cast<int>(0x9FFFFFFFu), L"9FFFFFFFH"},
        {static_cast<int>(0xA0000000u), L"0A0000000H"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nValue);
        EDescription node;
        node.SetAttrInteger(L"value", c.nValue);
        EXPECT_EQ(c.pwszText, AttrString(node, L"value"));
        EXPECT_EQ(c.nValue, node.GetAttrInteger(L"value", 12345)) << "reads back";
    }
}

TEST(EDescriptionAttributes, IntegersAreReadByTheNumberRule) {
    struct Case {
        const wchar_t* pwszText;
        int nExpected;  // 999 is the default: not a number
    };
    const Case cases[] = {
        {L"41h", 0x41}, {L"41H", 0x41},  {L"17o", 15},
        {L"99t", 99},   {L"  -12", -12}, {L"+7", 7},
        {L"1.9", 1},    {L"12 x", 12},   {L"0ffh", 255},
        {L"1f", 999},   {L"19o", 999},   {L"", 999},
        {L"abc", 999},  {L"x41", 999},   {L"-", 999},
        {L".", 999},    {L"fFh", 255},   {L"0FF808080H", static_cast<int>(0xFF808080u)},
        {L"1b", 999},  // "b" is a hexadecimal digit here, not a binary suffix
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.pwszText << '"');
        EDescription node;
        node.SetAttrString(L"n", EWideString(c.pwszText));
        EXPECT_EQ(c.nExpected, node.GetAttrInteger(L"n", 999));
    }
}

TEST(EDescriptionAttributes, RealsReadBackAndScanFractions) {
    EDescription node;
    node.SetAttrReal(L"r", -2.375);
    EXPECT_DOUBLE_EQ(-2.375, node.GetAttrReal(L"r", 0.0));
    node.SetAttrString(L"h", EWideString(L"a.8h"));
    EXPECT_DOUBLE_EQ(10.5, node.GetAttrReal(L"h", 0.0));
    node.SetAttrString(L"bad", EWideString(L"1.2e5"));
    EXPECT_DOUBLE_EQ(4.0, node.GetAttrReal(L"bad", 4.0));
}

TEST(EDescriptionContents, FindByTagIgnoresAsciiCaseOnly) {
    EDescription root;
    const wchar_t* tags[] = {L"Option", L"", L"option", L"\u00c4", L"!--"};
    for (const wchar_t* tag : tags) {
        EDescription* p = root.CreateDescription();
        p->SetTag(tag);
        ASSERT_EQ(0, root.AddContent(p));
        EXPECT_EQ(&root, p->GetParent());
    }
    EXPECT_EQ(0, root.FindContentTag(L"OPTION"));
    EXPECT_EQ(2, root.FindContentTag(L"option", 1));
    EXPECT_EQ(-1, root.FindContentTag(L"option", 3));
    EXPECT_EQ(1, root.FindContentTag(nullptr)) << "null finds the first empty tag";
    EXPECT_EQ(-1, root.FindContentTag(L"\u00e4")) << "only A-Z fold";
    EXPECT_EQ(nullptr, root.GetContentAt(5));
    EXPECT_EQ(nullptr, root.GetContentAt(-1));
    EXPECT_EQ(root.GetContentAt(0), root.GetContentTag(L"oPtIoN"));
    EDescription* pNew = root.GetContentTag(L"fresh");
    ASSERT_NE(nullptr, pNew);
    EXPECT_EQ(6, root.GetContentCount());
    EXPECT_EQ(pNew, root.GetContentAt(5));
    EXPECT_EQ(L"fresh", Str(pNew->GetTag()));
}

TEST(EDescriptionContents, InsertRemoveAndComments) {
    EDescription root;
    for (const wchar_t* tag : {L"a", L"c"})
        root.GetContentTag(tag);
    EDescription* pB = root.CreateDescription();
    pB->SetTag(L"b");
    root.InsertContent(1, pB);
    EDescription* pComment = root.CreateDescription();
    pComment->SetAsComment(L" note ");
    root.InsertContent(0, pComment);
    ASSERT_EQ(4, root.GetContentCount());
    EXPECT_TRUE(pComment->IsComment());
    EXPECT_EQ(L"!--", Str(pComment->GetTag()));
    EXPECT_EQ(L"!-- note -->", Str(pComment->GetText()));
    EXPECT_EQ(pB, root.GetContentAt(2));
    root.RemoveContentAt(2);
    EXPECT_EQ(L"c", Str(root.GetContentAt(2)->GetTag()));
    root.RemoveContentAt(7);  // out of range: nothing
    EXPECT_EQ(3, root.GetContentCount());
    root.RemoveAllContents();
    EXPECT_EQ(0, root.GetContentCount());
}

TEST(EDescriptionContents, SectionsAreFoundOrCreatedByTheFactory) {
    int nCreated = 0;
    CountingNode root(&nCreated);
    EDescription* pOption = root.GetOrCreateSection(L"serialization\\option");
    ASSERT_NE(nullptr, pOption);
    EXPECT_EQ(2, nCreated);
    EXPECT_NE(nullptr, ESLTypeCast<CountingNode>(pOption)) << "children are the derived type";
    EXPECT_TRUE(pOption->IsKindOf("EDescription"));
    EDescription plain;
    EXPECT_EQ(nullptr, ESLTypeCast<CountingNode>(&plain));
    EXPECT_EQ(pOption, root.GetOrCreateSection(L"SERIALIZATION\\Option"));
    EXPECT_EQ(2, nCreated);
    EXPECT_EQ(pOption, root.GetOrCreateSection(L"serialization\\\\option\\")) << "empty parts name nothing";
    EXPECT_EQ(&root, root.GetOrCreateSection(L""));
    EXPECT_EQ(L"option", Str(pOption->GetTag()));
    EXPECT_EQ(L"serialization", Str(pOption->GetParent()->GetTag()));
}

// Guards against a recursive destructor overflowing the stack.
TEST(EDescriptionContents, AMillionLevelChainIsDestroyedWithoutRecursion) {
    auto pRoot = std::make_unique<EDescription>();
    EDescription* p = pRoot.get();
    for (int i = 0; i < 1000000; ++i) {
        EDescription* pChild = new EDescription;
        pChild->SetTag(L"a");
        ASSERT_EQ(0, p->AddContent(pChild));
        p = pChild;
    }
    pRoot.reset();
}
