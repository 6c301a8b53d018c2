// What the picture and archive plug-in tests share.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "esl_handle.h"
#include "qel_spi.h"
#include "support/Mutator.h"

namespace plugtest {

// A plug-in loaded as the host loads it, its exports looked up by name.
class CDll {
    esl::UniqueModule m_dll;

public:
    explicit CDll(const char* path) : m_dll(::LoadLibraryA(path)) {}
    template <class T>
    T Find(const char* name) const {
        return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(m_dll.get(), name)));
    }
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A progress callback that counts its calls and answers "stop" on the call numbered stopAt.
struct SCalls {
    int count, stopAt, lastNum, denom;
    bool falling;  // a call's numerator was below the one before
};

inline int __stdcall CountCalls(int num, int denom, LONG_PTR data) {
    SCalls* calls = reinterpret_cast<SCalls*>(data);
    calls->falling = calls->falling || num < calls->lastNum;
    calls->lastNum = num;
    calls->denom = denom;
    return ++calls->count == calls->stopAt;
}

}  // namespace plugtest
