#include "ax_archive.h"

#include <cstring>

#include <esl_handle.h>

#include "ax_cache.h"

namespace ax {

namespace {

std::shared_ptr<const Listing> ListingOf(const Identity& id) {
    CCache& cache = CCache::Instance();
    if (auto listing = cache.FindListing(id))
        return listing;
    std::shared_ptr<const Listing> listing = ReadListing(id.path.c_str());
    // A file changed between the two looks is read again on the next call.
    if (listing && listing->identity == id)
        cache.KeepListing(listing);
    return listing;
}

// Reading an entry of a solid archive costs the same whether it is kept or
// skipped, so entries passed over on the way are kept for later calls.
bool KeepPassedOver(const Listing& listing, CReader& reader, int header) {
    const Entry* entry = listing.At(listing.positionOfHeader[header]);
    CCache& cache = CCache::Instance();
    if (!entry || entry->encrypted || entry->size > CCache::LargestKeptEntry() || entry->size > listing.sizeCap ||
        cache.FindBytes(listing.identity, header))
        return true;
    auto bytes = std::make_shared<std::vector<char>>(entry->size);
    if (reader.ReadData(bytes->data(), bytes->size(), Progress{}) != ReadResult::kOk)
        return false;
    cache.KeepBytes(listing.identity, header, std::move(bytes));
    return true;
}

// Moves a reader (parked or new) to the entry and reads it. A reader that
// read it whole is parked again, just past it.
int ReadEntry(const Listing& listing, const Entry& entry, char* out, const Progress& progress, bool keepPassed) {
    CCache& cache = CCache::Instance();
    std::unique_ptr<CReader> reader = cache.TakeReader(listing.identity, entry.header);
    if (!reader)
        reader = CReader::Open(listing.identity.path.c_str());
    if (!reader || !(reader->GetIdentity() == listing.identity))
        return kSpiInternalError;
    while (reader->NextIndex() <= entry.header) {
        int header = reader->NextIndex();
        if (!reader->NextHeader())
            return kSpiInternalError;
        if (header < entry.header && listing.solid && keepPassed && !KeepPassedOver(listing, *reader, header))
            return ReadEntry(listing, entry, out, progress, false);  // a damaged neighbour: skip it instead
    }
    switch (reader->ReadData(out, entry.size, progress)) {
    case ReadResult::kAborted:
        return kSpiAborted;
    case ReadResult::kFailed:
        return kSpiInternalError;
    case ReadResult::kOk:
        break;
    }
    cache.KeepReader(std::move(reader));
    if (listing.solid && entry.size <= CCache::LargestKeptEntry())
        cache.KeepBytes(listing.identity, entry.header, std::make_shared<std::vector<char>>(out, out + entry.size));
    return kSpiOk;
}

}  // namespace

std::shared_ptr<const Listing> GetListing(const char* path) {
    Identity id;
    return ReadIdentity(path, id) ? ListingOf(id) : nullptr;
}

int ExtractEntry(const char* path, std::uint32_t position, HLOCAL* out, const Progress& progress) {
    auto listing = GetListing(path);
    if (!listing)
        return kSpiUnknownFormat;
    const Entry* entry = listing->At(position);
    if (!entry)
        return kSpiInternalError;
    if (entry->encrypted)
        return kSpiUnknownFormat;
    // Refused before anything is allocated.
    if (entry->size > listing->sizeCap)
        return kSpiInternalError;
    esl::UniqueLocal block(::LocalAlloc(LMEM_MOVEABLE, entry->size ? entry->size : 1));
    if (!block)
        return kSpiInternalError;
    {
        esl::LocalLockGuard<char> data(block.get());
        if (!data.get())
            return kSpiInternalError;
        // Kept bytes of another length are not this entry's: never copied past the block.
        Bytes kept = CCache::Instance().FindBytes(listing->identity, entry->header);
        if (kept && kept->size() == entry->size) {
            std::memcpy(data.get(), kept->data(), kept->size());
        } else if (int r = ReadEntry(*listing, *entry, data.get(), progress, true)) {
            return r;
        }
    }
    *out = block.release();
    return kSpiOk;
}

}  // namespace ax
