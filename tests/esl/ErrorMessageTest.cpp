#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "esl_error.h"

TEST(ErrorMessage, EveryCodeOfTheTableAndTheUnknownOnes) {
    const struct {
        ESLError err;
        const char* text;
    } kRows[] = {
        {eslErrorNotSupported, "未対応の機能を利用しようとしました。"},
        {eslErrorSuccess, "関数は成功しました。"},
        {eslErrorGeneral, "一般的なエラーが発生しました。"},
        {eslErrorAborted, "処理が中断されました。"},
        {eslErrorInvalidParameter, "不正なパラメータが指定されました。"},
        {eslErrorTimeout, "関数はタイムアウトしました。"},
        {eslErrorPending, "処理がペンディング状態です。"},
        {eslErrorContinuation, "処理は継続中です。"},
        // Negative codes other than -1 and codes up to 65535 are never addresses.
        {7, "未知のエラーコードです。"},
        {100, "未知のエラーコードです。"},
        {0xFFFF, "未知のエラーコードです。"},
        {-2, "未知のエラーコードです。"},
        {-65536, "未知のエラーコードです。"},
        {INTPTR_MIN, "未知のエラーコードです。"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.err);
        EXPECT_STREQ(row.text, eslGetErrorMessage(row.err));
    }
    // Stored as Shift-JIS: 関数 is 8A D6 90 94.
    EXPECT_EQ("\x8A\xD6\x90\x94", std::string(eslGetErrorMessage(eslErrorSuccess)).substr(0, 4));
}

TEST(ErrorMessage, AnAddressIsItsOwnText) {
    static const char kOwn[] = "読み込みに失敗しました";
    const ESLError err = eslErrorFromMessage(kOwn);
    EXPECT_GT(err, kESLErrorLastCode);
    EXPECT_EQ(kOwn, eslGetErrorMessage(err));
}
