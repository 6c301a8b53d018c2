// A picture source decoded by GDI+: the whole file in a movable global block
// under a COM stream, a bitmap on the stream, and the current frame copied
// into a 32-bit image, top line first.
#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "esl_handle.h"
#include "qel_bounded_stream.h"
#include "qel_exception.h"
#include "qel_file.h"
#include "qel_picture.h"

#define QEL_SOURCE "qel_picture"

namespace qel {

namespace flat = Gdiplus::DllExports;

namespace {

constexpr PROPID kFrameDelayTag = 0x5100;  // hundredths of a second per frame

// The bits of one frame, locked for reading as 32-bit pixels.
class BitmapBitsLock {
public:
    BitmapBitsLock(Gdiplus::GpBitmap* pBitmap, int width, int height) : m_pBitmap(pBitmap) {
        const Gdiplus::GpRect rect(0, 0, width, height);
        m_bLocked = flat::GdipBitmapLockBits(pBitmap, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB,
                                             &m_data) == Gdiplus::Ok;
    }
    BitmapBitsLock(const BitmapBitsLock&) = delete;
    BitmapBitsLock& operator=(const BitmapBitsLock&) = delete;
    ~BitmapBitsLock() {
        if (m_bLocked)
            flat::GdipBitmapUnlockBits(m_pBitmap, &m_data);
    }
    bool IsLocked() const noexcept { return m_bLocked; }

    // The locked lines as a view the drawing engine can read.
    ImageBuffer View() const {
        ImageBuffer view{};
        view.dwKind = kImageKindView;
        view.dwFormat = kImageFormatColor;
        view.ptrImage = static_cast<BYTE*>(m_data.Scan0);
        view.nWidth = static_cast<int>(m_data.Width);
        view.nHeight = static_cast<int>(m_data.Height);
        view.dwBitsPerPixel = 32;
        view.nPitch = m_data.Stride;
        view.nImageSize = static_cast<std::int32_t>(static_cast<std::int64_t>(m_data.Stride) * view.nHeight);
        return view;
    }

private:
    Gdiplus::GpBitmap* m_pBitmap;
    Gdiplus::BitmapData m_data{};
    bool m_bLocked = false;
};

// Every pixel of the source onto the same place of the target, unchanged.
bool CopyThroughDrawContext(ImageBuffer* pTarget, const ImageBuffer& source) {
    UniqueImageDrawContext context(CreateImageDrawContext());
    if (!context || context->SetTarget(pTarget, nullptr, nullptr) != 0)
        return false;
    ImageDrawParam param{};
    param.pSource = &source;
    if (context->PrepareDraw(param) == 0)
        context->Run();
    return true;
}

}  // namespace

struct CGDIPlusPictureRsrc::Inner {
    CGDIPlusPictureRsrc* _pOwner = nullptr;
    esl::UniqueGlobal _hGlobal;  // only until a stream takes the block
    esl::UniqueGdiplusBitmap _pBitmap;
    std::vector<GUID> _dimensions;
    UINT _frameCount = 0;
    int _currentFrame = -1;
    std::vector<BYTE> _frameDelay;  // a PropertyItem and its values, or empty
    UniqueImageBuffer _pImage;

    void Open(const wchar_t* path);
    void ReadFrames();
};

void CGDIPlusPictureRsrc::Inner::Open(const wchar_t* path) {
    QEL_FAIL_IF_AT(QEL_SOURCE, 638, !GDIPlus::IsEnable());
    const ULONGLONG fileSize = GetFileSize(path);
    QEL_FAIL_IF_AT(QEL_SOURCE, 642, fileSize == 0);
    // Cut to 32 bits, a larger file would be read as its first few bytes.
    QEL_FAIL_IF_AT(QEL_SOURCE, 642, fileSize > MAXDWORD);
    _hGlobal.reset(::GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(fileSize)));
    QEL_FAIL_IF_TEXT_AT(QEL_SOURCE, 644, !_hGlobal, "m_hGlobal == NULL");
    {
        esl::GlobalLockGuard<> lock(_hGlobal.get());
        void* pBuffer = lock.get();
        QEL_FAIL_IF_AT(QEL_SOURCE, 646, pBuffer == NULL);
        ReadWholeFile(path, pBuffer, static_cast<size_t>(fileSize));
    }

    esl::UniqueStream stream;
    const HRESULT hr = ::CreateStreamOnHGlobal(_hGlobal.get(), TRUE, stream.put());
    // From here the stream frees the block, exactly once.
    if (stream)
        _hGlobal.release();
    QEL_FAIL_IF_TEXT_AT(QEL_SOURCE, 652, hr != S_OK, "::CreateStreamOnHGlobal(m_hGlobal, TRUE, &pStream) != S_OK");
    QEL_FAIL_IF_TEXT_AT(QEL_SOURCE, 653, !stream, "pStream == NULL");
    esl::UniqueStream bounded(CreateBoundedStream(stream.get()));
    QEL_FAIL_IF(!bounded);
    // The bitmap takes its own reference; ours go at the end of this scope.
    QEL_FAIL_IF_TEXT_AT(QEL_SOURCE, 656, flat::GdipCreateBitmapFromStream(bounded.get(), _pBitmap.put()) != Gdiplus::Ok,
                        "Gdiplus::DllExports::GdipCreateBitmapFromStream(pStream, &m_pBitmap)");
}

