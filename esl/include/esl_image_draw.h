// The drawing engine of the raster layer: an ImageDrawContext draws one
// ImageBuffer onto its target, copied, blended or through a 2 x 2 matrix
// with bilinear or nearest sampling; and the builder of such matrices.
#pragma once

#include <windows.h>

#include <memory>

#include "esl_image.h"

enum : DWORD {
    kDrawBilinear = 0x10,         // bilinear sampling under a matrix (32-bit sources)
    kDrawSampleAlt = 0x20,        // the other sampling mode: here nearest, like no flag
    kDrawContextFlagMask = 0x30,  // what SetFlags keeps
};

enum : DWORD {
    kTransformRadians = 0x0001,  // the builder's angles are radians, not degrees
};

// Axis vectors of the source in target pixels: the source's x axis is
// (m00, m01), its y axis (m10, m11).
struct ImageMatrix {
    float m00, m01, m10, m11;
};

struct ImageDrawParam {
    DWORD dwFlags;  // OR-ed with the context's flags
    int x, y;       // where the source's top-left corner goes, before the origin
    const ImageBuffer* pSource;
    DWORD dwReserved1[3];
    // 0 opaque; 1 to 255 blend the source over the target (255 all but
    // transparent); 256 or more draws nothing.
    DWORD dwTransparency;
    DWORD dwReserved2;
    const ImageMatrix* pMatrix;  // none: a plain copy
    DWORD dwReserved3[3];
};

// Operations in table order. A context is used by one thread at a time; its
// target must outlive it or be replaced first.
class ImageDrawContext {
public:
    // Ends the context and everything it allocated.
    virtual void Destroy() = 0;
    // Clip in inclusive pixel coordinates (none: the whole target); a mask of
    // another size than the target, or no target, gives 1.
    virtual int SetTarget(ImageBuffer* pTarget, const RECT* pClip, ImageBuffer* pMask) = 0;
    virtual ImageBuffer* GetTarget(RECT* pClip, ImageBuffer** ppMask) = 0;
    virtual DWORD GetFlags() = 0;
    virtual DWORD SetFlags(DWORD dwFlags) = 0;
    virtual POINT GetOrigin() = 0;
    // Added to every draw position; (0, 0) at creation.
    virtual void SetOrigin(int x, int y) = 0;
    virtual void Reserved() = 0;
    // 0 when a draw is prepared (or there is provably nothing to draw), else 1.
    virtual int PrepareDraw(const ImageDrawParam& param) = 0;
    // Performs the prepared draw once: 0 done, -1 when nothing is prepared.
    virtual int Run() = 0;

protected:
    ImageDrawContext() = default;
    ~ImageDrawContext() = default;
};

// Null when memory cannot be had.
ImageDrawContext* CreateImageDrawContext();

struct ImageDrawContextDeleter {
    void operator()(ImageDrawContext* p) const noexcept { p->Destroy(); }
};
using UniqueImageDrawContext = std::unique_ptr<ImageDrawContext, ImageDrawContextDeleter>;

// Fills the matrix for scales sx, sy, a rotation by fAngle and an angle of
// fAxisAngle between the axes (degrees unless kTransformRadians). With an
// origin (a point of the source, such as its centre) the position moves so
// that this point lands where the position was. 1 without a matrix.
int BuildImageTransform(ImageMatrix* pMatrix, POINT* pPosition, const POINT* pOrigin, double sx, double sy,
                        double fAngle, double fAxisAngle, DWORD dwFlags);
