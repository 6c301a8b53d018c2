// WriteDescription: one node per line (or one element with its short text),
// tab indentation, CR LF, attributes wrapped before the line grows too long.
#include <cstring>
#include <cwchar>

#include "esl_description_internal.h"

namespace {

using esl_description::ByteBuffer;
using esl_description::UnitBuffer;

// Lines are gathered and encoded in pieces of about this many units; a
// piece always ends at a line end, so that stateful encodings close there.
constexpr std::size_t kFlushUnits = 32768;

class Writer {
public:
    Writer(ESLFileObject& file, int nEncoding, bool bDialect) noexcept
        : m_file(file), m_nEncoding(nEncoding), m_bDialect(bDialect) {
        m_wide.Reserve(kFlushUnits + 1024);
    }

    // False when a tag, an attribute name or a comment (or, in the dialect,
    // a value) holds a unit that the encoding cannot carry and that has no
    // escape there.
    bool CanWrite(const EDescription& node) noexcept;

    void WriteBytes(const char* p, std::size_t n) noexcept {
        if (m_err || n == 0)
            return;
        if (m_file.Write(p, static_cast<DWORD>(n)) != n)
            m_err = eslErrorGeneral;
        m_nWritten += n;
    }
    void WriteNode(const EDescription& node, int nDepth) noexcept;
    ESLError Finish() noexcept {
        Flush();
        return m_err;
    }

private:
    void Put(wchar_t c) noexcept {
        if (!m_wide.PushBack(c))
            m_err = eslErrorGeneral;
    }
    void Put(const wchar_t* p, std::size_t n) noexcept {
        if (!m_wide.Append(p, n))
            m_err = eslErrorGeneral;
    }
    void Put(const EWideString& wstr) noexcept { Put(wstr.CharPtr(), wstr.GetLength()); }
    void PutDecimal(unsigned value) noexcept {
        wchar_t digits[8];
        int n = 0;
        do {
            digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value);
        while (n)
            Put(digits[--n]);
    }
    void StartLine(int nDepth) noexcept {
        m_nLineStart = m_wide.Size();
        for (int i = 0; i < nDepth; ++i)
            Put(L'\t');
    }
    void EndLine() noexcept {
        Put(L"\r\n", 2);
        if (m_wide.Size() >= kFlushUnits)
            Flush();
        m_nLineStart = m_wide.Size();
    }
    void Flush() noexcept {
        if (!m_err && !m_wide.IsEmpty()) {
            m_bytes.Clear();
            const ESLError err = esl_description::EncodeText(m_nEncoding, m_wide.Data(), m_wide.Size(), m_bytes);
            if (err)
                m_err = err;
            else
                WriteBytes(m_bytes.Data(), m_bytes.Size());
        }
        m_wide.Clear();
        m_nLineStart = 0;
    }
    bool Carries(wchar_t c) const noexcept { return esl_description::Carries(m_nEncoding, c); }
    bool Carries(const EWideString& wstr) const noexcept {
        for (int i = 0; i < wstr.GetLength(); ++i) {
            if (!Carries(wstr.CharPtr()[i]))
                return false;
        }
        return true;
    }
    // Units that XML escaping or the encoding changes.
    bool Plain(wchar_t c) noexcept {
        return (c > 0x20) && (c != L'<') && (c != L'>') && (c != L'"') && (c != L'&') && Carries(c);
    }
    void PutReference(wchar_t c) noexcept {
        Put(L"&#", 2);
        PutDecimal(c);
        Put(L';');
    }
    bool EscapeSpecial(wchar_t c) noexcept;
    void PutText(const EWideString& wstr, int nDepth) noexcept;
    void EscapeValue(const EWideString& wstr, UnitBuffer& out) noexcept;
    void PutComment(const EWideString& text) noexcept;
    void PutElement(const EDescription& node, int nDepth) noexcept;

