// ImageBuffer records: creation on a DIB section or in plain memory, holders,
// views, row order and the pixel copy between depths.
#include "esl_image.h"

#include <algorithm>
#include <cstring>

#include "esl_handle.h"
#include "esl_library.h"

namespace {

// In front of every full record, inside the same allocation.
struct FullRecordHeader {
    void* pAllocation;
    volatile LONG nHolders;  // holders besides the creator
};
constexpr std::size_t kHeaderSlot = 16;
static_assert(sizeof(FullRecordHeader) <= kHeaderSlot, "the header must fit its slot");

// The byte size field is signed; larger images cannot be described.
constexpr std::uint64_t kMaxImageBytes = 0x7FFFFFFF;

FullRecordHeader* HeaderOf(ImageBuffer* pImage) {
    return reinterpret_cast<FullRecordHeader*>(reinterpret_cast<BYTE*>(pImage) - kHeaderSlot);
}

bool IsFullRecord(const ImageBuffer* pImage) {
    return pImage && (reinterpret_cast<std::uintptr_t>(pImage) & 15) == 0 && pImage->dwKind == kImageKindFull;
}

bool IsKnownDepth(DWORD bpp) {
    return bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

DWORD LowMask(int n) {
    DWORD mask = 1;
    while (mask * 2 + 1 <= static_cast<DWORD>(n))
        mask = mask * 2 + 1;
    return mask;
}

std::uintptr_t AlignUp16(std::uintptr_t v) {
    return (v + 15) & ~static_cast<std::uintptr_t>(15);
}

void BuildRowTable(ImageBuffer* pImage) {
    for (int r = 0; r < pImage->nHeight; ++r)
        pImage->ppRows[r] = pImage->ptrImage + static_cast<std::ptrdiff_t>(r) * pImage->nPitch;
}

// The DC is declared last so that it goes first: a bitmap still selected
// into a DC cannot be deleted.
struct DibSection {
    esl::UniqueBitmap bitmap;
    esl::UniqueDc dc;
    BYTE* pBits = nullptr;
};

// A section of pitch x (h + 1) bytes, bottom-up, selected into a screen-
// compatible memory DC; its lowest line is the spare one.
DibSection CreateDibSection(int height, DWORD bpp, std::int32_t pitch, const DWORD* pColors, DWORD colorCount) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = static_cast<LONG>(static_cast<std::int64_t>(pitch) * 8 / bpp);
    info.header.biHeight = height + 1;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bpp);
    info.header.biCompression = BI_RGB;
    info.header.biSizeImage = static_cast<DWORD>(pitch) * static_cast<DWORD>(height + 1);
    if (colorCount) {
        info.header.biClrUsed = colorCount;
        std::memcpy(info.colors, pColors, colorCount * sizeof(DWORD));
    }

    DibSection dib;
    dib.dc.reset(::CreateCompatibleDC(nullptr));
    if (!dib.dc)
        return {};
    void* pBits = nullptr;
    dib.bitmap.reset(
        ::CreateDIBSection(dib.dc.get(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &pBits, nullptr, 0));
    if (!dib.bitmap || !pBits)
        return {};
    HGDIOBJ old = ::SelectObject(dib.dc.get(), dib.bitmap.get());
    if (!old || old == HGDI_ERROR)
        return {};
    dib.pBits = static_cast<BYTE*>(pBits);
    return dib;
}

}  // namespace

