// ReadDescription: the declaration scan, decoding, and a recursive parser
// over the decoded UTF-16 units.
#include <algorithm>
#include <cstring>
#include <memory>

#include "esl_description_internal.h"

namespace {

using esl_description::IsSpace;
using esl_description::UnitBuffer;

const char kMsgNoCloseBracket[] = "> の閉じ括弧がありません。";
const char kMsgNoMatchingTag[] = "> に対応するタグがありません。";
const char kMsgBadSlash[] = "書式中に不正な / 記号を見つけました。";
const char kMsgBadAttrHead[] = "> タグに不正なタグ属性 '";
const char kMsgBadAttrTail[] = "' が指定されています。";
const char kMsgTooDeep[] = "要素の入れ子が深すぎます。";
const char kMsgBadCharCode[] = "&#xxx; 構文で文字コードの指定が不正です。\n";
const char kMsgCharCodeNoSemicolon[] = "&#xxx; 構文がセミコロンで閉じられていません。\n";
const char kMsgBareAmpersand[] = "& 記号は &amp; と記述しなければなりません。\n";
const char kMsgEntityNoSemicolon[] = "特殊文字の終端はセミコロンで終わらなければなりません。\n";

wchar_t FindEntity(const wchar_t* p, std::size_t n) noexcept {
    for (const esl_description::Entity& e : esl_description::kEntities) {
        if (std::wcslen(e.pwszName) == n && std::wmemcmp(e.pwszName, p, n) == 0)
            return e.ch;
    }
    return 0;
}

using esl_description::CharClass;
using esl_description::ClassOf;
using esl_description::kName;
using esl_description::kSpace;
using esl_description::kSymbol;

struct Word {
    const wchar_t* p = nullptr;
    std::size_t n = 0;
    CharClass kind = kSpace;  // kSpace: nothing before the end
};

struct PendingAttr {
    const wchar_t* pName;
    std::size_t nName;
    std::size_t nValueStart;  // in the value buffer
    std::size_t nValueLength;
};

class Parser {
public:
    Parser(const wchar_t* p, std::size_t n, bool bDialect) noexcept : m_p(p), m_pEnd(p + n), m_bDialect(bDialect) {}

    int ParseContents(EDescription& node, int nDepth) noexcept;

private:
    void SkipSpace() noexcept {
        while (m_p < m_pEnd && IsSpace(*m_p))
            ++m_p;
    }
    Word ReadWord() noexcept;
    // Onto the next target, not consuming it; in the dialect a target inside
    // quotes and a backslash-escaped unit there are stepped over.
    void SkipTo(wchar_t target) noexcept;
    void SkipPast(wchar_t target) noexcept {
        SkipTo(target);
        if (m_p < m_pEnd)
            ++m_p;
    }
    bool FlushPending(EDescription& node) noexcept;
    void ReadEntity(EDescription& node) noexcept;
    void ReadComment(EDescription& node) noexcept;
    // 0 to go on at this level, -1 when this level closed without error,
    // otherwise the result to return at once.
    int ReadClosingTag(EDescription& node, int& nError) noexcept;
    // 0 to go on at this level, otherwise the result to return at once.
    int ReadElement(EDescription& node, int nDepth, int& nError) noexcept;
    bool ReadAttrValue(std::size_t& nStart, std::size_t& nLength) noexcept;
    void DecodeXmlValue(const wchar_t* p, const wchar_t* pEnd) noexcept;
    void DecodeDialectValue(const wchar_t* p, const wchar_t* pEnd) noexcept;
    bool ApplyAttrs(EDescription& node) noexcept;
    void ReportMarkup(EDescription& node, const char* pszHead, const wchar_t* p, std::size_t n,
                      const char* pszTail) noexcept;

