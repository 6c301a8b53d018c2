#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <utility>

#include "qel_exception.h"

TEST(CException, MessageIsSourceLineAndExpressionOnTwoLines) {
    EXPECT_STREQ("qel_serialization(57)\nm_desc.ReadDescription(sb)",
                 qel::CException("qel_serialization", 57, "m_desc.ReadDescription(sb)").Message());
    EXPECT_STREQ("App(-3)\n", qel::CException("App", -3, "").Message());
    EXPECT_STREQ("qel_file(1)\nn % 2 == 1", qel::CException("qel_file", 1, "n % 2 == 1").Message())
        << "'%' in an expression is text, not a format directive";
}

TEST(CException, CopiesAreDeepAndOutliveTheOriginal) {
    std::unique_ptr<qel::CException> kept;
    {
        qel::CException original("App", 414, "m_hLoadNextThread == NULL");
        qel::CException copy(original);
        EXPECT_NE(original.Message(), copy.Message()) << "a copy must own its own text";
        qel::CException assigned("x", 0, "y");
        assigned = original;
        EXPECT_STREQ(original.Message(), assigned.Message());
        kept = std::make_unique<qel::CException>(copy);
    }
    EXPECT_STREQ("App(414)\nm_hLoadNextThread == NULL", kept->Message());

    qel::CException target("a", 1, "b");
    target = qel::CException("App", 418, "m_hLoadPrevThread == NULL");
    EXPECT_STREQ("App(418)\nm_hLoadPrevThread == NULL", target.Message());
}

TEST(CException, FailIfThrowsWithTheConditionText) {
    auto check = [](void* p) { QEL_FAIL_IF_AT("qel/include/qel_buffer", 33, p == NULL); };
    int x = 0;
    EXPECT_NO_THROW(check(&x));
    try {
        check(nullptr);
        FAIL() << "no exception";
    } catch (const qel::CException& e) {
        EXPECT_STREQ("qel/include/qel_buffer(33)\np == NULL", e.Message());
    }
}

#define QEL_SOURCE "qel_test"

// The short form once reported "p == __null": NULL was expanded before the text was made.
TEST(CException, FailIfKeepsMacrosInTheText) {
    void* p = nullptr;
    try {
        QEL_FAIL_IF(p == NULL);
        FAIL() << "no exception";
    } catch (const qel::CException& e) {
        EXPECT_NE(nullptr, std::strstr(e.Message(), "\np == NULL"));
    }
}
