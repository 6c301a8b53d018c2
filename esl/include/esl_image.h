// Raster images of the foundation library: the ImageBuffer record, its
// creation on a DIB section or in plain memory, views of a rectangle, row
// order, filling, the 32-to-24-bit pixel copy and the BMP writer.
//
// Results: 0 for success, 1 for failure (creation answers null).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

class ESLFileObject;

enum : DWORD {
    kImageKindView = 48,  // describes pixels owned by another record
    kImageKindFull = 72,  // owns its pixels and has a row table
};

enum : DWORD {
    kImageFormatColor = 1,
};

enum : DWORD {
    kImageFlagDib = 0x0001,  // pixels live in a DIB section selected into hdc
};

// Pixel order of a 32-bit pixel: blue, green, red, fourth byte. Row r lies at
// ptrImage + r * nPitch; a positive pitch means row 0 is the lowest line on
// the screen (as in a DIB), a negative one that row 0 is the top line.
struct ImageBuffer {
    DWORD dwKind;
    DWORD dwFormat;
    BYTE* ptrImage;
    DWORD* pColorTable;
    DWORD dwColorCount;
    int nWidth;
    int nHeight;
    DWORD dwBitsPerPixel;
    std::int32_t nPitch;
    std::int32_t nImageSize;  // pitch times the lines the record spans
    DWORD dwFlags;
    HDC hdc;
    HBITMAP hBitmap;
    BYTE** ppRows;      // full records only
    DWORD dwWidthMask;  // largest 2^k - 1 not above the width
    DWORD dwHeightMask;
};

// Flag kImageFlagDib asks for a DIB section with its own memory DC; when the
// section cannot be made the image is built in plain memory without one.
// Widths and heights below 1 become 1. Null when memory cannot be had, the
// depth is not 1, 2, 4, 8, 16, 24 or 32, or the byte size does not fit.
ImageBuffer* CreateImageBuffer(DWORD dwFormat, int nWidth, int nHeight, DWORD dwBitsPerPixel, DWORD dwFlags);
// Drops one holder; the last one frees the image. 1 for null, a view or
// anything that is not a full record.
int DeleteImageBuffer(ImageBuffer* pImage);
// Adds a holder (DeleteImageBuffer drops it); same tests, 1 on failure.
int AddRefImageBuffer(ImageBuffer* pImage);
// The memory DC of a DIB-backed full image, else null.
HDC GetImageDC(const ImageBuffer* pImage);
// Reverses the row order; twice restores the record.
int FlipImage(ImageBuffer* pImage);
// Every pixel of a full image becomes the value (its low bytes for 24, 16 and
// 8 bits). 1 for a view or another depth.
int FillImage(ImageBuffer* pImage, DWORD dwValue);
// Describes the part of the image inside (x, y, w, h) in pView; the rectangle
// is clipped to the image. 1 when nothing of it lies inside.
int MakeImageView(ImageBuffer* pView, const ImageBuffer* pImage, int x, int y, int w, int h);
// Same width, height and format: copies the pixels row by row through each
// record's own pitch; 32 to 24 bits drops the fourth byte, 24 to 32 sets it 0.
int CopyImagePixels(ImageBuffer* pDest, const ImageBuffer* pSource);

struct ImageBufferDeleter {
    void operator()(ImageBuffer* p) const noexcept { DeleteImageBuffer(p); }
};
using UniqueImageBuffer = std::unique_ptr<ImageBuffer, ImageBufferDeleter>;

// Holds one image and writes it as an uncompressed BMP file: a 54-byte
// header, the colour table if any, then the rows bottom line first.
class EBitmapWriter {
public:
    EBitmapWriter() = default;
    EBitmapWriter(const EBitmapWriter&) = delete;
    EBitmapWriter& operator=(const EBitmapWriter&) = delete;
    ~EBitmapWriter() = default;

    // Replaces the held image; 0 on success, 1 on failure.
    int CreateImage(DWORD dwFormat, int nWidth, int nHeight, DWORD dwBitsPerPixel, DWORD dwFlags);
    ImageBuffer* GetImage() const noexcept { return m_pImage.get(); }
    // 1 without an image or when the file takes fewer bytes than given.
    int Write(ESLFileObject& file) const;

private:
    UniqueImageBuffer m_pImage;
};
