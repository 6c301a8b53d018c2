// WebP pictures for the Susie picture host, decoded by libwebp: lossy and
// lossless, with alpha put onto white (the host's pictures have none); of an
// animation, the first frame on its canvas. libwebp reports errors by result,
// so the decode is C++ throughout; it is fed in slices so that the host can
// stop it between them.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "spi_plugin.h"
#include "webp/decode.h"
#include "webp/demux.h"

namespace {

using spi::Require;

constexpr const char* kPluginInfo[] = {
    "00IN",
    "velk58 WebP picture plug-in (libwebp)",
    "*.webp",
    "WebP pictures",
};

// The coded picture to show and where it sits on the canvas.
struct SFrame {
    const std::uint8_t* data;
    std::size_t size;
    std::uint32_t canvasWidth, canvasHeight, x, y;
};

SFrame FindFrame(const unsigned char* data, std::size_t size) {
    WebPBitstreamFeatures features;
    Require(WebPGetFeatures(data, size, &features) == VP8_STATUS_OK);
    if (!features.has_animation)
        return {data, size, std::uint32_t(features.width), std::uint32_t(features.height), 0, 0};
    const WebPData whole = {data, size};
    const std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demux(WebPDemux(&whole), WebPDemuxDelete);
    Require(demux != nullptr);
    WebPIterator it;
    Require(WebPDemuxGetFrame(demux.get(), 1, &it) != 0);
    // The fragment lies in data, which outlives the demuxer.
    const SFrame frame = {it.fragment.bytes,
                          it.fragment.size,
                          WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH),
                          WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT),
                          std::uint32_t(it.x_offset),
                          std::uint32_t(it.y_offset)};
    WebPDemuxReleaseIterator(&it);
    return frame;
}

// Feeds the data in slices of about one row block's worth, reporting the rows done after each.
void DecodeInSlices(const SFrame& frame, WebPDecoderConfig& config, std::uint32_t height,
                    const spi::SProgress& progress) {
    const std::unique_ptr<WebPIDecoder, decltype(&WebPIDelete)> decoder(WebPIDecode(nullptr, 0, &config), WebPIDelete);
    Require(decoder != nullptr, kSpiInternalError);
    const std::size_t blocks = (height + spi::kRowsPerBlock - 1) / spi::kRowsPerBlock;
    const std::size_t slice = std::max<std::size_t>(frame.size / blocks, 4096);
    for (std::size_t fed = 0;;) {
        fed = std::min(frame.size, fed + slice);
        const VP8StatusCode status = WebPIUpdate(decoder.get(), frame.data, fed);
        if (status == VP8_STATUS_OK)
            break;
        Require(status == VP8_STATUS_SUSPENDED && fed < frame.size);
        int rows = 0;
        WebPIDecGetRGB(decoder.get(), &rows, nullptr, nullptr, nullptr);
        progress.Report(std::uint32_t(std::max(rows, 0)), height);
    }
    progress.Report(height, height);
}

spi::CDib Decode(const unsigned char* data, std::size_t size, const spi::SProgress& progress) {
    const SFrame frame = FindFrame(data, size);
    spi::CDib::CheckSize(frame.canvasWidth, frame.canvasHeight, 24);
    WebPDecoderConfig config;
    Require(WebPInitDecoderConfig(&config) != 0, kSpiInternalError);
    Require(WebPGetFeatures(frame.data, frame.size, &config.input) == VP8_STATUS_OK);
    const std::uint32_t width = config.input.width, height = config.input.height;
    Require(frame.x + width <= frame.canvasWidth && frame.y + height <= frame.canvasHeight);
    spi::CDib dib(frame.canvasWidth, frame.canvasHeight, 24);

    // An opaque picture that fills the canvas is decoded straight into it,
    // flipped into the host's bottom-up order; anything else waits beside it.
    const bool direct = !config.input.has_alpha && width == frame.canvasWidth && height == frame.canvasHeight;
    std::vector<std::uint8_t> waiting;
    WebPRGBABuffer& out = config.output.u.RGBA;
    config.output.is_external_memory = 1;
    if (direct) {
        config.output.colorspace = MODE_BGR;
        config.options.flip = 1;
        out.rgba = dib.Row(height - 1);
        out.stride = static_cast<int>(dib.Stride());
        out.size = dib.Stride() * height;
    } else {
        config.output.colorspace = MODE_BGRA;
        waiting.resize(std::size_t(4) * width * height);
        out.rgba = waiting.data();
        out.stride = static_cast<int>(4 * width);
        out.size = waiting.size();
    }
    DecodeInSlices(frame, config, height, progress);
    if (direct)
        return dib;

    for (std::uint32_t y = 0; y < dib.Height(); ++y)
        std::memset(dib.Row(y), 255, std::size_t(3) * dib.Width());
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* src = waiting.data() + std::size_t(4) * width * y;
        unsigned char* dst = dib.Row(frame.y + y) + std::size_t(3) * frame.x;
        for (std::uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
            dst[0] = spi::OnWhite(src[0], src[3]);
            dst[1] = spi::OnWhite(src[1], src[3]);
            dst[2] = spi::OnWhite(src[2], src[3]);
        }
    }
    return dib;
}

spi::SPictureHead ReadHead(const unsigned char* data, std::size_t size) {
    const SFrame frame = FindFrame(data, size);
    spi::CDib::CheckSize(frame.canvasWidth, frame.canvasHeight, 24);
    return {frame.canvasWidth, frame.canvasHeight, 24};
}

bool IsWebpHead(const unsigned char* head, std::size_t size) {
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

}  // namespace

SPI_PICTURE_PLUGIN_EXPORTS(kPluginInfo, IsWebpHead, ReadHead, Decode)
