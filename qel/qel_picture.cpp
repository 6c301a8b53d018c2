// One page picture: its source, the size it is drawn at, and a copy reduced
// to that size once, so that every paint only copies.
#include <windows.h>

#include <memory>
#include <utility>

#include "esl_image_reduce.h"
#include "qel_exception.h"
#include "qel_picture.h"
#include "qel_susie.h"

#define QEL_SOURCE "qel_picture"

namespace qel {

struct CPicture::Inner {
    CPicture* _pOwner = nullptr;
    std::unique_ptr<IPictureRsrc> _pRsrc;
    int _drawWidth = 0;
    int _drawHeight = 0;
    float _scaleX = 1.0f;
    float _scaleY = 1.0f;
    UniqueImageBuffer _pSmallImage;

    const ImageBuffer& Image() const { return *_pRsrc->GetImage(); }
};

namespace {

// A plug-in wins over GDI+ for every extension both handle.
std::unique_ptr<IPictureRsrc> OpenSource(const wchar_t* path, ContinueProc pfnContinue, void* pArg) {
    if (CSpiManager::Instance().HasPicturePlugin(path))
        return std::make_unique<CSPIPictureRsrc>(path, pfnContinue, pArg);
    if (GDIPlus::IsSupported(path))
        return std::make_unique<CGDIPlusPictureRsrc>(path);
    throw CException(QEL_SOURCE, 820, "例外エラー");
}

}  // namespace

CPicture::CPicture() = default;
CPicture::~CPicture() = default;

void CPicture::Load(const wchar_t* path, ContinueProc pfnContinue, void* pArg) {
    Release();
    auto inner = std::make_unique<Inner>();
    inner->_pOwner = this;
    inner->_pRsrc = OpenSource(path, pfnContinue, pArg);
    QEL_FAIL_IF(inner->_pRsrc->GetImage() == NULL);
    inner->_drawWidth = inner->Image().nWidth;
    inner->_drawHeight = inner->Image().nHeight;
    m_pInner = std::move(inner);
}

void CPicture::Release() {
    m_pInner.reset();
}

int CPicture::GetWidth() const {
    return m_pInner->Image().nWidth;
}

int CPicture::GetHeight() const {
    return m_pInner->Image().nHeight;
}

int CPicture::GetDrawWidth() const {
    return m_pInner->_drawWidth;
}

int CPicture::GetDrawHeight() const {
    return m_pInner->_drawHeight;
}

void CPicture::SetDrawSize(int width, int height, bool make) {
    Inner& in = *m_pInner;
    if (width == in._drawWidth && height == in._drawHeight && (!make || in._pSmallImage))
        return;
    in._drawWidth = width;
    in._drawHeight = height;
    in._scaleX = static_cast<float>(width) / static_cast<float>(in.Image().nWidth);
    in._scaleY = static_cast<float>(height) / static_cast<float>(in.Image().nHeight);
    if (make)
        MakeSmallImage();
    else
        in._pSmallImage.reset();
}

bool CPicture::HasSmallImage() const {
    return m_pInner->_pSmallImage != nullptr;
}

const ImageBuffer* CPicture::GetSmallImage() const {
    return m_pInner->_pSmallImage.get();
}

const ImageBuffer* CPicture::GetImage() const {
    return m_pInner->_pRsrc->GetImage();
}

void CPicture::MakeSmallImage() {
    Inner& in = *m_pInner;
    in._pSmallImage.reset();
    if (in._scaleX >= 1.0f && in._scaleY >= 1.0f)
        return;
    // Averaged by area, not by GDI's HALFTONE stretch: that one does not
    // average everywhere and screentones would alias. A direction drawn
    // larger is enlarged in the same pass, as the stretch would.
    UniqueImageBuffer pSmall(CreateImageBuffer(kImageFormatColor, in._drawWidth, in._drawHeight, 32, kImageFlagDib));
    if (pSmall && ScaleImageByAreaAverage(pSmall.get(), in._pRsrc->GetImage()) != 0)
        pSmall.reset();  // never shown half made
    QEL_FAIL_IF_TEXT_AT(QEL_SOURCE, 994, !pSmall, "m_pSmallImage == NULL");
    FlipImage(pSmall.get());
    in._pSmallImage = std::move(pSmall);
}

int CPicture::Draw(CCanvas& canvas, int x, int y) const {
    const Inner& in = *m_pInner;
    POINT position = {x + in._drawWidth / 2, y + in._drawHeight / 2};
    const ImageBuffer* pSource = in._pSmallImage.get();
    POINT half = {in._drawWidth / 2, in._drawHeight / 2};
    double sx = 1.0, sy = 1.0;
    if (!pSource) {
        pSource = &in.Image();
        half = {pSource->nWidth / 2, pSource->nHeight / 2};
        sx = in._scaleX;
        sy = in._scaleY;
    }
    // Axes 90 degrees apart: a plain scale, so that the centre stays put.
    ImageMatrix matrix{};
    BuildImageTransform(&matrix, &position, &half, sx, sy, 0.0, 90.0, 0);
    ImageDrawParam param{};
    param.dwFlags = kDrawBilinear;
    param.x = position.x;
    param.y = position.y;
    param.pSource = pSource;
    param.pMatrix = &matrix;
    return canvas.DrawImage(param);
}

bool CPicture::IsAnimated() const {
    return m_pInner->_pRsrc->GetFrameCount() > 1;
}

UINT CPicture::GetFrameCount() const {
    return m_pInner->_pRsrc->GetFrameCount();
}

int CPicture::GetCurrentFrame() const {
    return m_pInner->_pRsrc->GetCurrentFrame();
}

int CPicture::GetFrameDelay() const {
    return m_pInner->_pRsrc->GetFrameDelay();
}

void CPicture::SelectFrame(int index) {
    if (index == m_pInner->_pRsrc->GetCurrentFrame())
        return;
    m_pInner->_pRsrc->SelectFrame(index);
    MakeSmallImage();
}

bool CPicture::IsSupported(const wchar_t* path) {
    try {
        return CSpiManager::Instance().HasPicturePlugin(path) || GDIPlus::IsSupported(path);
    } catch (...) {
        return false;
    }
}

}  // namespace qel
