// Keys, mouse buttons and the wheel, and the actions they carry out.
#include "App.h"

#include "ProbeHooks.h"
#include "qel_exception.h"

#define QEL_SOURCE "App"

namespace {

// The second button pressed while the first is held closes the viewer.
LRESULT ButtonDown(bool& bThisDown, bool bOtherDown, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    bThisDown = true;
    if (bOtherDown) {
        ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    }
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

// Keys held with Alt (and F10) come as WM_SYSKEYDOWN and reach no action.
LRESULT App::OnKeyDown(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // An unbound key and a key bound to "None" both take the default handling.
    const int action = ActionOfKey(m_keyAction, static_cast<int>(wParam));
    if (action == kActionNone)
        ProbeStats();  // the probe's counts come on a key that does nothing
    ProbeEvent("key");
    QEL_FAIL_IF(FaultRequested("KeyDown"));
    return RunAction(action, hwnd, msg, wParam, lParam);
}

LRESULT App::OnLButtonDown(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return ButtonDown(m_bLButtonDown, m_bRButtonDown, hwnd, msg, wParam, lParam);
}

LRESULT App::OnRButtonDown(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return ButtonDown(m_bRButtonDown, m_bLButtonDown, hwnd, msg, wParam, lParam);
}

LRESULT App::OnLButtonUp(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    m_bLButtonDown = false;
    return RunAction(m_bSpread ? kActionNext : kActionNext1, hwnd, msg, wParam, lParam);
}

LRESULT App::OnRButtonUp(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    m_bRButtonDown = false;
    return RunAction(m_bSpread ? kActionPrev : kActionPrev1, hwnd, msg, wParam, lParam);
}

// The middle button's down message takes the default handling.
LRESULT App::OnMButtonUp(HWND hwnd, UINT, WPARAM, LPARAM) {
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

LRESULT App::OnMouseWheel(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Below 0 the wheel was turned toward the user; 0 counts as away.
    short distance = static_cast<short>(HIWORD(wParam));
    return RunAction(distance < 0 ? kActionNext : kActionPrev, hwnd, msg, wParam, lParam);
}

// Moves (Delete and the turns) wait until the previous move has been painted:
// a held key or a fast wheel skips the moves in between instead of queueing
// them. "None" and ids without a rule take the default handling.
const App::ActionRule App::kActionRules[] = {
    {kActionExit, false, &App::Exit},
    {kActionDelete, true, &App::DeleteCurrent},
    {kActionNext1, true, &App::Turn<&Ring::Next1>},
    {kActionNext, true, &App::Turn<&Ring::Next>},
    {kActionPrev1, true, &App::Turn<&Ring::Prev1>},
    {kActionPrev, true, &App::Turn<&Ring::Prev>},
    {kActionToggleSpread, false, &App::SwitchSpread},
    {kActionToggleBind, false, &App::SwitchBinding},
    {kActionSetWallPaper, false, &App::SetWallPaper},
    {kActionChangeBkColor, false, &App::ChangeBkColor},
};

LRESULT App::RunAction(int action, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    for (const ActionRule& rule : kActionRules) {
        if (rule.action != action)
            continue;
        if (!rule.bMove || m_bPainted)
            (this->*rule.run)(hwnd);
        return 0;
    }
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

void App::Exit(HWND hwnd) {
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

template <void (App::Ring::*move)()>
void App::Turn(HWND hwnd) {
    (this->*move)();
    Layout(hwnd);
}

void App::SwitchSpread(HWND hwnd) {
    ToggleSpread();
    Layout(hwnd);
}

// In single-page mode nothing changes, not even the side a later spread uses.
void App::SwitchBinding(HWND hwnd) {
    if (!m_bSpread)
        return;
    ToggleBind();
    Layout(hwnd);
}
