// The library's start and end, task records, processor features, errors, registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "esl_crash.h"
#include "esl_error.h"
#include "esl_library.h"
#include "esl_object.h"
#include "esl_registry.h"

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER CurrentFilter() {
    LPTOP_LEVEL_EXCEPTION_FILTER current = ::SetUnhandledExceptionFilter(nullptr);
    ::SetUnhandledExceptionFilter(current);
    return current;
}

unsigned RoundingControl(bool towardZero = false) {
    unsigned int csr = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
    csr |= towardZero ? 0x6000u : 0;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(csr));
    return csr & 0x6000u;
}

struct CountedObject : ESLObject {
    int* destroyed;
    explicit CountedObject(int* count) : destroyed(count) {}
    ~CountedObject() override { ++*destroyed; }
};

}  // namespace

// Only the last close ends the library; it puts back the filter found unless a newer one is in.
TEST(Library, StartInstallsTheCrashHandlerAndTheLastCloseRemovesIt) {
    LPTOP_LEVEL_EXCEPTION_FILTER original = ::SetUnhandledExceptionFilter(UnhandledExceptionFilter);
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    EXPECT_TRUE(glsGetImageGlobalHeap() && glsGetImageGlobalHeap() == glsGetImageGlobalHeap()) << "made once";
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    glsCloseLibrary();
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    glsCloseLibrary();
    EXPECT_EQ(UnhandledExceptionFilter, CurrentFilter());
    glsCloseLibrary();  // unmatched: changes nothing, the next start is a first start again
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    ::SetUnhandledExceptionFilter(nullptr);
    glsCloseLibrary();
    EXPECT_EQ(nullptr, CurrentFilter());
    ::SetUnhandledExceptionFilter(original);
}

// The first use on a thread rounds to nearest even with SSE paths off: compiled code needs it.
TEST(Library, TaskRecordsAreCountedPerThreadAndOwnTheTaskObject) {
    glsDisableProcessorType(ESL_PROCESSOR_SSE);
    std::thread([] {
        int destroyed = 0, replaced = 0;
        EXPECT_EQ(eslErrorGeneral, glsSetTaskObject(std::make_unique<CountedObject>(&replaced)));
        LPTOP_LEVEL_EXCEPTION_FILTER original = CurrentFilter();
        RoundingControl(true);
        ASSERT_EQ(eslErrorSuccess, glsInitializeTask());
        EXPECT_EQ(eslCrashFilter, CurrentFilter());
        EXPECT_EQ(0u, RoundingControl());
        RoundingControl(true);
        ASSERT_EQ(eslErrorSuccess, glsInitializeTask());
        EXPECT_EQ(0x6000u, RoundingControl()) << "only the first use sets it";
        ASSERT_EQ(eslErrorSuccess, glsSetTaskObject(std::make_unique<CountedObject>(&replaced)));
        ASSERT_EQ(eslErrorSuccess, glsSetTaskObject(std::make_unique<CountedObject>(&destroyed)));
        EXPECT_EQ(2, replaced) << "one not kept, one replaced: both destroyed";
        glsCloseTask();
        EXPECT_EQ(&destroyed, static_cast<CountedObject*>(glsGetTaskObject())->destroyed) << "still in use";
        glsCloseTask();
        EXPECT_EQ(nullptr, glsGetTaskObject());
        glsCloseTask();  // unmatched: nothing to close
        EXPECT_EQ(1, destroyed);
        ::SetUnhandledExceptionFilter(original);
    }).join();
    glsEnableProcessorType(ESL_PROCESSOR_SSE);
}

// Only features that the processor has can be switched on.
TEST(Library, ProcessorFeaturesSwitchOnAndOff) {
    const DWORD detected = glsGetEnabledProcessorType();
    EXPECT_EQ(detected & ~DWORD{ESL_PROCESSOR_SSE}, glsDisableProcessorType(ESL_PROCESSOR_SSE));
    EXPECT_EQ(detected, glsEnableProcessorType(0xFFFFFFFF));
}

// Codes from the table, codes that are no addresses, and an address.
TEST(ErrorMessage, CodesAreLookedUpAndAddressesAreTheirOwnText) {
    EXPECT_STREQ("未対応の機能を利用しようとしました。", eslGetErrorMessage(eslErrorNotSupported));
    EXPECT_STREQ("処理は継続中です。", eslGetErrorMessage(eslErrorContinuation));
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
    EXPECT_EQ(0, key.SetString("short", "s"));  // shorter than the longest value
    EXPECT_EQ(0, key.SetInteger("number", 0xFF808080u));
    EXPECT_EQ(0, key.SetInteger64("wide", 0x123456789ABCDEF0ull));
    EXPECT_EQ(0, key.SetBinary("zeros", "ab\0cd", 5));
    ASSERT_EQ(0, reader.Open(HKEY_CURRENT_USER, path.c_str()));
    EXPECT_STREQ("背景色", reader.GetString("text", "x"));
    EXPECT_STREQ("s", reader.GetString("short", "x"));
    EXPECT_STREQ("ab", reader.GetString("zeros", "x")) << "cut at its first zero";
    EXPECT_EQ(0xFF808080u, reader.GetInteger("number", 7));
    EXPECT_EQ(0x123456789ABCDEF0ull, reader.GetInteger64("wide", 7));
    char read[8] = {};
    EXPECT_EQ(5u, reader.GetBinary("zeros", read, sizeof(read)));
    EXPECT_EQ(std::string("ab\0cd", 5), std::string(read, 5));
    EXPECT_EQ(0u, reader.GetBinary("zeros", read, 2)) << "a value longer than the buffer";
    EXPECT_STREQ("fallback", reader.GetString("missing", "fallback"));
    EXPECT_EQ(42u, reader.GetInteger("wide", 42)) << "8 bytes are not a 32-bit value";
    EXPECT_EQ(9u, reader.GetInteger64("number", 9));
    EXPECT_NE(0, closed.SetInteger("n", 1));
    EXPECT_EQ(0, key.DeleteValue("number"));
    EXPECT_NE(0, ERegistryKey::DeleteKey(key.GetHandle(), "")) << "would delete the key itself";
    EXPECT_EQ(0, ERegistryKey::DeleteKey(HKEY_CURRENT_USER, path.c_str()));
}
