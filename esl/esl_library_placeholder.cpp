// PLACEHOLDER until error reporting and the crash log land: start and end of
// the library without task records, crash handler or processor detection.
#include "esl_library.h"

#include <mmsystem.h>

namespace {
LONG gLibraryUses = 0;
HESLHEAP gImageHeap = nullptr;
DWORD gProcessorFlags = ESL_PROCESSOR_MMX | ESL_PROCESSOR_SSE;
}  // namespace

DWORD glsGetLibraryVersion() { return 0x308F0; }

ESLError glsInitializeLibrary() {
    if (::InterlockedIncrement(&gLibraryUses) == 1) {
        eslGetGlobalHeap();
        glsGetImageGlobalHeap();
        ::timeBeginPeriod(1);
    }
    return eslErrorSuccess;
}

void glsCloseLibrary() {
    if (::InterlockedDecrement(&gLibraryUses) == 0)
        ::timeEndPeriod(1);
}

ESLError glsInitializeTask() { return eslErrorSuccess; }
void glsCloseTask() {}

HESLHEAP glsGetImageGlobalHeap() {
    if (!gImageHeap)
        gImageHeap = eslHeapCreate(0, 0, ESL_HEAP_ZERO_INIT, nullptr);
    return gImageHeap;
}

DWORD glsEnableProcessorType(DWORD dwFlags) { return gProcessorFlags |= dwFlags; }
DWORD glsDisableProcessorType(DWORD dwFlags) { return gProcessorFlags &= ~dwFlags; }
DWORD glsGetEnabledProcessorType() { return gProcessorFlags; }
