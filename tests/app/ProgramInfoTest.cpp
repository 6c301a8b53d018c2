#include <gtest/gtest.h>

#include <string>

#include "ProgramInfo.h"

TEST(ProgramInfo, SplitsTheProgramPath) {
    struct Case {
        const wchar_t* commandLine;
        int argc;
        const wchar_t* folder;
        const wchar_t* fileName;
        const wchar_t* stem;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\velk58\\velk58.exe\" D:\\books\\one", 2, L"C:\\Program Files\\velk58\\",
         L"velk58.exe", L"velk58"},
        {L"C:\\v\\viewer.v2.exe", 1, L"C:\\v\\", L"viewer.v2.exe", L"viewer.v2"},
        {L"Z:\\velk58 a b c", 4, L"Z:\\", L"velk58", L"velk58"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.commandLine, c.commandLine + wcslen(c.commandLine)));
        ProgramInfo info(c.commandLine);
        EXPECT_EQ(c.argc, info.m_argc);
        EXPECT_EQ(std::wstring(c.folder), info.m_folder);
        EXPECT_EQ(L'\\', info.m_folder.back()) << "the folder ends with the separator";
        EXPECT_EQ(std::wstring(c.fileName), info.m_fileName);
        EXPECT_EQ(std::wstring(c.stem), info.m_stem);
    }
}

TEST(ProgramInfo, ArgumentsBeyondTheCountAreNull) {
    ProgramInfo info(L"C:\\v\\velk58.exe \"D:\\a book\\p 1.jpg\" extra");
    ASSERT_EQ(3, info.m_argc);
    EXPECT_STREQ(L"D:\\a book\\p 1.jpg", info.Argument(1));
    EXPECT_EQ(nullptr, info.Argument(3));
    EXPECT_EQ(nullptr, info.Argument(-1));
}
