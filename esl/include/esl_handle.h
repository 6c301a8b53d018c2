// Move-only owners for Win32 handles: the closer and the invalid value are
// part of the type, so every acquire has exactly one release.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include <utility>

namespace esl {

template <class Traits>
class UniqueAny {
public:
    using Type = typename Traits::Type;

    UniqueAny() noexcept = default;
    explicit UniqueAny(Type h) noexcept : m_h(h) {}
    UniqueAny(UniqueAny&& other) noexcept : m_h(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    Type get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::Invalid(); }

    Type release() noexcept { return std::exchange(m_h, Traits::Invalid()); }
    void reset(Type h = Traits::Invalid()) noexcept {
        Type old = std::exchange(m_h, h);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }
    // For out-parameters: releases what is held, then hands out the slot.
    Type* put() noexcept {
        reset();
        return &m_h;
    }

private:
    Type m_h = Traits::Invalid();
};

template <class T, class Closer, Closer close>
struct NullTraits {
    using Type = T;
    static constexpr Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { close(h); }
};

struct FileTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static constexpr Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

// A COM interface pointer: one reference, given back with Release.
template <class T>
struct ComTraits {
    using Type = T*;
    static constexpr Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { p->Release(); }
};

using UniqueFile = UniqueAny<FileTraits>;
using UniqueFind = UniqueAny<FindTraits>;
using UniqueRegKey = UniqueAny<RegKeyTraits>;
using UniqueKernelHandle = UniqueAny<NullTraits<HANDLE, decltype(&::CloseHandle), &::CloseHandle>>;
using UniqueModule = UniqueAny<NullTraits<HMODULE, decltype(&::FreeLibrary), &::FreeLibrary>>;
using UniqueDc = UniqueAny<NullTraits<HDC, decltype(&::DeleteDC), &::DeleteDC>>;
using UniqueGdiObject = UniqueAny<NullTraits<HGDIOBJ, decltype(&::DeleteObject), &::DeleteObject>>;
using UniqueBitmap = UniqueAny<NullTraits<HBITMAP, decltype(&::DeleteObject), &::DeleteObject>>;
using UniqueGlobal = UniqueAny<NullTraits<HGLOBAL, decltype(&::GlobalFree), &::GlobalFree>>;
using UniqueLocal = UniqueAny<NullTraits<HLOCAL, decltype(&::LocalFree), &::LocalFree>>;
using UniqueStream = UniqueAny<ComTraits<IStream>>;
using UniqueGdiplusBitmap = UniqueAny<NullTraits<Gdiplus::GpBitmap*, decltype(&Gdiplus::DllExports::GdipDisposeImage),
                                                 &Gdiplus::DllExports::GdipDisposeImage>>;

// A selected GDI object: declared after its DC, so it is deselected first.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ obj) noexcept : m_dc(dc), m_old(::SelectObject(dc, obj)) {}
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;
    ~ScopedSelect() {
        if (m_old && m_old != HGDI_ERROR)
            ::SelectObject(m_dc, m_old);
    }

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// A window's DC from GetDC, given back with ReleaseDC on the same window.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) noexcept : m_hwnd(hwnd), m_dc(::GetDC(hwnd)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (m_dc)
            ::ReleaseDC(m_hwnd, m_dc);
    }
    HDC get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_hwnd;
    HDC m_dc;
};

// GlobalLock for the lifetime of the guard.
template <class T = void>
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL h) noexcept : m_h(h), m_p(static_cast<T*>(::GlobalLock(h))) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard() {
        if (m_p)
            ::GlobalUnlock(m_h);
    }
    T* get() const noexcept { return m_p; }

private:
    HGLOBAL m_h;
    T* m_p;
};

// LocalLock for the lifetime of the guard (plug-ins hand out movable HLOCALs).
template <class T = void>
class LocalLockGuard {
public:
    explicit LocalLockGuard(HLOCAL h) noexcept : m_h(h), m_p(static_cast<T*>(::LocalLock(h))) {}
    LocalLockGuard(const LocalLockGuard&) = delete;
    LocalLockGuard& operator=(const LocalLockGuard&) = delete;
    ~LocalLockGuard() {
        if (m_p)
            ::LocalUnlock(m_h);
    }
    T* get() const noexcept { return m_p; }

private:
    HLOCAL m_h;
    T* m_p;
};

}  // namespace esl
