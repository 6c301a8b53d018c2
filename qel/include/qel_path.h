// A path held in normalised form: components from the root, joined by one
// separator, with '.' and '..' resolved. Order and equality go component by
// component in natural order.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "qel_string.h"

namespace qel {

class CPath {
public:
    // The empty path.
    explicit CPath(wchar_t separator = L'\\');
    // Backslash and slash both separate; '.' goes, '..' removes the component
    // before it. A text that starts with a single separator, or climbs above
    // its first component, gives the empty path; '\\server' keeps its
    // prefix; a doubled separator inside leaves an empty component. The text
    // of the result normalises to the same path. Linear in the text.
    CPath(const wchar_t* text, wchar_t separator = L'\\');
    // 8-bit text in the ANSI code page.
    CPath(const char* text, wchar_t separator = L'\\');
    // Copies keep the components as they are; a moved-from path is empty.
    CPath(const CPath& other);
    CPath(CPath&& other) noexcept;
    ~CPath();

    CPath& operator=(const CPath& other);
    CPath& operator=(CPath&& other) noexcept;
    // Always with the backslash, whatever the separator was.
    CPath& operator=(const wchar_t* text);

    const wchar_t* c_str() const noexcept;
    bool IsEmpty() const noexcept;
    size_t Count() const noexcept;
    wchar_t Separator() const noexcept;
    const CWString& Component(size_t index) const;

    // Components start .. start+count-1 joined with the separator; count is
    // cut to what remains, and an out-of-range start gives the empty text.
    CWString Sub(size_t start, size_t count) const;
    CWString Head(size_t n) const;
    CWString Tail(size_t n) const;

    // This path, the separator and the text, normalised again.
    CPath operator/(const wchar_t* text) const;
    CPath operator/(const char* text) const;
    CPath& operator/=(const wchar_t* text);
    CPath& operator/=(const char* text);

    // Parts of the text as the run-time library's path splitter sees them.
    CWString Folder() const;     // drive and folder, ending in a separator
    CWString FileName() const;   // name and extension of the last component
    CWString Stem() const;       // name without extension
    CWString Extension() const;  // from the last dot, dot included

    friend bool operator==(const CPath& a, const CPath& b) noexcept;
    friend bool operator<(const CPath& a, const CPath& b) noexcept;

private:
    struct Inner;
    void Normalise(const wchar_t* text);

    std::unique_ptr<Inner> m_pInner;
};

inline bool operator!=(const CPath& a, const CPath& b) noexcept {
    return !(a == b);
}

}  // namespace qel
