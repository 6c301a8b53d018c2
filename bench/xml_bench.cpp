// Parsing and writing a generated 10 MB settings-like document, with the
// platform's own UTF-8 decoding of the same bytes for scale.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "esl_description.h"
#include "esl_file.h"
#include "esl_stream.h"
#include "bench_timing.h"

namespace {

const wchar_t* const kKeys[] = {L"RETURN", L"ESCAPE", L"SPACE", L"LEFT", L"UP", L"RIGHT", L"DOWN", L"DELETE"};
const wchar_t* const kActions[] = {L"Exit", L"Prev", L"Prev1", L"Next", L"Next1", L"Delete", L"ToggleSpread"};

// Sections of the viewer's layout, with a comment and a Japanese text now and then.
void BuildSettings(EDescription& root, std::size_t nTargetBytes) {
    EDescription* pTop = root.GetContentTag(L"serialization");
    std::size_t nApprox = 0;
    for (int nSection = 0; nApprox < nTargetBytes; ++nSection) {
        EDescription* pSection = pTop->CreateDescription();
        pSection->SetTag((L"option" + std::to_wstring(nSection)).c_str());
        pTop->AddContent(pSection);
        EDescription* pColor = pSection->GetContentTag(L"_bkColor.dwPixelCode");
        pColor->SetAttrString(L"type", EWideString(L"integer"));
        pColor->SetAttrInteger(L"value", static_cast<int>(0xFF808080u + nSection));
        EDescription* pComment = pSection->CreateDescription();
        pComment->SetAsComment(L" \u8a2d\u5b9a\u30d5\u30a1\u30a4\u30eb ");
        pSection->AddContent(pComment);
        EDescription* pName = pSection->GetContentTag(L"_name");
        pName->SetAttrString(L"type", EWideString(L"string"));
        pName->SetAttrString(L"value", EWideString(L"\u6f2b\u753b & books <1>"));
        EDescription* pArray = pSection->GetContentTag(L"_m_keyAction");
        pArray->SetAttrString(L"type", EWideString(L"array"));
        for (int i = 0; i < 40; ++i) {
            EDescription* pItem = pArray->CreateDescription();
            pItem->SetTag(L"element");
            pItem->SetAttrString(L"type", EWideString(L"object"));
            pItem->SetAttrString(L"obj_name", EWideString(L"std::pair"));
            pArray->AddContent(pItem);
            EDescription* pFirst = pItem->GetContentTag(L"_first");
            pFirst->SetAttrString(L"type", EWideString(L"string"));
            pFirst->SetAttrString(L"value", EWideString(kKeys[(i + nSection) % 8]));
            EDescription* pSecond = pItem->GetContentTag(L"_second");
            pSecond->SetAttrString(L"type", EWideString(L"string"));
            pSecond->SetAttrString(L"value", EWideString(kActions[(i * 3 + nSection) % 7]));
            nApprox += 158;
        }
    }
}

}  // namespace

int main() {
    constexpr std::size_t kBytes = 10u * 1000u * 1000u;
    EDescription tree;
    BuildSettings(tree, kBytes);

    std::string document;
    const double writeMs = MedianMs(5, [&] {
        EMemoryFile file;
        file.Create(kBytes + kBytes / 4);
        tree.WriteDescription(file, 0, EDescription::flagXMLDeclaration, EDescription::encodingUTF8);
        document.assign(static_cast<const char*>(file.GetBuffer()), file.GetLength());
    });
    const double mb = document.size() / 1e6;

    std::vector<double> parseMs;
    for (int i = 0; i < 5; ++i) {
        EStreamBuffer sb(document.data(), static_cast<DWORD>(document.size()));
        EDescription parsed;
        parseMs.push_back(MedianMs(1, [&] {
            if (parsed.ReadDescription(sb) != 0)
                std::printf("parse failed\n");
        }));
    }
    std::nth_element(parseMs.begin(), parseMs.begin() + 2, parseMs.end());

    std::vector<wchar_t> units(document.size());
    const double platformMs = MedianMs(5, [&] {
        ::MultiByteToWideChar(CP_UTF8, 0, document.data(), static_cast<int>(document.size()), units.data(),
                              static_cast<int>(units.size()));
    });

    std::printf("bench xml_document_mb %.2f\n", mb);
    std::printf("bench xml_parse_mb_per_s %.1f\n", mb / (parseMs[2] / 1000.0));
    std::printf("bench xml_write_mb_per_s %.1f\n", mb / (writeMs / 1000.0));
    std::printf("bench xml_platform_utf8_decode_mb_per_s %.1f\n", mb / (platformMs / 1000.0));
    return 0;
}
