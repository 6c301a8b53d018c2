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
