#include <gtest/gtest.h>

#include <string>

#include "App.h"
#include "qel/PictureTestSupport.h"

// App's friend: opens a book as OnCreate does, on a canvas without a window.
class AppTest : public picturetest::ScratchTest {
protected:
    void OpenBook(App& app, int pages) {
        for (int i = 1; i <= pages; ++i)
            picturetest::WriteBmp(In(L"p" + std::to_wstring(i) + L".bmp"), 8 * i, 6, [](int, int) { return 0; });
        ASSERT_EQ(static_cast<uint32_t>(pages), app.m_list.Open(folder_.c_str()));
        app.m_canvas.Create(64, 48);
        app.SetFitArea(64, 48);
        ASSERT_TRUE(app.Reload());
        app.Layout(nullptr);
    }
    static std::wstring Current(const App& app) { return app.m_list.CurrentPath(); }
    static void Paint(App& app) { app.m_bPainted = true; }
    static bool IsPainted(const App& app) { return app.m_bPainted; }
    static LRESULT Run(App& app, int action) { return app.RunAction(action, nullptr, WM_KEYDOWN, 0, 0); }
    static void Wheel(App& app, short distance) {
        app.OnMouseWheel(nullptr, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(distance)), 0);
    }
};

namespace {

TEST_F(AppTest, MovesWaitForThePaintOfThePreviousMove) {
    App app;
    OpenBook(app, 3);
    const std::wstring first = Current(app);
    for (int move : {kActionNext1, kActionNext, kActionPrev1, kActionPrev}) {
        SCOPED_TRACE(move);
        Run(app, move);
        EXPECT_EQ(first, Current(app)) << "a move before the paint of the layout";
    }
    Paint(app);
    Run(app, kActionNext1);
    const std::wstring second = Current(app);
    EXPECT_NE(first, second);
    EXPECT_FALSE(IsPainted(app)) << "the layout waits for its own paint";
    Run(app, kActionNext1);
    EXPECT_EQ(second, Current(app)) << "a held key skips the moves in between";

    // Not a move: it is carried out whether painted or not.
    Run(app, kActionToggleSpread);
    EXPECT_TRUE(app.IsSpread());
}

TEST_F(AppTest, WheelTowardTheUserTurnsOnAndAnyOtherDistanceBack) {
    App app;
    OpenBook(app, 3);
    const std::wstring first = Current(app);
    Paint(app);
    Wheel(app, -120);
    const std::wstring second = Current(app);
    EXPECT_NE(first, second);
    for (short distance : {0, 120}) {
        SCOPED_TRACE(distance);
        Paint(app);
        Wheel(app, distance);
        EXPECT_EQ(first, Current(app));
        Paint(app);
        Wheel(app, -1);
        EXPECT_EQ(second, Current(app));
    }
}

}  // namespace
