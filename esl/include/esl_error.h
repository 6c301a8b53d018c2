// ESLError: 0 success, small codes for kinds of failure, or (above 65535) the
// address of a message text.
#pragma once

#include <cstdint>

// Wide enough to carry a message address on either target.
typedef std::intptr_t ESLError;

enum : ESLError {
    eslErrorNotSupported = -1,
    eslErrorSuccess = 0,
    eslErrorGeneral = 1,
    eslErrorAborted = 2,
    eslErrorInvalidParameter = 3,
    eslErrorTimeout = 4,
    eslErrorPending = 5,
    eslErrorContinuation = 6,
};

// Codes up to this value are kinds of failure; anything above is a message.
constexpr ESLError kESLErrorLastCode = 0xFFFF;

// The error as a message address (so that a caller can return its own text).
inline ESLError eslErrorFromMessage(const char* pszMessage) noexcept {
    return reinterpret_cast<ESLError>(pszMessage);
}

// The text for an error: the message for a known code, the text itself for a
// message address, and a fixed "unknown" text for anything else. Never null.
const char* eslGetErrorMessage(ESLError err) noexcept;
