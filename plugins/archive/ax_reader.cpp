#include "ax_reader.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ax {

namespace {

// Large enough that a 20 MiB entry takes few reads and a directory of
// 10,000 entries fits; parked readers hold one each.
constexpr size_t kWindow = 1 << 20;

std::uint64_t Join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// Entry names not marked UTF-8 (or UTF-16) are in the system code page; said
// explicitly, since libarchive's default follows the C run-time's locale,
// which is the host's to set.
void SetNameCharset(struct archive* a) {
    char charset[16];
    UINT acp = ::GetACP();
    if (acp == CP_UTF8)
        std::strcpy(charset, "UTF-8");
    else
        std::snprintf(charset, sizeof charset, "CP%u", acp);
    for (const char* format : {"zip", "tar", "rar"})
        archive_read_set_format_option(a, format, "hdrcharset", charset);
}

}  // namespace

bool ReadIdentity(const char* path, Identity& id) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    id.path = path;
    id.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    id.written = Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return true;
}

bool Progress::Stop(std::uint64_t done, std::uint64_t total) const {
    if (!callback)
        return false;
    // Sizes are capped at 1 GiB, so both fit an int.
    return callback(static_cast<int>(done), static_cast<int>(total), data) != 0;
}

std::unique_ptr<Reader> Reader::Open(const char* path) {
    auto r = std::make_unique<Reader>(Key{});
    // Others may read, write or delete it meanwhile (the host deletes its
    // temporary copies of nested archives at exit).
    r->m_file.reset(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!r->m_file || !::GetFileInformationByHandle(r->m_file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    r->m_identity.path = path;
    r->m_identity.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    r->m_identity.written = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    r->m_window.resize(kWindow);

    struct archive* a = r->m_archive = archive_read_new();
    if (!a)
        return nullptr;
    // Only the formats comic books come in, and only built-in filters: the
    // "all" set would run external programs for some.
    archive_read_support_format_zip(a);
    archive_read_support_format_7zip(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_support_format_tar(a);
    archive_read_support_filter_gzip(a);
    archive_read_support_filter_bzip2(a);
    archive_read_support_filter_xz(a);
    archive_read_support_filter_lzma(a);
    archive_read_support_filter_zstd(a);
    SetNameCharset(a);
    archive_read_set_read_callback(a, &Reader::OnRead);
    archive_read_set_seek_callback(a, &Reader::OnSeek);
    archive_read_set_skip_callback(a, &Reader::OnSkip);
    archive_read_set_callback_data(a, r.get());
    if (archive_read_open1(a) != ARCHIVE_OK)
        return nullptr;
    return r;
}

Reader::~Reader() {
    if (m_archive)
        archive_read_free(m_archive);
}

archive_entry* Reader::NextHeader() {
    if (m_broken)
        return nullptr;
    archive_entry* entry = nullptr;
    int r = archive_read_next_header(m_archive, &entry);
    if (r == ARCHIVE_EOF)
        return nullptr;
    if (r == ARCHIVE_FATAL || !entry) {
        m_broken = true;
        return nullptr;
    }
    m_headerDamaged = r == ARCHIVE_FAILED;
    ++m_next;
    return entry;
}

int Reader::Format() const {
    return archive_format(m_archive);
}

const char* Reader::FormatName() const {
    return archive_format_name(m_archive);
}

bool Reader::PlainTar() const {
    return (Format() & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR && archive_filter_count(m_archive) <= 1;
}

ReadResult Reader::ReadData(char* out, std::uint64_t size, const Progress& progress) {
    std::uint64_t end = 0;
    if (progress.Stop(0, size))
        return ReadResult::kAborted;
    for (;;) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        int r = archive_read_data_block(m_archive, &block, &length, &offset);
        if (r == ARCHIVE_EOF)
            break;
        // libarchive reports a checksum mismatch as a warning.
        if (r != ARCHIVE_OK) {
            m_broken = true;
            return ReadResult::kFailed;
        }
        // Blocks come in rising order; a gap is a hole of a sparse file.
        std::uint64_t at = static_cast<std::uint64_t>(offset);
        if (offset < 0 || at < end || at > size || length > size - at) {
            m_broken = true;
            return ReadResult::kFailed;
        }
        std::memset(out + end, 0, static_cast<size_t>(at - end));
        std::memcpy(out + at, block, length);
        end = at + length;
        if (progress.Stop(end, size))
            return ReadResult::kAborted;
    }
    return end == size ? ReadResult::kOk : ReadResult::kFailed;
}

bool Reader::Fill(std::uint64_t at) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    m_windowLength = 0;
    if (!::ReadFile(m_file.get(), m_window.data(), static_cast<DWORD>(m_window.size()), &got, &where) &&
        ::GetLastError() != ERROR_HANDLE_EOF)
        return false;
    m_windowStart = at;
    m_windowLength = got;
    return true;
}

// Hands out the rest of the window from the read position; libarchive keeps
// the block only until its next call.
la_ssize_t Reader::OnRead(struct archive*, void* self, const void** buffer) {
    auto* r = static_cast<Reader*>(self);
    if (r->m_position >= r->m_identity.size)
        return 0;
    if (r->m_position < r->m_windowStart || r->m_position >= r->m_windowStart + r->m_windowLength) {
        if (!r->Fill(r->m_position))
            return -1;
        if (r->m_windowLength == 0)
            return 0;
    }
    size_t offset = static_cast<size_t>(r->m_position - r->m_windowStart);
    *buffer = r->m_window.data() + offset;
    r->m_position = r->m_windowStart + r->m_windowLength;
    return static_cast<la_ssize_t>(r->m_windowLength - offset);
}

la_int64_t Reader::OnSeek(struct archive*, void* self, la_int64_t offset, int whence) {
    auto* r = static_cast<Reader*>(self);
    la_int64_t base = whence == SEEK_SET   ? 0
                      : whence == SEEK_CUR ? static_cast<la_int64_t>(r->m_position)
                                           : static_cast<la_int64_t>(r->m_identity.size);
    if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) || base + offset < 0)
        return ARCHIVE_FATAL;
    r->m_position = static_cast<std::uint64_t>(base + offset);
    return base + offset;
}

// Never past the end: libarchive takes a short skip for a truncated file.
la_int64_t Reader::OnSkip(struct archive*, void* self, la_int64_t request) {
    auto* r = static_cast<Reader*>(self);
    std::uint64_t left = r->m_position < r->m_identity.size ? r->m_identity.size - r->m_position : 0;
    std::uint64_t skip = request > 0 ? std::min<std::uint64_t>(static_cast<std::uint64_t>(request), left) : 0;
    r->m_position += skip;
    return static_cast<la_int64_t>(skip);
}

}  // namespace ax
