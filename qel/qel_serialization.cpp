// The settings archive over an EDescription tree. The line numbers of the
// checks are fixed: they appear in the messages that users report.
#include "qel_serialization.h"

#include "esl_file.h"
#include "esl_stream.h"
#include "qel_exception.h"
#include "qel_file.h"

#define QEL_SOURCE "qel_serialization"

namespace qel {

namespace {

const char kSource[] = QEL_SOURCE;

const wchar_t kType[] = L"type";
const wchar_t kValue[] = L"value";
const wchar_t kObjName[] = L"obj_name";

EWideString SectionPath(const char* pszSection) {
    EWideString wstrPath(L"serialization\\");
    wstrPath += EWideString(pszSection ? pszSection : "");
    return wstrPath;
}

bool HasType(const EDescription& node, const wchar_t* pwszType) {
    const EWideString* pType = node.GetAttrValue(kType);
    return pType && *pType == pwszType;
}

}  // namespace

namespace serialization_detail {

EWideString ValueTag(const char* pszName) {
    EWideString wstrTag(L"_");
    wstrTag += EWideString(pszName ? pszName : "");
    return wstrTag;
}

}  // namespace serialization_detail

//--- reader

CSerializationReader::CSerializationReader(const char* pszFilePath, const char* pszSection) {
    ERawFile file;
    QEL_FAIL_IF_AT(kSource, 280, file.Open(pszFilePath, ESLFileObject::modeRead | ESLFileObject::shareRead));
    EStreamBuffer sb;
    QEL_FAIL_IF_AT(kSource, 282, sb.ReadFromFile(file));
    QEL_FAIL_IF_AT(kSource, 283, m_desc.ReadDescription(sb));
    const EWideString wstrPath = SectionPath(pszSection);
    EDescription* pSection = m_desc.GetOrCreateSection(wstrPath.CharPtr());
    QEL_FAIL_IF_AT(kSource, 287, pSection == NULL);
    m_stack.push_back(pSection);
}

CSerializationReader::~CSerializationReader() = default;

const EDescription* CSerializationReader::FindValue(const char* pszName, const wchar_t* pwszType) const {
    if (m_stack.empty())
        return nullptr;
    const EDescription* pCurrent = m_stack.back();
    const EWideString wstrTag = serialization_detail::ValueTag(pszName);
    const EDescription* pData = pCurrent->GetContentAt(pCurrent->FindContentTag(wstrTag.CharPtr()));
    return pData && HasType(*pData, pwszType) ? pData : nullptr;
}

void CSerializationReader::ReadInteger(const char* pszName, int& nValue) const {
    const EDescription* pData = FindValue(pszName, L"integer");
    if (pData)
        nValue = pData->GetAttrInteger(kValue, nValue);
}

void CSerializationReader::ReadString(const char* pszName, EWideString& wstrValue) const {
    const EDescription* pData = FindValue(pszName, L"string");
    if (pData && pData->HasAttr(kValue))
        pData->GetAttrString(wstrValue, kValue);
}

bool CSerializationReader::ReadStringIfPresent(const char* pszName, EWideString& wstrValue) const {
    const EDescription* pData = FindValue(pszName, L"string");
    if (!pData)
        return false;
    pData->GetAttrString(wstrValue, kValue);
    return true;
}

void CSerializationReader::ReadBool(const char* pszName, bool& bValue) const {
    EWideString wstrValue;
    if (!ReadStringIfPresent(pszName, wstrValue))
        return;
    if (wstrValue == L"true")
        bValue = true;
    else if (wstrValue == L"false")
        bValue = false;
}

int CSerializationReader::BeginArray(const char* pszName) {
    const EDescription* pArray = FindValue(pszName, L"array");
    if (!pArray)
        return 1;
    m_stack.push_back(const_cast<EDescription*>(pArray));
    return 0;
}

int CSerializationReader::GetCount() const {
    return m_stack.empty() ? 0 : m_stack.back()->GetContentCount();
}

int CSerializationReader::BeginObject(int nIndex, const char* pszObjName) {
    if (m_stack.empty())
        return 1;
    EDescription* pItem = m_stack.back()->GetContentAt(nIndex);
    if (!pItem || !HasType(*pItem, L"object"))
        return 1;
    const EWideString* pObjName = pItem->GetAttrValue(kObjName);
    if (!pObjName || *pObjName != EWideString(pszObjName ? pszObjName : ""))
        return 1;
    m_stack.push_back(pItem);
    return 0;
}

void CSerializationReader::End() {
    if (!m_stack.empty())
        m_stack.pop_back();
}

//--- writer

CSerializationWriter::CSerializationWriter(const char* pszFilePath, const char* pszSection)
    : m_strFilePath(pszFilePath ? pszFilePath : "") {
    try {
        ERawFile file;
        QEL_FAIL_IF_AT(kSource, 37, file.Open(m_strFilePath, ESLFileObject::modeRead | ESLFileObject::shareRead));
        EStreamBuffer sb;
        QEL_FAIL_IF_AT(kSource, 39, sb.ReadFromFile(file));
        QEL_FAIL_IF_AT(kSource, 40, m_desc.ReadDescription(sb));
    } catch (const CException&) {
        // A missing or broken file: go on with what was parsed of it.
    }
    const EWideString wstrPath = SectionPath(pszSection);
    EDescription* pSection = m_desc.GetOrCreateSection(wstrPath.CharPtr());
    QEL_FAIL_IF_AT(kSource, 48, pSection == NULL);
    m_stack.push_back(pSection);
}

CSerializationWriter::~CSerializationWriter() {
    try {
        // Rendered in memory first, so that a failure there leaves the old
        // file as it was.
        EMemoryFile memory;
        if (memory.Create(0x10000) ||
            m_desc.WriteDescription(memory, 0, EDescription::flagXMLDeclaration, EDescription::encodingUTF8))
            return;
        const void* ptrData = memory.GetBuffer();
        if (!ptrData)
            return;
        // A new file swapped in: a failed save never costs the user the old one.
        int units = ::MultiByteToWideChar(CP_ACP, 0, m_strFilePath, -1, nullptr, 0);
        if (units <= 0)
            return;
        std::wstring path(static_cast<size_t>(units), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, m_strFilePath, -1, &path[0], units);
        ReplaceFileContents(path.c_str(), ptrData, memory.GetLength());
    } catch (...) {
        // Saving is best effort: a destructor must not raise.
    }
}

EDescription* CSerializationWriter::FindValue(const char* pszName, const wchar_t* pwszComment) {
    EDescription* pData = nullptr;
    if (!m_stack.empty()) {
        const EWideString wstrTag = serialization_detail::ValueTag(pszName);
        pData = m_stack.back()->GetContentTag(wstrTag.CharPtr());
    }
    QEL_FAIL_IF_AT(kSource, 124, pData == NULL);
    if (!pwszComment)
        return pData;
    // The comment node just before the value is its comment: replaced, so
    // that saving the same values again gives the same file.
    EDescription* pParent = pData->GetParent();
    int nIndex = 0;
    while (pParent->GetContentAt(nIndex) != pData)
        ++nIndex;
    EDescription* pBefore = pParent->GetContentAt(nIndex - 1);
    if (pBefore && pBefore->IsComment()) {
        pBefore->SetAsComment(pwszComment);
        return pData;
    }
    EDescription* pComment = pParent->CreateDescription();
    if (pComment && !pComment->SetAsComment(pwszComment))
        pParent->InsertContent(nIndex, pComment);
    else
        delete pComment;
    return pData;
}

void CSerializationWriter::WriteInteger(const char* pszName, int nValue, const wchar_t* pwszComment) {
    EDescription* pData = FindValue(pszName, pwszComment);
    pData->SetAttrString(kType, EWideString(L"integer"));
    pData->SetAttrInteger(kValue, nValue);
}

void CSerializationWriter::WriteString(const char* pszName, const EWideString& wstrValue, const wchar_t* pwszComment) {
    EDescription* pData = FindValue(pszName, pwszComment);
    pData->SetAttrString(kType, EWideString(L"string"));
    pData->SetAttrString(kValue, wstrValue);
}

void CSerializationWriter::WriteBool(const char* pszName, bool bValue, const wchar_t* pwszComment) {
    WriteString(pszName, EWideString(bValue ? L"true" : L"false"), pwszComment);
}

void CSerializationWriter::BeginArray(const char* pszName, const wchar_t* pwszComment) {
    EDescription* pArray = FindValue(pszName, pwszComment);
    pArray->RemoveAllContents();
    pArray->SetAttrString(kType, EWideString(L"array"));
    m_stack.push_back(pArray);
}

void CSerializationWriter::BeginObject(const char* pszObjName) {
    if (m_stack.empty())
        return;
    EDescription* pParent = m_stack.back();
    EDescription* pItem = pParent->CreateDescription();
    if (pItem && pItem->SetTag(L"element")) {
        delete pItem;
        pItem = nullptr;
    }
    if (pItem && pParent->AddContent(pItem))
        pItem = nullptr;  // deleted by AddContent
    QEL_FAIL_IF(pItem == NULL);
    pItem->SetAttrString(kType, EWideString(L"object"));
    pItem->SetAttrString(kObjName, EWideString(pszObjName ? pszObjName : ""));
    m_stack.push_back(pItem);
}

void CSerializationWriter::End() {
    if (!m_stack.empty())
        m_stack.pop_back();
}

}  // namespace qel