    ESLFileObject& m_file;
    const int m_nEncoding;
    const bool m_bDialect;
    ESLError m_err = eslErrorSuccess;
    UnitBuffer m_wide;
    ByteBuffer m_bytes;
    UnitBuffer m_value;
    std::size_t m_nLineStart = 0;
    std::size_t m_nWritten = 0;  // bytes
};

bool Writer::CanWrite(const EDescription& node) noexcept {
    if (!Carries(node.GetTag()) || (node.IsComment() && !Carries(node.GetText())))
        return false;
    for (int i = 0; i < node.GetAttrCount(); ++i) {
        const EDescription::Attribute* pAttr = node.GetAttrAt(i);
        if (!Carries(pAttr->name))
            return false;
        // Dialect values escape up to three hexadecimal digits.
        for (int j = 0; m_bDialect && j < pAttr->value.GetLength(); ++j) {
            const wchar_t c = pAttr->value.CharPtr()[j];
            if (c > 0xFFF && !Carries(c))
                return false;
        }
    }
    for (int i = 0; i < node.GetContentCount(); ++i) {
        if (!CanWrite(*node.GetContentAt(i)))
            return false;
    }
    return true;
}

// "&#N;" for units up to the space and those the encoding cannot carry,
// entities for the four specials.
bool Writer::EscapeSpecial(wchar_t c) noexcept {
    if (c <= 0x20 || !Carries(c)) {
        PutReference(c);
        return true;
    }
    for (const esl_description::Entity& e : esl_description::kEntities) {
        if (e.ch == c) {
            Put(L'&');
            Put(e.pwszName, std::wcslen(e.pwszName));
            Put(L';');
            return true;
        }
    }
    return false;
}

void Writer::PutText(const EWideString& wstr, int nDepth) noexcept {
    const wchar_t* p = wstr.CharPtr();
    const wchar_t* const pEnd = p + wstr.GetLength();
    // U+3F3C U+6D78 are the UTF-16 bytes "<?xm": at the start of a file they
    // would be taken for a declaration.
    if (p < pEnd && *p == 0x3F3C && m_nEncoding == EDescription::encodingUTF16 && m_nWritten == 0 && m_wide.IsEmpty())
        PutReference(*p++);
    while (p < pEnd) {
        const wchar_t* pRun = p;
        while ((p < pEnd) && Plain(*p))
            ++p;
        Put(pRun, p - pRun);
        if (p == pEnd)
            break;
        const wchar_t c = *p++;
        EscapeSpecial(c);
        if (c == L'\n') {
            // The text goes on as a new line; reading drops the line break
            // and the indentation but keeps the "&#10;".
            EndLine();
            StartLine(nDepth);
        }
    }
}

void Writer::EscapeValue(const EWideString& wstr, UnitBuffer& out) noexcept {
    out.Clear();
    const wchar_t* const p = wstr.CharPtr();
    const std::size_t n = wstr.GetLength();
    UnitBuffer& target = m_wide;
    const std::size_t nMark = target.Size();
    for (std::size_t i = 0; i < n; ++i) {
        const wchar_t c = p[i];
        if (!m_bDialect) {
            if (!EscapeSpecial(c))
                Put(c);
            continue;
        }
        const wchar_t* pUnit = std::wmemchr(esl_description::kDialectUnits, c, esl_description::kDialectLettersWritten);
        if (pUnit) {
            Put(L'\\');
            Put(esl_description::kDialectLetters[pUnit - esl_description::kDialectUnits]);
            continue;
        }
        if (c < 0x20 || c == L'"' || c == L'\'' || !Carries(c)) {
            static const wchar_t kHex[] = L"0123456789ABCDEF";
            Put(L"\\x", 2);
            // The reader takes up to three digits.
            if (c > 0xFF || (i + 1 < n && esl_description::HexDigitValue(p[i + 1]) >= 0))
                Put(kHex[(c >> 8) & 15]);
            Put(kHex[(c >> 4) & 15]);
            Put(kHex[c & 15]);
        } else {
            Put(c);
        }
    }
    // Escaped at the end of the line buffer, then moved out of it.
    if (!out.Append(target.Data() + nMark, target.Size() - nMark))
        m_err = eslErrorGeneral;
    target.Resize(nMark);
}

// A comment as the reader takes it back: one that does not end where its
// text does (made through the tree, not read) is closed, and a "-->" inside
// it is broken, so that nothing after it is swallowed or becomes markup.
void Writer::PutComment(const EWideString& text) noexcept {
    const wchar_t* const p = text.CharPtr();
    const std::size_t n = text.GetLength();
    Put(L'<');
    const bool bOpened = n >= 3 && std::wmemcmp(p, L"!--", 3) == 0;
    if (bOpened && esl_description::CommentEnd(p, n) == n) {
        Put(p, n);
        return;
    }
    Put(L"!--", 3);
    const std::size_t nStart = bOpened ? 3 : 0;
    std::size_t nEnd = n;
    if (nEnd >= nStart + 3 && std::wmemcmp(p + nEnd - 3, L"-->", 3) == 0)
        nEnd -= 3;
    int nDashes = 0;
    for (std::size_t i = nStart; i < nEnd; ++i) {
        if (p[i] == L'>' && nDashes >= 2)
            Put(L' ');
        nDashes = p[i] == L'-' ? nDashes + 1 : 0;
        Put(p[i]);
    }
    Put(L"-->", 3);
}

void Writer::PutElement(const EDescription& node, int nDepth) noexcept {
    const EWideString& tag = node.GetTag();
    StartLine(nDepth);
    Put(L'<');
    // "</", "<!" and "<?" start other markup: a space keeps the tag a tag.
    if (tag.GetLength() && (tag[0] == L'/' || tag[0] == L'!' || tag[0] == L'?'))
        Put(L' ');
    Put(tag);
    const std::ptrdiff_t nLimit = 80 - 7 * static_cast<std::ptrdiff_t>(nDepth);
    for (int i = 0; i < node.GetAttrCount(); ++i) {
        const EDescription::Attribute* pAttr = node.GetAttrAt(i);
        EscapeValue(pAttr->value, m_value);
        const std::size_t nLine = m_wide.Size() - m_nLineStart;
        if (static_cast<std::ptrdiff_t>(nLine + m_value.Size() + pAttr->name.GetLength() + 4) >= nLimit) {
            EndLine();
            StartLine(nDepth);
            Put(L' ');
        }
        Put(L' ');
        Put(pAttr->name);
        Put(L"=\"", 2);
        Put(m_value.Data(), m_value.Size());
        Put(L'"');
    }
    const int nContents = node.GetContentCount();
    if (nContents == 0) {
        // "<=/>" would read as the tag "=/".
        if (!node.GetAttrCount() && esl_description::ClassOf(tag[tag.GetLength() - 1]) == esl_description::kOperator)
            Put(L' ');
        Put(L"/>", 2);
        EndLine();
        return;
    }
    const EDescription* pOnly = nContents == 1 ? node.GetContentAt(0) : nullptr;
    if (pOnly && pOnly->IsText()) {
        const EWideString& text = pOnly->GetText();
        const wchar_t* p = text.CharPtr();
        const wchar_t* const pEnd = p + text.GetLength();
        bool bOneLine = true;
        for (; p < pEnd; ++p) {
            if (*p == L'\r' || *p == L'\n') {
                bOneLine = false;
                break;
            }
        }
        if (bOneLine) {
            Put(L'>');
            PutText(text, nDepth);
            Put(L"</", 2);
            Put(tag);
            Put(L'>');
            EndLine();
            return;
        }
    }
    Put(L'>');
    EndLine();
    for (int i = 0; i < nContents && !m_err; ++i)
        WriteNode(*node.GetContentAt(i), nDepth + 1);
    StartLine(nDepth);
    Put(L"</", 2);
    Put(tag);
    Put(L'>');
    EndLine();
}

void Writer::WriteNode(const EDescription& node, int nDepth) noexcept {
    if (m_err)
        return;
    const EWideString& tag = node.GetTag();
    if (tag.IsEmpty()) {
        if (node.GetContentCount() == 0) {
            StartLine(nDepth);
            PutText(node.GetText(), nDepth);
            EndLine();
            return;
        }
        // The root: its contents at its own depth.
        for (int i = 0; i < node.GetContentCount() && !m_err; ++i)
            WriteNode(*node.GetContentAt(i), nDepth);
        return;
    }
    if (node.IsComment()) {
        StartLine(nDepth);
        PutComment(node.GetText());
        EndLine();
        return;
    }
    PutElement(node, nDepth);
}

}  // namespace

ESLError EDescription::WriteDescription(ESLFileObject& file, int nIndent, DWORD dwFlags, int nEncoding) const noexcept {
    if (nEncoding < encodingShiftJIS || nEncoding > encodingUTF16)
        return reinterpret_cast<ESLError>(kDescriptionBadEncoding);
    Writer writer(file, nEncoding, dwFlags == flagDescription);
    if (!writer.CanWrite(*this))
        return reinterpret_cast<ESLError>(kDescriptionUncarriedUnit);
    if (dwFlags == flagXMLDeclaration) {
        // 8-bit bytes whatever the encoding of what follows.
        const char* pszName = esl_description::GetEncodingName(nEncoding);
        writer.WriteBytes("<?xml version=\"1.0\" encoding=\"", 30);
        writer.WriteBytes(pszName, std::strlen(pszName));
        writer.WriteBytes("\"?>\r\n", 5);
    }
    writer.WriteNode(*this, nIndent < 0 ? 0 : nIndent);
    return writer.Finish();
}