void CGDIPlusPictureRsrc::Inner::ReadFrames() {
    UINT dimensionCount = 0;
    QEL_FAIL_IF(flat::GdipImageGetFrameDimensionsCount(_pBitmap.get(), &dimensionCount) != Gdiplus::Ok ||
                dimensionCount == 0);
    _dimensions.resize(dimensionCount);
    QEL_FAIL_IF(flat::GdipImageGetFrameDimensionsList(_pBitmap.get(), _dimensions.data(), dimensionCount) !=
                Gdiplus::Ok);
    QEL_FAIL_IF(flat::GdipImageGetFrameCount(_pBitmap.get(), &_dimensions[0], &_frameCount) != Gdiplus::Ok);
    if (_frameCount <= 1)
        return;
    // A picture without delays simply has none: every frame then answers 0.
    UINT size = 0;
    if (flat::GdipGetPropertyItemSize(_pBitmap.get(), kFrameDelayTag, &size) != Gdiplus::Ok ||
        size < sizeof(Gdiplus::PropertyItem))
        return;
    _frameDelay.resize(size);
    auto* pItem = reinterpret_cast<Gdiplus::PropertyItem*>(_frameDelay.data());
    if (flat::GdipGetPropertyItem(_pBitmap.get(), kFrameDelayTag, size, pItem) != Gdiplus::Ok)
        _frameDelay.clear();
}

CGDIPlusPictureRsrc::CGDIPlusPictureRsrc(const wchar_t* path) : m_pInner(std::make_unique<Inner>()) {
    // A throw from here on destroys m_pInner, and with it all that was built.
    m_pInner->_pOwner = this;
    m_pInner->Open(path);
    m_pInner->ReadFrames();
    SelectFrame(0);
}

CGDIPlusPictureRsrc::~CGDIPlusPictureRsrc() {
    // The bitmap first: it drops the stream, and with it the file's block.
    m_pInner->_pBitmap.reset();
}

UINT CGDIPlusPictureRsrc::GetFrameCount() const {
    return m_pInner->_frameCount;
}

void CGDIPlusPictureRsrc::SelectFrame(int index) {
    Inner& in = *m_pInner;
    Gdiplus::GpBitmap* pBitmap = in._pBitmap.get();
    QEL_FAIL_IF(flat::GdipImageSelectActiveFrame(pBitmap, &in._dimensions[0], static_cast<UINT>(index)) != Gdiplus::Ok);
    UINT width = 0, height = 0;
    QEL_FAIL_IF(flat::GdipGetImageWidth(pBitmap, &width) != Gdiplus::Ok ||
                flat::GdipGetImageHeight(pBitmap, &height) != Gdiplus::Ok);
    BitmapBitsLock bits(pBitmap, static_cast<int>(width), static_cast<int>(height));
    QEL_FAIL_IF(!bits.IsLocked());

    // Built aside: a failure keeps the frame shown so far.
    UniqueImageBuffer pImage(
        CreateImageBuffer(kImageFormatColor, static_cast<int>(width), static_cast<int>(height), 32, kImageFlagDib));
    QEL_FAIL_IF_TEXT_AT(QEL_SOURCE, 744, !pImage, "m_pImage == NULL");
    FlipImage(pImage.get());
    QEL_FAIL_IF(!CopyThroughDrawContext(pImage.get(), bits.View()));
    in._pImage = std::move(pImage);
    in._currentFrame = index;
}

int CGDIPlusPictureRsrc::GetCurrentFrame() const {
    return m_pInner->_currentFrame;
}

ImageBuffer* CGDIPlusPictureRsrc::GetImage() const {
    return m_pInner->_pImage.get();
}

int CGDIPlusPictureRsrc::GetFrameDelay() const {
    const Inner& in = *m_pInner;
    if (in._frameCount <= 1 || in._frameDelay.empty() || in._currentFrame < 0)
        return 0;
    const auto* pItem = reinterpret_cast<const Gdiplus::PropertyItem*>(in._frameDelay.data());
    // The values lie in the same block; never read past it, whatever length it claims.
    const BYTE* pValues = static_cast<const BYTE*>(pItem->value);
    const BYTE* pBegin = in._frameDelay.data();
    const BYTE* pEnd = pBegin + in._frameDelay.size();
    if (pValues < pBegin || pValues > pEnd)
        return 0;
    const size_t count = std::min<size_t>(pItem->length, static_cast<size_t>(pEnd - pValues)) / sizeof(UINT32);
    const auto frame = static_cast<size_t>(in._currentFrame);
    if (frame >= count)
        return 0;  // fewer delays than frames: none given for this one
    UINT32 hundredths = 0;
    std::memcpy(&hundredths, pValues + frame * sizeof(UINT32), sizeof(hundredths));
    const int ms = static_cast<int>(hundredths * 10u);
    return ms < 0 ? 0 : ms;
}

}  // namespace qel
