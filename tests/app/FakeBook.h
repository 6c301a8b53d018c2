// Stand-ins for the page picture and the page list, so that the ring, its
// moves and its loader threads run without files, decoders or a window.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "PageRing.h"
#include "qel_exception.h"
#include "qel_picture.h"

// How the stand-in decodes. A path holding "bad" fails. A path "name_WxH"
// gives a W x H page (100 x 100 without a size). While slow is set, a
// loader's decode (one with a continue predicate) waits until the predicate
// says stop, for 10 s at most, and then counts as run to its end; a decode
// cut short counts a change when mode() differs from what it was at the start.
struct FakeDecoding {
    static std::atomic<bool> slow;
    static std::atomic<int> inFlight;
    static std::atomic<int> ranToEnd;
    static std::function<int()> mode;
    static std::atomic<int> modeChangesSeen;
};

class FakePage {
public:
    void Load(const wchar_t* path, qel::ContinueProc pfnContinue = nullptr, void* pArg = nullptr) {
        Release();
        ++FakeDecoding::inFlight;
        struct Leave {
            ~Leave() { --FakeDecoding::inFlight; }
        } leave;
        if (std::wcsstr(path, L"bad"))
            throw qel::CException("FakePage", 1, "bad page");
        if (pfnContinue && FakeDecoding::slow)
            WaitWhileLoading(pfnContinue, pArg);
        m_path = path;
        m_width = m_height = 100;
        if (const wchar_t* size = std::wcsrchr(path, L'_'))
            std::swscanf(size + 1, L"%dx%d", &m_width, &m_height);
        m_drawWidth = m_width;
        m_drawHeight = m_height;
        m_bSmall = false;
        m_bLoaded = true;
    }
    void Release() {
        m_bLoaded = false;
        m_path.clear();
    }
    bool IsLoaded() const { return m_bLoaded; }
    const std::wstring& Path() const { return m_path; }

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetDrawWidth() const { return m_drawWidth; }
    int GetDrawHeight() const { return m_drawHeight; }
    // As the picture does: the same size again costs nothing once reduced.
    void SetDrawSize(int width, int height, bool make) {
        if (width == m_drawWidth && height == m_drawHeight && (!make || m_bSmall))
            return;
        m_drawWidth = width;
        m_drawHeight = height;
        m_bSmall = make && (width < m_width || height < m_height);
        m_reductions += m_bSmall;
    }
    int Reductions() const { return m_reductions; }
    void SelectFrame(int) {}

private:
    static void WaitWhileLoading(qel::ContinueProc pfnContinue, void* pArg) {
        const DWORD start = ::GetTickCount();
        const int mode = FakeDecoding::mode ? FakeDecoding::mode() : 0;
        while (pfnContinue(pArg)) {
            if (::GetTickCount() - start > 10000) {
                ++FakeDecoding::ranToEnd;
                return;
            }
            ::Sleep(1);
        }
        if (FakeDecoding::mode && FakeDecoding::mode() != mode)
            ++FakeDecoding::modeChangesSeen;
        throw qel::CException("FakePage", 2, "cut short");
    }

    std::wstring m_path;
    bool m_bLoaded = false;
    bool m_bSmall = false;
    int m_width = 0;
    int m_height = 0;
    int m_drawWidth = 0;
    int m_drawHeight = 0;
    int m_reductions = 0;
};

// A circle of page names.
class FakeList {
public:
    void Open(std::vector<std::wstring> pages) {
        m_pages = std::move(pages);
        m_current = 0;
    }
    size_t Count() const { return m_pages.size(); }
    const wchar_t* CurrentPath() const { return PathAfter(0); }
    const wchar_t* PathAfter(size_t k) const { return m_pages[(m_current + k) % m_pages.size()].c_str(); }
    const wchar_t* PathBefore(size_t k) const {
        size_t n = m_pages.size();
        return m_pages[(m_current + n - k % n) % n].c_str();
    }
    void Advance() { m_current = (m_current + 1) % m_pages.size(); }
    void Retreat() { m_current = (m_current + m_pages.size() - 1) % m_pages.size(); }

private:
    std::vector<std::wstring> m_pages;
    size_t m_current = 0;
};

class TestRing : public PageRing<FakePage, FakeList> {
public:
    explicit TestRing(std::vector<std::wstring> pages, int width = 1920, int height = 1080) {
        m_list.Open(std::move(pages));
        SetFitArea(width, height);
    }
    FakePage& Page(int k) const { return *Slot(k); }
};
