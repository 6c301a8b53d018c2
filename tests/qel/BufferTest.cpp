#include <gtest/gtest.h>

#include <cstring>

#include "qel_buffer.h"

TEST(CBuffer, HoldsItsSizeFromTheDefaultHeap) {
    qel::CBuffer buffer(1000);
    ASSERT_NE(nullptr, buffer.get());
    EXPECT_EQ(1000u, buffer.size());
    std::memset(buffer.get(), 0xAB, buffer.size());
    EXPECT_EQ(0xAB, static_cast<unsigned char*>(buffer.get())[999]);
}

TEST(CBuffer, ZeroInitFlagGivesZeros) {
    qel::CBuffer buffer(4096, ESL_HEAP_ZERO_INIT, nullptr);
    const unsigned char* p = static_cast<const unsigned char*>(buffer.get());
    for (DWORD i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(0, p[i]) << "byte " << i;
}

TEST(CBuffer, RefusedAllocationThrowsLine33) {
    bool threw = false;
    try {
        qel::CBuffer buffer(0xFFFFFFF0u, ESL_HEAP_NO_DIALOG, nullptr);
    } catch (const qel::CException& e) {
        threw = true;
        EXPECT_STREQ("qel/include/qel_buffer(33)\nm_pBuffer == NULL", e.Message());
    }
    // A 64-bit process may well be granted 4 GiB of address space.
    if (!threw)
        GTEST_SKIP() << "the heap granted 4 GiB; a refusal cannot be provoked here";
}
