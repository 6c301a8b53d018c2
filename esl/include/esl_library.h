// Start and end of the foundation library, per-thread task records and the
// processor features that the raster layer reads.
#pragma once

#include <windows.h>

#include "esl_error.h"
#include "esl_export.h"
#include "esl_heap.h"

#include <memory>

class ESLObject;

enum : DWORD {
    ESL_PROCESSOR_MMX = 0x0002,
    ESL_PROCESSOR_SSE = 0x0008,
};

ESL_EXPORT DWORD glsGetLibraryVersion();
ESL_EXPORT ESLError glsInitializeLibrary();
ESL_EXPORT void glsCloseLibrary();
ESL_EXPORT ESLError glsInitializeTask();
ESL_EXPORT void glsCloseTask();
ESL_EXPORT HESLHEAP glsGetImageGlobalHeap();
// Each returns the flags in use afterwards. Only features that the processor
// has can be enabled.
ESL_EXPORT DWORD glsEnableProcessorType(DWORD dwFlags);
ESL_EXPORT DWORD glsDisableProcessorType(DWORD dwFlags);
ESL_EXPORT DWORD glsGetEnabledProcessorType();

// The calling thread's task object, owned by its task record and destroyed
// when the record is closed. Setting one needs an open task record (result
// eslErrorGeneral otherwise, and the object is destroyed at once); an object
// set before is destroyed.
ESLError glsSetTaskObject(std::unique_ptr<ESLObject> pObject);
ESLObject* glsGetTaskObject();
