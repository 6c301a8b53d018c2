#include "ax_cache.h"

namespace ax {

namespace {

constexpr size_t kListings = 8;
// One per host thread, and one more.
constexpr size_t kReaders = 4;
// Address space is scarce in the 32-bit program.
constexpr size_t kKeptBytes = sizeof(void*) == 8 ? size_t(128) << 20 : size_t(32) << 20;

}  // namespace

Cache& Cache::Instance() {
    static Cache cache;
    return cache;
}

Cache::Cache() : m_listings(kListings), m_readers(kReaders), m_bytes(kKeptBytes) {}

size_t Cache::LargestKeptEntry() {
    return kKeptBytes / 4;
}

std::shared_ptr<const Listing> Cache::FindListing(const Identity& id) {
    std::lock_guard<std::mutex> hold(m_lock);
    auto* found = m_listings.Find([&](const std::shared_ptr<const Listing>& l) { return l->identity == id ? 0 : -1; });
    return found ? *found : nullptr;
}

void Cache::KeepListing(std::shared_ptr<const Listing> listing) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_listings.Put(std::move(listing), 1);
}

std::unique_ptr<Reader> Cache::TakeReader(const Identity& id, int header) {
    std::unique_ptr<Reader> reader;
    std::lock_guard<std::mutex> hold(m_lock);
    m_readers.Take(
        [&](const std::unique_ptr<Reader>& r) {
            return r->GetIdentity() == id && r->NextIndex() <= header ? r->NextIndex() : -1;
        },
        reader);
    return reader;
}

void Cache::KeepReader(std::unique_ptr<Reader> reader) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_readers.Put(std::move(reader), 1);
}

Bytes Cache::FindBytes(const Identity& id, int header) {
    std::lock_guard<std::mutex> hold(m_lock);
    Kept* found = m_bytes.Find([&](const Kept& k) { return k.header == header && k.id == id ? 0 : -1; });
    return found ? found->bytes : nullptr;
}

void Cache::KeepBytes(const Identity& id, int header, Bytes bytes) {
    size_t weight = bytes->size();
    std::lock_guard<std::mutex> hold(m_lock);
    m_bytes.Put(Kept{id, header, std::move(bytes)}, weight);
}

}  // namespace ax
