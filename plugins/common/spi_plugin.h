// What our picture plug-ins share: the exports' boilerplate (every exception
// caught, a result code for the host), the input in memory or from a file,
// progress with the host's stop answer, and the picture as the host reads it:
// a BITMAPINFO with its colour table and bottom-up rows padded to 4 bytes.
// The host calls in from several threads at once; nothing here is mutable
// outside a call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "esl_handle.h"
#include "qel_spi.h"
#include "spi_rows.h"

namespace spi {

// Checked before anything is allocated, so a lying header costs nothing.
constexpr std::uint32_t kMaxSide = 65535;
constexpr std::uint64_t kMaxPixelBytes = std::uint64_t(1) << 30;
constexpr std::uint32_t kRowsPerBlock = SPI_ROWS_PER_BLOCK;

// Ends a call early with a result for the host.
struct SResult {
    int code;
};

inline void Require(bool ok, int code = kSpiUnknownFormat) {
    if (!ok)
        throw SResult{code};
}

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

// A plug-in's answer to GetPluginInfo from its texts: entry 0 the interface
// version, 1 the name, then filter and description pairs.
int PluginInfo(const char* const* texts, int count, int infono, LPSTR buf, int buflen) noexcept;

// Whether the file's first bytes are the plug-in's: IsSupported's dw is a
// file handle when it fits in 16 bits, else the file's first 2 KiB.
using HeadTest = bool (*)(const unsigned char* head, std::size_t size);
int IsSupported(void* dw, HeadTest isHead) noexcept;

struct SProgress {
    SPI_PROGRESS callback;
    LONG_PTR data;

