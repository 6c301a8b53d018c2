#include "esl_handle.h"
#include "qel_file.h"

#include <algorithm>
#include <string>

namespace qel {

bool ReplaceFileContents(const wchar_t* path, const void* data, size_t size) noexcept {
    if (!path || !*path || (size && !data))
        return false;
    try {
        // Beside the target, so that the swap is a rename on one volume.
        std::wstring temporary = std::wstring(path) + L".new~";
        bool written = false;
        {
            esl::UniqueFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
            if (!file)
                return false;
            const BYTE* bytes = static_cast<const BYTE*>(data);
            size_t done = 0;
            while (done < size) {
                DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
                DWORD count = 0;
                if (!::WriteFile(file.get(), bytes + done, chunk, &count, nullptr) || count == 0)
                    break;
                done += count;
            }
            written = done == size && ::FlushFileBuffers(file.get());
        }
        if (written && ::MoveFileExW(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        ::DeleteFileW(temporary.c_str());
        return false;
    } catch (...) {
        return false;
    }
}

}  // namespace qel
