// The foundation library's document tree: a node with a tag, attributes kept
// sorted by name and an ordered list of child nodes, read from and written to
// XML or the library's own description dialect (the same markup with
// backslash escapes in attribute values).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "esl_error.h"
#include "esl_file.h"
#include "esl_heap.h"
#include "esl_object.h"
#include "esl_stream.h"
#include "esl_string.h"

// A growing array on the global heap that never throws: a failed allocation
// is a false result and leaves the array as it was. Elements must be movable
// without throwing.
template <class T>
class EGenArray {
    static_assert(std::is_nothrow_move_constructible<T>::value, "elements move without throwing");

public:
    EGenArray() noexcept = default;
    EGenArray(const EGenArray&) = delete;
    EGenArray& operator=(const EGenArray&) = delete;
    ~EGenArray() {
        Clear();
        if (m_ptr)
            eslHeapFree(nullptr, m_ptr, 0);
    }

    std::size_t Size() const noexcept { return m_nSize; }
    bool IsEmpty() const noexcept { return m_nSize == 0; }
    T* Data() noexcept { return m_ptr; }
    const T* Data() const noexcept { return m_ptr; }
    T& operator[](std::size_t i) noexcept { return m_ptr[i]; }
    const T& operator[](std::size_t i) const noexcept { return m_ptr[i]; }
    T* begin() noexcept { return m_ptr; }
    T* end() noexcept { return m_ptr + m_nSize; }
    const T* begin() const noexcept { return m_ptr; }
    const T* end() const noexcept { return m_ptr + m_nSize; }

    bool Reserve(std::size_t nCapacity) noexcept {
        if (nCapacity <= m_nCapacity)
            return true;
        if (nCapacity > 0x7FFFFFF0u / sizeof(T))
            return false;
        const DWORD dwBytes = static_cast<DWORD>(nCapacity * sizeof(T));
        T* ptrNew;
        if (std::is_trivially_copyable<T>::value) {
            ptrNew = static_cast<T*>(eslHeapReallocate(nullptr, m_ptr, dwBytes, 0));
            if (!ptrNew)
                return false;
        } else {
            ptrNew = static_cast<T*>(eslHeapAllocate(nullptr, dwBytes, 0));
            if (!ptrNew)
                return false;
            for (std::size_t i = 0; i < m_nSize; ++i) {
                new (ptrNew + i) T(std::move(m_ptr[i]));
                m_ptr[i].~T();
            }
            if (m_ptr)
                eslHeapFree(nullptr, m_ptr, 0);
        }
        m_ptr = ptrNew;
        m_nCapacity = nCapacity;
        return true;
    }
    // Room for nMore elements after the last, by the growth rule n + n/2 + 1.
    bool Expect(std::size_t nMore) noexcept {
        const std::size_t nNeed = m_nSize + nMore;
        if (nNeed <= m_nCapacity)
            return true;
        if (nNeed < m_nSize)
            return false;
        const std::size_t nGrown = nNeed + nNeed / 2 + 1;
        return Reserve(nGrown) || Reserve(nNeed);
    }
    bool PushBack(T&& value) noexcept {
        if (!Expect(1))
            return false;
        new (m_ptr + m_nSize) T(std::move(value));
        ++m_nSize;
        return true;
    }
    bool PushBack(const T& value) noexcept {
        T copy(value);
        return PushBack(std::move(copy));
    }
    // Copies of n trivially copyable elements at the end.
    bool Append(const T* ptr, std::size_t n) noexcept {
        static_assert(std::is_trivially_copyable<T>::value, "only for plain units");
        if (!Expect(n))
            return false;
        if (n)
            std::memcpy(m_ptr + m_nSize, ptr, n * sizeof(T));
        m_nSize += n;
        return true;
    }
    bool Insert(std::size_t nIndex, T&& value) noexcept {
        if (nIndex >= m_nSize)
            return PushBack(std::move(value));
        if (!Expect(1))
            return false;
        new (m_ptr + m_nSize) T(std::move(m_ptr[m_nSize - 1]));
        for (std::size_t i = m_nSize - 1; i > nIndex; --i)
            m_ptr[i] = std::move(m_ptr[i - 1]);
        m_ptr[nIndex] = std::move(value);
        ++m_nSize;
        return true;
    }
    void Erase(std::size_t nIndex) noexcept {
        if (nIndex >= m_nSize)
            return;
        for (std::size_t i = nIndex; i + 1 < m_nSize; ++i)
            m_ptr[i] = std::move(m_ptr[i + 1]);
        m_ptr[--m_nSize].~T();
    }
    T PopBack() noexcept {
        T value(std::move(m_ptr[m_nSize - 1]));
        m_ptr[--m_nSize].~T();
        return value;
    }
    // Plain units only: the new ones are left as they are.
    bool Resize(std::size_t n) noexcept {
        static_assert(std::is_trivially_copyable<T>::value, "only for plain units");
        if (!Reserve(n))
            return false;
        m_nSize = n;
        return true;
    }
    void Clear() noexcept {
        while (m_nSize)
            m_ptr[--m_nSize].~T();
    }
    void Swap(EGenArray& other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        std::swap(m_nSize, other.m_nSize);
        std::swap(m_nCapacity, other.m_nCapacity);
    }

private:
    T* m_ptr = nullptr;
    std::size_t m_nSize = 0;
    std::size_t m_nCapacity = 0;
};