    // Susie's convention: a non-zero answer asks to stop, which ends the call with 1.
    void Report(std::uint64_t done, std::uint64_t total) const;
};

// White behind a colour of the given opacity (0 transparent, 255 opaque), rounded.
inline std::uint8_t OnWhite(unsigned colour, unsigned alpha) {
    return static_cast<std::uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// The picture handed to the host. The size is checked before anything is
// allocated: over 65535 a side or 1 GiB of rows is an unknown format.
class CDib {
public:
    CDib(std::uint32_t width, std::uint32_t height, unsigned bitCount, const std::vector<RGBQUAD>& colours = {});
    CDib(CDib&& other) noexcept;
    CDib& operator=(CDib&&) = delete;
    ~CDib();

    // Throws result 2 unless such a picture may be allocated.
    static void CheckSize(std::uint64_t width, std::uint64_t height, unsigned bitCount);
    static std::size_t Stride(std::uint32_t width, unsigned bitCount) {
        return (std::size_t(width) * bitCount + 31) / 32 * 4;
    }

    std::uint32_t Width() const { return m_width; }
    std::uint32_t Height() const { return m_height; }
    std::size_t Stride() const { return m_stride; }
    // Row y counted from the top; its padding is already zero.
    unsigned char* Row(std::uint32_t y) const { return m_bits + (m_height - 1 - y) * m_stride; }

    // Gives both blocks to the host, unlocked.
    void Hand(HLOCAL* info, HLOCAL* bits);

private:
    std::uint32_t m_width, m_height;
    std::size_t m_stride;
    esl::UniqueLocal m_info, m_bitsHandle;
    unsigned char* m_bits = nullptr;
};

// 256 greys, entry i being (i, i, i).
std::vector<RGBQUAD> GreyTable();

// A decoder: the file image and the host's progress in, the picture out.
using Decoder = CDib (*)(const unsigned char* data, std::size_t size, const SProgress& progress);

// GetPicture's work for every plug-in: the input in memory (flag 1) or a
// file from an offset (flag 0), decoded and handed over.
int GetPicture(LPCSTR buf, LONG_PTR len, unsigned flag, HLOCAL* info, HLOCAL* bits, SPI_PROGRESS callback,
               LONG_PTR data, Decoder decode) noexcept;

struct SPictureHead {
    std::uint32_t width, height;
    unsigned bitCount;
};
using HeadReader = SPictureHead (*)(const unsigned char* data, std::size_t size);

// GetPictureInfo's work: the picture's size and depth without its pixels.
int GetPictureInfo(LPCSTR buf, LONG_PTR len, unsigned flag, void* lpInfo, HeadReader read) noexcept;

// The receiving side of SpiRows for a decoder written in C: each entry point
// catches everything and turns it into a result. Begin (called by the
// decoder's sink through CallBegin) states the picture's head with SetHead
// before making the picture; a head-only run ends there.
class CRowTarget {
public:
    CRowTarget(const SProgress& progress, bool headOnly) : m_progress(progress), m_headOnly(headOnly) {}
    CRowTarget(const CRowTarget&) = delete;
    CRowTarget& operator=(const CRowTarget&) = delete;

    SpiRows Rows();
    bool HeadOnly() const { return m_headOnly; }
    const SPictureHead& Head() const { return m_head; }
    CDib Take() { return std::move(*m_dib); }

protected:
    ~CRowTarget() = default;
    // Checks the size (result 2 when too large) and ends a head-only run.
    void SetHead(const SPictureHead& head);
    virtual unsigned char* RowAt(unsigned y) = 0;
    virtual void RowsDone(unsigned first, unsigned count) = 0;

    std::optional<CDib> m_dib;

private:
    const SProgress& m_progress;
    bool m_headOnly;
    SPictureHead m_head{};
};

// A C decoder's call back with the picture's header: Target::Begin(head)
// with every exception turned into a result.
template <class Target, class Head>
int CallBegin(void* self, const Head* head) noexcept {
    return Guarded([&] {
        static_cast<Target*>(static_cast<CRowTarget*>(self))->Begin(*head);
        return kSpiOk;
    });
}

// Runs a decoder written in C into picture; a result other than 0 is thrown.
template <class Picture, class Sink>
void RunDecoder(int (*decode)(const unsigned char*, std::size_t, const Sink*), const unsigned char* data,
                std::size_t size, Picture& picture) {
    const Sink sink = picture.Sink();
    const int result = decode(data, size, &sink);
    Require(result == kSpiOk || (result == SPI_ROWS_ENOUGH && picture.HeadOnly()), result);
}

template <class Picture, class Sink>
CDib DecodeWith(int (*decode)(const unsigned char*, std::size_t, const Sink*), const unsigned char* data,
                std::size_t size, const SProgress& progress) {
    Picture picture(progress, false);
    RunDecoder(decode, data, size, picture);
    return picture.Take();
}

template <class Picture, class Sink>
SPictureHead HeadWith(int (*decode)(const unsigned char*, std::size_t, const Sink*), const unsigned char* data,
                      std::size_t size) {
    const SProgress none{nullptr, 0};
    Picture picture(none, true);
    RunDecoder(decode, data, size, picture);
    return picture.Head();
}

}  // namespace spi

// The four exports of a picture plug-in from its texts (a constant array),
// its head test, its head reader and its decoder.
#define SPI_PICTURE_PLUGIN_EXPORTS(texts, isHead, readHead, decode)                                      \
    extern "C" {                                                                                         \
    int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {                                     \
        return spi::PluginInfo(texts, sizeof(texts) / sizeof(texts[0]), infono, buf, buflen);            \
    }                                                                                                    \
    int __stdcall IsSupported(LPCSTR, void* dw) {                                                        \
        return spi::IsSupported(dw, isHead);                                                             \
    }                                                                                                    \
    int __stdcall GetPictureInfo(LPCSTR buf, LONG_PTR len, unsigned int flag, void* lpInfo) {            \
        return spi::GetPictureInfo(buf, len, flag, lpInfo, readHead);                                    \
    }                                                                                                    \
    int __stdcall GetPicture(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm, \
                             SPI_PROGRESS lpPrgressCallback, LONG_PTR lData) {                           \
        return spi::GetPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, decode);         \
    }                                                                                                    \
    }
