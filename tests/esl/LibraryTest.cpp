#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <thread>

#include "esl_crash.h"
#include "esl_library.h"
#include "esl_object.h"

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

// Runs on a thread of its own, so that the task record starts empty.
void OnNewThread(const std::function<void()>& body) {
    std::thread(body).join();
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

TEST(Library, Version) {
    EXPECT_EQ(0x308F0u, glsGetLibraryVersion());
}

TEST(Library, StartInstallsTheCrashHandlerAndTheLastCloseRemovesIt) {
    LPTOP_LEVEL_EXCEPTION_FILTER original = ::SetUnhandledExceptionFilter(SentinelFilter);
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    EXPECT_NE(nullptr, glsGetImageGlobalHeap());
    EXPECT_EQ(glsGetImageGlobalHeap(), glsGetImageGlobalHeap());

    // Nested uses: only the last close ends the library.
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    glsCloseLibrary();
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    glsCloseLibrary();
    EXPECT_EQ(SentinelFilter, CurrentFilter());

    // An unmatched close changes nothing; the next start is a first start again.
    glsCloseLibrary();
    ASSERT_EQ(eslErrorSuccess, glsInitializeLibrary());
    EXPECT_EQ(eslCrashFilter, CurrentFilter());
    // A filter installed after the start is not replaced at the close.
    ::SetUnhandledExceptionFilter(nullptr);
    glsCloseLibrary();
    EXPECT_EQ(nullptr, CurrentFilter());
    ::SetUnhandledExceptionFilter(original);
}

TEST(LibraryTask, CountedPerThreadAndTheObjectGoesWithTheRecord) {
    // The first use on a thread rounds to nearest: compiled floating-point
    // code depends on it even with the raster layer's SSE paths switched off.
    glsDisableProcessorType(ESL_PROCESSOR_SSE);
    OnNewThread([] {
        int destroyed = 0, replaced = 0;
        EXPECT_EQ(eslErrorGeneral, glsSetTaskObject(std::unique_ptr<ESLObject>(new CountedObject(&destroyed))));
        EXPECT_EQ(1, destroyed) << "an object that cannot be kept is not leaked";
        EXPECT_EQ(nullptr, glsGetTaskObject());

        LPTOP_LEVEL_EXCEPTION_FILTER original = CurrentFilter();
        RoundingControl(true);
        ASSERT_EQ(eslErrorSuccess, glsInitializeTask());
        EXPECT_EQ(eslCrashFilter, CurrentFilter());
        EXPECT_EQ(0u, RoundingControl());
        RoundingControl(true);
        ASSERT_EQ(eslErrorSuccess, glsInitializeTask());
        EXPECT_EQ(0x6000u, RoundingControl()) << "only the first use sets it";
        ASSERT_EQ(eslErrorSuccess, glsSetTaskObject(std::unique_ptr<ESLObject>(new CountedObject(&replaced))));
        auto* object = new CountedObject(&destroyed);
        ASSERT_EQ(eslErrorSuccess, glsSetTaskObject(std::unique_ptr<ESLObject>(object)));
        EXPECT_EQ(1, replaced) << "replacing the object destroys the old one";
        EXPECT_EQ(object, glsGetTaskObject());

        glsCloseTask();
        EXPECT_EQ(1, destroyed);
        EXPECT_EQ(object, glsGetTaskObject());
        glsCloseTask();
        EXPECT_EQ(2, destroyed);
        EXPECT_EQ(nullptr, glsGetTaskObject());
        glsCloseTask();  // unmatched: nothing to close
        EXPECT_EQ(2, destroyed);
        EXPECT_EQ(1, replaced);
        ::SetUnhandledExceptionFilter(original);
    });
    glsEnableProcessorType(ESL_PROCESSOR_SSE);
}

TEST(LibraryProcessor, DetectedFeaturesCanBeSwitched) {
    const DWORD detected = glsGetEnabledProcessorType();
#if defined(__x86_64__)
    EXPECT_EQ(DWORD{ESL_PROCESSOR_MMX | ESL_PROCESSOR_SSE}, detected);
#endif
    EXPECT_EQ(0u, detected & ~DWORD{ESL_PROCESSOR_MMX | ESL_PROCESSOR_SSE});

    EXPECT_EQ(detected & ~DWORD{ESL_PROCESSOR_SSE}, glsDisableProcessorType(ESL_PROCESSOR_SSE));
    EXPECT_EQ(0u, glsDisableProcessorType(ESL_PROCESSOR_MMX | ESL_PROCESSOR_SSE));
    EXPECT_EQ(detected & ESL_PROCESSOR_MMX, glsEnableProcessorType(ESL_PROCESSOR_MMX));
    // Flags that are no feature of ours, or that the processor lacks, stay off.
    EXPECT_EQ(detected, glsEnableProcessorType(0xFFFFFFFF));
    EXPECT_EQ(detected, glsGetEnabledProcessorType());
    EXPECT_EQ(detected, glsDisableProcessorType(0x80000000 | 0x10));
}
