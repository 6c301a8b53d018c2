#include "esl_library.h"

#include <cpuid.h>
#include <mmsystem.h>

#include <atomic>
#include <new>

#include "esl_crash.h"
#include "esl_object.h"

namespace {

// glsInitializeLibrary runs while the program's globals are being built, so
// every piece of state here is constant-initialised: no constructor has to
// have run before it.
constexpr DWORD kNoSlot = TLS_OUT_OF_INDEXES;
constexpr DWORD kNotDetected = 0x80000000;
constexpr DWORD kKnownFeatures = ESL_PROCESSOR_MMX | ESL_PROCESSOR_SSE;

std::atomic<DWORD> gTaskSlot{kNoSlot};
std::atomic<long> gLibraryUses{0};
std::atomic<HESLHEAP> gImageHeap{nullptr};
std::atomic<DWORD> gProcessorFeatures{kNotDetected};
std::atomic<DWORD> gEnabledFeatures{kNotDetected};

struct TaskRecord {
    LONG nUses;
    ESLObject* pTaskObject;
};

DWORD DetectProcessor() {
    DWORD features = 0;
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        if (edx & bit_MMX)
            features |= ESL_PROCESSOR_MMX;
        if (edx & bit_SSE)
            features |= ESL_PROCESSOR_SSE;
    }
#if defined(__x86_64__)
    // The x86_64 architecture includes both.
    features |= ESL_PROCESSOR_MMX | ESL_PROCESSOR_SSE;
#endif
    return features;
}

DWORD ProcessorFeatures() {
    DWORD features = gProcessorFeatures.load();
    if (features == kNotDetected) {
        features = DetectProcessor();
        gProcessorFeatures.store(features);
    }
    return features;
}

// The raster layer may ask before the library is started: detect then.
DWORD EnabledFeatures() {
    DWORD enabled = gEnabledFeatures.load();
    if (enabled != kNotDetected)
        return enabled;
    DWORD expected = kNotDetected;
    gEnabledFeatures.compare_exchange_strong(expected, ProcessorFeatures());
    return gEnabledFeatures.load();
}

// Rounding control (MXCSR bits 13-14) to round-to-nearest, for this thread.
// Set whenever the processor has SSE, whether or not the raster layer's SSE
// paths are switched on: compiled floating-point code uses it as well.
// Written with the instructions themselves so that the 32-bit build needs no
// SSE code generation elsewhere.
void SetSseRounding() {
    if (!(ProcessorFeatures() & ESL_PROCESSOR_SSE))
        return;
    unsigned int csr = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
    csr &= ~0x6000u;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(csr));
}

DWORD TaskSlot() {
    DWORD slot = gTaskSlot.load();
    if (slot != kNoSlot)
        return slot;
    DWORD fresh = ::TlsAlloc();
    if (fresh == kNoSlot)
        return kNoSlot;
    DWORD expected = kNoSlot;
    if (!gTaskSlot.compare_exchange_strong(expected, fresh)) {
        ::TlsFree(fresh);  // another thread was first
        return expected;
    }
    return fresh;
}

TaskRecord* CurrentTask() {
    DWORD slot = gTaskSlot.load();
    return slot == kNoSlot ? nullptr : static_cast<TaskRecord*>(::TlsGetValue(slot));
}

void DestroyTaskObject(TaskRecord* record) {
    delete record->pTaskObject;
    record->pTaskObject = nullptr;
}

}  // namespace

DWORD glsGetLibraryVersion() {
    return 0x308F0;
}

ESLError glsInitializeLibrary() {
    if (TaskSlot() == kNoSlot)
        return eslErrorGeneral;
    if (gLibraryUses.fetch_add(1) != 0)
        return eslErrorSuccess;
    EnabledFeatures();
    SetSseRounding();
    ESLError result = eslErrorSuccess;
    if (!eslGetGlobalHeap() || !glsGetImageGlobalHeap())
        result = eslErrorGeneral;
    if (glsInitializeTask() != eslErrorSuccess)
        result = eslErrorGeneral;
    ::timeBeginPeriod(1);
    return result;
}

void glsCloseLibrary() {
    // An unmatched close must not take the count below 0 and end the library twice.
    long uses = gLibraryUses.load();
    do {
        if (uses <= 0)
            return;
    } while (!gLibraryUses.compare_exchange_weak(uses, uses - 1));
    if (uses != 1)
        return;

    ::timeEndPeriod(1);
    glsCloseTask();
    eslRemoveCrashHandler();
    DWORD slot = gTaskSlot.exchange(kNoSlot);
    if (slot != kNoSlot)
        ::TlsFree(slot);
    eslFreeGlobalHeap();
    if (HESLHEAP image = gImageHeap.exchange(nullptr)) {
        eslHeapDump(image, 100);
        eslHeapDestroy(image);
    }
}

ESLError glsInitializeTask() {
    DWORD slot = TaskSlot();
    if (slot == kNoSlot)
        return eslErrorGeneral;
    auto* record = static_cast<TaskRecord*>(::TlsGetValue(slot));
    if (!record) {
        void* memory = eslHeapAllocate(nullptr, sizeof(TaskRecord), ESL_HEAP_ZERO_INIT);
        if (!memory)
            return eslErrorGeneral;
        record = new (memory) TaskRecord{0, nullptr};
        if (!::TlsSetValue(slot, record)) {
            eslHeapFree(nullptr, record, 0);
            return eslErrorGeneral;
        }
    }
    if (::InterlockedIncrement(&record->nUses) == 1) {
        SetSseRounding();
        eslInstallCrashHandler();
    }
    return eslErrorSuccess;
}

void glsCloseTask() {
    TaskRecord* record = CurrentTask();
    if (!record)
        return;
    if (::InterlockedDecrement(&record->nUses) > 0)
        return;
    DestroyTaskObject(record);
    eslHeapFree(nullptr, record, 0);
    ::TlsSetValue(gTaskSlot.load(), nullptr);
}

ESLError glsSetTaskObject(std::unique_ptr<ESLObject> pObject) {
    TaskRecord* record = CurrentTask();
    if (!record)
        return eslErrorGeneral;
    DestroyTaskObject(record);
    record->pTaskObject = pObject.release();
    return eslErrorSuccess;
}

ESLObject* glsGetTaskObject() {
    TaskRecord* record = CurrentTask();
    return record ? record->pTaskObject : nullptr;
}

HESLHEAP glsGetImageGlobalHeap() {
    HESLHEAP heap = gImageHeap.load();
    if (heap)
        return heap;
    HESLHEAP created = eslHeapCreate(0, 0, ESL_HEAP_ZERO_INIT, nullptr);
    if (!created)
        return nullptr;
    HESLHEAP expected = nullptr;
    if (!gImageHeap.compare_exchange_strong(expected, created)) {
        eslHeapDestroy(created);  // another thread was first
        return expected;
    }
    return created;
}

DWORD glsEnableProcessorType(DWORD dwFlags) {
    EnabledFeatures();
    // Code paths for a feature the processor lacks would fault.
    const DWORD added = dwFlags & kKnownFeatures & ProcessorFeatures();
    return gEnabledFeatures.fetch_or(added) | added;
}

DWORD glsDisableProcessorType(DWORD dwFlags) {
    EnabledFeatures();
    const DWORD cleared = ~(dwFlags & kKnownFeatures);
    return gEnabledFeatures.fetch_and(cleared) & cleared;
}

DWORD glsGetEnabledProcessorType() {
    return EnabledFeatures();
}
