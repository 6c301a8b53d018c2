#include "esl_error.h"

namespace {

struct ErrorMessage {
    ESLError code;
    const char* text;
};

constexpr ErrorMessage kErrorMessages[] = {
    {eslErrorNotSupported, "未対応の機能を利用しようとしました。"},
    {eslErrorSuccess, "関数は成功しました。"},
    {eslErrorGeneral, "一般的なエラーが発生しました。"},
    {eslErrorAborted, "処理が中断されました。"},
    {eslErrorInvalidParameter, "不正なパラメータが指定されました。"},
    {eslErrorTimeout, "関数はタイムアウトしました。"},
    {eslErrorPending, "処理がペンディング状態です。"},
    {eslErrorContinuation, "処理は継続中です。"},
};

constexpr const char kUnknownError[] = "未知のエラーコードです。";

}  // namespace

const char* eslGetErrorMessage(ESLError err) noexcept {
    // Negative values other than -1 are no addresses of ours either.
    if (err > kESLErrorLastCode)
        return reinterpret_cast<const char*>(err);
    for (const ErrorMessage& m : kErrorMessages) {
        if (m.code == err)
            return m.text;
    }
    return kUnknownError;
}
