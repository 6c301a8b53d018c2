// Netpbm pictures (PBM, PGM, PPM; plain P1-P3 and raw P4-P6) for the Susie
// picture host. Samples up to 65535 are scaled to 8 bits; grey and colour
// pictures come out as 24-bit rows, bitmaps as 1-bit rows with a two-entry
// colour table. The host calls in from several threads at once, so nothing
// outside a call is mutable.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "spi_plugin.h"

namespace {

using spi::Require;

// Entry 0 the interface version, 1 the name, then filter and description pairs.
constexpr const char* kPluginInfo[] = {
    "00IN",
    "velk58 Netpbm picture plug-in",
    "*.pnm;*.pbm;*.pgm;*.ppm",
    "Netpbm pictures (PBM, PGM, PPM)",
};

constexpr std::uint32_t kMaxSample = 65535;

bool IsSpace(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

// "P1" to "P6" and a separator: enough to claim a file.
bool IsPnmHead(const unsigned char* p, std::size_t n) {
    return n >= 3 && p[0] == 'P' && p[1] >= '1' && p[1] <= '6' && (IsSpace(p[2]) || p[2] == '#');
}

// Reads the file image front to back, never past its end.
class CCursor {
public:
    CCursor(const unsigned char* p, std::size_t n) : m_p(p), m_end(p + n) {}

    const unsigned char* Here() const { return m_p; }
    std::size_t Left() const { return static_cast<std::size_t>(m_end - m_p); }

    const unsigned char* Take(std::size_t n) {
        Require(n <= Left());
        const unsigned char* p = m_p;
        m_p += n;
        return p;
    }

    // The next character; a comment ('#' to the line end) reads as its line end. -1 at the end.
    int Get() {
        if (m_p == m_end)
            return -1;
        int c = *m_p++;
        if (c != '#')
            return c;
        while (m_p != m_end && *m_p != '\n' && *m_p != '\r')
            ++m_p;
        return m_p == m_end ? -1 : *m_p++;
    }

    // The next character that is not whitespace or comment.
    int GetToken() {
        int c;
        do
            c = Get();
        while (IsSpace(c));
        return c;
    }

    // An unsigned decimal after whitespace and comments, at most limit.
    std::uint32_t Number(std::uint32_t limit) {
        int c = GetToken();
        Require(IsDigit(c));
        std::uint64_t v = static_cast<unsigned>(c - '0');
        for (; m_p != m_end && IsDigit(*m_p); ++m_p) {
            v = v * 10 + static_cast<unsigned>(*m_p - '0');
            Require(v <= limit);
        }
        Require(v <= limit);
        return static_cast<std::uint32_t>(v);
    }

private:
    const unsigned char* m_p;
    const unsigned char* m_end;
};

struct SHeader {
    int kind = 0;  // the digit after 'P'
    std::uint32_t width = 0, height = 0, maxval = 1;

    bool IsBitmap() const { return kind == 1 || kind == 4; }
    bool IsRaw() const { return kind >= 4; }
    unsigned Channels() const { return kind == 3 || kind == 6 ? 3 : 1; }
    unsigned SampleBytes() const { return maxval > 255 ? 2 : 1; }
    unsigned BitCount() const { return IsBitmap() ? 1 : 24; }
    std::uint64_t RawRowBytes() const {
        return IsBitmap() ? (width + 7) / 8 : std::uint64_t(width) * Channels() * SampleBytes();
    }
    // The fewest bytes the raster can take: raw rows exactly; a plain bit one
    // character, a plain sample a digit and a separator (but the last).
    std::uint64_t MinRasterBytes() const {
        const std::uint64_t samples = std::uint64_t(width) * height * Channels();
        if (IsRaw())
            return RawRowBytes() * height;
        return IsBitmap() ? samples : 2 * samples - 1;
    }
};

SHeader ReadHeader(CCursor& in) {
    Require(IsPnmHead(in.Here(), in.Left()));
    SHeader h;
    h.kind = in.Take(2)[1] - '0';
    h.width = in.Number(spi::kMaxSide);
    h.height = in.Number(spi::kMaxSide);
    if (!h.IsBitmap())
        h.maxval = in.Number(kMaxSample);
    Require(h.width > 0 && h.height > 0 && h.maxval > 0);
    Require(IsSpace(in.Get()));  // exactly one separator before a raw raster
    spi::CDib::CheckSize(h.width, h.height, h.BitCount());
    Require(in.Left() >= h.MinRasterBytes());
    return h;
}

// Sample to 8 bits, rounded; a sample above maxval shows at full intensity.
std::vector<std::uint8_t> ScaleTable(std::uint32_t maxval) {
    std::vector<std::uint8_t> table(maxval > 255 ? 65536 : 256, 255);
    for (std::uint32_t v = 0; v <= maxval; ++v)
        table[v] = static_cast<std::uint8_t>((v * 510 + maxval) / (2 * maxval));
    return table;
}

struct SRowContext {
    const SHeader& header;
    const std::vector<std::uint8_t>& scale;
};

// Each converter fills one destination row.
using RowConverter = void (*)(const SRowContext&, CCursor&, unsigned char*);

void RawBitmapRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::size_t n = static_cast<std::size_t>(c.header.RawRowBytes());
    std::memcpy(dst, in.Take(n), n);
    if (const unsigned spare = (8 - c.header.width % 8) % 8)
        dst[n - 1] &= static_cast<unsigned char>(0xFF << spare);  // bits past the row are undefined in the file
}

void PlainBitmapRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::size_t n = static_cast<std::size_t>(c.header.RawRowBytes());
    std::memset(dst, 0, n);
    for (std::uint32_t x = 0; x < c.header.width; ++x) {
        const int bit = in.GetToken();
        Require(bit == '0' || bit == '1');
        dst[x / 8] |= static_cast<unsigned char>((bit - '0') << (7 - x % 8));
    }
}

