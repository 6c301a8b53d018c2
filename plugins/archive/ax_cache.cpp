#include "ax_cache.h"

namespace ax {

namespace {

constexpr size_t kListings = 8;
// Address space is scarce in the 32-bit program; a parked 7z reader holds
// its dictionary (16 MiB at 7-Zip's default level).
constexpr bool kWide = sizeof(void*) == 8;
// One per host thread and one more; two for the loader threads.
constexpr size_t kReaders = kWide ? 4 : 2;
constexpr size_t kKeptBytes = kWide ? size_t(128) << 20 : size_t(32) << 20;

}  // namespace

CCache& CCache::Instance() {
    static CCache cache;
    return cache;
}

CCache::CCache() : m_listings(kListings), m_readers(kReaders), m_bytes(kKeptBytes) {}

size_t CCache::LargestKeptEntry() {
    return kKeptBytes / 4;
}

std::shared_ptr<const Listing> CCache::FindListing(const Identity& id) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto* found = m_listings.Find([&](const std::shared_ptr<const Listing>& l) { return l->identity == id ? 0 : -1; });
    return found ? *found : nullptr;
}

void CCache::KeepListing(std::shared_ptr<const Listing> listing) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_listings.Put(std::move(listing), 1);
}

std::unique_ptr<CReader> CCache::TakeReader(const Identity& id, int header) {
    std::unique_ptr<CReader> reader;
    std::lock_guard<std::mutex> hold(m_lock);
    m_readers.Take(
        [&](const std::unique_ptr<CReader>& r) {
            return r->GetIdentity() == id && r->NextIndex() <= header ? r->NextIndex() : -1;
        },
        reader);
    return reader;
}

void CCache::KeepReader(std::unique_ptr<CReader> reader) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_readers.Put(std::move(reader), 1);
}

Bytes CCache::FindBytes(const Identity& id, int header) {
    std::lock_guard<std::mutex> hold(m_lock);
    Kept* found = m_bytes.Find([&](const Kept& k) { return k.header == header && k.id == id ? 0 : -1; });
    return found ? found->bytes : nullptr;
}

void CCache::KeepBytes(const Identity& id, int header, Bytes bytes) {
    size_t weight = bytes->size();
    std::lock_guard<std::mutex> hold(m_lock);
    m_bytes.Put(Kept{id, header, std::move(bytes)}, weight);
}

}  // namespace ax
