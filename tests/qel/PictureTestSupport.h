// Helpers of the picture, canvas and fit tests: the generated fixtures, a
// scratch folder, pictures written as BMP files, and pixel access.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "esl_file.h"
#include "esl_handle.h"
#include "esl_image.h"
#include "esl_string.h"
#include "qel/Thrown.h"
#include "qel_exception.h"

namespace picturetest {

// The pictures made at build time, in "fixtures\picture" beside the test program.
inline std::wstring Fixture(const wchar_t* name) {
    wchar_t exe[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + L"fixtures\\picture\\" + name;
}

inline DWORD Pixel(const ImageBuffer* p, int x, int y) {
    DWORD v;
    std::memcpy(&v, p->ptrImage + static_cast<std::ptrdiff_t>(y) * p->nPitch + 4 * x, 4);
    return v;
}

inline void SetPixel(const ImageBuffer* p, int x, int y, DWORD v) {
    std::memcpy(p->ptrImage + static_cast<std::ptrdiff_t>(y) * p->nPitch + 4 * x, &v, 4);
}

inline DWORD Rgb(int r, int g, int b) {
    return static_cast<DWORD>(r << 16 | g << 8 | b);
}

inline void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    esl::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
    ASSERT_EQ(bytes.size(), written);
}

inline std::vector<std::uint8_t> ReadBytes(const std::wstring& path) {
    esl::UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<std::uint8_t> bytes(1 << 20);
    DWORD got = 0;
    if (!file || !::ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr))
        got = 0;
    bytes.resize(got);
    return bytes;
}

// A 24-bit BMP of w x h whose pixel (x, y), top line first, is rgb(x, y).
inline void WriteBmp(const std::wstring& path, int w, int h, const std::function<DWORD(int, int)>& rgb) {
    EBitmapWriter writer;
    ASSERT_EQ(0, writer.CreateImage(kImageFormatColor, w, h, 24, 0));
    ImageBuffer* image = writer.GetImage();
    FlipImage(image);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const DWORD v = rgb(x, y);
            std::memcpy(image->ptrImage + static_cast<std::ptrdiff_t>(y) * image->nPitch + 3 * x, &v, 3);
        }
    }
    ERawFile file;
    ASSERT_EQ(0, file.Open(EString(path.c_str()), ESLFileObject::modeCreate | ESLFileObject::modeWrite));
    ASSERT_EQ(0, writer.Write(file));
}

// A fresh folder per test under the temporary folder, removed afterwards.
class ScratchTest : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
        const char* name = testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = temp + (L"velk58-pic-" + std::wstring(name, name + std::strlen(name))) + L"-" +
                  std::to_wstring(::GetCurrentProcessId());
        RemoveFolder();
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
    }
    void TearDown() override { RemoveFolder(); }

    std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }

    std::wstring folder_;

private:
    // The tests make files only, no subfolders.
    void RemoveFolder() {
        WIN32_FIND_DATAW fd;
        esl::UniqueFind find(::FindFirstFileW((folder_ + L"\\*").c_str(), &fd));
        if (find) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    ::DeleteFileW(In(fd.cFileName).c_str());
            } while (::FindNextFileW(find.get(), &fd));
        }
        ::RemoveDirectoryW(folder_.c_str());
    }
};

}  // namespace picturetest
