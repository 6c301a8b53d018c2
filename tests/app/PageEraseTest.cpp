#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "PageErase.h"

namespace {

// A circle of page names with the list's erase rule.
struct Pages {
    std::vector<std::string> names;
    size_t current = 0;
    size_t Count() const { return names.size(); }
    void EraseCurrent() {
        names.erase(names.begin() + std::ptrdiff_t(current));
        if (current == names.size())
            current = 0;
    }
    const std::string& At(int k) const {
        const int n = int(names.size());
        return names[size_t(((int(current) + k) % n + n) % n)];
    }
};

// A decoded page is its name; an empty picture has none.
using PagePtr = std::shared_ptr<std::string>;

TEST(PageEraseTest, EverySlotLeftHoldsThePageItsOffsetNames) {
    struct Case {
        int pages;
        std::vector<int> kept;  // the offsets still decoded afterwards
    };
    const Case cases[] = {
        {1, {}},  // the last page: nothing to keep, the viewer closes
        {2, {0}},
        {3, {0}},
        {7, {-2, -1, 0, 1, 2}},
    };
    for (const Case& c : cases) {
        for (unsigned head = 0; head < 6; ++head) {
            SCOPED_TRACE(testing::Message() << c.pages << " pages, head " << head);
            Pages list;
            for (int i = 0; i < c.pages; ++i)
                list.names.push_back("p" + std::to_string(i));
            list.current = size_t(c.pages - 1);  // the last page: the first follows
            std::array<PagePtr, 6> slots;
            for (int k = -2; k <= 3; ++k)
                slots[(head + 6 + k) % 6] = std::make_shared<std::string>(list.At(k));
            const std::array<PagePtr, 6> before = slots;

            std::vector<PagePtr> released;
            const bool left =
                EraseCurrentPage(list, slots, head, released, [] { return std::make_shared<std::string>(); });

            ASSERT_EQ(c.pages > 1, left);
            if (!left) {
                EXPECT_EQ(before, slots) << "the ring of a closing viewer is not touched";
                continue;
            }
            for (const PagePtr& page : before) {
                const bool inRing = std::find(slots.begin(), slots.end(), page) != slots.end();
                const bool inReleased = std::find(released.begin(), released.end(), page) != released.end();
                EXPECT_NE(inRing, inReleased) << "each picture stays in the ring or goes to be freed: " << *page;
            }
            for (int k = -2; k <= 3; ++k) {
                SCOPED_TRACE(testing::Message() << "slot " << k);
                const PagePtr& page = slots[(head + 6 + k) % 6];
                ASSERT_TRUE(page);
                const bool kept = std::find(c.kept.begin(), c.kept.end(), k) != c.kept.end();
                EXPECT_EQ(kept ? list.At(k) : "", *page);
                // One picture in two slots would let a loader decode into a visible page.
                for (int j = k + 1; j <= 3; ++j)
                    EXPECT_NE(page, slots[(head + 6 + j) % 6]) << "shared with slot " << j;
            }
        }
    }
}

}  // namespace
