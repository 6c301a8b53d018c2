// Netpbm pictures (PBM, PGM, PPM; plain P1-P3 and raw P4-P6) for the Susie
// picture host. Samples up to 65535 are scaled to 8 bits; grey and colour
// pictures come out as 24-bit rows, bitmaps as 1-bit rows with a two-entry
// colour table. The host calls in from several threads at once, so nothing
// outside a call is mutable.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "esl_handle.h"
#include "qel_spi.h"

namespace {

// The record GetPictureInfo fills, byte-packed as hosts expect it.
#pragma pack(push, 1)
struct SpiPictureInfo {
    LONG left, top;
    LONG width, height;
    WORD xDensity, yDensity;
    short colorDepth;
    HLOCAL hInfo;
};
#pragma pack(pop)

// Entry 0 the interface version, 1 the name, then filter and description pairs.
constexpr const char* kPluginInfo[] = {
    "00IN",
    "velk58 Netpbm picture plug-in",
    "*.pnm;*.pbm;*.pgm;*.ppm",
    "Netpbm pictures (PBM, PGM, PPM)",
};

// Checked before anything is allocated, so a lying header costs nothing.
constexpr std::uint32_t kMaxSide = 65535;
constexpr std::uint32_t kMaxSample = 65535;
constexpr std::uint64_t kMaxPixelBytes = std::uint64_t(1) << 30;
constexpr std::uint64_t kMaxFileBytes = std::min<std::uint64_t>(std::uint64_t(1) << 32, PTRDIFF_MAX);
constexpr std::uint32_t kRowsPerBlock = 64;  // rows between progress calls

// Ends a call early with a result for the host.
struct SResult {
    int code;
};

void Require(bool ok, int code = kSpiUnknownFormat) {
    if (!ok)
        throw SResult{code};
}

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
    std::uint64_t Stride() const { return (std::uint64_t(width) * BitCount() + 31) / 32 * 4; }
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
    h.width = in.Number(kMaxSide);
    h.height = in.Number(kMaxSide);
    if (!h.IsBitmap())
        h.maxval = in.Number(kMaxSample);
    Require(h.width > 0 && h.height > 0 && h.maxval > 0);
    Require(IsSpace(in.Get()));  // exactly one separator before a raw raster
    Require(h.Stride() * h.height <= kMaxPixelBytes);
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

// Each converter fills one destination row and answers the bytes it wrote.
using RowConverter = std::size_t (*)(const SRowContext&, CCursor&, unsigned char*);

std::size_t RawBitmapRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::size_t n = static_cast<std::size_t>(c.header.RawRowBytes());
    std::memcpy(dst, in.Take(n), n);
    if (const unsigned spare = (8 - c.header.width % 8) % 8)
        dst[n - 1] &= static_cast<unsigned char>(0xFF << spare);  // bits past the row are undefined in the file
    return n;
}

std::size_t PlainBitmapRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::size_t n = static_cast<std::size_t>(c.header.RawRowBytes());
    std::memset(dst, 0, n);
    for (std::uint32_t x = 0; x < c.header.width; ++x) {
        const int bit = in.GetToken();
        Require(bit == '0' || bit == '1');
        dst[x / 8] |= static_cast<unsigned char>((bit - '0') << (7 - x % 8));
    }
    return n;
}

template <unsigned kBytes>
unsigned RawSample(const unsigned char* p) {
    return kBytes == 1 ? p[0] : (p[0] << 8 | p[1]);  // big-endian
}

// Raw grey or colour samples to blue, green, red.
template <unsigned kBytes, unsigned kChannels>
std::size_t RawRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
    const std::uint8_t* scale = c.scale.data();
    const unsigned char* src = in.Take(static_cast<std::size_t>(c.header.RawRowBytes()));
    for (std::uint32_t x = 0; x < c.header.width; ++x, src += kBytes * kChannels, dst += 3) {
        dst[2] = scale[RawSample<kBytes>(src)];
        dst[1] = kChannels == 3 ? scale[RawSample<kBytes>(src + kBytes)] : dst[2];
        dst[0] = kChannels == 3 ? scale[RawSample<kBytes>(src + 2 * kBytes)] : dst[2];
    }
    return std::size_t(3) * c.header.width;
}