    const wchar_t* m_p;
    const wchar_t* const m_pEnd;
    const bool m_bDialect;
    bool m_bOutOfMemory = false;
    // Shared by all levels: a level's text is flushed before a child starts.
    UnitBuffer m_pending;
    EGenArray<PendingAttr> m_attrs;
    UnitBuffer m_values;
    // The next ';' at or after the position last asked about.
    const wchar_t* m_pSemicolon = nullptr;
};

Word Parser::ReadWord() noexcept {
    SkipSpace();
    Word w;
    if (m_p >= m_pEnd)
        return w;
    w.p = m_p;
    w.kind = ClassOf(*m_p);
    if (w.kind == kSymbol) {
        ++m_p;
    } else {
        const CharClass kind = w.kind;
        while (m_p < m_pEnd && ClassOf(*m_p) == kind)
            ++m_p;
    }
    w.n = m_p - w.p;
    return w;
}

void Parser::SkipTo(wchar_t target) noexcept {
    bool bQuoted = false;
    for (; m_p < m_pEnd; ++m_p) {
        const wchar_t c = *m_p;
        if (!bQuoted && c == target)
            return;
        if (!m_bDialect)
            continue;
        if (c == L'"')
            bQuoted = !bQuoted;
        else if (bQuoted && c == L'\\' && m_pEnd - m_p >= 2)
            ++m_p;
    }
}

bool Parser::FlushPending(EDescription& node) noexcept {
    if (m_pending.IsEmpty())
        return true;
    bool bOk = m_pending.Size() <= static_cast<std::size_t>(EWideString::kMaxLength);
    EDescription* pText = bOk ? node.CreateDescription() : nullptr;
    if (pText && pText->SetText(m_pending.Data(), static_cast<int>(m_pending.Size()))) {
        delete pText;
        pText = nullptr;
    }
    bOk = pText && !node.AddContent(pText);  // AddContent deletes it on failure
    m_pending.Clear();
    if (!bOk)
        m_bOutOfMemory = true;
    return bOk;
}

void Parser::ReportMarkup(EDescription& node, const char* pszHead, const wchar_t* p, std::size_t n,
                          const char* pszTail) noexcept {
    EString strMessage(pszHead);
    strMessage += EString(p, static_cast<int>(n));
    strMessage += pszTail;
    node.ReportMarkupError(strMessage.CharPtr());
}

void Parser::ReadEntity(EDescription& node) noexcept {
    ++m_p;  // '&'
    if (m_p < m_pEnd && *m_p == L'#') {
        ++m_p;
        esl_description::ScannedNumber number;
        const wchar_t* pAfter = esl_description::ScanNumber(m_p, m_pEnd, number);
        if (!pAfter) {
            node.ReportCharacterError(kMsgBadCharCode);
            m_pending.Append(L"&#", 2);
            return;
        }
        m_p = pAfter;
        const wchar_t ch = static_cast<wchar_t>(number.nInteger & 0xFFFF);
        m_pending.PushBack(ch);
        if (m_p < m_pEnd && *m_p == L';')
            ++m_p;
        else
            node.ReportCharacterError(kMsgCharCodeNoSemicolon);
        return;
    }
    // Only a name right after the "&" is an entity name: "a & b" keeps its
    // spaces and "&<" leaves the tag alone.
    // (Looked at before reading, so that a run of "&&&..." stays linear.)
    if (m_p >= m_pEnd || ClassOf(*m_p) != kName) {
        node.ReportCharacterError(kMsgBareAmpersand);
        m_pending.PushBack(L'&');
        return;
    }
    Word w = ReadWord();
    const wchar_t ch = FindEntity(w.p, w.n);
    if (!ch) {
        node.ReportCharacterError(kMsgBareAmpersand);
        m_pending.PushBack(L'&');
        m_pending.Append(w.p, w.n);
        return;
    }
    m_pending.PushBack(ch);
    if (m_p < m_pEnd && *m_p == L';')
        ++m_p;
    else
        node.ReportCharacterError(kMsgEntityNoSemicolon);
}

void Parser::ReadComment(EDescription& node) noexcept {
    const wchar_t* const pStart = m_p;  // on the '!'
    const std::size_t nClosed = esl_description::CommentEnd(m_p, m_pEnd - m_p);
    m_p = nClosed ? m_p + nClosed : m_pEnd;
    EWideString text;
    bool bOk = !esl_description::AssignUnits(text, pStart, m_p - pStart);
    // A comment still open at the end of the input is closed here, so that
    // what a writer puts after it is not swallowed on the next read.
    if (bOk && !nClosed)
        bOk = !text.Append(L"-->", 3);
    std::unique_ptr<EDescription> pComment(bOk ? node.CreateDescription() : nullptr);
    if (!pComment || pComment->SetTag(L"!--") || pComment->SetText(text) || !FlushPending(node) ||
        node.AddContent(pComment.release()))
        m_bOutOfMemory = true;
}

int Parser::ReadClosingTag(EDescription& node, int& nError) noexcept {
    ++m_p;  // '/'
    const wchar_t* const pBefore = m_p;
    Word w = ReadWord();
    if (w.kind == kSpace || (w.kind == kSymbol && *w.p == L'>')) {
        m_p = pBefore;  // "</>": no name, the '>' ends it below
        w = Word();
    }
    const EWideString& tag = node.GetTag();
    if (w.n && esl_description::EqualNoCase(w.p, w.n, tag.CharPtr(), tag.GetLength())) {
        SkipSpace();
        if (m_p < m_pEnd && *m_p == L'>') {
            ++m_p;
            return nError ? nError : -1;
        }
        ReportMarkup(node, "</", w.p, w.n, kMsgNoCloseBracket);
        return 1;
    }
    ReportMarkup(node, "</", w.p, w.n, kMsgNoMatchingTag);
    SkipPast(L'>');
    nError = 1;
    return 0;
}

bool Parser::ReadAttrValue(std::size_t& nStart, std::size_t& nLength) noexcept {
    nStart = m_values.Size();
    const wchar_t* pRaw;
    const wchar_t* pRawEnd;
    if (m_p < m_pEnd && *m_p == L'"') {
        pRaw = ++m_p;
        while (m_p < m_pEnd && *m_p != L'"') {
            if (m_bDialect && *m_p == L'\\' && m_pEnd - m_p >= 2)
                ++m_p;
            ++m_p;
        }
        pRawEnd = m_p;
        if (m_p < m_pEnd)
            ++m_p;
    } else {
        const wchar_t* const pBefore = m_p;
        Word w = ReadWord();
        if (w.kind == kSymbol || w.kind == kSpace) {
            // "a=>": the value is empty and the '>' still ends the tag.
            m_p = pBefore;
            nLength = 0;
            return true;
        }
        pRaw = w.p;
        pRawEnd = w.p + w.n;
    }
    if (m_bDialect)
        DecodeDialectValue(pRaw, pRawEnd);
    else
        DecodeXmlValue(pRaw, pRawEnd);
    nLength = m_values.Size() - nStart;
    return !m_bOutOfMemory;
}

void Parser::DecodeXmlValue(const wchar_t* p, const wchar_t* pEnd) noexcept {
    while (p < pEnd) {
        const wchar_t* pAmp = std::find(p, pEnd, L'&');
        if (!m_values.Append(p, pAmp - p)) {
            m_bOutOfMemory = true;
            return;
        }
        if (pAmp == pEnd)
            return;
        // The cached ';' keeps a value full of '&' linear.
        if (!m_pSemicolon || m_pSemicolon <= pAmp)
            m_pSemicolon = std::find(pAmp + 1, pEnd, L';');
        const wchar_t* const pSemi = m_pSemicolon;
        wchar_t ch = 0;
        if (pSemi < pEnd) {
            const wchar_t* q = pAmp + 1;
            const wchar_t* qEnd = pSemi;
            while (q < qEnd && IsSpace(*q))
                ++q;
            while (qEnd > q && IsSpace(qEnd[-1]))
                --qEnd;
            if (qEnd - q >= 2 && *q == L'#' && q[1] >= L'0' && q[1] <= L'9') {
                unsigned value = 0;
                for (++q; q < qEnd && *q >= L'0' && *q <= L'9'; ++q)
                    value = value * 10 + (*q - L'0');
                ch = static_cast<wchar_t>(value & 0xFFFF);
                if (!m_values.PushBack(ch))
                    m_bOutOfMemory = true;
                p = pSemi + 1;
                continue;
            }
            ch = FindEntity(q, qEnd - q);
        }
        if (ch) {
            m_values.PushBack(ch);
            p = pSemi + 1;
        } else {
            m_values.PushBack(L'&');
            p = pAmp + 1;
        }
    }
}

int OctalDigit(wchar_t c) noexcept {
    return (c >= L'0' && c <= L'7') ? c - L'0' : -1;
}

void Parser::DecodeDialectValue(const wchar_t* p, const wchar_t* pEnd) noexcept {
    if (!m_values.Expect(pEnd - p)) {
        m_bOutOfMemory = true;
        return;
    }
    while (p < pEnd) {
        const wchar_t c = *p++;
        if (c != L'\\' || p == pEnd) {
            m_values.PushBack(c);
            continue;
        }
        const wchar_t e = *p;
        if (const wchar_t* pFound = std::wcschr(esl_description::kDialectLetters, e); pFound && e) {
            m_values.PushBack(esl_description::kDialectUnits[pFound - esl_description::kDialectLetters]);
            ++p;
        } else if (e == L'x' && p + 1 < pEnd && esl_description::HexDigitValue(p[1]) >= 0) {
            ++p;
            unsigned value = 0;
            for (int i = 0; i < 3 && p < pEnd && esl_description::HexDigitValue(*p) >= 0; ++i)
                value = value * 16 + esl_description::HexDigitValue(*p++);
            m_values.PushBack(static_cast<wchar_t>(value));
        } else if (OctalDigit(e) >= 0) {
            unsigned value = 0;
            for (int i = 0; i < 3 && p < pEnd && OctalDigit(*p) >= 0; ++i)
                value = value * 8 + OctalDigit(*p++);
            m_values.PushBack(static_cast<wchar_t>(value));
        } else {
            m_values.PushBack(L'\\');  // unknown escapes stay as written
        }
    }
}

bool Parser::ApplyAttrs(EDescription& node) noexcept {
    if (m_attrs.IsEmpty())
        return true;
    // Sorted by name; of equal names the last one read wins.
    auto less = [](const PendingAttr& a, const PendingAttr& b) {
        const std::size_t n = a.nName < b.nName ? a.nName : b.nName;
        for (std::size_t i = 0; i < n; ++i) {
            if (a.pName[i] != b.pName[i])
                return a.pName[i] < b.pName[i];
        }
        return a.nName < b.nName;
    };
    if (m_attrs.Size() <= 16) {
        // The usual few: an insertion sort, stable and without a buffer.
        for (std::size_t i = 1; i < m_attrs.Size(); ++i) {
            const PendingAttr a = m_attrs[i];
            std::size_t j = i;
            for (; j > 0 && less(a, m_attrs[j - 1]); --j)
                m_attrs[j] = m_attrs[j - 1];
            m_attrs[j] = a;
        }
    } else {
        std::stable_sort(m_attrs.begin(), m_attrs.end(), less);
    }
    EGenArray<EDescription::Attribute> attributes;
    bool bOk = attributes.Reserve(m_attrs.Size());
    for (std::size_t i = 0; bOk && i < m_attrs.Size(); ++i) {
        const PendingAttr& a = m_attrs[i];
        if (i + 1 < m_attrs.Size() && !less(a, m_attrs[i + 1]))
            continue;  // a later one of the same name follows
        EDescription::Attribute attr;
        bOk = !esl_description::AssignUnits(attr.name, a.pName, a.nName) &&
              !esl_description::AssignUnits(attr.value, m_values.Data() + a.nValueStart, a.nValueLength) &&
              attributes.PushBack(std::move(attr));
    }
    m_attrs.Clear();
    m_values.Clear();
    if (bOk)
        node.SetSortedAttrs(attributes);
    return bOk;
}

int Parser::ReadElement(EDescription& node, int nDepth, int& nError) noexcept {
    Word tag = ReadWord();
    if (tag.kind == kSpace || (tag.kind == kSymbol && *tag.p == L'>'))
        return 0;  // "<>", or "<" at the end
    std::unique_ptr<EDescription> pChild(node.CreateDescription());
    if (!pChild || pChild->SetTag(tag.p, static_cast<int>(tag.n)) || !FlushPending(node)) {
        m_bOutOfMemory = true;
        return 1;
    }
    EDescription& child = *pChild;
    if (node.AddContent(pChild.release())) {  // deleted on failure
        m_bOutOfMemory = true;
        return 1;
    }
    m_attrs.Clear();
    m_values.Clear();
    while (true) {
        SkipSpace();
        if (m_p >= m_pEnd)
            return ApplyAttrs(child) ? 0 : 1;
        const wchar_t c = *m_p;
        if (c == L'>') {
            ++m_p;
            if (!ApplyAttrs(child))
                return 1;
            return ParseContents(child, nDepth + 1);
        }
        if (c == L'/') {
            ++m_p;
            SkipSpace();
            if (m_p < m_pEnd && *m_p == L'>') {
                ++m_p;
            } else {
                child.ReportMarkupError(kMsgBadSlash);
                nError = 1;
            }
            return ApplyAttrs(child) ? 0 : 1;
        }
        Word name = ReadWord();
        if (name.kind != kName) {
            EString strMessage("<");
            strMessage += EString(tag.p, static_cast<int>(tag.n));
            strMessage += kMsgBadAttrHead;
            strMessage += EString(name.p, static_cast<int>(name.n));
            strMessage += kMsgBadAttrTail;
            child.ReportMarkupError(strMessage.CharPtr());
            SkipPast(L'>');
            nError = 1;
            if (!ApplyAttrs(child))
                return 1;
            return ParseContents(child, nDepth + 1);
        }
        PendingAttr attr{name.p, name.n, m_values.Size(), 0};
        SkipSpace();
        if (m_p < m_pEnd && *m_p == L'=') {
            ++m_p;
            SkipSpace();
            if (!ReadAttrValue(attr.nValueStart, attr.nValueLength))
                return 1;
        }
        if (!m_attrs.PushBack(attr)) {
            m_bOutOfMemory = true;
            return 1;
        }
    }
}

int Parser::ParseContents(EDescription& node, int nDepth) noexcept {
    if (nDepth > EDescription::kMaxNestingDepth) {
        node.ReportMarkupError(kMsgTooDeep);
        return 1;
    }
    bool bLine = false;
    int nError = 0;
    while (m_p < m_pEnd) {
        if (m_bOutOfMemory)
            return 1;
        const wchar_t c = *m_p;
        if (c == L'<') {
            // Pending text goes out only before a node: markup that makes
            // none (a declaration, a stray closing tag) leaves one text.
            ++m_p;
            if (m_p >= m_pEnd)
                break;
            const wchar_t next = *m_p;
            int nResult = 0;
            if (next == L'/') {
                nResult = ReadClosingTag(node, nError);
                if (nResult < 0)
                    return FlushPending(node) ? 0 : 1;
            } else if (next == L'!' && m_pEnd - m_p >= 3 && m_p[1] == L'-' && m_p[2] == L'-') {
                ReadComment(node);
            } else if (next == L'?' || next == L'!') {
                SkipPast(L'>');
            } else {
                nResult = ReadElement(node, nDepth, nError);
            }
            if (nResult)
                return FlushPending(node) ? nResult : 1;
        } else if (c == L'&') {
            ReadEntity(node);
            bLine = true;
        } else if (c == L' ' || c == L'\t') {
            if (bLine)
                m_pending.PushBack(c);
            ++m_p;
        } else if (c <= 0x20) {
            bLine = false;
            ++m_p;
        } else {
            const wchar_t* const pRun = m_p;
            while ((m_p < m_pEnd) && (*m_p > 0x20) && (*m_p != L'<') && (*m_p != L'&'))
                ++m_p;
            m_pending.Append(pRun, m_p - pRun);
            bLine = true;
        }
    }
    if (!FlushPending(node))
        return 1;
    return nError;
}

// The declaration's pairs: name = "value" (or 'value', or a bare word).
int ScanDeclarationEncoding(const char* p, const char* pEnd, int nEncoding) noexcept {
    auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    auto isNameChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
    };
    while (true) {
        while (p < pEnd && isSpace(*p))
            ++p;
        const char* pName = p;
        while (p < pEnd && isNameChar(*p))
            ++p;
        const std::size_t nName = p - pName;
        while (p < pEnd && isSpace(*p))
            ++p;
        if (nName == 0 || p >= pEnd || *p != '=')
            return nEncoding;
        ++p;
        while (p < pEnd && isSpace(*p))
            ++p;
        const char* pValue;
        const char* pValueEnd;
        if (p < pEnd && (*p == '"' || *p == '\'')) {
            const char quote = *p++;
            pValue = p;
            while (p < pEnd && *p != quote)
                ++p;
            pValueEnd = p;
            if (p < pEnd)
                ++p;
        } else {
            pValue = p;
            while (p < pEnd && !isSpace(*p))
                ++p;
            pValueEnd = p;
        }
        if (nName == 8 && std::memcmp(pName, "encoding", 8) == 0) {
            const int nFound = esl_description::FindEncodingName(pValue, pValueEnd - pValue);
            nEncoding = nFound >= 0 ? nFound : EDescription::encodingShiftJIS;
        }
    }
}

}  // namespace

