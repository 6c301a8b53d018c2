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

// What a handle type holds when it holds nothing.
enum class NoHandle { Null, MinusOne };  // MinusOne: INVALID_HANDLE_VALUE

// A handle type, the function that gives it back, and its empty value.
template <class T, auto close, NoHandle none = NoHandle::Null>
struct HandleTraits {
    using Type = T;
    static Type Invalid() noexcept {
        return none == NoHandle::Null ? Type() : reinterpret_cast<Type>(static_cast<LONG_PTR>(-1));
    }
    static void Close(Type h) noexcept { close(h); }
};

// A COM interface pointer: one reference, given back with Release.
template <class T>
void ReleaseInterface(T* p) noexcept {
    p->Release();
}

using UniqueFile = UniqueAny<HandleTraits<HANDLE, &::CloseHandle, NoHandle::MinusOne>>;
using UniqueFind = UniqueAny<HandleTraits<HANDLE, &::FindClose, NoHandle::MinusOne>>;
using UniqueRegKey = UniqueAny<HandleTraits<HKEY, &::RegCloseKey>>;
using UniqueKernelHandle = UniqueAny<HandleTraits<HANDLE, &::CloseHandle>>;
using UniqueModule = UniqueAny<HandleTraits<HMODULE, &::FreeLibrary>>;
using UniqueDc = UniqueAny<HandleTraits<HDC, &::DeleteDC>>;
using UniqueGdiObject = UniqueAny<HandleTraits<HGDIOBJ, &::DeleteObject>>;
using UniqueBitmap = UniqueAny<HandleTraits<HBITMAP, &::DeleteObject>>;
using UniqueGlobal = UniqueAny<HandleTraits<HGLOBAL, &::GlobalFree>>;
using UniqueLocal = UniqueAny<HandleTraits<HLOCAL, &::LocalFree>>;
using UniqueStream = UniqueAny<HandleTraits<IStream*, &ReleaseInterface<IStream>>>;
using UniqueGdiplusBitmap = UniqueAny<HandleTraits<Gdiplus::GpBitmap*, &Gdiplus::DllExports::GdipDisposeImage>>;

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

// Holds a lock for its lifetime: acquire on construction, release at the end.
// A null lock is not taken (for callers that lock only sometimes).
template <class Lock, auto acquire, auto release>
class ScopedLock {
public:
    explicit ScopedLock(Lock* p) noexcept : m_p(p) {
        if (m_p)
            acquire(m_p);
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    ~ScopedLock() {
        if (m_p)
            release(m_p);
    }

private:
    Lock* m_p;
};

using CriticalSectionLock = ScopedLock<CRITICAL_SECTION, &::EnterCriticalSection, &::LeaveCriticalSection>;
using SrwExclusiveLock = ScopedLock<SRWLOCK, &::AcquireSRWLockExclusive, &::ReleaseSRWLockExclusive>;

// A movable memory block locked for the lifetime of the guard.
template <class T, class H, auto lock, auto unlock>
class MemoryLock {
public:
    explicit MemoryLock(H h) noexcept : m_h(h), m_p(static_cast<T*>(lock(h))) {}
    MemoryLock(const MemoryLock&) = delete;
    MemoryLock& operator=(const MemoryLock&) = delete;
    ~MemoryLock() {
        if (m_p)
            unlock(m_h);
    }
    T* get() const noexcept { return m_p; }

private:
    H m_h;
    T* m_p;
};

template <class T = void>
using GlobalLockGuard = MemoryLock<T, HGLOBAL, &::GlobalLock, &::GlobalUnlock>;
// Plug-ins hand out movable HLOCALs.
template <class T = void>
using LocalLockGuard = MemoryLock<T, HLOCAL, &::LocalLock, &::LocalUnlock>;

}  // namespace esl
