// Start and end of the library, per-thread task records, the error texts,
// the processor features and the registry keys.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "esl_crash.h"
#include "esl_error.h"
#include "esl_library.h"
#include "esl_object.h"
#include "esl_registry.h"

namespace {

LONG WINAPI SentinelFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

// The filter installed now, without changing it.
LPTOP_LEVEL_EXCEPTION_FILTER CurrentFilter() {
    LPTOP_LEVEL_EXCEPTION_FILTER current = ::SetUnhandledExceptionFilter(nullptr);
    ::SetUnhandledExceptionFilter(current);
    return current;
}

// The SSE rounding bits; with towardZero they are first set to round toward zero.
unsigned RoundingControl(bool towardZero = false) {
    unsigned int csr = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
    csr |= towardZero ? 0x6000u : 0;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(csr));
    return csr & 0x6000u;
}

class CountedObject : public ESLObject {
public:
    explicit CountedObject(int* destroyed) : m_destroyed(destroyed) {}
    ~CountedObject() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

}  // namespace

// Nested uses: only the last close ends the library, and it puts back the
// filter found at the start unless another came after ours.
TEST(Library, StartInstallsTheCrashHandlerAndTheLastCloseRemovesIt) {
    EXPECT_EQ(0x308F0u, glsGetLibraryVersion());
    LPTOP_LEVEL_EXCEPTION_FILTER original = ::SetUnhandledExceptionFilter(SentinelFilter);
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    EXPECT_NE(nullptr, glsGetImageGlobalHeap());
    EXPECT_EQ(glsGetImageGlobalHeap(), glsGetImageGlobalHeap());
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    glsCloseLibrary();
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    glsCloseLibrary();
    EXPECT_EQ(SentinelFilter, CurrentFilter());
    glsCloseLibrary();  // unmatched: changes nothing, the next start is a first start again
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    ::SetUnhandledExceptionFilter(nullptr);
    glsCloseLibrary();
    EXPECT_EQ(nullptr, CurrentFilter());
    ::SetUnhandledExceptionFilter(original);
}

// The first use on a thread rounds to nearest, even with the raster layer's
// SSE paths switched off: compiled floating-point code depends on it.
TEST(Library, TaskRecordsAreCountedPerThreadAndOwnTheTaskObject) {
    glsDisableProcessorType(ESL_PROCESSOR_SSE);
    std::thread([] {
        int destroyed = 0, replaced = 0;
        EXPECT_EQ(eslErrorGeneral, glsSetTaskObject(std::make_unique<CountedObject>(&destroyed)));
        EXPECT_EQ(1, destroyed) << "an object that cannot be kept is not leaked";
        LPTOP_LEVEL_EXCEPTION_FILTER original = CurrentFilter();
        RoundingControl(true);
        ASSERT_EQ(eslErrorSuccess, glsInitializeTask());
        EXPECT_EQ(eslCrashFilter, CurrentFilter());
        EXPECT_EQ(0u, RoundingControl());
        RoundingControl(true);
        ASSERT_EQ(eslErrorSuccess, glsInitializeTask());
        EXPECT_EQ(0x6000u, RoundingControl()) << "only the first use sets it";
        ASSERT_EQ(eslErrorSuccess, glsSetTaskObject(std::make_unique<CountedObject>(&replaced)));
        auto object = std::make_unique<CountedObject>(&destroyed);
        ESLObject* kept = object.get();
        ASSERT_EQ(eslErrorSuccess, glsSetTaskObject(std::move(object)));
        EXPECT_EQ(1, replaced) << "replacing the object destroys the old one";
        glsCloseTask();
        EXPECT_EQ(kept, glsGetTaskObject());
        glsCloseTask();
        EXPECT_EQ(2, destroyed);
        EXPECT_EQ(nullptr, glsGetTaskObject());
        glsCloseTask();  // unmatched: nothing to close
        EXPECT_EQ(2, destroyed);
        ::SetUnhandledExceptionFilter(original);
    }).join();
    glsEnableProcessorType(ESL_PROCESSOR_SSE);
}

