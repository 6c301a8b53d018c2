#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "qel_exception.h"

TEST(CException, MessageIsSourceLineAndExpressionOnTwoLines) {
    qel::CException e("qel_serialization", 57, "m_desc.ReadDescription(sb)");
    EXPECT_STREQ("qel_serialization(57)\nm_desc.ReadDescription(sb)", e.Message());

    qel::CException negative("App", -3, "");
    EXPECT_STREQ("App(-3)\n", negative.Message());

    // '%' in an expression is text, not a format directive.
    qel::CException percent("qel_file", 1, "n % 2 == 1");
    EXPECT_STREQ("qel_file(1)\nn % 2 == 1", percent.Message());
}

TEST(CException, CopiesAreDeepAndOutliveTheOriginal) {
    std::string copied;
    qel::CException* kept = nullptr;
    {
        qel::CException original("App", 414, "m_hLoadNextThread == NULL");
        qel::CException copy(original);
        EXPECT_NE(original.Message(), copy.Message()) << "a copy must own its own text";
        qel::CException assigned("x", 0, "y");
        assigned = original;
        EXPECT_STREQ(original.Message(), assigned.Message());
        kept = new qel::CException(copy);
    }
    EXPECT_STREQ("App(414)\nm_hLoadNextThread == NULL", kept->Message());
    delete kept;

    qel::CException moved(qel::CException("App", 418, "m_hLoadPrevThread == NULL"));
    qel::CException target("a", 1, "b");
    target = std::move(moved);
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