std::size_t PlainRow(const SRowContext& c, CCursor& in, unsigned char* dst) {
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
    return std::size_t(3) * c.header.width;
}

RowConverter PickConverter(const SHeader& h) {
    if (h.IsBitmap())
        return h.IsRaw() ? RawBitmapRow : PlainBitmapRow;
    if (!h.IsRaw())
        return PlainRow;
    static constexpr RowConverter kRaw[2][2] = {{RawRow<1, 1>, RawRow<1, 3>}, {RawRow<2, 1>, RawRow<2, 3>}};
    return kRaw[h.SampleBytes() - 1][h.Channels() == 3];
}

struct SProgress {
    SPI_PROGRESS callback;
    LONG_PTR data;

    // Susie's convention: a non-zero answer asks to stop, which ends the call with 1.
    void Report(std::uint32_t done, std::uint32_t total) const {
        if (callback && callback(static_cast<int>(done), static_cast<int>(total), data) != 0)
            throw SResult{kSpiAborted};
    }
};

esl::UniqueLocal AllocLocal(std::size_t size) {
    esl::UniqueLocal h(::LocalAlloc(LMEM_MOVEABLE, size));
    if (!h)
        throw std::bad_alloc();
    return h;
}

// BITMAPINFOHEADER, then (for bitmaps) the colour table: 0 white, 1 black as in PBM.
esl::UniqueLocal MakeInfo(const SHeader& h) {
    const DWORD colours = h.IsBitmap() ? 2 : 0;
    esl::UniqueLocal info = AllocLocal(sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD));
    esl::LocalLockGuard<BITMAPINFOHEADER> lock(info.get());
    BITMAPINFOHEADER* bi = lock.get();
    Require(bi != nullptr, kSpiInternalError);
    *bi = BITMAPINFOHEADER{};
    bi->biSize = sizeof(BITMAPINFOHEADER);
    bi->biWidth = static_cast<LONG>(h.width);
    bi->biHeight = static_cast<LONG>(h.height);  // positive: bottom line first
    bi->biPlanes = 1;
    bi->biBitCount = static_cast<WORD>(h.BitCount());
    bi->biCompression = BI_RGB;
    bi->biSizeImage = static_cast<DWORD>(h.Stride() * h.height);
    bi->biClrUsed = colours;
    if (colours) {
        RGBQUAD* table = reinterpret_cast<RGBQUAD*>(bi + 1);
        table[0] = RGBQUAD{255, 255, 255, 0};
        table[1] = RGBQUAD{0, 0, 0, 0};
    }
    return info;
}

// The rows bottom-up, each padded with zeros to its 4-byte stride.
esl::UniqueLocal MakePixels(const SHeader& h, CCursor& in, const SProgress& progress) {
    const std::size_t stride = static_cast<std::size_t>(h.Stride());
    esl::UniqueLocal bits = AllocLocal(stride * h.height);
    esl::LocalLockGuard<unsigned char> lock(bits.get());
    Require(lock.get() != nullptr, kSpiInternalError);
    const std::vector<std::uint8_t> scale = h.IsBitmap() ? std::vector<std::uint8_t>() : ScaleTable(h.maxval);
    const SRowContext context{h, scale};
    const RowConverter convert = PickConverter(h);
    for (std::uint32_t y = 0; y < h.height; ++y) {
        if (y % kRowsPerBlock == 0)
            progress.Report(y, h.height);
        unsigned char* row = lock.get() + (h.height - 1 - y) * stride;
        const std::size_t used = convert(context, in, row);
        std::memset(row + used, 0, stride - used);
    }
    progress.Report(h.height, h.height);
    return bits;
}

