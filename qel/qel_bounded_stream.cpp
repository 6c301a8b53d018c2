// A stream that clamps every read to the bytes left before the end of the
// stream it wraps, and forwards everything else.
#include "qel_bounded_stream.h"

#include <algorithm>
#include <new>

namespace qel {

namespace {

class CBoundedStream final : public IStream {
public:
    explicit CBoundedStream(IStream* pInner) : m_pInner(pInner) { m_pInner->AddRef(); }
    CBoundedStream(const CBoundedStream&) = delete;
    CBoundedStream& operator=(const CBoundedStream&) = delete;

    //--- IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) ||
            IsEqualIID(riid, IID_IStream)) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_nRefs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = ::InterlockedDecrement(&m_nRefs);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }

    //--- ISequentialStream
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead)
            *pcbRead = 0;
        ULONGLONG left = 0;
        const HRESULT hr = BytesLeft(left);
        if (FAILED(hr))
            return hr;
        const ULONG count = static_cast<ULONG>(std::min<ULONGLONG>(cb, left));
        if (count == 0)
            return S_OK;  // as the wrapped stream answers at its end
        return m_pInner->Read(pv, count, pcbRead);
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        return m_pInner->Write(pv, cb, pcbWritten);
    }

    //--- IStream
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pNew) override {
        return m_pInner->Seek(move, origin, pNew);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override { return m_pInner->SetSize(size); }
    // Through Read, so that the copy is bounded too.
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* pTarget, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override {
        ULONGLONG done = 0, written = 0;
        BYTE buffer[4096];
        HRESULT hr = S_OK;
        while (done < cb.QuadPart) {
            ULONG got = 0, put = 0;
            hr = Read(buffer, static_cast<ULONG>(std::min<ULONGLONG>(sizeof(buffer), cb.QuadPart - done)), &got);
            if (FAILED(hr) || got == 0)
                break;
            done += got;
            hr = pTarget->Write(buffer, got, &put);
            written += put;
            if (FAILED(hr) || put != got)
                break;
        }
        if (pcbRead)
            pcbRead->QuadPart = done;
        if (pcbWritten)
            pcbWritten->QuadPart = written;
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return m_pInner->Commit(flags); }
    HRESULT STDMETHODCALLTYPE Revert() override { return m_pInner->Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override {
        return m_pInner->LockRegion(offset, cb, type);
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override {
        return m_pInner->UnlockRegion(offset, cb, type);
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pStat, DWORD flags) override { return m_pInner->Stat(pStat, flags); }
    HRESULT STDMETHODCALLTYPE Clone(IStream** ppStream) override {
        if (!ppStream)
            return E_POINTER;
        *ppStream = nullptr;
        IStream* pClone = nullptr;
        const HRESULT hr = m_pInner->Clone(&pClone);
        if (FAILED(hr))
            return hr;
        *ppStream = CreateBoundedStream(pClone);
        pClone->Release();
        return *ppStream ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~CBoundedStream() { m_pInner->Release(); }

    HRESULT BytesLeft(ULONGLONG& left) {
        LARGE_INTEGER zero{};
        ULARGE_INTEGER position{};
        HRESULT hr = m_pInner->Seek(zero, STREAM_SEEK_CUR, &position);
        if (FAILED(hr))
            return hr;
        STATSTG stat{};
        hr = m_pInner->Stat(&stat, STATFLAG_NONAME);
        if (FAILED(hr))
            return hr;
        left = position.QuadPart < stat.cbSize.QuadPart ? stat.cbSize.QuadPart - position.QuadPart : 0;
        return S_OK;
    }

    IStream* m_pInner;
    LONG m_nRefs = 1;
};

}  // namespace

IStream* CreateBoundedStream(IStream* pInner) {
    if (!pInner)
        return nullptr;
    return new (std::nothrow) CBoundedStream(pInner);
}

}  // namespace qel