class EDescription : public ESLObject {
public:
    ESL_RUNTIME_CLASS("EDescription", ESLObject);

    // ReadDescription modes.
    enum : int {
        modeXML = 0,
        modeDescription = 1,
        modeAuto = 2,
    };
    // Character encodings of ReadDescription and WriteDescription.
    enum : int {
        encodingShiftJIS = 0,
        encodingUTF8 = 1,
        encodingISO2022JP = 2,
        encodingEUCJP = 3,
        encodingUTF16 = 4,
    };
    // WriteDescription flags: 0 is XML without the declaration.
    enum : DWORD {
        flagDescription = 1,
        flagXMLDeclaration = 2,
    };
    // Elements nested deeper than this are a markup error: the reader is
    // recursive and must not run out of stack on a hostile file.
    static constexpr int kMaxNestingDepth = 1000;

    struct Attribute {
        EWideString name;
        EWideString value;
    };

    EDescription() noexcept = default;
    EDescription(const EDescription&) = delete;
    EDescription& operator=(const EDescription&) = delete;
    ~EDescription() override;

    //--- virtual operations, in this slot order
    // A new empty node: the parser and the section lookup make every child
    // through this, so that a derived tree holds its own node type. Null when
    // memory runs out.
    virtual EDescription* CreateDescription() noexcept;
    // The reader's reports (8-bit text). The base drops them and returns 0.
    virtual ESLError ReportMarkupError(const char* pszMessage) noexcept;
    virtual ESLError ReportCharacterError(const char* pszMessage) noexcept;
    // The value scanned as a number; the default when missing or not a number.
    virtual int GetAttrInteger(const wchar_t* pwszName, int nDefault) const noexcept;
    virtual double GetAttrReal(const wchar_t* pwszName, double rDefault) const noexcept;
    // The value, or the default (null: empty) when the attribute is missing.
    virtual void GetAttrString(EWideString& wstrValue, const wchar_t* pwszName,
                               const wchar_t* pwszDefault = nullptr) const noexcept;
    // -32768..32768 in signed decimal, anything else as eight upper-case
    // hexadecimal digits and "H" (a "0" in front when the first is a letter).
    virtual ESLError SetAttrInteger(const wchar_t* pwszName, int nValue) noexcept;
    virtual ESLError SetAttrReal(const wchar_t* pwszName, double rValue) noexcept;
    virtual ESLError SetAttrString(const wchar_t* pwszName, const EWideString& wstrValue) noexcept;

