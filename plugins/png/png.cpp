// PNG pictures for the Susie picture host, decoded by libpng. 16-bit samples
// are scaled to 8 bits; interlaced pictures come out whole. Palette and grey
// pictures come out as 8-bit rows with a colour table, colour ones as 24-bit
// rows. The host's pictures have no alpha: transparent parts are put onto
// white, the colour of the paper a page is read on.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "png_core.h"
#include "spi_plugin.h"

namespace {

using spi::Require;

constexpr const char* kPluginInfo[] = {
    "00IN",
    "velk58 PNG picture plug-in (libpng)",
    "*.png",
    "PNG pictures",
};

// 256 entries, so that no index can reach past the table; unused ones black.
std::vector<RGBQUAD> ColourTable(const PngHead& head) {
    if (head.form != kPngIndex) {
        std::vector<RGBQUAD> table = spi::GreyTable();
        if (head.clearGrey >= 0)
            table[head.clearGrey] = RGBQUAD{255, 255, 255, 0};
        return table;
    }
    std::vector<RGBQUAD> table(256, RGBQUAD{0, 0, 0, 0});
    for (int i = 0; i < head.paletteSize && i < 256; ++i) {
        const unsigned char* rgb = head.palette + 3 * i;
        const unsigned alpha = i < head.alphaSize ? head.alpha[i] : 255;
        table[i] = RGBQUAD{spi::OnWhite(rgb[2], alpha), spi::OnWhite(rgb[1], alpha), spi::OnWhite(rgb[0], alpha), 0};
    }
    return table;
}

class CPngPicture : public spi::CRowTarget {
public:
    using CRowTarget::CRowTarget;

    PngSink Sink() { return PngSink{Rows(), spi::CallBegin<CPngPicture, PngHead>}; }

    void Begin(const PngHead& head) {
        const bool colour = head.form == kPngBgr || head.form == kPngBgra;
        SetHead({head.width, head.height, colour ? 24u : 8u});
        m_dib.emplace(head.width, head.height, colour ? 24 : 8, colour ? std::vector<RGBQUAD>() : ColourTable(head));
        m_form = head.form;
        if (m_form == kPngGreyAlpha || m_form == kPngBgra) {
            // Samples with alpha wait beside the picture; an interlaced
            // picture's rows come back in every pass, so all of them wait.
            m_rowBytes = std::size_t(head.width) * (m_form == kPngBgra ? 4 : 2);
            m_interlaced = head.passes > 1;
            m_scratch.resize(m_rowBytes * (m_interlaced ? head.height : spi::kRowsPerBlock));
        }
    }

protected:
    unsigned char* RowAt(unsigned y) override { return m_scratch.empty() ? m_dib->Row(y) : Scratch(y); }

    void RowsDone(unsigned first, unsigned count) override {
        if (m_scratch.empty())
            return;
        const std::uint32_t width = m_dib->Width();
        for (unsigned y = first; y < first + count; ++y) {
            const unsigned char* src = Scratch(y);
            unsigned char* dst = m_dib->Row(y);
            if (m_form == kPngGreyAlpha)
                for (std::uint32_t x = 0; x < width; ++x, src += 2)
                    *dst++ = spi::OnWhite(src[0], src[1]);
            else
                for (std::uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
                    dst[0] = spi::OnWhite(src[0], src[3]);
                    dst[1] = spi::OnWhite(src[1], src[3]);
                    dst[2] = spi::OnWhite(src[2], src[3]);
                }
        }
    }

private:
    PngForm m_form = kPngBgr;
    std::size_t m_rowBytes = 0;
    bool m_interlaced = false;
    std::vector<unsigned char> m_scratch;

    unsigned char* Scratch(unsigned y) {
        return m_scratch.data() + (m_interlaced ? y : y % spi::kRowsPerBlock) * m_rowBytes;
    }
};

spi::CDib Decode(const unsigned char* data, std::size_t size, const spi::SProgress& progress) {
    return spi::DecodeWith<CPngPicture>(PngDecode, data, size, progress);
}

spi::SPictureHead ReadHead(const unsigned char* data, std::size_t size) {
    return spi::HeadWith<CPngPicture>(PngDecode, data, size);
}

bool IsPngHead(const unsigned char* head, std::size_t size) {
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::equal(kSignature, kSignature + 8, head);
}

}  // namespace

SPI_PICTURE_PLUGIN_EXPORTS(kPluginInfo, IsPngHead, ReadHead, Decode)
