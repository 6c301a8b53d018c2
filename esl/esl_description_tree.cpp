// The description tree: node kinds, sorted attributes and ordered contents.
#include <cwchar>

#include "esl_description_internal.h"

using esl_description::AssignUnits;
using esl_description::EqualNoCase;

namespace {

const wchar_t kCommentTag[] = L"!--";

// Ascending order of UTF-16 units; a prefix sorts first.
int CompareUnits(const wchar_t* a, std::size_t na, const wchar_t* b, std::size_t nb) noexcept {
    const std::size_t n = na < nb ? na : nb;
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

std::size_t Length(const wchar_t* psz) noexcept {
    return psz ? std::wcslen(psz) : 0;
}

}  // namespace

EDescription::~EDescription() {
    // Children are adopted and their node deleted childless, so that a deep
    // tree never recurses here.
    while (!m_contents.IsEmpty()) {
        EDescription* pChild = m_contents.PopBack();
        while (!pChild->m_contents.IsEmpty()) {
            EDescription* pGrandChild = pChild->m_contents.PopBack();
            if (!m_contents.PushBack(pGrandChild)) {
                // No memory to flatten: the plain recursion is the fallback.
                delete pGrandChild;
            }
        }
        delete pChild;
    }
}

EDescription* EDescription::CreateDescription() noexcept {
    return new EDescription;
}

ESLError EDescription::ReportMarkupError(const char*) noexcept {
    return eslErrorSuccess;
}

ESLError EDescription::ReportCharacterError(const char*) noexcept {
    return eslErrorSuccess;
}

//--- attributes

int EDescription::FindAttr(const wchar_t* pwszName) const noexcept {
    const std::size_t nName = Length(pwszName);
    std::size_t lo = 0, hi = m_attributes.Size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const EWideString& name = m_attributes[mid].name;
        const int cmp = CompareUnits(name.CharPtr(), name.GetLength(), pwszName ? pwszName : L"", nName);
        if (cmp == 0)
            return static_cast<int>(mid);
        if (cmp < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return -1;
}

const EDescription::Attribute* EDescription::GetAttrAt(int nIndex) const noexcept {
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= m_attributes.Size())
        return nullptr;
    return &m_attributes[nIndex];
}

const EWideString* EDescription::GetAttrValue(const wchar_t* pwszName) const noexcept {
    const int i = FindAttr(pwszName);
    return i >= 0 ? &m_attributes[i].value : nullptr;
}

void EDescription::RemoveAttr(const wchar_t* pwszName) noexcept {
    const int i = FindAttr(pwszName);
    if (i >= 0)
        m_attributes.Erase(i);
}

ESLError EDescription::SetSortedAttrs(EGenArray<Attribute>& attributes) noexcept {
    m_attributes.Clear();
    m_attributes.Swap(attributes);
    return eslErrorSuccess;
}

namespace {

// The attribute's value scanned by the number rule; false when it is missing
// or not a number.
bool ScanAttr(const EWideString* pValue, esl_description::ScannedNumber& number) noexcept {
    const wchar_t* p = pValue ? pValue->CharPtr() : nullptr;
    return p && esl_description::ScanNumber(p, p + pValue->GetLength(), number);
}

}  // namespace

int EDescription::GetAttrInteger(const wchar_t* pwszName, int nDefault) const noexcept {
    esl_description::ScannedNumber number;
    return ScanAttr(GetAttrValue(pwszName), number) ? static_cast<int>(static_cast<std::uint32_t>(number.nInteger))
                                                    : nDefault;
}

double EDescription::GetAttrReal(const wchar_t* pwszName, double rDefault) const noexcept {
    esl_description::ScannedNumber number;
    return ScanAttr(GetAttrValue(pwszName), number) ? number.rValue : rDefault;
}

void EDescription::GetAttrString(EWideString& wstrValue, const wchar_t* pwszName,
                                 const wchar_t* pwszDefault) const noexcept {
    const EWideString* pValue = GetAttrValue(pwszName);
    if (pValue)
        AssignUnits(wstrValue, pValue->CharPtr(), pValue->GetLength());
    else
        wstrValue.Assign(pwszDefault ? pwszDefault : L"");
}

ESLError EDescription::SetAttrInteger(const wchar_t* pwszName, int nValue) noexcept {
    if (nValue >= -32768 && nValue <= 32768)
        return SetAttrString(pwszName, EWideString(EString::FromInteger(nValue)));
    const std::uint32_t nPattern = static_cast<std::uint32_t>(nValue);
    EString strValue(nPattern >= 0xA0000000u ? "0" : "");
    strValue += EString::FromHexadecimal(nPattern, 8);
    strValue += "H";
    return SetAttrString(pwszName, EWideString(strValue));
}

ESLError EDescription::SetAttrReal(const wchar_t* pwszName, double rValue) noexcept {
    return SetAttrString(pwszName, EWideString(EString::FromReal(rValue)));
}

ESLError EDescription::SetAttrString(const wchar_t* pwszName, const EWideString& wstrValue) noexcept {
    const std::size_t nName = Length(pwszName);
    if (nName == 0)
        return eslErrorInvalidParameter;
    std::size_t lo = 0, hi = m_attributes.Size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const EWideString& name = m_attributes[mid].name;
        const int cmp = CompareUnits(name.CharPtr(), name.GetLength(), pwszName, nName);
        if (cmp == 0)
            return AssignUnits(m_attributes[mid].value, wstrValue.CharPtr(), wstrValue.GetLength());
        if (cmp < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    Attribute attr;
    ESLError err = AssignUnits(attr.name, pwszName, nName);
    if (!err)
        err = AssignUnits(attr.value, wstrValue.CharPtr(), wstrValue.GetLength());
    if (err)
        return err;
    return m_attributes.Insert(lo, std::move(attr)) ? eslErrorSuccess : eslErrorGeneral;
}

//--- the node

ESLError EDescription::SetTag(const wchar_t* pwszTag, int nLength) noexcept {
    if (!pwszTag)
        pwszTag = L"";
    return AssignUnits(m_wstrTag, pwszTag, nLength < 0 ? std::wcslen(pwszTag) : static_cast<std::size_t>(nLength));
}

ESLError EDescription::SetText(const wchar_t* pwszText, int nLength) noexcept {
    if (!pwszText)
        pwszText = L"";
    return AssignUnits(m_wstrText, pwszText, nLength < 0 ? std::wcslen(pwszText) : static_cast<std::size_t>(nLength));
}

ESLError EDescription::SetText(const EWideString& wstrText) noexcept {
    return AssignUnits(m_wstrText, wstrText.CharPtr(), wstrText.GetLength());
}

bool EDescription::IsComment() const noexcept {
    return m_wstrTag == kCommentTag;
}

ESLError EDescription::SetAsComment(const wchar_t* pwszBody) noexcept {
    EWideString wstrText(kCommentTag);
    if (wstrText.Append(pwszBody ? pwszBody : L"") || wstrText.Append(L"-->"))
        return eslErrorGeneral;
    ESLError err = SetTag(kCommentTag);
    return err ? err : SetText(wstrText);
}

//--- contents

EDescription* EDescription::GetContentAt(int nIndex) const noexcept {
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= m_contents.Size())
        return nullptr;
    return m_contents[nIndex];
}

int EDescription::FindContentTag(const wchar_t* pwszTag, int nStart) const noexcept {
    const std::size_t nTag = Length(pwszTag);
    for (std::size_t i = nStart < 0 ? 0 : nStart; i < m_contents.Size(); ++i) {
        const EWideString& tag = m_contents[i]->m_wstrTag;
        if (EqualNoCase(tag.CharPtr(), tag.GetLength(), pwszTag ? pwszTag : L"", nTag))
            return static_cast<int>(i);
    }
    return -1;
}

EDescription* EDescription::GetContentTag(const wchar_t* pwszTag) noexcept {
    const int i = FindContentTag(pwszTag);
    if (i >= 0)
        return m_contents[i];
    EDescription* pNew = CreateDescription();
    if (!pNew)
        return nullptr;
    if (pNew->SetTag(pwszTag)) {
        delete pNew;
        return nullptr;
    }
    return AddContent(pNew) ? nullptr : pNew;
}

ESLError EDescription::AddContent(EDescription* pContent) noexcept {
    return InsertContent(GetContentCount(), pContent);
}

ESLError EDescription::InsertContent(int nIndex, EDescription* pContent) noexcept {
    if (!pContent)
        return eslErrorInvalidParameter;
    if (nIndex < 0)
        nIndex = 0;
    pContent->m_pParent = this;
    if (!m_contents.Insert(static_cast<std::size_t>(nIndex), std::move(pContent))) {
        delete pContent;
        return eslErrorGeneral;
    }
    return eslErrorSuccess;
}

void EDescription::RemoveContentAt(int nIndex) noexcept {
    EDescription* pContent = GetContentAt(nIndex);
    if (!pContent)
        return;
    m_contents.Erase(nIndex);
    delete pContent;
}

void EDescription::RemoveAllContents() noexcept {
    // The destructor's flattening, on a holder of the contents.
    EDescription holder;
    holder.m_contents.Swap(m_contents);
}

EDescription* EDescription::GetOrCreateSection(const wchar_t* pwszPath) noexcept {
    EDescription* pNode = this;
    const wchar_t* p = pwszPath ? pwszPath : L"";
    EWideString wstrTag;
    while (*p) {
        const wchar_t* pSep = std::wcschr(p, L'\\');
        const std::size_t n = pSep ? static_cast<std::size_t>(pSep - p) : std::wcslen(p);
        // An empty component would find a text node; it names nothing.
        if (n) {
            if (AssignUnits(wstrTag, p, n))
                return nullptr;
            pNode = pNode->GetContentTag(wstrTag.CharPtr());
            if (!pNode)
                return nullptr;
        }
        p += n;
        if (*p)
            ++p;
    }
    return pNode;
}
