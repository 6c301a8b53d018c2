// Named values of a program in one section of an XML file:
//   <serialization><SECTION><_NAME type="integer" value="..."/>...</SECTION></serialization>
// Integers and strings carry "value"; booleans are the strings "true" and
// "false"; enumerations are strings named by a caller's table of
// (value, name) rows; arrays hold "element" objects with an "obj_name".
#pragma once

#include <deque>
#include <string>
#include <type_traits>

#include "esl_description.h"
#include "esl_string.h"

namespace qel {

namespace serialization_detail {

inline const wchar_t* NameOf(const wchar_t* pwsz) noexcept {
    return pwsz ? pwsz : L"";
}
inline const wchar_t* NameOf(const std::wstring& wstr) noexcept {
    return wstr.c_str();
}
inline const wchar_t* NameOf(const EWideString& wstr) noexcept {
    return wstr.CharPtr();
}

// The tag of a value element: "_" followed by the name.
EWideString ValueTag(const char* pszName);

}  // namespace serialization_detail

class CSerializationReader {
public:
    // Raises CException when the file cannot be opened, read or parsed.
    CSerializationReader(const char* pszFilePath, const char* pszSection);
    CSerializationReader(const CSerializationReader&) = delete;
    CSerializationReader& operator=(const CSerializationReader&) = delete;
    ~CSerializationReader();

    // Each leaves the value unchanged when the element is missing, has
    // another "type", or holds no usable value.
    void ReadInteger(const char* pszName, int& nValue) const;
    template <class I, class = typename std::enable_if<std::is_integral<I>::value && sizeof(I) <= 4>::type>
    void ReadInteger(const char* pszName, I& value) const {
        int n = static_cast<int>(value);
        ReadInteger(pszName, n);
        value = static_cast<I>(n);
    }
    void ReadString(const char* pszName, EWideString& wstrValue) const;
    // Only "true" and "false", exactly.
    void ReadBool(const char* pszName, bool& bValue) const;
    // The first row of the table whose name equals the stored string; rows
    // have .first (the value) and .second (the name).
    template <class E, class Table>
    void ReadEnum(const char* pszName, E& value, const Table& table) const {
        EWideString wstrName;
        if (!ReadStringIfPresent(pszName, wstrName))
            return;
        for (const auto& row : table) {
            if (wstrName == serialization_detail::NameOf(row.second)) {
                value = static_cast<E>(row.first);
                return;
            }
        }
    }

    // 0 and the array becomes the current node, or 1.
    int BeginArray(const char* pszName);
    // Every content of the current node, text and comments included.
    int GetCount() const;
    // 0 and the item becomes the current node, or 1 when the content at that
    // index is missing, is no "object" or has another "obj_name".
    int BeginObject(int nIndex, const char* pszObjName);
    // Back to the node that was current before; nothing on an empty stack.
    void End();

private:
    const EDescription* FindValue(const char* pszName, const wchar_t* pwszType) const;
    bool ReadStringIfPresent(const char* pszName, EWideString& wstrValue) const;

    EDescription m_desc;
    std::deque<EDescription*> m_stack;
};

class CSerializationWriter {
public:
    // Loads the file when it can (a missing or broken file is no error: what
    // was parsed of it is kept); raises only when the section cannot be made.
    CSerializationWriter(const char* pszFilePath, const char* pszSection);
    CSerializationWriter(const CSerializationWriter&) = delete;
    CSerializationWriter& operator=(const CSerializationWriter&) = delete;
    // Writes the whole document back (UTF-8 with the declaration); never raises.
    ~CSerializationWriter();

    // A comment, when given, is kept in a comment node just before the value.
    void WriteInteger(const char* pszName, int nValue, const wchar_t* pwszComment = nullptr);
    template <class I, class = typename std::enable_if<std::is_integral<I>::value && sizeof(I) <= 4>::type>
    void WriteInteger(const char* pszName, I value, const wchar_t* pwszComment = nullptr) {
        WriteInteger(pszName, static_cast<int>(value), pwszComment);
    }
    void WriteString(const char* pszName, const EWideString& wstrValue, const wchar_t* pwszComment = nullptr);
    void WriteBool(const char* pszName, bool bValue, const wchar_t* pwszComment = nullptr);
    // The name of the first row with that value, or "" when none has it.
    template <class E, class Table>
    void WriteEnum(const char* pszName, E value, const Table& table, const wchar_t* pwszComment = nullptr) {
        const wchar_t* pwszName = L"";
        for (const auto& row : table) {
            if (static_cast<long long>(row.first) == static_cast<long long>(value)) {
                pwszName = serialization_detail::NameOf(row.second);
                break;
            }
        }
        WriteString(pszName, EWideString(pwszName), pwszComment);
    }

    // Empties (or creates) the array element and makes it current.
    void BeginArray(const char* pszName, const wchar_t* pwszComment = nullptr);
    // Appends an "element" object and makes it current.
    void BeginObject(const char* pszObjName);
    void End();

private:
    EDescription* FindValue(const char* pszName, const wchar_t* pwszComment);

    EString m_strFilePath;
    EDescription m_desc;
    std::deque<EDescription*> m_stack;
};

}  // namespace qel
