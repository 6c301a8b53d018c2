// The BMP writer: 14-byte file header, 40-byte info header, the colour table
// if any, then the rows, bottom line first, straight from image memory.
#include <cstring>

#include "esl_file.h"
#include "esl_image.h"

namespace {

constexpr DWORD kHeaderBytes = 54;

void Put16(BYTE* p, DWORD v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}

void Put32(BYTE* p, DWORD v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

bool WriteAll(ESLFileObject& file, const void* data, DWORD bytes) {
    return file.Write(data, bytes) == bytes;
}

}  // namespace

int EBitmapWriter::CreateImage(DWORD dwFormat, int nWidth, int nHeight, DWORD dwBitsPerPixel, DWORD dwFlags) {
    m_pImage.reset(CreateImageBuffer(dwFormat, nWidth, nHeight, dwBitsPerPixel, dwFlags));
    return m_pImage ? 0 : 1;
}

int EBitmapWriter::Write(ESLFileObject& file) const {
    const ImageBuffer* image = m_pImage.get();
    if (!image || !image->ptrImage)
        return 1;
    const DWORD width = static_cast<DWORD>(image->nWidth), height = static_cast<DWORD>(image->nHeight);
    const DWORD rowBytes = (width * image->dwBitsPerPixel + 31) / 32 * 4;
    const DWORD imageBytes = height * rowBytes;
    const DWORD colorBytes = image->pColorTable ? 4 * image->dwColorCount : 0;

    BYTE header[kHeaderBytes] = {'B', 'M'};
    Put32(header + 2, kHeaderBytes + colorBytes + imageBytes);
    Put32(header + 10, kHeaderBytes + colorBytes);
    Put32(header + 14, 40);
    Put32(header + 18, width);
    Put32(header + 22, height);
    Put16(header + 26, 1);
    Put16(header + 28, image->dwBitsPerPixel);
    Put32(header + 30, BI_RGB);
    Put32(header + 34, imageBytes);
    Put32(header + 46, image->pColorTable ? image->dwColorCount : 0);
    if (!WriteAll(file, header, kHeaderBytes))
        return 1;
    if (colorBytes && !WriteAll(file, image->pColorTable, colorBytes))
        return 1;
    // The file keeps the bottom line first: with a negative pitch that is
    // the last row, with a positive one row 0.
    const bool topDown = image->nPitch < 0;
    for (DWORD i = 0; i < height; ++i) {
        const DWORD row = topDown ? height - 1 - i : i;
        const BYTE* p = image->ptrImage + static_cast<std::ptrdiff_t>(row) * image->nPitch;
        if (!WriteAll(file, p, rowBytes))
            return 1;
    }
    return 0;
}
