// The viewer's single application object and its window procedure.
#pragma once

#include <windows.h>

#include "Action.h"
#include "PageList.h"
#include "PageRing.h"
#include "qel_path.h"
#include "qel_picture.h"

// The viewer's state beyond the book: the window's canvas and placement of
// the pages, the input state and the key bindings. The book itself, with its
// ring of decoded pages and the loader threads, is the PageRing it extends.
class App : public PageRing<qel::CPicture, PageList> {
public:
    using Ring = PageRing<qel::CPicture, PageList>;

    // The application object, constructed on the first call.
    static App& Instance();

    LRESULT Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    bool OnCreate(HWND hwnd);
    void OnDestroy(HWND hwnd);

    void DeleteCurrent(HWND hwnd);
    void SetWallPaper(HWND hwnd);
    void ChangeBkColor(HWND hwnd);
    // Places the visible page or pages, then Render; the next paint marks it shown.
    void Layout(HWND hwnd);
    // Composes the canvas, runs the animation of a single page, asks for a paint.
    void Render(HWND hwnd);

    // Carries out an action from a key or a mouse rule; moves wait for the
    // paint of the previous one.
    LRESULT RunAction(int action, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    // The program has one, made by Instance(); tests make their own.
    App();
    ~App();

private:
    friend class AppTest;

    LRESULT OnCreateMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroyMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnTimer(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnKeyDown(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDown(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnRButtonDown(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonUp(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnRButtonUp(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMButtonUp(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMouseWheel(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    void DrawAnimated(HWND hwnd, qel::CPicture& page);
    void StopAnimation(HWND hwnd);

    void Exit(HWND hwnd);
    template <void (Ring::*move)()>
    void Turn(HWND hwnd);
    void SwitchSpread(HWND hwnd);
    void SwitchBinding(HWND hwnd);

    void ReadSettings(DWORD& dwBkColor);
    void WriteSettings();
    void WriteLastList();

    struct MessageRule {
        UINT msg;
        LRESULT (App::*handler)(HWND, UINT, WPARAM, LPARAM);
    };
    static const MessageRule kMessageRules[];

    struct ActionRule {
        int action;
        bool bMove;  // ignored until the previous move has been painted
        void (App::*run)(HWND hwnd);
    };
    static const ActionRule kActionRules[];

    qel::CPath m_lastListPath{L'\\'};
    qel::CCanvas m_canvas;
    KeyActionMap m_keyAction;
    bool m_bWriteLastSz = true;
    bool m_bPainted = false;
    UINT_PTR m_animTimer = 0;
    bool m_bLButtonDown = false;
    bool m_bRButtonDown = false;
    POINT m_ptLeft = {0, 0};
    POINT m_ptRight = {0, 0};
    bool m_bInDialog = false;
    // OnCreate ran to its end: only then are the user's files written at exit.
    bool m_bCreated = false;
    // The settings file is there but could not be read: it is left as it is.
    bool m_bKeepSettingsFile = false;
};

// The window procedure of the class "velk58". An exception raised while a
// message is handled is caught here, never unwinding through the system's
// dispatch, and is carried out of the message loop.
LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Rethrows the exception that WndProc carried, if any.
void RethrowCarriedException();