// Susie's flag 0: buf names a file and len is where the picture starts in it.
std::vector<unsigned char> ReadFileFrom(LPCSTR path, LONG_PTR offset) {
    esl::UniqueFile file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{}, at{};
    at.QuadPart = offset;
    Require(file && ::GetFileSizeEx(file.get(), &size) && offset <= size.QuadPart &&
                ::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN),
            kSpiInternalError);
    Require(static_cast<std::uint64_t>(size.QuadPart - offset) <= kMaxFileBytes, kSpiUnknownFormat);
    std::vector<unsigned char> data(static_cast<std::size_t>(size.QuadPart - offset));
    for (std::size_t done = 0; done < data.size();) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
        Require(::ReadFile(file.get(), data.data() + done, ask, &got, nullptr) && got > 0, kSpiInternalError);
        done += got;
    }
    return data;
}

// The file image, whichever way the host hands it over.
class CInput {
public:
    CInput(LPCSTR buf, LONG_PTR len, unsigned flag) {
        Require(buf && len >= 0, kSpiInternalError);
        if ((flag & 7) == kSpiInputMemory) {
            m_cursor = CCursor(reinterpret_cast<const unsigned char*>(buf), static_cast<std::size_t>(len));
        } else {
            Require((flag & 7) == 0, kSpiNotImplemented);
            m_file = ReadFileFrom(buf, len);
            m_cursor = CCursor(m_file.data(), m_file.size());
        }
    }
    CCursor& Cursor() { return m_cursor; }

private:
    std::vector<unsigned char> m_file;
    CCursor m_cursor{nullptr, 0};
};

// Every export answers with a result code; nothing escapes to the host.
template <class Fn>
int Guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const SResult& r) {
        return r.code;
    } catch (...) {
        return kSpiInternalError;
    }
}

}  // namespace

extern "C" {

int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    const int count = static_cast<int>(sizeof(kPluginInfo) / sizeof(kPluginInfo[0]));
    if (infono < 0 || infono >= count || !buf || buflen <= 0)
        return 0;
    const int n = std::min(static_cast<int>(std::strlen(kPluginInfo[infono])), buflen - 1);
    std::memcpy(buf, kPluginInfo[infono], static_cast<std::size_t>(n));
    buf[n] = '\0';
    return n;
}

// dw is a file handle when it fits in 16 bits, else the file's first bytes (2 KiB by convention).
int __stdcall IsSupported(LPCSTR /*filename*/, void* dw) {
    return Guarded([&] {
        const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(dw);
        if (value > 0xFFFF)
            return IsPnmHead(static_cast<const unsigned char*>(dw), 3) ? 1 : 0;
        unsigned char head[3];
        DWORD got = 0;
        if (!::ReadFile(static_cast<HANDLE>(dw), head, sizeof(head), &got, nullptr))
            return 0;
        ::SetFilePointer(static_cast<HANDLE>(dw), -static_cast<LONG>(got), nullptr, FILE_CURRENT);
        return IsPnmHead(head, got) ? 1 : 0;
    });
}

int __stdcall GetPictureInfo(LPCSTR buf, LONG_PTR len, unsigned int flag, void* lpInfo) {
    return Guarded([&] {
        Require(lpInfo != nullptr, kSpiInternalError);
        CInput input(buf, len, flag);
        const SHeader h = ReadHeader(input.Cursor());
        SpiPictureInfo info{};
        info.width = static_cast<LONG>(h.width);
        info.height = static_cast<LONG>(h.height);
        info.colorDepth = static_cast<short>(h.BitCount());
        std::memcpy(lpInfo, &info, sizeof(info));
        return kSpiOk;
    });
}

int __stdcall GetPicture(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                         SPI_PROGRESS lpPrgressCallback, LONG_PTR lData) {
    return Guarded([&] {
        Require(pHBInfo && pHBm, kSpiInternalError);
        *pHBInfo = *pHBm = nullptr;
        CInput input(buf, len, flag);
        const SHeader h = ReadHeader(input.Cursor());
        esl::UniqueLocal info = MakeInfo(h);
        esl::UniqueLocal bits = MakePixels(h, input.Cursor(), SProgress{lpPrgressCallback, lData});
        *pHBInfo = info.release();
        *pHBm = bits.release();
        return kSpiOk;
    });
}

}  // extern "C"
