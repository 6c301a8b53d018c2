// The inner record of a qel class, reached through m_pInner, whose first
// field _pOwner points back at the owner: copied for a new owner or taken
// over by one. A moved-from owner holds none.
#pragma once

#include <memory>

namespace qel {
namespace detail {

template <class Inner, class Owner>
std::unique_ptr<Inner> CopyInner(const std::unique_ptr<Inner>& from, Owner* owner) {
    std::unique_ptr<Inner> inner = from ? std::make_unique<Inner>(*from) : nullptr;
    if (inner)
        inner->_pOwner = owner;
    return inner;
}

template <class Inner, class Owner>
std::unique_ptr<Inner> TakeInner(std::unique_ptr<Inner>& from, Owner* owner) noexcept {
    std::unique_ptr<Inner> inner(std::move(from));
    if (inner)
        inner->_pOwner = owner;
    return inner;
}

}  // namespace detail
}  // namespace qel
