// The book as the viewer holds it: the page list with its current position,
// the ring of six decoded pages around that position, the single-page or
// spread mode, and the two loader threads that decode the pages ahead of and
// behind the current one.
//
// Page is qel::CPicture in the program (a stand-in in the tests); List is
// PageList. The ring holds slot(-2) to slot(+3), where slot(+3) and slot(-3)
// are one slot; every loaded slot holds the page its offset names.
//
// No lock: the window's thread changes the position, the head and the mode
// only while both loaders are stopped, and while they run it touches only the
// visible slots, slot(0) and in a spread slot(+1). Each loader touches only
// its own slots (PageLoaders.h).
#pragma once

#include <windows.h>

#include <boost/make_shared.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <array>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "PageFit.h"
#include "esl_handle.h"

template <class Page, class List>
class PageRing : boost::noncopyable {
public:
    using PagePtr = boost::shared_ptr<Page>;

    PageRing() {
        for (auto& slot : m_slots)
            slot = boost::make_shared<Page>();
    }
    // A loader still running (after a carried exception, say) must never
    // read the list or a slot after they are gone.
    ~PageRing() { StopLoaders(); }

    // slot(k) for -3 <= k <= 3.
    const PagePtr& Slot(int k) const { return m_slots[(m_head + 6 + k) % 6]; }
    bool IsSpread() const noexcept { return m_bSpread; }
    bool IsRightBinding() const noexcept { return m_bRightBinding; }
    // The pages of a spread by side: bound on the right, the later page is on the left.
    const PagePtr& LeftPage() const { return Slot(m_bRightBinding ? 1 : 0); }
    const PagePtr& RightPage() const { return Slot(m_bRightBinding ? 0 : 1); }

    // The area the pages are fitted to; set before the first Reload.
    void SetFitArea(int width, int height) {
        m_fitWidth = width;
        m_fitHeight = height;
    }
    void FitSingle(Page& page) const { ::FitSingle(page, m_fitWidth, m_fitHeight); }
    void FitPair(Page& a, Page& b) const { ::FitPair(a, b, m_fitWidth, m_fitHeight); }

    // Empties the ring and decodes the visible page or pages anew; false when
    // one cannot be decoded, and then the loaders stay stopped.
    bool Reload() {
        StopLoaders();
        try {
            for (int k = -2; k <= 3; ++k)
                ReleaseSlot(k);
            LoadSlot(0);
            if (m_bSpread)
                LoadSlot(1);
        } catch (...) {
            return false;
        }
        StartLoaders();
        return true;
    }

    // The moves. A page that becomes visible and cannot be decoded throws.
    void Next1() { Move(1, {3}); }
    void Next() { m_bSpread ? Move(2, {2, 3}) : Next1(); }
    void Prev1() { Move(-1, {-2}); }
    void Prev() { m_bSpread ? Move(-2, {-1, -2}) : Prev1(); }

    // The current page stays current and becomes the first page of a spread.
    void ToggleSpread() {
        StopLoaders();
        m_bSpread = !m_bSpread;
        if (m_bSpread)
            LoadIfEmpty(1);
        StartLoaders();
    }

    // Only in a spread; the side is kept while single and applies again later.
    void ToggleBind() {
        if (!m_bSpread)
            return;
        StopLoaders();
        m_bRightBinding = !m_bRightBinding;
        StartLoaders();
    }

    // A visible page is shown again from its first frame, or decoded now.
    void ShowSlot(int k) {
        if (Slot(k)->IsLoaded())
            Slot(k)->SelectFrame(0);
        else
            LoadSlot(k);
    }

    // Loader threads: PageLoaders.h.
    void StartLoaders();
    void StopLoaders();
    // Waits for each loader to finish its pass, without asking it to quit.
    void WaitLoaders();
    // Continue predicate of a loader's decode: no quit request waits in the
    // calling thread's queue.
    static bool KeepLoading(void* pArg);

protected:
    List m_list;
    std::array<PagePtr, 6> m_slots;
    unsigned int m_head = 0;
    bool m_bSpread = false;
    bool m_bRightBinding = true;
    esl::UniqueKernelHandle m_hLoadNextThread;
    unsigned int m_loadNextThreadId = 0;
    esl::UniqueKernelHandle m_hLoadPrevThread;
    unsigned int m_loadPrevThreadId = 0;
    int m_fitWidth = 0;
    int m_fitHeight = 0;
    // Released pages not yet freed; handed over while the loaders are stopped.
    std::vector<PagePtr> m_released;

private:
    // The slot takes an empty picture at once; the decoded one goes to the
    // next forward loader to free, since freeing a large page (its decoder's
    // bitmap, its image and its reduced copy) takes the window's thread tens
    // of milliseconds.
    void ReleaseSlot(int k) {
        PagePtr& slot = m_slots[(m_head + 6 + k) % 6];
        if (!slot->IsLoaded())
            return;
        m_released.push_back(std::move(slot));
        slot = boost::make_shared<Page>();
    }

    // The page k places after (k > 0) or before (k < 0) the current one.
    const wchar_t* PathAt(int k) const { return k >= 0 ? m_list.PathAfter(k) : m_list.PathBefore(-k); }
    void LoadSlot(int k) { Slot(k)->Load(PathAt(k)); }
    void LoadIfEmpty(int k) {
        if (!Slot(k)->IsLoaded())
            LoadSlot(k);
    }

    // Moves the position and the head together. The pages decoded in the
    // direction of the move are reused; the released slots are exactly those
    // that would now hold a page from the wrong side of the circle.
    void Move(int steps, std::initializer_list<int> released) {
        StopLoaders();
        for (int i = 0; i < std::abs(steps); ++i)
            steps > 0 ? m_list.Advance() : m_list.Retreat();
        m_head = (m_head + 6 + steps) % 6;
        LoadIfEmpty(0);
        if (std::abs(steps) == 2)  // a move by a spread shows a new pair
            LoadIfEmpty(1);
        for (int k : released)
            ReleaseSlot(k);
        StartLoaders();
    }

    struct Pass;
    void RunLoader(bool forward);
    void RunPass(const Pass& pass, bool spread);
    void StartLoader(unsigned(__stdcall* proc)(void*), esl::UniqueKernelHandle& thread, unsigned int& threadId,
                     int line, const char* expression, const char* fault);
    static unsigned __stdcall LoadNextProc(void* pThis);
    static unsigned __stdcall LoadPrevProc(void* pThis);
};

#include "PageLoaders.h"
