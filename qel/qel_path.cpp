#include "qel_path.h"

#include <stdlib.h>

#include <algorithm>
#include <string>

#include "qel_inner.h"

namespace qel {

namespace {

inline bool IsSeparator(wchar_t ch) {
    return ch == L'\\' || ch == L'/';
}

struct SplitParts {
    std::wstring drive, dir, name, ext;
};

// The run-time library's splitter, with every part as long as the whole text
// so that no component length can overflow a fixed _MAX_FNAME buffer.
SplitParts SplitPath(const wchar_t* text) {
    SplitParts parts;
    size_t size = std::wcslen(text) + 1;
    std::wstring buffer(4 * size, L'\0');
    wchar_t* drive = &buffer[0];
    wchar_t* dir = drive + size;
    wchar_t* name = dir + size;
    wchar_t* ext = name + size;
    if (_wsplitpath_s(text, drive, size, dir, size, name, size, ext, size) != 0)
        return parts;
    parts.drive = drive;
    parts.dir = dir;
    parts.name = name;
    parts.ext = ext;
    return parts;
}

// The component of an index past the end.
const CWString& EmptyText() {
    static const CWString kEmpty;
    return kEmpty;
}

}  // namespace

struct CPath::Inner {
    CPath* _pOwner;
    wchar_t _separator;
    CWString _text;
    std::vector<CWString> _components;
};

CPath::CPath(wchar_t separator) : m_pInner(std::make_unique<Inner>()) {
    m_pInner->_pOwner = this;
    m_pInner->_separator = separator;
}

CPath::CPath(const wchar_t* text, wchar_t separator) : CPath(separator) {
    Normalise(text);
}

CPath::CPath(const char* text, wchar_t separator) : CPath(separator) {
    Normalise(CWString(text).c_str());
}

// The components are copied: the same as normalising the text again, cheaper.
CPath::CPath(const CPath& other) : m_pInner(detail::CopyInner(other.m_pInner, this)) {}

CPath::CPath(CPath&& other) noexcept : m_pInner(detail::TakeInner(other.m_pInner, this)) {}

CPath::~CPath() = default;

CPath& CPath::operator=(const CPath& other) {
    m_pInner = detail::CopyInner(other.m_pInner, this);
    return *this;
}

CPath& CPath::operator=(CPath&& other) noexcept {
    m_pInner = detail::TakeInner(other.m_pInner, this);
    return *this;
}

CPath& CPath::operator=(const wchar_t* text) {
    CPath path(text, L'\\');
    return *this = std::move(path);
}

// Components from the left, '.' and '..' resolved on a stack. Then what
// would read differently from the joined text goes: empty components at the
// end (the text would end in a separator) and, outside a network path, at the
// start (it would start with one), and a first component that the text would
// split into a drive and a name ('C:x' exposed by 'a\..\C:x').
void CPath::Normalise(const wchar_t* text) {
    Inner& s = *m_pInner;
    s._text.Clear();
    s._components.clear();
    if (!text || !*text)
        return;
    // A single leading separator names no drive and no server.
    if (IsSeparator(text[0]) && !IsSeparator(text[1]))
        return;
    const bool network = IsSeparator(text[0]);
    size_t end = std::wcslen(text);
    if (IsSeparator(text[end - 1]))
        --end;

    std::vector<CWString>& parts = s._components;
    size_t pos = 0;
    if (network) {
        pos = 2;
    } else if (end >= 2 && text[1] == L':') {
        parts.emplace_back(text, 2);
        pos = (end > 2 && IsSeparator(text[2])) ? 3 : 2;
    }
    // Exact texts: under natural order '.0' would equal '.' and vanish.
    auto take = [&parts](const wchar_t* p, size_t n) {
        if (n == 1 && p[0] == L'.')
            return true;
        if (n == 2 && p[0] == L'.' && p[1] == L'.') {
            if (parts.empty())
                return false;  // above the first component
            parts.pop_back();
            return true;
        }
        parts.emplace_back(p, n);
        return true;
    };
    for (size_t start = pos;; ++pos) {
        if (pos < end && !IsSeparator(text[pos]))
            continue;
        if (!take(text + start, pos < start ? 0 : pos - start)) {
            parts.clear();
            return;
        }
        if (pos >= end)
            break;
        start = pos + 1;
    }

    while (!parts.empty() && parts.back().IsEmpty())
        parts.pop_back();
    size_t first = 0;
    while (!network && first < parts.size()) {
        const CWString& front = parts[first];
        const wchar_t* p = front.c_str();
        if (front.IsEmpty() || (front.Length() == 4 && p[1] == L':' && p[2] == L'.' && p[3] == L'.')) {
            ++first;
            continue;
        }
        if (front.Length() > 2 && p[1] == L':') {
            CWString name(p + 2, front.Length() - 2);
            parts[first] = CWString(p, 2);
            if (name.Length() != 1 || name.c_str()[0] != L'.')
                parts.insert(parts.begin() + first + 1, std::move(name));
        }
        break;
    }
    parts.erase(parts.begin(), parts.begin() + first);
    if (network && !parts.empty())
        parts.front() = CWString(L"\\\\") + parts.front();
    s._text = Sub(0, parts.size());
}

const wchar_t* CPath::c_str() const noexcept {
    return m_pInner ? m_pInner->_text.c_str() : L"";
}
bool CPath::IsEmpty() const noexcept {
    return m_pInner ? m_pInner->_text.IsEmpty() : true;
}
size_t CPath::Count() const noexcept {
    return m_pInner ? m_pInner->_components.size() : 0;
}
wchar_t CPath::Separator() const noexcept {
    return m_pInner ? m_pInner->_separator : L'\\';
}

const CWString& CPath::Component(size_t index) const {
    return index < Count() ? m_pInner->_components[index] : EmptyText();
}

CWString CPath::Sub(size_t start, size_t count) const {
    CWString out;
    size_t total = Count();
    if (start >= total || count == 0)
        return out;
    count = std::min(count, total - start);
    wchar_t separator = m_pInner->_separator;
    for (size_t i = start; i < start + count; ++i) {
        if (i > start)
            out += separator;
        out += m_pInner->_components[i];
    }
    return out;
}

CWString CPath::Head(size_t n) const {
    return Sub(0, n);
}

CWString CPath::Tail(size_t n) const {
    return n <= Count() ? Sub(Count() - n, n) : CWString();
}

CPath CPath::operator/(const wchar_t* text) const {
    if (IsEmpty())
        return CPath(text, Separator());
    CWString joined = m_pInner->_text + m_pInner->_separator;
    joined += text;
    return CPath(joined.c_str(), m_pInner->_separator);
}

CPath CPath::operator/(const char* text) const {
    return *this / CWString(text).c_str();
}

CPath& CPath::operator/=(const wchar_t* text) {
    return *this = *this / text;
}

CPath& CPath::operator/=(const char* text) {
    return *this = *this / text;
}

CWString CPath::Folder() const {
    SplitParts parts = SplitPath(c_str());
    return CWString((parts.drive + parts.dir).c_str());
}

CWString CPath::FileName() const {
    SplitParts parts = SplitPath(c_str());
    return CWString((parts.name + parts.ext).c_str());
}

CWString CPath::Stem() const {
    return CWString(SplitPath(c_str()).name.c_str());
}

CWString CPath::Extension() const {
    return CWString(SplitPath(c_str()).ext.c_str());
}

bool operator==(const CPath& a, const CPath& b) noexcept {
    size_t n = a.Count();
    if (n != b.Count())
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (CompareNatural(a.m_pInner->_components[i].c_str(), b.m_pInner->_components[i].c_str()) != 0)
            return false;
    }
    return true;
}

bool operator<(const CPath& a, const CPath& b) noexcept {
    size_t n = std::min(a.Count(), b.Count());
    for (size_t i = 0; i < n; ++i) {
        int order = CompareNatural(a.m_pInner->_components[i].c_str(), b.m_pInner->_components[i].c_str());
        if (order != 0)
            return order < 0;
    }
    return a.Count() < b.Count();
}

}  // namespace qel
