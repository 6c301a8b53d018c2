// The viewer's move rule, its command line, and key and action names and bindings.
#include <gtest/gtest.h>

#include <string>

#include "App.h"
#include "ProgramInfo.h"
#include "qel/PictureTestSupport.h"

// App's friend: a book of three pages opened as OnCreate does, without a window.
class AppTest : public picturetest::ScratchTest {
protected:
    void OpenBook(App& app) {
        for (int i = 1; i <= 3; ++i)
            picturetest::WriteBmp(In(L"p" + std::to_wstring(i) + L".bmp"), 8 * i, 6, [](int, int) { return 0; });
        ASSERT_EQ(3u, app.m_list.Open(folder_.c_str()));
        app.m_canvas.Create(64, 48);
        app.SetFitArea(64, 48);
        ASSERT_TRUE(app.Reload());
        app.Layout(nullptr);
    }
    static std::wstring Current(const App& app) { return app.m_list.CurrentPath(); }
    static bool& Painted(App& app) { return app.m_bPainted; }
    static void Run(App& app, int action) { app.RunAction(action, nullptr, WM_KEYDOWN, 0, 0); }
};

namespace {

TEST_F(AppTest, MovesWaitForThePaintOfThePreviousMove) {
    App app;
    OpenBook(app);
    const std::wstring first = Current(app);
    for (int move : {kActionNext1, kActionNext, kActionPrev1, kActionPrev, kActionDelete})
        Run(app, move);
    EXPECT_EQ(first, Current(app)) << "a move before the paint of the layout";
    Painted(app) = true;
    Run(app, kActionNext1);
    const std::wstring second = Current(app);
    EXPECT_NE(first, second);
    EXPECT_FALSE(Painted(app)) << "the layout waits for its own paint";
    Run(app, kActionNext1);
    EXPECT_EQ(second, Current(app)) << "a held key skips the moves in between";
    Run(app, kActionToggleSpread);  // not a move: carried out unpainted
    EXPECT_TRUE(app.IsSpread());
}

TEST(ProgramInfo, SplitsTheCommandLineAndTheProgramPath) {
    ProgramInfo info(L"\"C:\\Program Files\\v\\viewer.v2.exe\" \"D:\\a book\\p 1.jpg\" b");
    EXPECT_EQ(3, info.m_argc);
    EXPECT_EQ(L"C:\\Program Files\\v\\", info.m_folder);
    EXPECT_EQ(L"viewer.v2.exe", info.m_fileName);
    EXPECT_EQ(L"viewer.v2", info.m_stem);
    EXPECT_STREQ(L"D:\\a book\\p 1.jpg", info.Argument(1));
    EXPECT_EQ(nullptr, info.Argument(3));
    EXPECT_EQ(nullptr, info.Argument(-1));
}

// Each name and each code once, both ways; an unknown name changes nothing,
// and letter case counts. A key bound twice keeps its first action; unknown
// keys bind code 0, which no key produces; an unknown action is None.
TEST(KeyBindings, NamesAndTheFirstBindingOfAKey) {
    const NameTable& keys = KeyNameTable();
    for (const NameTable* table : {&keys, &ActionNameTable()}) {
        for (const NameRow& row : *table) {
            int code = -1;
            EXPECT_TRUE(CodeOfName(*table, row.second.c_str(), code));
            EXPECT_EQ(row.first, code) << row.second;
            EXPECT_EQ(row.second, NameOfCode(*table, row.first));
        }
    }
    EXPECT_EQ(97u, keys.size());
    int code = 7;
    for (const wchar_t* unknown : {L"right", L"", L"NOKEY"})
        EXPECT_FALSE(CodeOfName(keys, unknown, code)) << unknown;
    EXPECT_EQ(7, code);
    EXPECT_STREQ(L"", NameOfCode(keys, 0));

    KeyActionMap keyAction;
    InsertDefaultBindings(keyAction);
    const wchar_t* const pairs[][2] = {{L"RIGHT", L"Prev"}, {L"NOKEY", L"Exit"}, {L"ZZ", L"Next"}, {L"F5", L"Next2"}};
    for (const auto& pair : pairs)
        InsertBinding(keyAction, pair[0], pair[1]);
    EXPECT_EQ(kActionNext, ActionOfKey(keyAction, VK_RIGHT));
    EXPECT_EQ(kActionExit, ActionOfKey(keyAction, 0));
    EXPECT_EQ(kActionNone, ActionOfKey(keyAction, VK_F5));
    EXPECT_EQ(14u, keyAction.size());
}

}  // namespace
