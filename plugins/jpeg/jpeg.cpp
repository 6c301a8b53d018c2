// JPEG pictures for the Susie picture host, decoded by libjpeg-turbo with its
// SIMD code. Grey pictures come out as 8-bit rows with a grey colour table,
// colour ones as 24-bit rows; CMYK (plain, or inverted as Adobe writes it)
// is turned into RGB; the EXIF orientation tag is honoured, since phone
// photos and some scans rely on it.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "jpeg_core.h"
#include "spi_plugin.h"

namespace {

using spi::Require;

constexpr const char* kPluginInfo[] = {
    "00IN",
    "velk58 JPEG picture plug-in (libjpeg-turbo)",
    "*.jpg;*.jpeg;*.jpe;*.jfif",
    "JPEG pictures",
};

// The EXIF orientation (1 as stored, 2 to 8 mirrored and turned) from the
// TIFF structure of an APP1 segment; anything unreadable counts as 1.
unsigned ExifOrientation(const unsigned char* p, std::uint64_t n) {
    if (!p || n < 8)
        return 1;
    const bool little = p[0] == 'I' && p[1] == 'I';
    if (!little && !(p[0] == 'M' && p[1] == 'M'))
        return 1;
    auto u16 = [&](std::uint64_t at) -> unsigned { return little ? p[at] | p[at + 1] << 8 : p[at] << 8 | p[at + 1]; };
    auto u32 = [&](std::uint64_t at) -> std::uint64_t {
        return little ? u16(at) | std::uint64_t(u16(at + 2)) << 16 : std::uint64_t(u16(at)) << 16 | u16(at + 2);
    };
    const std::uint64_t ifd = u32(4);
    if (u16(2) != 42 || ifd + 2 > n)
        return 1;
    const unsigned count = u16(ifd);
    for (unsigned i = 0; i < count && ifd + 2 + 12 * (i + 1) <= n; ++i) {
        const std::uint64_t entry = ifd + 2 + 12 * i;
        if (u16(entry) == 0x0112) {
            const unsigned value = u16(entry + 8);  // a SHORT sits at the start of the value field
            return u16(entry + 2) == 3 && value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

// Where each stored pixel lands in the picture shown: stored pixel (x, y) at
// start + x * stepX + y * stepY. Orientations 5 to 8 swap the sides.
struct SPlacement {
    unsigned char* start;
    std::ptrdiff_t stepX, stepY;
};

SPlacement Place(const spi::CDib& dib, unsigned orientation, std::ptrdiff_t pixelBytes) {
    // Per orientation: stored rows become columns, the shown x runs backwards, the shown y runs backwards.
    static constexpr bool kSwap[9] = {false, false, false, false, false, true, true, true, true};
    static constexpr bool kMirrorX[9] = {false, false, true, true, false, false, true, true, false};
    static constexpr bool kMirrorY[9] = {false, false, false, true, true, false, false, true, true};
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(dib.Stride());
    const std::ptrdiff_t right = kMirrorX[orientation] ? -pixelBytes : pixelBytes;  // shown x + 1
    const std::ptrdiff_t down = kMirrorY[orientation] ? stride : -stride;           // shown y + 1 (rows bottom-up)
    const std::uint32_t x0 = kMirrorX[orientation] ? dib.Width() - 1 : 0;
    const std::uint32_t y0 = kMirrorY[orientation] ? dib.Height() - 1 : 0;
    unsigned char* start = dib.Row(y0) + x0 * pixelBytes;
    return kSwap[orientation] ? SPlacement{start, down, right} : SPlacement{start, right, down};
}

std::uint8_t Ink(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

class CJpegPicture : public spi::CRowTarget {
public:
    using CRowTarget::CRowTarget;

    JpegSink Sink() { return JpegSink{Rows(), spi::CallBegin<CJpegPicture, JpegHead>}; }

    void Begin(const JpegHead& head) {
        Require(head.components == 1 || head.components == 3 || head.components == 4);
        m_width = head.width;
        m_components = static_cast<unsigned>(head.components);
        m_adobe = head.adobe != 0;
        m_orientation = ExifOrientation(head.exif, head.exifSize);
        const bool swap = m_orientation >= 5;
        SetHead({swap ? head.height : head.width, swap ? head.width : head.height, m_components == 1 ? 8u : 24u});
        m_dib.emplace(Head().width, Head().height, Head().bitCount,
                      m_components == 1 ? spi::GreyTable() : std::vector<RGBQUAD>());
        // Rows go straight into the picture unless they must be moved or converted.
        m_direct = m_orientation == 1 && m_components != 4;
        if (!m_direct) {
            m_scratch.resize(std::size_t(spi::kRowsPerBlock) * m_width * m_components);
            m_place = Place(*m_dib, m_orientation, m_components == 1 ? 1 : 3);
        }
    }

protected:
    unsigned char* RowAt(unsigned y) override { return m_direct ? m_dib->Row(y) : Scratch(y); }

    void RowsDone(unsigned first, unsigned count) override {
        if (m_direct)
            return;
        for (unsigned y = first; y < first + count; ++y) {
            const unsigned char* src = Scratch(y);
            unsigned char* dst = m_place.start + std::ptrdiff_t(y) * m_place.stepY;
            if (m_components == 4)
                PlaceCmykRow(src, dst);
            else if (m_components == 3)
                PlaceRow<3>(src, dst);
            else
                PlaceRow<1>(src, dst);
        }
    }

private:
    std::uint32_t m_width = 0;
    unsigned m_components = 0, m_orientation = 1;
    bool m_adobe = false, m_direct = true;
    std::vector<unsigned char> m_scratch;
    SPlacement m_place{};

    unsigned char* Scratch(unsigned y) {
        return m_scratch.data() + std::size_t(y % spi::kRowsPerBlock) * m_width * m_components;
    }

    template <unsigned kBytes>
    void PlaceRow(const unsigned char* src, unsigned char* dst) const {
        for (std::uint32_t x = 0; x < m_width; ++x, src += kBytes, dst += m_place.stepX)
            std::memcpy(dst, src, kBytes);
    }

    // Adobe stores CMYK inverted (0 is full ink); plain CMYK is inverted here.
    void PlaceCmykRow(const unsigned char* src, unsigned char* dst) const {
        const unsigned flip = m_adobe ? 0 : 255;
        for (std::uint32_t x = 0; x < m_width; ++x, src += 4, dst += m_place.stepX) {
            const unsigned k = src[3] ^ flip;
            dst[0] = Ink(src[2] ^ flip, k);
            dst[1] = Ink(src[1] ^ flip, k);
            dst[2] = Ink(src[0] ^ flip, k);
        }
    }
};

spi::CDib Decode(const unsigned char* data, std::size_t size, const spi::SProgress& progress) {
    return spi::DecodeWith<CJpegPicture>(JpegDecode, data, size, progress);
}

spi::SPictureHead ReadHead(const unsigned char* data, std::size_t size) {
    return spi::HeadWith<CJpegPicture>(JpegDecode, data, size);
}

bool IsJpegHead(const unsigned char* head, std::size_t size) {
    return size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

}  // namespace

SPI_PICTURE_PLUGIN_EXPORTS(kPluginInfo, IsJpegHead, ReadHead, Decode)
