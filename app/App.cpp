#include "App.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>
#include <string>
#include <utility>

#include <boost/make_shared.hpp>

#include "ProgramInfo.h"
#include "qel_exception.h"
#include "qel_susie.h"

#define QEL_SOURCE "App"

namespace {

constexpr DWORD kDefaultBkColor = 0xFF808080;  // opaque mid grey

#ifdef VELK58_TEST_FAULTS
// Test builds only: VELK58_FAULT names the place where a check is made to fail.
bool FaultRequested(const char* place) {
    const char* fault = std::getenv("VELK58_FAULT");
    return fault && std::strcmp(fault, place) == 0;
}
#endif

std::exception_ptr gCarriedException;

}  // namespace

//--- App: construction and dispatch

App& App::Instance() {
    static App app;
    return app;
}

App::App() {
    qel::GDIPlus::Startup();
    // The program's folder only, not its subfolders.
    qel::CSpiManager::Instance().LoadPlugins(TheProgramInfo().m_folder.c_str());
    m_lastListPath = qel::CPath(TheProgramInfo().m_folder.c_str(), L'\\') / L"last.sz7";
    for (auto& slot : m_slots)
        slot = boost::make_shared<qel::CPicture>();
    InsertDefaultBindings(m_keyAction);
}

const App::MessageRule App::kMessageRules[] = {
    {WM_CREATE, &App::OnCreateMessage},
    {WM_DESTROY, &App::OnDestroyMessage},
    {WM_PAINT, &App::OnPaint},
    {WM_TIMER, &App::OnTimer},
    {WM_KEYDOWN, &App::OnKeyDown},
    {WM_LBUTTONDOWN, &App::OnLButtonDown},
    {WM_LBUTTONUP, &App::OnLButtonUp},
    {WM_RBUTTONDOWN, &App::OnRButtonDown},
    {WM_RBUTTONUP, &App::OnRButtonUp},
    {WM_MBUTTONUP, &App::OnMButtonUp},
    {WM_MOUSEWHEEL, &App::OnMouseWheel},
};

LRESULT App::Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // The class has no cursor; this keeps it hidden except in the colour dialog.
    if (!m_bInDialog)
        ::SetCursor(nullptr);
    for (const MessageRule& rule : kMessageRules) {
        if (rule.msg == msg)
            return (this->*rule.handler)(hwnd, msg, wParam, lParam);
    }
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT App::OnCreateMessage(HWND hwnd, UINT, WPARAM, LPARAM) { return OnCreate(hwnd) ? 0 : -1; }

LRESULT App::OnDestroyMessage(HWND hwnd, UINT, WPARAM, LPARAM) {
    OnDestroy(hwnd);
    return 0;
}

LRESULT App::OnPaint(HWND hwnd, UINT, WPARAM, LPARAM) {
    PAINTSTRUCT ps{};
    HDC dc = ::BeginPaint(hwnd, &ps);
    if (dc)
        m_canvas.Present(dc, ps.rcPaint, SRCCOPY);
    ::EndPaint(hwnd, &ps);
    m_bPainted = true;
    return 0;
}

