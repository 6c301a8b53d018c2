#include <gtest/gtest.h>

#include "qel_buffer.h"

TEST(CBuffer, ZeroInitFlagGivesZerosOfTheWholeSize) {
    qel::CBuffer buffer(4096, ESL_HEAP_ZERO_INIT, nullptr);
    ASSERT_EQ(4096u, buffer.size());
    const unsigned char* p = static_cast<const unsigned char*>(buffer.get());
    for (DWORD i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(0, p[i]) << "byte " << i;
}

TEST(CBuffer, RefusedAllocationThrowsLine33) {
    try {
        qel::CBuffer buffer(0xFFFFFFF0u, ESL_HEAP_NO_DIALOG, nullptr);
    } catch (const qel::CException& e) {
        EXPECT_STREQ("qel/include/qel_buffer(33)\nm_pBuffer == NULL", e.Message());
        return;
    }
    // A 64-bit process may well be granted 4 GiB of address space.
    GTEST_SKIP() << "the heap granted 4 GiB; a refusal cannot be provoked here";
}
