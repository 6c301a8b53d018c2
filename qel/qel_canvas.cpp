// The window's off-screen surface: a 32-bit image as large as the window,
// top line first, with the background colour and one drawing context.
#include <windows.h>

#include <memory>

#include "esl_file.h"
#include "esl_string.h"
#include "qel_exception.h"
#include "qel_picture.h"

#define QEL_SOURCE "qel_picture"

namespace qel {

struct CCanvas::Inner {
    CCanvas* _pOwner = nullptr;
    DWORD _dwBkColor = 0;
    UniqueImageBuffer _pImage;
    int _imageWidth = 0;
    int _imageHeight = 0;
    int _areaWidth = 0;
    int _areaHeight = 0;
    UniqueImageDrawContext _hDraw;
};

CCanvas::CCanvas() : m_pInner(std::make_unique<Inner>()) {
    m_pInner->_pOwner = this;
}

CCanvas::~CCanvas() {
    ReleaseSurface();
}

void CCanvas::ReleaseSurface() noexcept {
    // The context first: its target is the image.
    m_pInner->_hDraw.reset();
    m_pInner->_imageWidth = m_pInner->_imageHeight = 0;
    m_pInner->_areaWidth = m_pInner->_areaHeight = 0;
    m_pInner->_pImage.reset();
}

void CCanvas::Create(int width, int height) {
    ReleaseSurface();
    try {
        m_pInner->_pImage.reset(CreateImageBuffer(kImageFormatColor, width, height, 32, kImageFlagDib));
        QEL_FAIL_IF_AT(QEL_SOURCE, 147, m_pInner->_pImage == NULL);
        FlipImage(m_pInner->_pImage.get());
        m_pInner->_imageWidth = m_pInner->_areaWidth = width;
        m_pInner->_imageHeight = m_pInner->_areaHeight = height;
        m_pInner->_hDraw.reset(CreateImageDrawContext());
        QEL_FAIL_IF_AT(QEL_SOURCE, 153, m_pInner->_hDraw == NULL);
        m_pInner->_hDraw->SetFlags(kDrawBilinear);
        m_pInner->_hDraw->SetTarget(m_pInner->_pImage.get(), nullptr, nullptr);
    } catch (...) {
        ReleaseSurface();
        throw;
    }
}

int CCanvas::GetWidth() const noexcept {
    return m_pInner->_areaWidth;
}

int CCanvas::GetHeight() const noexcept {
    return m_pInner->_areaHeight;
}

DWORD CCanvas::GetBkColor() const noexcept {
    return m_pInner->_dwBkColor;
}

void CCanvas::SetBkColor(DWORD dwPixelCode) noexcept {
    m_pInner->_dwBkColor = dwPixelCode;
}

void CCanvas::Clear() {
    if (m_pInner->_pImage)
        FillImage(m_pInner->_pImage.get(), m_pInner->_dwBkColor);
}

HDC CCanvas::GetCanvasDC() const {
    return GetImageDC(m_pInner->_pImage.get());
}

const ImageBuffer* CCanvas::GetImage() const noexcept {
    return m_pInner->_pImage.get();
}

void CCanvas::Present(HDC hdc, const RECT& rc, DWORD rop) const {
    HDC canvasDC = GetCanvasDC();
    if (!canvasDC)
        return;
    ::BitBlt(hdc, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, canvasDC, rc.left, rc.top, rop);
}

int CCanvas::SaveBitmap(const wchar_t* path) const {
    // The file object takes 8-bit names: a name the code page cannot express
    // reaches it only through its short form, which exists only for a file
    // that exists already; a new file keeps its long name.
    wchar_t shortPath[520];
    const DWORD n = ::GetShortPathNameW(path, shortPath, 520);
    const EString name(n > 0 && n < 520 ? shortPath : path);

    ERawFile file;
    if (file.Open(name, ESLFileObject::modeCreate | ESLFileObject::modeWrite) != eslErrorSuccess)
        return 1;
    ImageBuffer view{};
    if (int err = MakeImageView(&view, m_pInner->_pImage.get(), 0, 0, m_pInner->_areaWidth, m_pInner->_areaHeight))
        return err;
    EBitmapWriter writer;
    if (writer.CreateImage(kImageFormatColor, view.nWidth, view.nHeight, 24, 0) != 0)
        return 1;
    FlipImage(writer.GetImage());
    if (CopyImagePixels(writer.GetImage(), &view) != 0)
        return 1;
    return writer.Write(file);
}

int CCanvas::DrawImage(const ImageDrawParam& param) {
    if (!m_pInner->_hDraw)
        return 1;
    if (int err = m_pInner->_hDraw->PrepareDraw(param))
        return err;
    return m_pInner->_hDraw->Run();
}

}  // namespace qel
