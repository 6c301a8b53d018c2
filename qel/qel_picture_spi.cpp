// Pictures decoded by a Susie picture plug-in: the plug-in's bitmap is
// checked against the blocks that hold it, then turned into a 32-bit image
// with the top line as row 0.
#define QEL_SOURCE "qel_picture"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

#include "esl_handle.h"
#include "qel_buffer.h"
#include "qel_exception.h"
#include "qel_file.h"
#include "qel_picture.h"
#include "qel_susie.h"

namespace qel {

namespace {

// A failed or unusable plug-in result, named by the call that produced it.
[[noreturn]] void ThrowGetPictureFailed() {
    throw CException(QEL_SOURCE, 458,
                     "pSpi->GetPicture( buffer.get(), buffer.size(), 0x0001, &hBitmapInfo, &hPixelBits, "
                     "reinterpret_cast<FARPROC>(CallBack), reinterpret_cast<long>(&callBackData))");
}

void CheckResult(bool ok) {
    if (!ok)
        ThrowGetPictureFailed();
}

struct CallBackData {
    ContinueProc pfnContinue;
    void* pArg;
};

// Progress numbers are not used; a non-zero answer asks the plug-in to stop.
int __stdcall CallBack(int, int, LONG_PTR lData) {
    const CallBackData* pData = reinterpret_cast<const CallBackData*>(lData);
    if (!pData->pfnContinue)
        return 0;
    try {
        return pData->pfnContinue(pData->pArg) ? 0 : -1;
    } catch (...) {
        return -1;  // nothing may unwind through the plug-in's frames
    }
}

// A plug-in bitmap whose every row lies inside the pixel block. Colour
// entries past the table are black.
struct PluginBitmap {
    int width;
    int height;
    bool topDown;
    unsigned bitCount;
    std::array<DWORD, 256> palette;
    const BYTE* pBits;
    size_t stride;
};

PluginBitmap CheckBitmap(const BYTE* pInfo, SIZE_T infoSize, const BYTE* pBits, SIZE_T bitsSize) {
    CheckResult(pInfo && pBits && infoSize >= sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, pInfo, sizeof header);
    CheckResult(header.biSize >= sizeof(BITMAPINFOHEADER) && header.biSize <= infoSize);
    CheckResult(header.biCompression == BI_RGB);
    const unsigned bits = header.biBitCount;
    CheckResult(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 24);
    CheckResult(header.biWidth > 0 && header.biHeight != 0 && header.biHeight != INT_MIN);

    PluginBitmap bitmap{};
    bitmap.width = header.biWidth;
    bitmap.topDown = header.biHeight < 0;
    bitmap.height = bitmap.topDown ? -header.biHeight : header.biHeight;
    bitmap.bitCount = bits;
    if (bits <= 8) {
        const std::uint64_t colors = header.biClrUsed ? header.biClrUsed : 1u << bits;
        CheckResult(header.biSize + colors * 4 <= infoSize);
        std::memcpy(bitmap.palette.data(), pInfo + header.biSize, std::min<std::uint64_t>(colors, 256) * 4);
    }
    // Rows are whole 4-byte words; computed in 64 bits, a huge size cannot wrap.
    bitmap.stride = size_t((std::uint64_t(bitmap.width) * bits + 31) / 32 * 4);
    CheckResult(std::uint64_t(bitmap.stride) * std::uint64_t(bitmap.height) <= bitsSize);
    bitmap.pBits = pBits;
    return bitmap;
}

DWORD Load32(const BYTE* p) {
    DWORD value;
    std::memcpy(&value, p, 4);
    return value;
}

// Four pixels from three little-endian words at a time; the fourth byte is 0.
void ConvertRow24(const BYTE* pSource, DWORD* pDest, int width) {
    int x = 0;
    for (; x + 4 <= width; x += 4, pSource += 12) {
        const DWORD w0 = Load32(pSource), w1 = Load32(pSource + 4), w2 = Load32(pSource + 8);
        pDest[x] = w0 & 0xFFFFFF;
        pDest[x + 1] = (w0 >> 24 | w1 << 8) & 0xFFFFFF;
        pDest[x + 2] = (w1 >> 16 | w2 << 16) & 0xFFFFFF;
        pDest[x + 3] = w2 >> 8;
    }
    for (; x < width; ++x, pSource += 3)
        pDest[x] = DWORD(pSource[0]) | DWORD(pSource[1]) << 8 | DWORD(pSource[2]) << 16;
}

// Pixels are packed from the most significant bit of each byte on, so the
// first pixel of a 4-byte word (its bytes in file order) is in its top bits.
void ConvertRowIndexed(const BYTE* pSource, DWORD* pDest, int width, unsigned bits,
                       const std::array<DWORD, 256>& palette) {
    const unsigned mask = (1u << bits) - 1;
    for (int x = 0; x < width; ++x) {
        const size_t bit = size_t(x) * bits;
        pDest[x] = palette[(pSource[bit / 8] >> (8 - bits - bit % 8)) & mask];
    }
}

// Source row r counted from the bottom goes to image row r, which is the
// bottom line until the image is flipped.
void ConvertRows(const PluginBitmap& bitmap, ImageBuffer& image) {
    for (int r = 0; r < bitmap.height; ++r) {
        const BYTE* pSource = bitmap.pBits + size_t(r) * bitmap.stride;
        const int line = bitmap.topDown ? bitmap.height - 1 - r : r;
        DWORD* pDest = reinterpret_cast<DWORD*>(image.ptrImage + std::ptrdiff_t(line) * image.nPitch);
        if (bitmap.bitCount == 24)
            ConvertRow24(pSource, pDest, bitmap.width);
        else
            ConvertRowIndexed(pSource, pDest, bitmap.width, bitmap.bitCount, bitmap.palette);
    }
}

}  // namespace

CSPIPictureRsrc::CSPIPictureRsrc(const wchar_t* path, ContinueProc pfnContinue, void* pArg) {
    const ULONGLONG fileSize = GetFileSize(path);
    QEL_FAIL_IF_AT(QEL_SOURCE, 441, fileSize == 0);
    // The plug-in interface takes a 32-bit length.
    QEL_FAIL_IF_AT(QEL_SOURCE, 441, fileSize > MAXDWORD);
    CBuffer buffer(static_cast<DWORD>(fileSize));
    ReadWholeFile(path, buffer.get(), buffer.size());

    // Whatever the result, a handle the plug-in hands back is freed here.
    esl::UniqueLocal hPixelBits;
    esl::UniqueLocal hBitmapInfo;
    CallBackData callBackData{pfnContinue, pArg};
    CSpi* pSpi = CSpiManager::Instance().FindPicturePlugin(path);
    CheckResult(pSpi &&
                pSpi->GetPicture(static_cast<LPCSTR>(buffer.get()), buffer.size(), kSpiInputMemory, hBitmapInfo.put(),
                                 hPixelBits.put(), CallBack, reinterpret_cast<LONG_PTR>(&callBackData)) == kSpiOk);

    const esl::LocalLockGuard<const BYTE> pixels(hPixelBits.get());
    const esl::LocalLockGuard<const BYTE> info(hBitmapInfo.get());
    const PluginBitmap bitmap =
        CheckBitmap(info.get(), ::LocalSize(hBitmapInfo.get()), pixels.get(), ::LocalSize(hPixelBits.get()));

    m_pImage.reset(CreateImageBuffer(kImageFormatColor, bitmap.width, bitmap.height, 32, kImageFlagDib));
    QEL_FAIL_IF_AT(QEL_SOURCE, 466, m_pImage == NULL);
    ConvertRows(bitmap, *m_pImage);
    FlipImage(m_pImage.get());
}

CSPIPictureRsrc::~CSPIPictureRsrc() = default;

}  // namespace qel
