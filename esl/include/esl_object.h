// Root of the foundation library's classes: run-time class names instead of
// RTTI, so that objects can be asked what they are by name.
#pragma once

#include <cstddef>

class ESLObject {
public:
    static constexpr const char* kClassName = "ESLObject";

    ESLObject() noexcept = default;
    virtual ~ESLObject() = default;

    // The most derived class's name, e.g. "ERawFile".
    virtual const char* ClassName() const noexcept;
    // True when the object is of the named class or derives from it.
    virtual bool IsKindOf(const char* pszClassName) const noexcept;
    // This object seen as the named class (the pointer adjusted to that base),
    // or null when it is not of that kind.
    virtual void* DynamicCast(const char* pszClassName) noexcept;

    const void* DynamicCast(const char* pszClassName) const noexcept {
        return const_cast<ESLObject*>(this)->DynamicCast(pszClassName);
    }

    // Objects created with new live on the foundation library's global heap.
    // A failed allocation yields a null pointer from the new-expression.
    static void* operator new(std::size_t nBytes) noexcept;
    static void operator delete(void* ptr) noexcept;
    static void* operator new(std::size_t, void* ptr) noexcept { return ptr; }
    static void operator delete(void*, void*) noexcept {}

protected:
    // For DynamicCast overrides: whether a queried name is this class's.
    static bool IsClassName(const char* pszQuery, const char* pszClassName) noexcept;
};

// The run-time class members of a class named `name` that derives from Base,
// for its public section: the name, ClassName and DynamicCast (IsKindOf asks
// DynamicCast).
#define ESL_RUNTIME_CLASS(name, Base)                                                          \
    static constexpr const char* kClassName = name;                                            \
    const char* ClassName() const noexcept override {                                          \
        return kClassName;                                                                     \
    }                                                                                          \
    void* DynamicCast(const char* pszClassName) noexcept override {                            \
        return IsClassName(pszClassName, kClassName) ? this : Base::DynamicCast(pszClassName); \
    }                                                                                          \
    using ESLObject::DynamicCast

// Typed form of DynamicCast: null when pObject is null or not a T.
template <class T>
T* ESLTypeCast(ESLObject* pObject) noexcept {
    return pObject ? static_cast<T*>(pObject->DynamicCast(T::kClassName)) : nullptr;
}

template <class T>
const T* ESLTypeCast(const ESLObject* pObject) noexcept {
    return pObject ? static_cast<const T*>(pObject->DynamicCast(T::kClassName)) : nullptr;
}
