// The plug-in's two services over the caches: the table of contents of a
// file, and one entry's bytes in a local-memory block.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "ax_listing.h"
#include "ax_reader.h"

namespace ax {

// Null when the file is no archive we read.
std::shared_ptr<const Listing> GetListing(const char* path);

// A result of the plug-in interface; on 0 *out owns the bytes.
int ExtractEntry(const char* path, std::uint32_t position, HLOCAL* out, const Progress& progress);

}  // namespace ax