// Flags that are no feature of ours, or that the processor lacks, stay off.
TEST(Library, DetectedProcessorFeaturesCanBeSwitched) {
    const DWORD detected = glsGetEnabledProcessorType();
#if defined(__x86_64__)
    EXPECT_EQ(DWORD{ESL_PROCESSOR_MMX | ESL_PROCESSOR_SSE}, detected);
#endif
    EXPECT_EQ(detected & ~DWORD{ESL_PROCESSOR_SSE}, glsDisableProcessorType(ESL_PROCESSOR_SSE));
    EXPECT_EQ(0u, glsDisableProcessorType(0xFFFFFFFF));
    EXPECT_EQ(detected & ESL_PROCESSOR_MMX, glsEnableProcessorType(ESL_PROCESSOR_MMX));
    EXPECT_EQ(detected, glsEnableProcessorType(0xFFFFFFFF));
    EXPECT_EQ(detected, glsGetEnabledProcessorType());
}

// Codes from the table, codes that are no addresses, and an address.
TEST(ErrorMessage, CodesAreLookedUpAndAddressesAreTheirOwnText) {
    EXPECT_STREQ("未対応の機能を利用しようとしました。", eslGetErrorMessage(eslErrorNotSupported));
    EXPECT_STREQ("処理は継続中です。", eslGetErrorMessage(eslErrorContinuation));
    EXPECT_EQ("\x8A\xD6\x90\x94", std::string(eslGetErrorMessage(eslErrorSuccess)).substr(0, 4)) << "関数 in Shift-JIS";
    for (ESLError err : {ESLError(7), ESLError(0xFFFF), ESLError(-2), ESLError(INTPTR_MIN)})
        EXPECT_STREQ("未知のエラーコードです。", eslGetErrorMessage(err)) << err;
    static const char kOwn[] = "読み込みに失敗しました";
    EXPECT_EQ(kOwn, eslGetErrorMessage(eslErrorFromMessage(kOwn)));
}

// Values by type; a missing or mismatched value gives the default.
TEST(Registry, ValuesRoundTripByTypeOrGiveTheDefault) {
    const std::string path = "Software\\velk58_esl_test_" + std::to_string(::GetCurrentProcessId());
    ERegistryKey key, reader, closed;
    ASSERT_EQ(0, key.Create(HKEY_CURRENT_USER, path.c_str()));
    EXPECT_EQ(0, key.SetString("text", "背景色"));
    EXPECT_EQ(0, key.SetString("short", "s"));  // shorter than the key's longest value
    EXPECT_EQ(0, key.SetInteger("number", 0xFF808080u));
    EXPECT_EQ(0, key.SetInteger64("wide", 0x123456789ABCDEF0ull));
    EXPECT_EQ(0, key.SetBinary("zeros", "ab\0cd", 5));
    ASSERT_EQ(0, reader.Open(HKEY_CURRENT_USER, path.c_str()));
    EXPECT_STREQ("背景色", reader.GetString("text", "x"));
    EXPECT_STREQ("s", reader.GetString("short", "x"));
    EXPECT_STREQ("ab", reader.GetString("zeros", "x")) << "a string is cut at its first zero";
    EXPECT_EQ(0xFF808080u, reader.GetInteger("number", 7));
    EXPECT_EQ(0x123456789ABCDEF0ull, reader.GetInteger64("wide", 7));
    char read[8] = {};
    EXPECT_EQ(5u, reader.GetBinary("zeros", read, sizeof(read)));
    EXPECT_EQ(0, std::memcmp("ab\0cd", read, 5));
    EXPECT_EQ(0u, reader.GetBinary("zeros", read, 2)) << "a value longer than the buffer";
    EXPECT_STREQ("fallback", reader.GetString("missing", "fallback"));
    EXPECT_EQ(42u, reader.GetInteger("wide", 42)) << "8 bytes are not a 32-bit value";
    EXPECT_EQ(9u, reader.GetInteger64("number", 9));
    EXPECT_STREQ("x", closed.GetString("text", "x"));
    EXPECT_NE(0, closed.SetInteger("n", 1));

    EXPECT_EQ(0, key.DeleteValue("number"));
    EXPECT_EQ(3u, key.GetInteger("number", 3));
    EXPECT_NE(0, key.DeleteValue("number"));
    ERegistryKey child;
    ASSERT_EQ(0, child.Create(key.GetHandle(), "child"));
    child.Close();
    EXPECT_EQ(0, ERegistryKey::DeleteKey(key.GetHandle(), "child"));
    EXPECT_NE(0, child.Open(key.GetHandle(), "child"));
    EXPECT_NE(0, ERegistryKey::DeleteKey(key.GetHandle(), "")) << "would delete the key itself";
    reader.Close();
    key.Close();
    EXPECT_EQ(0, ERegistryKey::DeleteKey(HKEY_CURRENT_USER, path.c_str()));
}
