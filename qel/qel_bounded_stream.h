// A stream that never reads past the end of the stream it wraps.
#pragma once

#include <windows.h>

#include <objidl.h>

namespace qel {

// Wraps pInner (taking a reference of its own); null when memory cannot be
// had. Wine's stream on global memory, after a seek past its end, reads
// from beyond its block (a picture's mutated offset is enough), so decoders
// read through this one instead.
IStream* CreateBoundedStream(IStream* pInner);

}  // namespace qel
