// The two loader threads of PageRing: the forward loader decodes the pages
// after the current one, the backward loader those before it. They live for
// one position: every move, and every change of mode, stops both first and
// starts a fresh pair at its end. The stop request is a WM_QUIT in the
// loader's own queue, which the loader only looks at and never removes.
#pragma once

#include <process.h>

#include <algorithm>
#include <utility>

#include "ProbeHooks.h"
#include "qel_exception.h"

// The slots of one loader's pass, nearest first. In a spread the pair is
// fitted as Layout will fit it once it is shown: earlier page first.
template <class Page, class List>
struct PageRing<Page, List>::Pass {
    int offsets[3];
    int count;
};

template <class Page, class List>
void PageRing<Page, List>::StartLoaders() {
    ProbeEvent("loaders");
    StartLoader(&LoadNextProc, m_hLoadNextThread, m_loadNextThreadId, 414, "m_hLoadNextThread == NULL",
                "LoadNextThread");
    StartLoader(&LoadPrevProc, m_hLoadPrevThread, m_loadPrevThreadId, 418, "m_hLoadPrevThread == NULL",
                "LoadPrevThread");
}

template <class Page, class List>
void PageRing<Page, List>::StartLoader(unsigned(__stdcall* proc)(void*), esl::UniqueKernelHandle& thread,
                                       unsigned int& threadId, int line, const char* expression, const char* fault) {
    uintptr_t handle = FaultRequested(fault) ? 0 : ::_beginthreadex(nullptr, 0, proc, this, 0, &threadId);
    thread.reset(reinterpret_cast<HANDLE>(handle));
    QEL_FAIL_IF_TEXT_AT("App", line, !thread, expression);
}

template <class Page, class List>
void PageRing<Page, List>::StopLoaders() {
    for (auto loader : {std::make_pair(&m_hLoadNextThread, m_loadNextThreadId),
                        std::make_pair(&m_hLoadPrevThread, m_loadPrevThreadId)}) {
        HANDLE thread = loader.first->get();
        if (!thread)
            continue;
        // A thread's queue comes into being with its first peek; a request
        // posted before that fails and would be lost, and the turn would then
        // wait for a whole pass of decodes. So post again until the request is
        // taken or the thread has ended.
        while (!::PostThreadMessageA(loader.second, WM_QUIT, 0, 0) &&
               ::WaitForSingleObject(thread, 1) == WAIT_TIMEOUT) {
        }
    }
    WaitLoaders();
}

template <class Page, class List>
void PageRing<Page, List>::WaitLoaders() {
    for (esl::UniqueKernelHandle* thread : {&m_hLoadNextThread, &m_hLoadPrevThread}) {
        if (*thread) {
            ::WaitForSingleObject(thread->get(), INFINITE);
            thread->reset();
        }
    }
}

template <class Page, class List>
bool PageRing<Page, List>::KeepLoading(void*) {
    MSG msg;
    return !::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
}

template <class Page, class List>
unsigned __stdcall PageRing<Page, List>::LoadNextProc(void* pThis) {
    static_cast<PageRing*>(pThis)->RunLoader(true);
    return 0;
}

template <class Page, class List>
unsigned __stdcall PageRing<Page, List>::LoadPrevProc(void* pThis) {
    static_cast<PageRing*>(pThis)->RunLoader(false);
    return 0;
}

template <class Page, class List>
void PageRing<Page, List>::RunLoader(bool forward) {
    // The queue first, before anything that takes time, so that a stop
    // request finds it at once.
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (forward) {
        // Freed here, before this pass decodes anything new.
        std::vector<PagePtr> released;
        released.swap(m_released);
    }
    static const Pass kPasses[2][2] = {
        // single page: backward, forward
        {{{-1, -2}, 2}, {{1, 2, 3}, 3}},
        // spread: the previous spread, the next spread
        {{{-1, -2}, 2}, {{2, 3}, 2}},
    };
    const bool spread = m_bSpread;  // read once: it cannot change while the loader runs
    try {
        RunPass(kPasses[spread][forward], spread);
    } catch (...) {
        // A page that cannot be decoded, or a decode cut short: the slot stays
        // empty and the rest of the pass is left; the window's thread loads
        // the page itself if it is ever shown.
    }
    ProbeEvent("loader-end");
}

template <class Page, class List>
void PageRing<Page, List>::RunPass(const Pass& pass, bool spread) {
    for (int i = 0; i < pass.count; ++i) {
        if (!KeepLoading(nullptr))
            return;
        const int k = pass.offsets[i];
        PagePtr page = Slot(k);  // a second owner for the time of the decode
        if (page->IsLoaded())
            continue;
        page->Load(PathAt(k), &KeepLoading, nullptr);
        if (!spread)
            FitSingle(*page);  // a page loaded before keeps its size
    }
    if (spread) {
        // Also when both were loaded before: they may have been fitted alone.
        const int first = std::min(pass.offsets[0], pass.offsets[1]);
        PagePtr a = Slot(first);
        PagePtr b = Slot(first + 1);
        FitPair(*a, *b);
    }
}
