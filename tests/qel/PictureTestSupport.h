// Helpers of the picture tests: the generated fixtures, a scratch folder per
// test, files written and read whole, and pixel access.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "esl_file.h"
#include "esl_handle.h"
#include "esl_image.h"
#include "esl_string.h"
#include "esl/FileTestSupport.h"
#include "qel/Thrown.h"

namespace picturetest {

// The pictures made at build time, in "fixtures\picture" beside the test program.
inline std::wstring Fixture(const wchar_t* name) {
    wchar_t exe[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring path(exe);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"fixtures\\picture\\" + name;
}

inline DWORD Pixel(const ImageBuffer* p, int x, int y) {
    DWORD v;
    std::memcpy(&v, p->ptrImage + static_cast<std::ptrdiff_t>(y) * p->nPitch + 4 * x, 4);
    return v;
}

inline void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path.c_str(), std::ios::binary);
    ASSERT_TRUE(file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())));
}

// A file of `size` bytes that begins with `head`; the rest is a hole, so a
// file past 4 GiB costs no disk.
inline void WriteSparse(const std::wstring& path, const std::vector<std::uint8_t>& head, std::uint64_t size) {
    WriteBytes(path, head);
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::in);
    ASSERT_TRUE(file.seekp(std::streamoff(size - 1)).put('\0'));
}

// Empty when the file cannot be read.
inline std::vector<std::uint8_t> ReadBytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
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

// A fresh folder per test, removed with what is in it.
class ScratchTest : public testing::Test {
protected:
    std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }

    ScratchFolder scratch_;
    const std::wstring folder_{scratch_.Path().begin(), scratch_.Path().end()};
};

}  // namespace picturetest
