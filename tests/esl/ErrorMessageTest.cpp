#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "esl_error.h"

// Codes from the table, codes that are no addresses, and an address.
TEST(ErrorMessage, CodesAreLookedUpAndAddressesAreTheirOwnText) {
    EXPECT_STREQ("未対応の機能を利用しようとしました。", eslGetErrorMessage(eslErrorNotSupported));
    EXPECT_STREQ("処理は継続中です。", eslGetErrorMessage(eslErrorContinuation));
    // Stored as Shift-JIS: 関数 is 8A D6 90 94.
    EXPECT_EQ("\x8A\xD6\x90\x94", std::string(eslGetErrorMessage(eslErrorSuccess)).substr(0, 4));
    for (ESLError err : {ESLError(7), ESLError(0xFFFF), ESLError(-2), ESLError(INTPTR_MIN)}) {
        SCOPED_TRACE(err);
        EXPECT_STREQ("未知のエラーコードです。", eslGetErrorMessage(err));
    }
    static const char kOwn[] = "読み込みに失敗しました";
    EXPECT_EQ(kOwn, eslGetErrorMessage(eslErrorFromMessage(kOwn)));
}
