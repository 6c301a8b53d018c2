// The in-house library's only exception: source file, line and the text of
// the failed check, formatted "%s(%d)\n%s".
#pragma once

#include <memory>
#include <string>

namespace qel {

class CException {
public:
    CException(const char* pszSource, int nLine, const char* pszExpression);
    CException(const CException& other);
    CException& operator=(const CException& other);
    CException(CException&& other) noexcept;
    CException& operator=(CException&& other) noexcept;
    ~CException();

    // The message as NUL-terminated 8-bit text.
    const char* Message() const noexcept;

private:
    struct Inner {
        CException* _pOwner;
        std::string _message;
    };
    std::unique_ptr<Inner> m_pInner;
};

}  // namespace qel

// A check that stays in the release build: throws when the failure condition
// holds, with the text given. The text is fixed where a check reports state
// named otherwise than in the code that makes it (an inner record's field).
#define QEL_FAIL_IF_TEXT_AT(source, line, cond, text)          \
    do {                                                       \
        if (cond)                                              \
            throw ::qel::CException((source), (line), (text)); \
    } while (0)

// The same, naming the condition exactly as written.
#define QEL_FAIL_IF_AT(source, line, cond) QEL_FAIL_IF_TEXT_AT(source, line, cond, #cond)

// For files that define QEL_SOURCE as their own source name. Stringised
// here: passed on, the condition's macros (NULL) would be expanded first.
#define QEL_FAIL_IF(cond) QEL_FAIL_IF_TEXT_AT(QEL_SOURCE, __LINE__, cond, #cond)