template <unsigned kBytes>
unsigned RawSample(const unsigned char* p) {
    return kBytes == 1 ? p[0] : (p[0] << 8 | p[1]);  // big-endian
}

// Raw grey or colour samples to blue, green, red.
template <unsigned kBytes, unsigned kChannels>
void RawRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::uint8_t* scale = c.scale.data();
    const unsigned char* src = in.Take(static_cast<std::size_t>(c.header.RawRowBytes()));
    for (std::uint32_t x = 0; x < c.header.width; ++x, src += kBytes * kChannels, dst += 3) {
        dst[2] = scale[RawSample<kBytes>(src)];
        dst[1] = kChannels == 3 ? scale[RawSample<kBytes>(src + kBytes)] : dst[2];
        dst[0] = kChannels == 3 ? scale[RawSample<kBytes>(src + 2 * kBytes)] : dst[2];
    }
}

std::uint32_t Load32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Store32(unsigned char* p, std::uint32_t v) {
    std::memcpy(p, &v, 4);
}

// Byte b (0 lowest) of a little-endian word, moved to byte to.
constexpr std::uint32_t Move(std::uint32_t w, unsigned b, unsigned to) {
    return (w >> (8 * b) & 0xFF) << (8 * to);
}

// Raw 8-bit colour with maxval 255 needs no scaling, only red and blue
// swapped: four pixels (three words) at a time, the rest one by one.
void RawRgb8Row(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::uint32_t width = c.header.width;
    const unsigned char* src = in.Take(static_cast<std::size_t>(c.header.RawRowBytes()));
    std::uint32_t x = 0;
    for (; x + 4 <= width; x += 4, src += 12, dst += 12) {
        // Source bytes R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3.
        const std::uint32_t w0 = Load32(src), w1 = Load32(src + 4), w2 = Load32(src + 8);
        Store32(dst, Move(w0, 2, 0) | Move(w0, 1, 1) | Move(w0, 0, 2) | Move(w1, 1, 3));
        Store32(dst + 4, Move(w1, 0, 0) | Move(w0, 3, 1) | Move(w2, 0, 2) | Move(w1, 3, 3));
        Store32(dst + 8, Move(w1, 2, 0) | Move(w2, 3, 1) | Move(w2, 2, 2) | Move(w2, 1, 3));
    }
    for (; x < width; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

void PlainRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::uint32_t top = static_cast<std::uint32_t>(c.scale.size() - 1);
    const unsigned channels = c.header.Channels();
    for (std::uint32_t x = 0; x < c.header.width; ++x, dst += 3) {
        std::uint8_t rgb[3];
        for (unsigned i = 0; i < channels; ++i)
            rgb[i] = c.scale[std::min(in.Number(kMaxSample), top)];
        if (channels == 1)
            rgb[1] = rgb[2] = rgb[0];
        dst[0] = rgb[2];
        dst[1] = rgb[1];
        dst[2] = rgb[0];
    }
}

RowConverter PickConverter(const SHeader& h) {
    if (h.IsBitmap())
        return h.IsRaw() ? RawBitmapRow : PlainBitmapRow;
    if (!h.IsRaw())
        return PlainRow;
    if (h.SampleBytes() == 1 && h.Channels() == 3 && h.maxval == 255)
        return RawRgb8Row;
    static constexpr RowConverter kRaw[2][2] = {{RawRow<1, 1>, RawRow<1, 3>}, {RawRow<2, 1>, RawRow<2, 3>}};
    return kRaw[h.SampleBytes() - 1][h.Channels() == 3];
}

// Bitmaps get a two-entry colour table: 0 white, 1 black as in PBM.
spi::CDib Decode(const unsigned char* data, std::size_t size, const spi::SProgress& progress) {
    CCursor in(data, size);
    const SHeader h = ReadHeader(in);
    const std::vector<RGBQUAD> bitmapColours = {RGBQUAD{255, 255, 255, 0}, RGBQUAD{0, 0, 0, 0}};
    spi::CDib dib(h.width, h.height, h.BitCount(), h.IsBitmap() ? bitmapColours : std::vector<RGBQUAD>());
    const std::vector<std::uint8_t> scale = h.IsBitmap() ? std::vector<std::uint8_t>() : ScaleTable(h.maxval);
    const SRowContext context{h, scale};
    const RowConverter convert = PickConverter(h);
    for (std::uint32_t y = 0; y < h.height; ++y) {
        if (y % spi::kRowsPerBlock == 0)
            progress.Report(y, h.height);
        convert(context, in, dib.Row(y));
    }
    progress.Report(h.height, h.height);
    return dib;
}

spi::SPictureHead ReadHead(const unsigned char* data, std::size_t size) {
    CCursor in(data, size);
    const SHeader h = ReadHeader(in);
    return {h.width, h.height, h.BitCount()};
}

}  // namespace

SPI_PICTURE_PLUGIN_EXPORTS(kPluginInfo, IsPnmHead, ReadHead, Decode)