ImageBuffer* CreateImageBuffer(DWORD dwFormat, int nWidth, int nHeight, DWORD dwBitsPerPixel, DWORD dwFlags) {
    if (!IsKnownDepth(dwBitsPerPixel))
        return nullptr;
    const int width = nWidth < 1 ? 1 : nWidth;
    const int height = nHeight < 1 ? 1 : nHeight;
    const std::uint64_t pitch64 =
        ((static_cast<std::uint64_t>(width) * dwBitsPerPixel + 127) & ~std::uint64_t{127}) / 8;
    const std::uint64_t bytes64 = pitch64 * (static_cast<std::uint64_t>(height) + 1);
    if (bytes64 > kMaxImageBytes)
        return nullptr;
    const auto pitch = static_cast<std::int32_t>(pitch64);
    const auto imageBytes = static_cast<std::int32_t>(bytes64);

    DWORD colorCount = dwBitsPerPixel <= 8 ? (1u << dwBitsPerPixel) : 0;
    DWORD colors[256];
    for (DWORD i = 0; i < colorCount; ++i)
        colors[i] = i * 65793;

    DibSection dib;
    if (dwFlags & kImageFlagDib) {
        dib = CreateDibSection(height, dwBitsPerPixel, pitch, colors, colorCount);
        if (!dib.pBits)
            dwFlags &= ~kImageFlagDib;
    }
    const bool plain = !(dwFlags & kImageFlagDib);

    const std::uint64_t tableBytes = static_cast<std::uint64_t>(height) * sizeof(BYTE*) + colorCount * sizeof(DWORD);
    const std::uint64_t total = 15 + kHeaderSlot + sizeof(ImageBuffer) + tableBytes + 15 + (plain ? bytes64 : 0);
    if (total > 0xFFFFFFFFull)
        return nullptr;
    void* pAllocation = eslHeapAllocate(glsGetImageGlobalHeap(), static_cast<DWORD>(total), ESL_HEAP_ZERO_INIT);
    if (!pAllocation)
        return nullptr;
    std::memset(pAllocation, 0, static_cast<std::size_t>(total) - (plain ? static_cast<std::size_t>(bytes64) : 0));

    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(pAllocation);
    auto* pImage = reinterpret_cast<ImageBuffer*>(AlignUp16(base + kHeaderSlot));
    FullRecordHeader* pHeader = HeaderOf(pImage);
    pHeader->pAllocation = pAllocation;
    pHeader->nHolders = 0;

    BYTE* pTail = reinterpret_cast<BYTE*>(pImage + 1);
    pImage->ppRows = reinterpret_cast<BYTE**>(pTail);
    pTail += static_cast<std::size_t>(height) * sizeof(BYTE*);
    if (colorCount) {
        pImage->pColorTable = reinterpret_cast<DWORD*>(pTail);
        std::memcpy(pImage->pColorTable, colors, colorCount * sizeof(DWORD));
        pTail += colorCount * sizeof(DWORD);
    }
    pImage->dwKind = kImageKindFull;
    pImage->dwFormat = dwFormat;
    pImage->dwColorCount = colorCount;
    pImage->nWidth = width;
    pImage->nHeight = height;
    pImage->dwBitsPerPixel = dwBitsPerPixel;
    pImage->nPitch = pitch;
    pImage->nImageSize = imageBytes;
    pImage->dwFlags = dwFlags;
    if (plain) {
        pImage->ptrImage = reinterpret_cast<BYTE*>(AlignUp16(reinterpret_cast<std::uintptr_t>(pTail)));
    } else {
        // The section's first line in memory is the spare line below the image.
        pImage->ptrImage = dib.pBits + pitch;
        pImage->hBitmap = dib.bitmap.release();
        pImage->hdc = dib.dc.release();
    }
    BuildRowTable(pImage);
    pImage->dwWidthMask = LowMask(width);
    pImage->dwHeightMask = LowMask(height);
    return pImage;
}

int DeleteImageBuffer(ImageBuffer* pImage) {
    if (!IsFullRecord(pImage))
        return 1;
    FullRecordHeader* pHeader = HeaderOf(pImage);
    if (::InterlockedDecrement(&pHeader->nHolders) >= 0)
        return 0;
    if (pImage->dwFlags & kImageFlagDib) {
        // The DC goes first: it still has the section selected.
        esl::UniqueBitmap bitmap(pImage->hBitmap);
        esl::UniqueDc dc(pImage->hdc);
    }
    eslHeapFree(glsGetImageGlobalHeap(), pHeader->pAllocation, 0);
    return 0;
}