LRESULT App::OnTimer(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Render(hwnd);
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

//--- App: input

LRESULT App::OnKeyDown(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
#ifdef VELK58_TEST_FAULTS
    QEL_FAIL_IF(FaultRequested("KeyDown"));
#endif
    auto found = m_keyAction.find(static_cast<int>(wParam));
    if (found == m_keyAction.end())
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    return RunAction(found->second, hwnd, msg, wParam, lParam);
}

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

LRESULT App::OnMButtonUp(HWND hwnd, UINT, WPARAM, LPARAM) {
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

LRESULT App::OnMouseWheel(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Below 0 the wheel was turned toward the user.
    short distance = static_cast<short>(HIWORD(wParam));
    return RunAction(distance < 0 ? kActionNext : kActionPrev, hwnd, msg, wParam, lParam);
}

LRESULT App::RunAction(int action, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (action) {
    case kActionNone:
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    case kActionExit:
        ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case kActionToggleSpread:
        m_bSpread = !m_bSpread;
        StopLoaders();
        StartLoaders();
        Layout(hwnd);
        return 0;
    case kActionToggleBind:
        if (m_bSpread) {
            m_bRightBinding = !m_bRightBinding;
            Layout(hwnd);
        }
        return 0;
    case kActionSetWallPaper:
    case kActionChangeBkColor:
        return 0;  // placeholder: the desktop commands come later
    default:
        break;
    }
    // Page moves wait until the previous move has been painted.
    if (!m_bPainted)
        return 0;
    switch (action) {
    case kActionDelete:
        DeleteCurrent(hwnd);
        return 0;
    case kActionNext1:
        Next1();
        break;
    case kActionNext:
        Next();
        break;
    case kActionPrev1:
        Prev1();
        break;
    case kActionPrev:
        Prev();
        break;
    default:
        return 0;
    }
    Layout(hwnd);
    return 0;
}

//--- App: creation and destruction

bool App::OnCreate(HWND hwnd) {
    const ProgramInfo& info = TheProgramInfo();
    // The path as given: a list file is opened by that name, not a normalised one.
    const wchar_t* startPath = info.m_argc >= 2 ? info.Argument(1) : m_lastListPath.c_str();
    if (m_list.Open(startPath) == 0)
        return false;

    HMONITOR monitor = ::MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY);
    if (!monitor)
        return false;
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);  // 40: the plain record, without the device name
    if (!::GetMonitorInfoA(monitor, &mi))
        return false;
    const RECT& rc = mi.rcMonitor;
    int width = rc.right - rc.left;
    int height = rc.bottom - rc.top;

#ifdef VELK58_TEST_FAULTS
    QEL_FAIL_IF(FaultRequested("OnCreate"));
#endif
    m_canvas.Create(width, height);

    DWORD dwBkColor = kDefaultBkColor;
    ReadSettings(dwBkColor);
    m_canvas.SetBkColor(dwBkColor);

    try {
        if (!Reload())
            return false;
    } catch (...) {
        return false;
    }
    Layout(hwnd);
    return ::SetWindowPos(hwnd, nullptr, rc.left, rc.top, width, height, SWP_SHOWWINDOW) != FALSE;
}

void App::OnDestroy(HWND hwnd) {
    if (m_animTimer != 0) {
        ::KillTimer(hwnd, m_animTimer);
        m_animTimer = 0;
    }
    // Not asked to quit: each loader finishes the pass it is in.
    for (esl::UniqueKernelHandle* thread : {&m_hLoadNextThread, &m_hLoadPrevThread}) {
        if (*thread) {
            ::WaitForSingleObject(thread->get(), INFINITE);
            thread->reset();
        }
    }
    if (m_bWriteLastSz)
        WriteLastList();
    try {
        WriteSettings();
    } catch (...) {
        // A settings file that cannot be written must not stop the ending.
    }
    ::PostQuitMessage(0);
}

//--- Placeholders for later stages

bool App::Reload() { return true; }
void App::Next1() {}
void App::Next() {}
void App::Prev1() {}
void App::Prev() {}
void App::DeleteCurrent(HWND hwnd) { Layout(hwnd); }
void App::StartLoaders() {}
void App::StopLoaders() {}

void App::Layout(HWND hwnd) {
    m_bPainted = false;
    Render(hwnd);
}

void App::Render(HWND hwnd) { ::InvalidateRect(hwnd, nullptr, FALSE); }

void App::ReadSettings(DWORD& /*dwBkColor*/) {
    try {
        // Placeholder: the settings file comes with the settings work.
    } catch (...) {
        // An unreadable settings file keeps what was read before the error.
    }
}

void App::WriteSettings() {}
void App::WriteLastList() {}

//--- The window procedure

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // After a failure the application is finished; the window only waits to go.
    if (gCarriedException)
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    try {
        return App::Instance().Dispatch(hwnd, msg, wParam, lParam);
    } catch (...) {
        gCarriedException = std::current_exception();
    }
    if (msg == WM_CREATE)
        return -1;  // CreateWindowExA fails and the main routine rethrows
    // The message box must not hide behind a full-screen window.
    ::ShowWindow(hwnd, SW_HIDE);
    ::PostQuitMessage(0);
    return 0;
}

void RethrowCarriedException() {
    if (gCarriedException)
        std::rethrow_exception(std::exchange(gCarriedException, nullptr));
}
