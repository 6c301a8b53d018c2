// The archive plug-in under the host, as the viewer will read a comic
// archive: the page list in the plug-in's order, each page through
// qel::ReadWholeFile of its path inside the archive.
#include <gtest/gtest.h>

#include <map>

#include "ArchivePlugin.h"
#include "qel_archive.h"
#include "qel_file.h"
#include "qel_susie.h"

using namespace archive_test;

namespace {

std::wstring Wide(const std::string& ansi) {
    int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring out(n, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &out[0], n);
    out.resize(n - 1);
    return out;
}

TEST(ArchivePluginHost, PagesOfAShuffledCbzReadInNaturalOrder) {
    qel::CSpiManager::Instance().RegisterPlugin(Wide(WinPath(VELK58_ARCHIVE_PLUGIN)).c_str());
    const std::wstring book = Wide(GetFixtures().Path("shuffled.zip"));
    qel::CArchive* archive = qel::CArchiveManager::Instance().GetArchive(book.c_str());
    ASSERT_NE(nullptr, archive);
    std::map<std::wstring, std::uint32_t> crc;
    for (const Expected& e : GetFixtures().manifest.at("shuffled.zip"))
        crc[Wide(e.name)] = e.crc;

    std::vector<std::wstring> pages;
    for (const qel::CPath& page : archive->GetFileList()) {
        pages.push_back(page.c_str());
        const std::wstring path = book + L"\\" + page.c_str();
        std::string bytes(static_cast<size_t>(qel::GetFileSize(path.c_str())), '\0');
        ASSERT_FALSE(bytes.empty());
        qel::ReadWholeFile(path.c_str(), &bytes[0], bytes.size());
        EXPECT_EQ(crc[page.c_str()], Crc(bytes));
    }
    const std::vector<std::wstring> expected = {L"_x.jpg",       L"a.jpg",       L"p1.jpg",           L"p01b.jpg",
                                                L"P9.jpg",       L"p10.jpg",     L"sub\\deep\\z.jpg", L"sub\\p2.jpg",
                                                L"sub\\P10.jpg", L"Sub2\\a.jpg", L"sub.jpg"};
    EXPECT_EQ(expected, pages);
}

}  // namespace