int AddRefImageBuffer(ImageBuffer* pImage) {
    if (!IsFullRecord(pImage))
        return 1;
    ::InterlockedIncrement(&HeaderOf(pImage)->nHolders);
    return 0;
}

HDC GetImageDC(const ImageBuffer* pImage) {
    if (!pImage || pImage->dwKind != kImageKindFull || !(pImage->dwFlags & kImageFlagDib))
        return nullptr;
    return pImage->hdc;
}

int FlipImage(ImageBuffer* pImage) {
    if (!pImage || (pImage->dwKind != kImageKindFull && pImage->dwKind != kImageKindView))
        return 1;
    pImage->ptrImage += static_cast<std::ptrdiff_t>(pImage->nHeight - 1) * pImage->nPitch;
    pImage->nPitch = -pImage->nPitch;
    pImage->nImageSize = -pImage->nImageSize;
    if (pImage->dwKind == kImageKindFull && pImage->ppRows)
        BuildRowTable(pImage);
    return 0;
}

int MakeImageView(ImageBuffer* pView, const ImageBuffer* pImage, int x, int y, int w, int h) {
    if (!pView || !pImage || (pImage->dwKind != kImageKindFull && pImage->dwKind != kImageKindView))
        return 1;
    // 64 bits: x + w must not wrap.
    std::int64_t left = x, top = y, width = w, height = h;
    if (left < 0) {
        width += left;
        left = 0;
    }
    if (top < 0) {
        height += top;
        top = 0;
    }
    const std::int64_t right = std::min<std::int64_t>(left + width, pImage->nWidth);
    const std::int64_t bottom = std::min<std::int64_t>(top + height, pImage->nHeight);
    width = right - left;
    height = bottom - top;
    if (width < 0 || height <= 0)
        return 1;

    ImageBuffer view{};
    view.dwKind = kImageKindView;
    view.dwFormat = pImage->dwFormat;
    view.ptrImage = pImage->ptrImage + static_cast<std::ptrdiff_t>(top) * pImage->nPitch +
                    static_cast<std::ptrdiff_t>(left) * pImage->dwBitsPerPixel / 8;
    view.pColorTable = pImage->pColorTable;
    view.dwColorCount = pImage->dwColorCount;
    view.nWidth = static_cast<int>(width);
    view.nHeight = static_cast<int>(height);
    view.dwBitsPerPixel = pImage->dwBitsPerPixel;
    view.nPitch = pImage->nPitch;
    view.nImageSize = static_cast<std::int32_t>(height * pImage->nPitch);
    view.dwWidthMask = width ? LowMask(view.nWidth) : 0;
    view.dwHeightMask = LowMask(view.nHeight);
    *pView = view;
    return 0;
}

int CopyImagePixels(ImageBuffer* pDest, const ImageBuffer* pSource) {
    if (!pDest || !pSource || pDest->nWidth != pSource->nWidth || pDest->nHeight != pSource->nHeight ||
        pDest->dwFormat != kImageFormatColor || pSource->dwFormat != kImageFormatColor)
        return 1;
    const DWORD from = pSource->dwBitsPerPixel, to = pDest->dwBitsPerPixel;
    const bool sameDepth = from == to && from != 0;
    if (!sameDepth && !(from == 32 && to == 24) && !(from == 24 && to == 32))
        return 1;
    const int width = pSource->nWidth;
    for (int r = 0; r < pSource->nHeight; ++r) {
        const BYTE* s = pSource->ptrImage + static_cast<std::ptrdiff_t>(r) * pSource->nPitch;
        BYTE* d = pDest->ptrImage + static_cast<std::ptrdiff_t>(r) * pDest->nPitch;
        if (sameDepth) {
            std::memmove(d, s, (static_cast<std::size_t>(width) * from + 7) / 8);
        } else if (from == 32) {
            for (int x = 0; x < width; ++x, s += 4, d += 3) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        } else {
            for (int x = 0; x < width; ++x, s += 3, d += 4) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 0;
            }
        }
    }
    return 0;
}