    //--- the node
    EDescription* GetParent() const noexcept { return m_pParent; }
    void SetParent(EDescription* pParent) noexcept { m_pParent = pParent; }
    const EWideString& GetTag() const noexcept { return m_wstrTag; }
    ESLError SetTag(const wchar_t* pwszTag, int nLength = -1) noexcept;
    const EWideString& GetText() const noexcept { return m_wstrText; }
    // The text may hold zero units.
    ESLError SetText(const wchar_t* pwszText, int nLength = -1) noexcept;
    ESLError SetText(const EWideString& wstrText) noexcept;
    bool IsComment() const noexcept;
    // An empty tag and no contents.
    bool IsText() const noexcept { return m_wstrTag.IsEmpty() && m_contents.IsEmpty(); }
    // Tag "!--", text "!--" + body + "-->".
    ESLError SetAsComment(const wchar_t* pwszBody) noexcept;

    //--- attributes, sorted by name in ascending order of UTF-16 units
    int GetAttrCount() const noexcept { return static_cast<int>(m_attributes.Size()); }
    const Attribute* GetAttrAt(int nIndex) const noexcept;
    // The index of the name, or -1.
    int FindAttr(const wchar_t* pwszName) const noexcept;
    bool HasAttr(const wchar_t* pwszName) const noexcept { return FindAttr(pwszName) >= 0; }
    // Null when missing.
    const EWideString* GetAttrValue(const wchar_t* pwszName) const noexcept;
    void RemoveAttr(const wchar_t* pwszName) noexcept;
    void RemoveAllAttrs() noexcept { m_attributes.Clear(); }
    // Replaces all attributes; names unique and sorted. For the reader.
    ESLError SetSortedAttrs(EGenArray<Attribute>& attributes) noexcept;

    //--- contents, in document order
    int GetContentCount() const noexcept { return static_cast<int>(m_contents.Size()); }
    // Null when out of range.
    EDescription* GetContentAt(int nIndex) const noexcept;
    // The first content at or after nStart whose tag equals pwszTag without
    // regard to ASCII letter case (null: the first with an empty tag); -1.
    int FindContentTag(const wchar_t* pwszTag, int nStart = 0) const noexcept;
    // That content, or a new one with that tag appended; null when memory runs out.
    EDescription* GetContentTag(const wchar_t* pwszTag) noexcept;
    // The node becomes owned by this one (and its parent is set); on failure
    // it is deleted.
    ESLError AddContent(EDescription* pContent) noexcept;
    ESLError InsertContent(int nIndex, EDescription* pContent) noexcept;
    // Deletes the content.
    void RemoveContentAt(int nIndex) noexcept;
    void RemoveAllContents() noexcept;
    // Splits the path at each backslash and descends by tag from this node,
    // creating missing nodes; the last node, or null when memory runs out.
    EDescription* GetOrCreateSection(const wchar_t* pwszPath) noexcept;

    //--- text
    // Consumes all bytes of sbuf. Result 0, 1 after a markup error, or the
    // bad-encoding message. Replaces this node's attributes and contents.
    ESLError ReadDescription(EStreamBuffer& sbuf, int nMode = modeAuto, int nEncoding = encodingShiftJIS) noexcept;
    // flags: flagXMLDeclaration, flagDescription or 0. Result 0, the
    // bad-encoding or uncarried-unit message, or eslErrorGeneral when the
    // file took fewer bytes.
    ESLError WriteDescription(ESLFileObject& file, int nIndent = 0, DWORD dwFlags = flagXMLDeclaration,
                              int nEncoding = encodingUTF8) const noexcept;

private:
    EDescription* m_pParent = nullptr;
    EWideString m_wstrTag;
    EWideString m_wstrText;
    EGenArray<Attribute> m_attributes;
    EGenArray<EDescription*> m_contents;
};

// The 8-bit message that ReadDescription and WriteDescription return for an
// encoding number they do not know.
extern const char kDescriptionBadEncoding[];
// The message that WriteDescription returns, before writing anything, when a
// tag, an attribute name or a comment holds a unit that the encoding cannot
// carry (text and values escape such units instead).
extern const char kDescriptionUncarriedUnit[];
