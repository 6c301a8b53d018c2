#include "esl_registry.h"

#include <cstring>

ESLError ERegistryKey::Create(HKEY hParent, const char* pszSubKey, REGSAM samAccess) noexcept {
    Close();
    char szClass[1] = "";
    HKEY hKey = nullptr;
    if (::RegCreateKeyExA(hParent, pszSubKey, 0, szClass, REG_OPTION_NON_VOLATILE, samAccess, nullptr, &hKey,
                          nullptr) != ERROR_SUCCESS)
        return eslErrorGeneral;
    m_hKey.reset(hKey);
    return eslErrorSuccess;
}

ESLError ERegistryKey::Open(HKEY hParent, const char* pszSubKey, REGSAM samAccess) noexcept {
    Close();
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(hParent, pszSubKey, 0, samAccess, &hKey) != ERROR_SUCCESS)
        return eslErrorGeneral;
    m_hKey.reset(hKey);
    return eslErrorSuccess;
}

void ERegistryKey::Close() noexcept {
    m_hKey.reset();
}

ESLError ERegistryKey::DeleteKey(HKEY hParent, const char* pszSubKey) noexcept {
    // An empty name would delete the parent itself.
    if (!pszSubKey || !pszSubKey[0])
        return eslErrorGeneral;
    return ::RegDeleteKeyA(hParent, pszSubKey) == ERROR_SUCCESS ? eslErrorSuccess : eslErrorGeneral;
}

ESLError ERegistryKey::DeleteValue(const char* pszName) noexcept {
    if (!m_hKey)
        return eslErrorGeneral;
    return ::RegDeleteValueA(m_hKey.get(), pszName) == ERROR_SUCCESS ? eslErrorSuccess : eslErrorGeneral;
}

namespace {
ESLError SetValue(HKEY hKey, const char* pszName, DWORD dwType, const void* ptrData, DWORD dwBytes) {
    if (!hKey || (!ptrData && dwBytes))
        return eslErrorGeneral;
    return ::RegSetValueExA(hKey, pszName, 0, dwType, static_cast<const BYTE*>(ptrData), dwBytes) == ERROR_SUCCESS
               ? eslErrorSuccess
               : eslErrorGeneral;
}
}  // namespace

ESLError ERegistryKey::SetString(const char* pszName, const char* pszText) noexcept {
    if (!pszText)
        pszText = "";
    const std::size_t nLength = std::strlen(pszText);
    if (nLength >= 0x7FFFFFFF)
        return eslErrorGeneral;
    return SetValue(m_hKey.get(), pszName, REG_SZ, pszText, static_cast<DWORD>(nLength + 1));
}

ESLError ERegistryKey::SetInteger(const char* pszName, DWORD dwValue) noexcept {
    return SetValue(m_hKey.get(), pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

ESLError ERegistryKey::SetBinary(const char* pszName, const void* ptrData, DWORD dwBytes) noexcept {
    return SetValue(m_hKey.get(), pszName, REG_BINARY, ptrData, dwBytes);
}

ESLError ERegistryKey::SetInteger64(const char* pszName, std::uint64_t nValue) noexcept {
    return SetValue(m_hKey.get(), pszName, REG_BINARY, &nValue, sizeof(nValue));
}

DWORD ERegistryKey::GetBinary(const char* pszName, void* ptrBuffer, DWORD dwBytes) const noexcept {
    if (!m_hKey || (!ptrBuffer && dwBytes))
        return 0;
    DWORD dwType = 0;
    DWORD dwSize = dwBytes;
    if (::RegQueryValueExA(m_hKey.get(), pszName, nullptr, &dwType, static_cast<BYTE*>(ptrBuffer), &dwSize) !=
        ERROR_SUCCESS)
        return 0;
    return dwSize;
}

DWORD ERegistryKey::GetInteger(const char* pszName, DWORD dwDefault) const noexcept {
    DWORD dwValue = 0;
    return GetBinary(pszName, &dwValue, sizeof(dwValue)) == sizeof(dwValue) ? dwValue : dwDefault;
}

std::uint64_t ERegistryKey::GetInteger64(const char* pszName, std::uint64_t nDefault) const noexcept {
    std::uint64_t nValue = 0;
    return GetBinary(pszName, &nValue, sizeof(nValue)) == sizeof(nValue) ? nValue : nDefault;
}

EString ERegistryKey::GetString(const char* pszName, const char* pszDefault) const noexcept {
    DWORD dwMaxValueBytes = 0;
    if (!m_hKey || ::RegQueryInfoKeyA(m_hKey.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, &dwMaxValueBytes, nullptr, nullptr) != ERROR_SUCCESS)
        return EString(pszDefault);
    if (dwMaxValueBytes > static_cast<DWORD>(EString::kMaxLength))
        return EString(pszDefault);
    EString str;
    char* pszBuffer = str.GetBuffer(static_cast<int>(dwMaxValueBytes));
    if (!pszBuffer)
        return EString(pszDefault);
    DWORD dwType = 0;
    DWORD dwSize = dwMaxValueBytes;
    if (::RegQueryValueExA(m_hKey.get(), pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(pszBuffer), &dwSize) !=
        ERROR_SUCCESS)
        return EString(pszDefault);
    pszBuffer[dwSize <= dwMaxValueBytes ? dwSize : dwMaxValueBytes] = 0;
    str.SetLength(-1);
    return str;
}
