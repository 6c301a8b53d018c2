// Dropping the current page from the book: from the list, and from the ring
// of decoded pages (PageRing.h), whose head stays where it is.
#pragma once

#include <algorithm>
#include <array>
#include <vector>

// Erases the current entry of list and moves the pictures of the ring so
// that every slot again holds the page that its offset names; slot(k) is
// slots[(head + k) mod 6]. The pictures that leave the ring go to released,
// to be freed off the window's thread. False when no page is left: the ring
// is then not touched. makePage gives a new, empty picture. Both loaders
// must be stopped.
template <class List, class PagePtr, class MakePage>
bool EraseCurrentPage(List& list, std::array<PagePtr, 6>& slots, unsigned head, std::vector<PagePtr>& released,
                      MakePage makePage) {
    list.EraseCurrent();
    if (list.Count() == 0)
        return false;
    const std::array<PagePtr, 6> before = slots;
    auto slot = [&](int k) -> PagePtr& { return slots[(head + 6 + k) % 6]; };
    if (list.Count() <= 2) {
        // Each page fills several slots of so small a ring: only the page
        // that follows, now current, is kept.
        PagePtr next = slot(1);
        for (int k = -2; k <= 3; ++k)
            slot(k) = makePage();
        slot(0) = next;
    } else {
        // The pages before the current one have not changed; those after it
        // come one slot nearer.
        for (int k = 0; k < 3; ++k)
            slot(k) = slot(k + 1);
        slot(3) = makePage();
    }
    for (const PagePtr& page : before) {
        if (std::find(slots.begin(), slots.end(), page) == slots.end())
            released.push_back(page);
    }
    return true;
}
