#include "App.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "ProbeHooks.h"
#include "ProgramInfo.h"
#include "qel_exception.h"
#include "qel_susie.h"

#define QEL_SOURCE "App"

namespace {

constexpr DWORD kDefaultBkColor = 0xFF808080;  // opaque mid grey

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
    InsertDefaultBindings(m_keyAction);
}

// Before the canvas and the rest go; the ring's own destructor would be too late.
App::~App() {
    StopLoaders();
}

const App::MessageRule App::kMessageRules[] = {
    {WM_CREATE, &App::OnCreateMessage}, {WM_DESTROY, &App::OnDestroyMessage},  {WM_PAINT, &App::OnPaint},
    {WM_TIMER, &App::OnTimer},          {WM_KEYDOWN, &App::OnKeyDown},         {WM_LBUTTONDOWN, &App::OnLButtonDown},
    {WM_LBUTTONUP, &App::OnLButtonUp},  {WM_RBUTTONDOWN, &App::OnRButtonDown}, {WM_RBUTTONUP, &App::OnRButtonUp},
    {WM_MBUTTONUP, &App::OnMButtonUp},  {WM_MOUSEWHEEL, &App::OnMouseWheel},
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

LRESULT App::OnCreateMessage(HWND hwnd, UINT, WPARAM, LPARAM) {
    return OnCreate(hwnd) ? 0 : -1;
}

LRESULT App::OnDestroyMessage(HWND hwnd, UINT, WPARAM, LPARAM) {
    OnDestroy(hwnd);
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

    QEL_FAIL_IF(FaultRequested("OnCreate"));
    m_canvas.Create(width, height);
    SetFitArea(m_canvas.GetWidth(), m_canvas.GetHeight());

    DWORD dwBkColor = kDefaultBkColor;
    ReadSettings(dwBkColor);
    m_canvas.SetBkColor(dwBkColor);

    if (!Reload())
        return false;
    Layout(hwnd);
    m_bCreated = ::SetWindowPos(hwnd, nullptr, rc.left, rc.top, width, height, SWP_SHOWWINDOW) != FALSE;
    return m_bCreated;
}

void App::OnDestroy(HWND hwnd) {
    StopAnimation(hwnd);
    // Not asked to quit: each loader finishes the pass it is in.
    WaitLoaders();
    // A start that failed half-way knows neither the book nor the settings:
    // it must not write an empty list or the defaults over the user's files.
    if (m_bCreated) {
        if (m_bWriteLastSz)
            WriteLastList();
        try {
            WriteSettings();
        } catch (...) {
            // A settings file that cannot be written must not stop the ending.
        }
    }
    ::PostQuitMessage(0);
}

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
