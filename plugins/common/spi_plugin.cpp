#include "spi_plugin.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace spi {

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

constexpr std::uint64_t kMaxFileBytes = std::min<std::uint64_t>(std::uint64_t(1) << 32, PTRDIFF_MAX);

esl::UniqueLocal AllocLocal(std::size_t size) {
    esl::UniqueLocal h(::LocalAlloc(LMEM_MOVEABLE, size));
    if (!h)
        throw std::bad_alloc();
    return h;
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
            m_data = reinterpret_cast<const unsigned char*>(buf);
            m_size = static_cast<std::size_t>(len);
        } else {
            Require((flag & 7) == 0, kSpiNotImplemented);
            m_file = ReadFileFrom(buf, len);
            m_data = m_file.data();
            m_size = m_file.size();
        }
    }
    const unsigned char* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }

private:
    std::vector<unsigned char> m_file;
    const unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace

int PluginInfo(const char* const* texts, int count, int infono, LPSTR buf, int buflen) noexcept {
    if (infono < 0 || infono >= count || !buf || buflen <= 0)
        return 0;
    const int n = std::min(static_cast<int>(std::strlen(texts[infono])), buflen - 1);
    std::memcpy(buf, texts[infono], static_cast<std::size_t>(n));
    buf[n] = '\0';
    return n;
}

int IsSupported(void* dw, HeadTest isHead) noexcept {
    return Guarded([&] {
        const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(dw);
        if (value > 0xFFFF)
            return isHead(static_cast<const unsigned char*>(dw), 2048) ? 1 : 0;
        unsigned char head[64];
        DWORD got = 0;
        if (!::ReadFile(static_cast<HANDLE>(dw), head, sizeof(head), &got, nullptr))
            return 0;
        ::SetFilePointer(static_cast<HANDLE>(dw), -static_cast<LONG>(got), nullptr, FILE_CURRENT);
        return isHead(head, got) ? 1 : 0;
    });
}

void SProgress::Report(std::uint64_t done, std::uint64_t total) const {
    // The host's numbers are ints: scale both alike when they do not fit.
    while (total > 0x7FFFFFFF) {
        done >>= 1;
        total >>= 1;
    }
    if (callback && callback(static_cast<int>(done), static_cast<int>(total), data) != 0)
        throw SResult{kSpiAborted};
}

void CDib::CheckSize(std::uint64_t width, std::uint64_t height, unsigned bitCount) {
    Require(width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide);
    Require(Stride(static_cast<std::uint32_t>(width), bitCount) * height <= kMaxPixelBytes);
}

CDib::CDib(std::uint32_t width, std::uint32_t height, unsigned bitCount, const std::vector<RGBQUAD>& colours)
    : m_width(width), m_height(height), m_stride(Stride(width, bitCount)) {
    CheckSize(width, height, bitCount);
    m_info = AllocLocal(sizeof(BITMAPINFOHEADER) + colours.size() * sizeof(RGBQUAD));
    {
        esl::LocalLockGuard<BITMAPINFOHEADER> lock(m_info.get());
        BITMAPINFOHEADER* bi = lock.get();
        Require(bi != nullptr, kSpiInternalError);
        *bi = BITMAPINFOHEADER{};
        bi->biSize = sizeof(BITMAPINFOHEADER);
        bi->biWidth = static_cast<LONG>(width);
        bi->biHeight = static_cast<LONG>(height);  // positive: bottom line first
        bi->biPlanes = 1;
        bi->biBitCount = static_cast<WORD>(bitCount);
        bi->biCompression = BI_RGB;
        bi->biSizeImage = static_cast<DWORD>(m_stride * height);
        bi->biClrUsed = static_cast<DWORD>(colours.size());
        if (!colours.empty())
            std::memcpy(bi + 1, colours.data(), colours.size() * sizeof(RGBQUAD));
    }
    m_bitsHandle = AllocLocal(m_stride * height);
    m_bits = static_cast<unsigned char*>(::LocalLock(m_bitsHandle.get()));
    Require(m_bits != nullptr, kSpiInternalError);
    const std::size_t used = (std::size_t(width) * bitCount + 7) / 8;
    for (std::size_t y = 0; y < height; ++y)
        std::memset(m_bits + y * m_stride + used, 0, m_stride - used);
}

CDib::CDib(CDib&& other) noexcept
    : m_width(other.m_width),
      m_height(other.m_height),
      m_stride(other.m_stride),
      m_info(std::move(other.m_info)),
      m_bitsHandle(std::move(other.m_bitsHandle)),
      m_bits(std::exchange(other.m_bits, nullptr)) {}

CDib::~CDib() {
    if (m_bits)
        ::LocalUnlock(m_bitsHandle.get());
}

void CDib::Hand(HLOCAL* info, HLOCAL* bits) {
    if (std::exchange(m_bits, nullptr))
        ::LocalUnlock(m_bitsHandle.get());
    *info = m_info.release();
    *bits = m_bitsHandle.release();
}

std::vector<RGBQUAD> GreyTable() {
    std::vector<RGBQUAD> table(256);
    for (unsigned i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(i);
        table[i] = RGBQUAD{v, v, v, 0};
    }
    return table;
}

int GetPicture(LPCSTR buf, LONG_PTR len, unsigned flag, HLOCAL* info, HLOCAL* bits, SPI_PROGRESS callback,
               LONG_PTR data, Decoder decode) noexcept {
    return Guarded([&] {
        Require(info && bits, kSpiInternalError);
        *info = *bits = nullptr;
        const CInput input(buf, len, flag);
        decode(input.Data(), input.Size(), SProgress{callback, data}).Hand(info, bits);
        return kSpiOk;
    });
}

int GetPictureInfo(LPCSTR buf, LONG_PTR len, unsigned flag, void* lpInfo, HeadReader read) noexcept {
    return Guarded([&] {
        Require(lpInfo != nullptr, kSpiInternalError);
        const CInput input(buf, len, flag);
        const SPictureHead head = read(input.Data(), input.Size());
        SpiPictureInfo info{};
        info.width = static_cast<LONG>(head.width);
        info.height = static_cast<LONG>(head.height);
        info.colorDepth = static_cast<short>(head.bitCount);
        std::memcpy(lpInfo, &info, sizeof(info));
        return kSpiOk;
    });
}

void CRowTarget::SetHead(const SPictureHead& head) {
    CDib::CheckSize(head.width, head.height, head.bitCount);
    m_head = head;
    if (m_headOnly)
        throw SResult{SPI_ROWS_ENOUGH};
}

SpiRows CRowTarget::Rows() {
    SpiRows rows{};
    rows.self = this;
    rows.rowAt = [](void* self, unsigned y) noexcept -> unsigned char* {
        try {
            return static_cast<CRowTarget*>(self)->RowAt(y);
        } catch (...) {
            return nullptr;
        }
    };
    rows.rowsDone = [](void* self, unsigned first, unsigned count) noexcept {
        return Guarded([&] {
            static_cast<CRowTarget*>(self)->RowsDone(first, count);
            return kSpiOk;
        });
    };
    rows.progress = [](void* self, unsigned done, unsigned total) noexcept {
        return Guarded([&] {
            static_cast<CRowTarget*>(self)->m_progress.Report(done, total);
            return kSpiOk;
        });
    };
    return rows;
}

}  // namespace spi
