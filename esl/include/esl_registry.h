// One open registry key with 8-bit names in the system code page. Results
// are 0 on success and 1 on failure unless said otherwise.
#pragma once

#include <windows.h>

#include <cstdint>

#include "esl_error.h"
#include "esl_handle.h"
#include "esl_object.h"
#include "esl_string.h"

class ERegistryKey : public ESLObject {
public:
    ESL_RUNTIME_CLASS("ERegistryKey", ESLObject);

    ERegistryKey() noexcept = default;
    ERegistryKey(const ERegistryKey&) = delete;
    ERegistryKey& operator=(const ERegistryKey&) = delete;
    ~ERegistryKey() override = default;

    // Both close a key held before.
    ESLError Create(HKEY hParent, const char* pszSubKey, REGSAM samAccess = KEY_ALL_ACCESS) noexcept;
    ESLError Open(HKEY hParent, const char* pszSubKey, REGSAM samAccess = KEY_READ) noexcept;
    void Close() noexcept;
    bool IsOpen() const noexcept { return static_cast<bool>(m_hKey); }
    HKEY GetHandle() const noexcept { return m_hKey.get(); }

    // Deletes a subkey that has no subkeys of its own.
    static ESLError DeleteKey(HKEY hParent, const char* pszSubKey) noexcept;
    ESLError DeleteValue(const char* pszName) noexcept;

    // REG_SZ with its terminating zero.
    ESLError SetString(const char* pszName, const char* pszText) noexcept;
    // REG_DWORD.
    ESLError SetInteger(const char* pszName, DWORD dwValue) noexcept;
    // REG_BINARY.
    ESLError SetBinary(const char* pszName, const void* ptrData, DWORD dwBytes) noexcept;
    // REG_BINARY of 8 bytes.
    ESLError SetInteger64(const char* pszName, std::uint64_t nValue) noexcept;

    // The number of bytes read; 0 on failure (also when the value is longer
    // than the buffer).
    DWORD GetBinary(const char* pszName, void* ptrBuffer, DWORD dwBytes) const noexcept;
    // The value, or the default when it is missing or not a 32-bit value.
    DWORD GetInteger(const char* pszName, DWORD dwDefault) const noexcept;
    // The value, or the default when it is missing or not 8 bytes long.
    std::uint64_t GetInteger64(const char* pszName, std::uint64_t nDefault) const noexcept;
    // The value cut at its first zero byte, or the default when the key
    // cannot be queried or the value cannot be read.
    EString GetString(const char* pszName, const char* pszDefault) const noexcept;

private:
    esl::UniqueRegKey m_hKey;
};
