#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Action.h"

namespace {
std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}
}  // namespace

TEST(KeyNameTable, RowsKeepTheirPlaces) {
    struct Row {
        size_t index;
        int code;
        const wchar_t* name;
    };
    // The rows where the pattern breaks or a run starts or ends.
    const Row rows[] = {
        {0, 0x08, L"BACK"},      {17, 0x2C, L"SNAPSHOT"}, {18, 0x2E, L"DELETE"},  {19, 0x2D, L"INSERT"},
        {20, 0x2F, L"HELP"},     {21, 0x31, L"1"},        {29, 0x39, L"9"},       {30, 0x30, L"0"},
        {31, 0x41, L"A"},        {56, 0x5A, L"Z"},        {57, 0x60, L"NUMPAD0"}, {66, 0x69, L"NUMPAD9"},
        {67, 0x6A, L"MULTIPLY"}, {72, 0x6F, L"DIVIDE"},   {73, 0x70, L"F1"},      {96, 0x87, L"F24"},
    };
    const NameTable& table = KeyNameTable();
    ASSERT_EQ(97u, table.size());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(row.code, table[row.index].first);
        EXPECT_EQ(std::wstring(row.name), table[row.index].second);
    }
}

TEST(NameTables, NamesAndCodesAreUniqueAndRoundTrip) {
    for (const NameTable* table : {&ActionNameTable(), &KeyNameTable()}) {
        std::set<int> codes;
        std::set<std::wstring> names;
        for (const NameRow& row : *table) {
            SCOPED_TRACE(Narrow(row.second));
            EXPECT_TRUE(codes.insert(row.first).second);
            EXPECT_TRUE(names.insert(row.second).second);
            int code = -1;
            EXPECT_TRUE(CodeOfName(*table, row.second.c_str(), code));
            EXPECT_EQ(row.first, code);
            EXPECT_STREQ(row.second.c_str(), NameOfCode(*table, row.first));
        }
    }
    EXPECT_EQ(11u, ActionNameTable().size());
    int code = -1;
    EXPECT_TRUE(CodeOfName(ActionNameTable(), L"ChangeBkColor", code));
    EXPECT_EQ(kActionChangeBkColor, code);
    EXPECT_STREQ(L"Next1", NameOfCode(ActionNameTable(), kActionNext1));
}

TEST(NameTables, FirstRowWinsAndUnknownsChangeNothing) {
    const NameTable table = {{1, L"a"}, {2, L"a"}, {1, L"b"}};
    int code = 7;
    EXPECT_TRUE(CodeOfName(table, L"a", code));
    EXPECT_EQ(1, code);
    EXPECT_STREQ(L"a", NameOfCode(table, 1));

    code = 7;
    EXPECT_FALSE(CodeOfName(KeyNameTable(), L"right", code)) << "letter case counts";
    EXPECT_FALSE(CodeOfName(KeyNameTable(), L"", code));
    EXPECT_EQ(7, code);
    EXPECT_STREQ(L"", NameOfCode(KeyNameTable(), 0x2B + 0x100));
    EXPECT_STREQ(L"", NameOfCode(KeyNameTable(), 0));
}

TEST(KeyBindings, DefaultsInKeyOrder) {
    KeyActionMap keyAction;
    InsertDefaultBindings(keyAction);
    // The order in which a settings file written with the defaults lists them.
    const wchar_t* const expected[] = {L"RETURN", L"ESCAPE", L"SPACE", L"LEFT", L"UP", L"RIGHT",
                                       L"DOWN",   L"DELETE", L"B",     L"C",    L"L",  L"S"};
    ASSERT_EQ(12u, keyAction.size());
    size_t i = 0;
    for (const auto& binding : keyAction)
        EXPECT_STREQ(expected[i++], NameOfCode(KeyNameTable(), binding.first));
    EXPECT_EQ(kActionNext, ActionOfKey(keyAction, 0x27));
    EXPECT_EQ(kActionToggleSpread, ActionOfKey(keyAction, 'S'));
    EXPECT_EQ(kActionExit, ActionOfKey(keyAction, 0x20));
}

TEST(KeyBindings, FromNamePairs) {
    struct Pair {
        const wchar_t* key;
        const wchar_t* action;
    };
    const Pair pairs[] = {
        {L"X", L"Next"}, {L"X", L"Prev"},  // a key bound twice keeps the first
        {L"Q", L"None"}, {L"NOKEY", L"Exit"}, {L"F5", L"NoAction"}, {L"ZZ", L"Delete"},
    };
    KeyActionMap keyAction;
    for (const Pair& pair : pairs)
        InsertBinding(keyAction, pair.key, pair.action);
    EXPECT_EQ(kActionNext, ActionOfKey(keyAction, 'X'));
    EXPECT_EQ(kActionExit, ActionOfKey(keyAction, 0)) << "unknown keys bind code 0; the first of them holds";
    EXPECT_EQ(kActionNone, ActionOfKey(keyAction, 0x74)) << "an unknown action is None";
    EXPECT_EQ(ActionOfKey(keyAction, 'W'), ActionOfKey(keyAction, 'Q')) << "bound to None acts as unbound";
    EXPECT_EQ(4u, keyAction.size());
}
