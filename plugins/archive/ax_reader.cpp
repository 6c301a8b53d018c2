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

std::unique_ptr<CReader> CReader::Open(const char* path) {
    auto r = std::make_unique<CReader>(Key{});
    // Others may read, write or delete it meanwhile (the host deletes its
    // temporary copies of nested archives at exit).
    r->m_hFile.reset(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!r->m_hFile || !::GetFileInformationByHandle(r->m_hFile.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    r->m_identity.path = path;
    r->m_identity.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    r->m_identity.written = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    r->m_window.resize(kWindow);

    struct archive* a = r->m_pArchive = archive_read_new();
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
    archive_read_set_read_callback(a, &CReader::OnRead);
    archive_read_set_seek_callback(a, &CReader::OnSeek);
    archive_read_set_skip_callback(a, &CReader::OnSkip);
    archive_read_set_callback_data(a, r.get());
    if (archive_read_open1(a) != ARCHIVE_OK)
        return nullptr;
    return r;
}

CReader::~CReader() {
    if (m_pArchive)
        archive_read_free(m_pArchive);
}

archive_entry* CReader::NextHeader() {
    if (m_bBroken)
        return nullptr;
    archive_entry* entry = nullptr;
    int r = archive_read_next_header(m_pArchive, &entry);
    if (r == ARCHIVE_EOF)
        return nullptr;
    if (r == ARCHIVE_FATAL || !entry) {
        m_bBroken = true;
        return nullptr;
    }
    m_bHeaderDamaged = r == ARCHIVE_FAILED;
    ++m_nNext;
    return entry;
}

int CReader::Format() const {
    return archive_format(m_pArchive);
}

const char* CReader::FormatName() const {
    return archive_format_name(m_pArchive);
}

bool CReader::PlainTar() const {
    return (Format() & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR && archive_filter_count(m_pArchive) <= 1;
}

ReadResult CReader::ReadData(char* out, std::uint64_t size, const Progress& progress) {
    std::uint64_t end = 0;
    if (progress.Stop(0, size))
        return ReadResult::kAborted;
    for (;;) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        int r = archive_read_data_block(m_pArchive, &block, &length, &offset);
        if (r == ARCHIVE_EOF)
            break;
        // libarchive reports a checksum mismatch as a warning.
        if (r != ARCHIVE_OK) {
            m_bBroken = true;
            return ReadResult::kFailed;
        }
        // Blocks come in rising order; a gap is a hole of a sparse file.
        std::uint64_t at = static_cast<std::uint64_t>(offset);
        if (offset < 0 || at < end || at > size || length > size - at) {
            m_bBroken = true;
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

bool CReader::Fill(std::uint64_t at) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    m_nWindowLength = 0;
    if (!::ReadFile(m_hFile.get(), m_window.data(), static_cast<DWORD>(m_window.size()), &got, &where) &&
        ::GetLastError() != ERROR_HANDLE_EOF)
        return false;
    m_nWindowStart = at;
    m_nWindowLength = got;
    return true;
}

// Hands out the rest of the window from the read position; libarchive keeps
// the block only until its next call.
la_ssize_t CReader::OnRead(struct archive*, void* self, const void** buffer) {
    auto* r = static_cast<CReader*>(self);
    if (r->m_nPosition >= r->m_identity.size)
        return 0;
    if (r->m_nPosition < r->m_nWindowStart || r->m_nPosition >= r->m_nWindowStart + r->m_nWindowLength) {
        if (!r->Fill(r->m_nPosition))
            return -1;
        if (r->m_nWindowLength == 0)
            return 0;
    }
    size_t offset = static_cast<size_t>(r->m_nPosition - r->m_nWindowStart);
    *buffer = r->m_window.data() + offset;
    r->m_nPosition = r->m_nWindowStart + r->m_nWindowLength;
    return static_cast<la_ssize_t>(r->m_nWindowLength - offset);
}

la_int64_t CReader::OnSeek(struct archive*, void* self, la_int64_t offset, int whence) {
    auto* r = static_cast<CReader*>(self);
    la_int64_t base = whence == SEEK_SET   ? 0
                      : whence == SEEK_CUR ? static_cast<la_int64_t>(r->m_nPosition)
                                           : static_cast<la_int64_t>(r->m_identity.size);
    if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) || base + offset < 0)
        return ARCHIVE_FATAL;
    r->m_nPosition = static_cast<std::uint64_t>(base + offset);
    return base + offset;
}

// Never past the end: libarchive takes a short skip for a truncated file.
la_int64_t CReader::OnSkip(struct archive*, void* self, la_int64_t request) {
    auto* r = static_cast<CReader*>(self);
    std::uint64_t left = r->m_nPosition < r->m_identity.size ? r->m_identity.size - r->m_nPosition : 0;
    std::uint64_t skip = request > 0 ? std::min<std::uint64_t>(static_cast<std::uint64_t>(request), left) : 0;
    r->m_nPosition += skip;
    return static_cast<la_int64_t>(skip);
}

}  // namespace ax
