// PLACEHOLDER until the files-and-paths work lands: a path held as text, with
// only what the application shell uses (construction, joining, c_str).
#pragma once

#include <string>

namespace qel {

class CPath {
public:
    explicit CPath(wchar_t separator = L'\\') : m_separator(separator) {}
    CPath(const wchar_t* text, wchar_t separator = L'\\') : m_text(text ? text : L""), m_separator(separator) {}

    const wchar_t* c_str() const noexcept { return m_text.c_str(); }
    bool IsEmpty() const noexcept { return m_text.empty(); }

    CPath operator/(const wchar_t* text) const {
        if (m_text.empty())
            return CPath(text, m_separator);
        std::wstring joined = m_text;
        if (joined.back() != m_separator)
            joined += m_separator;
        joined += text;
        return CPath(joined.c_str(), m_separator);
    }

private:
    std::wstring m_text;
    wchar_t m_separator;
};

}  // namespace qel
