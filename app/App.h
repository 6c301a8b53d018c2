// The viewer's single application object, its page list and action ids.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <array>
#include <map>
#include <vector>

#include "Action.h"
#include "PageList.h"
#include "esl_handle.h"
#include "qel_path.h"
#include "qel_picture.h"

class App : boost::noncopyable {
public:
    // The application object, constructed on the first call.
    static App& Instance();

    LRESULT Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    bool OnCreate(HWND hwnd);
    void OnDestroy(HWND hwnd);

    // Operations of later stages, placeholders for now.
    bool Reload();
    void Next1();
    void Next();
    void Prev1();
    void Prev();
    void DeleteCurrent(HWND hwnd);
    void StartLoaders();
    void StopLoaders();
    void Layout(HWND hwnd);
    void Render(HWND hwnd);

private:
    App();

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

    LRESULT RunAction(int action, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void ReadSettings(DWORD& dwBkColor);
    void WriteSettings();
    void WriteLastList();

    struct MessageRule {
        UINT msg;
        LRESULT (App::*handler)(HWND, UINT, WPARAM, LPARAM);
    };
    static const MessageRule kMessageRules[];

    qel::CPath m_lastListPath{L'\\'};
    qel::CCanvas m_canvas;
    std::array<boost::shared_ptr<qel::CPicture>, 6> m_slots;
    PageList m_list;
    unsigned int m_head = 0;
    std::map<int, int> m_keyAction;
    bool m_bWriteLastSz = true;
    bool m_bPainted = false;
    esl::UniqueKernelHandle m_hLoadNextThread;
    unsigned int m_loadNextThreadId = 0;
    esl::UniqueKernelHandle m_hLoadPrevThread;
    unsigned int m_loadPrevThreadId = 0;
    UINT_PTR m_animTimer = 0;
    bool m_bLButtonDown = false;
    bool m_bRButtonDown = false;
    bool m_bSpread = false;
    bool m_bRightBinding = true;
    POINT m_ptLeft = {0, 0};
    POINT m_ptRight = {0, 0};
    bool m_bInDialog = false;
};

// The window procedure of the class "velk58". An exception raised while a
// message is handled is caught here, never unwinding through the system's
// dispatch, and is carried out of the message loop.
LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Rethrows the exception that WndProc carried, if any.
void RethrowCarriedException();