ESLError EDescription::ReadDescription(EStreamBuffer& sbuf, int nMode, int nEncoding) noexcept {
    DWORD dwLength = 0;
    const BYTE* ptrData = static_cast<const BYTE*>(sbuf.GetBuffer(0, &dwLength));
    if (!ptrData)
        return eslErrorGeneral;
    const char* const pText = reinterpret_cast<const char*>(ptrData);
    if ((nMode == modeXML || nMode == modeAuto) && dwLength >= 5 && std::memcmp(pText, "<?xml", 5) == 0) {
        const char* const pEnd = pText + dwLength;
        for (const char* q = pText + 5; q + 1 < pEnd; ++q) {
            if (q[0] == '?' && q[1] == '>') {
                nEncoding = ScanDeclarationEncoding(pText + 5, q, nEncoding);
                break;
            }
        }
        nMode = modeXML;
    } else if (nMode == modeAuto) {
        nMode = modeDescription;
    }

    esl_description::UnitBuffer units;
    ESLError err = esl_description::DecodeText(nEncoding, ptrData, dwLength, units);
    sbuf.Accept(dwLength);
    if (err)
        return err;

    m_attributes.Clear();
    RemoveAllContents();
    Parser parser(units.Data() ? units.Data() : L"", units.Size(), nMode == modeDescription);
    return parser.ParseContents(*this, 0) ? ESLError(1) : ESLError(eslErrorSuccess);
}
