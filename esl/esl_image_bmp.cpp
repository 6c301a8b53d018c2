// The BMP writer: 14-byte file header, 40-byte info header, the colour table
// if any, then the rows, bottom line first, straight from image memory.
#include "esl_image.h"

int EBitmapWriter::CreateImage(DWORD dwFormat, int nWidth, int nHeight, DWORD dwBitsPerPixel, DWORD dwFlags) {
    m_pImage.reset(CreateImageBuffer(dwFormat, nWidth, nHeight, dwBitsPerPixel, dwFlags));
    return m_pImage ? 0 : 1;
}
