#include "esl_object.h"

#include <cstring>

#include "esl_heap.h"

const char* ESLObject::ClassName() const noexcept {
    return kClassName;
}

bool ESLObject::IsKindOf(const char* pszClassName) const noexcept {
    return const_cast<ESLObject*>(this)->DynamicCast(pszClassName) != nullptr;
}

void* ESLObject::DynamicCast(const char* pszClassName) noexcept {
    return IsClassName(pszClassName, kClassName) ? this : nullptr;
}

bool ESLObject::IsClassName(const char* pszQuery, const char* pszClassName) noexcept {
    return pszQuery && std::strcmp(pszQuery, pszClassName) == 0;
}

void* ESLObject::operator new(std::size_t nBytes) noexcept {
    if (nBytes > 0x7FFFFFFF)
        return nullptr;
    return eslHeapAllocate(nullptr, static_cast<DWORD>(nBytes), 0);
}

void ESLObject::operator delete(void* ptr) noexcept {
    if (ptr)
        eslHeapFree(nullptr, ptr, 0);
}
