// What the plug-in keeps between calls, behind one lock (the host calls it
// from three threads at once): tables of contents, readers parked after the
// entry they last read, and the bytes of entries of solid archives. All
// bounded; the least recently used goes first.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "ax_listing.h"
#include "ax_reader.h"

namespace ax {

// Items with a weight, most recently used first, evicted from the back while
// the total weight is over the limit.
template <class T>
class CRecentList {
public:
    explicit CRecentList(size_t limit) : m_nLimit(limit) {}

    // The item with the highest score (a negative score never matches),
    // moved to the front; null when none matches.
    template <class Score>
    T* Find(Score score) {
        auto it = Best(score);
        if (it == m_items.end())
            return nullptr;
        m_items.splice(m_items.begin(), m_items, it);
        return &m_items.front().first;
    }
    // The same, taken out of the list.
    template <class Score>
    bool Take(Score score, T& out) {
        auto it = Best(score);
        if (it == m_items.end())
            return false;
        out = std::move(it->first);
        m_nWeight -= it->second;
        m_items.erase(it);
        return true;
    }
    void Put(T item, size_t weight) {
        m_items.emplace_front(std::move(item), weight);
        m_nWeight += weight;
        while (m_nWeight > m_nLimit && !m_items.empty()) {
            m_nWeight -= m_items.back().second;
            m_items.pop_back();
        }
    }

private:
    template <class Score>
    typename std::list<std::pair<T, size_t>>::iterator Best(Score score) {
        auto best = m_items.end();
        long long bestScore = -1;
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            long long s = score(it->first);
            if (s > bestScore) {
                bestScore = s;
                best = it;
            }
        }
        return best;
    }

    std::list<std::pair<T, size_t>> m_items;
    size_t m_nLimit;
    size_t m_nWeight = 0;
};

using Bytes = std::shared_ptr<const std::vector<char>>;

class CCache {
public:
    static CCache& Instance();

    std::shared_ptr<const Listing> FindListing(const Identity& id);
    void KeepListing(std::shared_ptr<const Listing> listing);
    // The parked reader of that file that is furthest along but not past the header.
    std::unique_ptr<CReader> TakeReader(const Identity& id, int header);
    void KeepReader(std::unique_ptr<CReader> reader);
    Bytes FindBytes(const Identity& id, int header);
    void KeepBytes(const Identity& id, int header, Bytes bytes);
    // Entries larger than this are never kept.
    static size_t LargestKeptEntry();

private:
    CCache();
    struct Kept {
        Identity id;
        int header = 0;
        Bytes bytes;
    };
    std::mutex m_lock;
    CRecentList<std::shared_ptr<const Listing>> m_listings;
    CRecentList<std::unique_ptr<CReader>> m_readers;
    CRecentList<Kept> m_bytes;
};

}  // namespace ax
