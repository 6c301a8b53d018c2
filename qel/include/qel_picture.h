// Pictures: the GDI+ state, the picture sources (GDI+ and Susie plug-ins),
// the page picture with its draw size and reduced copy, the screen canvas,
// and the fit computation.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>

#include <memory>
#include <utility>

#include "esl_image.h"
#include "esl_image_draw.h"
#include "qel_string.h"

namespace qel {

// Keep decoding or not; travels with its argument to a plug-in's progress
// callback.
typedef bool (*ContinueProc)(void* pArg);

namespace GDIPlus {
// Starts GDI+ once and collects its decoders' extensions; shut down at exit.
void Startup();
bool IsEnable();
// By the extension of the path's last component, ignoring ASCII case.
bool IsSupported(const CWString& path);
}  // namespace GDIPlus

class IPictureRsrc {
public:
    virtual ~IPictureRsrc() = default;
    virtual UINT GetFrameCount() const = 0;
    virtual void SelectFrame(int index) = 0;
    virtual int GetCurrentFrame() const = 0;
    // 32 bits a pixel, top line first, owned by the source.
    virtual ImageBuffer* GetImage() const = 0;
    virtual int GetFrameDelay() const = 0;
};

class CGDIPlusPictureRsrc : public IPictureRsrc, boost::noncopyable {
public:
    explicit CGDIPlusPictureRsrc(const wchar_t* path);
    ~CGDIPlusPictureRsrc() override;
    UINT GetFrameCount() const override;
    void SelectFrame(int index) override;
    int GetCurrentFrame() const override;
    ImageBuffer* GetImage() const override;
    int GetFrameDelay() const override;

private:
    struct Inner;
    std::unique_ptr<Inner> m_pInner;
};

class CSPIPictureRsrc : public IPictureRsrc, boost::noncopyable {
public:
    CSPIPictureRsrc(const wchar_t* path, ContinueProc pfnContinue, void* pArg);
    ~CSPIPictureRsrc() override;
    UINT GetFrameCount() const override { return 1; }
    void SelectFrame(int) override {}
    int GetCurrentFrame() const override { return 0; }
    ImageBuffer* GetImage() const override { return m_pImage.get(); }
    int GetFrameDelay() const override { return 0; }

private:
    UniqueImageBuffer m_pImage;
};

class CCanvas;

class CPicture : boost::noncopyable {
public:
    CPicture();
    ~CPicture();

    // A plug-in for the extension first, then GDI+; throws qel::CException
    // and stays empty on failure. The predicate reaches only a plug-in.
    void Load(const wchar_t* path, ContinueProc pfnContinue = nullptr, void* pArg = nullptr);
    void Release();
    bool IsLoaded() const noexcept { return m_pInner != nullptr; }

    int GetWidth() const;
    int GetHeight() const;
    int GetDrawWidth() const;
    int GetDrawHeight() const;
    // With make, a size below the picture's in either direction gets a
    // reduced copy, averaged once here rather than at every paint.
    void SetDrawSize(int width, int height, bool make);
    bool HasSmallImage() const;
    const ImageBuffer* GetSmallImage() const;
    const ImageBuffer* GetImage() const;
    // Top-left corner near (x, y), at the draw size.
    int Draw(CCanvas& canvas, int x, int y) const;

    bool IsAnimated() const;
    UINT GetFrameCount() const;
    int GetCurrentFrame() const;
    int GetFrameDelay() const;
    void SelectFrame(int index);

    static bool IsSupported(const wchar_t* path);

private:
    struct Inner;
    void MakeSmallImage();
    std::unique_ptr<Inner> m_pInner;
};

class CCanvas : boost::noncopyable {
public:
    CCanvas();
    ~CCanvas();

    // 32 bits, DIB-backed, top-down; throws and stays without a surface on failure.
    void Create(int width, int height);
    int GetWidth() const noexcept;
    int GetHeight() const noexcept;
    DWORD GetBkColor() const noexcept;
    void SetBkColor(DWORD dwPixelCode) noexcept;
    void Clear();
    HDC GetCanvasDC() const;
    const ImageBuffer* GetImage() const noexcept;
    void Present(HDC hdc, const RECT& rc, DWORD rop) const;
    // A 24-bit BMP of the area; 0 on success, non-zero on failure.
    int SaveBitmap(const wchar_t* path) const;
    // One prepared and run draw on the canvas's context.
    int DrawImage(const ImageDrawParam& param);

private:
    struct Inner;
    void ReleaseSurface() noexcept;
    std::unique_ptr<Inner> m_pInner;
};

enum : unsigned {
    FIT_WIDTH = 0x001,
    FIT_HEIGHT = 0x002,
    FIT_NO_ENLARGE = 0x004,
    FIT_KEEP_ASPECT = 0x008,
    FIT_CALC_X = 0x010,
    FIT_CALC_Y = 0x020,
    FIT_ALIGN_RIGHT = 0x040,
    FIT_ALIGN_BOTTOM = 0x080,
    FIT_ALWAYS_CENTER = 0x100,
};

// (width, height) of a picture fitted into an area; a zero picture or area
// size gives (0, 0), and a fitted side is never 0 when the picture's is not.
std::pair<int, int> CalcFitSize(int aw, int ah, int pw, int ph, unsigned flags, POINT* pOffset = nullptr,
                                double maxScale = 0.0);

}  // namespace qel
