#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "qel/Thrown.h"
#include "qel_buffer.h"

#define QEL_SOURCE "qel_test"

// The library's own checks pin their texts in the tests of their callers.
TEST(CException, TextsAreTakenAsTheyAreAndCopiesOwnTheirs) {
    // '%' in an expression is text, not a format directive.
    EXPECT_STREQ("qel_file(-1)\nn % 2 == 1", qel::CException("qel_file", -1, "n % 2 == 1").Message());
    void* p = nullptr;
    // The short form once reported "p == __null": NULL was expanded first.
    const std::string thrown = Thrown([&] { QEL_FAIL_IF(p == NULL); });
    EXPECT_EQ("qel_test(" + std::to_string(__LINE__ - 1) + ")\np == NULL", thrown);
    auto original = std::make_unique<qel::CException>("App", 414, "m_hLoadNextThread == NULL");
    qel::CException copy(*original);
    original.reset();
    EXPECT_STREQ("App(414)\nm_hLoadNextThread == NULL", copy.Message());
}

TEST(CBuffer, ZeroInitGivesZerosAndARefusalThrowsLine33) {
    {
        qel::CBuffer dirty(4096);  // leaves its bytes for the next block of that size
        std::memset(dirty.get(), 0xCC, dirty.size());
    }
    qel::CBuffer buffer(4096, ESL_HEAP_ZERO_INIT, nullptr);
    EXPECT_EQ(std::string(4096, '\0'), std::string(static_cast<const char*>(buffer.get()), buffer.size()));
    // A 64-bit process may well be granted 4 GiB of address space.
    const std::string refused = Thrown([] { qel::CBuffer huge(0xFFFFFFF0u, ESL_HEAP_NO_DIALOG, nullptr); });
    EXPECT_TRUE(refused == "no exception" || refused == "qel/include/qel_buffer(33)\nm_pBuffer == NULL") << refused;
}
