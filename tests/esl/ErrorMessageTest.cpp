#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "esl_error.h"

namespace {

struct MessageCase {
    ESLError err;
    const char* text;
};

const MessageCase kKnownCodes[] = {
    {eslErrorNotSupported, "未対応の機能を利用しようとしました。"},
    {eslErrorSuccess, "関数は成功しました。"},
    {eslErrorGeneral, "一般的なエラーが発生しました。"},
    {eslErrorAborted, "処理が中断されました。"},
    {eslErrorInvalidParameter, "不正なパラメータが指定されました。"},
    {eslErrorTimeout, "関数はタイムアウトしました。"},
    {eslErrorPending, "処理がペンディング状態です。"},
    {eslErrorContinuation, "処理は継続中です。"},
};

}  // namespace

TEST(ErrorMessage, KnownCodesHaveTheirTexts) {
    for (const MessageCase& c : kKnownCodes) {
        SCOPED_TRACE(c.err);
        EXPECT_STREQ(c.text, eslGetErrorMessage(c.err));
    }
}

TEST(ErrorMessage, TextsAreShiftJis) {
    // "関数は成功しました。" starts with 関 (8A D6) and ends with 。 (81 42).
    const std::string text = eslGetErrorMessage(eslErrorSuccess);
    ASSERT_EQ(20u, text.size());
    EXPECT_EQ("\x8A\xD6", text.substr(0, 2));
    EXPECT_EQ("\x81\x42", text.substr(18));
}

TEST(ErrorMessage, CodesOutsideTheTableAreUnknown) {
    // Negative codes other than -1 and codes up to 65535 are never addresses.
    const ESLError unknown[] = {7, 100, 0xFFFF, -2, -65536, INTPTR_MIN};
    for (ESLError err : unknown) {
        SCOPED_TRACE(err);
        EXPECT_STREQ("未知のエラーコードです。", eslGetErrorMessage(err));
    }
}

TEST(ErrorMessage, AnAddressIsItsOwnText) {
    static const char kOwn[] = "読み込みに失敗しました";
    const ESLError err = eslErrorFromMessage(kOwn);
    EXPECT_GT(err, kESLErrorLastCode);
    EXPECT_EQ(kOwn, eslGetErrorMessage(err));
}
