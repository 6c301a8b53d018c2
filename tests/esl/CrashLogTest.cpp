// The crash log from given registers and memory: no real fault is needed.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <map>
#include <random>
#include <regex>
#include <string>

#include "esl_crash.h"
#include "esl_file.h"

namespace {

// Memory made of separate readable bytes; everything else is unreadable.
class FakeMemory final : public ESLCrashMemory {
public:
    void AddPattern(std::uint64_t base, std::size_t size) {
        for (std::uint64_t a = base; a < base + size; ++a)
            m_bytes[a] = static_cast<std::uint8_t>(a * 7);
    }
    void PutWord(std::uint64_t address, std::uint64_t word, int bytes) {
        for (int i = 0; i < bytes; ++i)
            m_bytes.at(address + i) = static_cast<std::uint8_t>(word >> (8 * i));
    }
    bool Read(std::uint64_t address, void* pBuffer, std::size_t bytes) const noexcept override {
        for (std::size_t i = 0; i < bytes; ++i) {
            auto it = m_bytes.find(address + i);
            if (address + i < address || it == m_bytes.end())
                return false;
            static_cast<std::uint8_t*>(pBuffer)[i] = it->second;
        }
        return true;
    }

private:
    std::map<std::uint64_t, std::uint8_t> m_bytes;
};

std::string Contents(EMemoryFile& file) {
    const void* data = file.GetBuffer();
    return data ? std::string(static_cast<const char*>(data), file.GetLength()) : std::string();
}

std::string WriteDump(const FakeMemory& memory, int bits, std::uint64_t address, const char* label, int first, int end,
                      bool omit = false) {
    EMemoryFile file;
    EXPECT_EQ(eslErrorSuccess, file.Create(0));
    EXPECT_EQ(eslErrorSuccess, eslWriteCrashDump(file, memory, bits, address, label, first, end, omit));
    return Contents(file);
}

// Values no larger than 0xFFFF, which are no addresses.
ESLCrashRegisters SmallRegisters(int bits) {
    return ESLCrashRegisters{bits, 0,    0,    7,    1, 2,   0xFFFF, 4, 5, 6, {8, 9, 10, 11, 12, 13, 14, 15},
                             0x1B, 0x23, 0x23, 0x3B, 0, 0x23};
}

std::string WriteLog(const FakeMemory& memory, const ESLCrashRegisters& regs) {
    EMemoryFile file;
    EXPECT_EQ(eslErrorSuccess, file.Create(0));
    EXPECT_EQ(eslErrorSuccess, eslWriteCrashLog(file, memory, "C:\\books\\velk58.exe", 0x1A4, 0xC0000005, regs));
    return Contents(file);
}

// What heads each dump from the code dump on: the first field of a line that
// follows an empty line or a section title.
std::string DumpStarts(const std::string& log) {
    std::string starts;
    bool after = false;
    for (std::size_t at = log.find("コードダンプ；"), next; (next = log.find("\r\n", at)) != std::string::npos;
         at = next + 2) {
        const std::string line = log.substr(at, next - at);
        const bool title = line.empty() || line.find("ダンプ；") != std::string::npos;
        if (after && !title)
            starts += line.substr(line.find_first_not_of(' '), line.find(" : ") - line.find_first_not_of(' ')) + " ";
        after = title;
    }
    return starts;
}

}  // namespace

TEST(CrashLog, ExceptionNamesFromTheTableOrTheDefault) {
    EXPECT_STREQ("ページアクセス例外", eslGetExceptionName(0xC0000005));
    EXPECT_STREQ("FPU スタックチェック例外", eslGetExceptionName(0xC0000092));
    EXPECT_STREQ("保護ページ例外", eslGetExceptionName(0x80000001));
    // The breakpoint is handled before any lookup; 0 ends the table.
    for (DWORD code : {0x80000003ul, 0ul, 0xE06D7363ul})
        EXPECT_STREQ("無効例外", eslGetExceptionName(code));
}

TEST(CrashLog, DumpLineAndHeaderOfBothWidths) {
    const std::uint8_t bytes[16] = {0, 9, 10, 13, 0x1F, 0x20, 'A', 0x7F, 0x80, 0x82, 0xA0, 0xFF, '\\', '%', 1, 'z'};
    char line[kESLDumpLineSize];
    EXPECT_EQ("12345670H : 00 09 0A 0D 1F 20 41 7F 80 82 A0 FF 5C 25 01 7A     ..... A\x7F\x80\x82\xA0\xFF\\%.z \r\n",
              std::string(line, eslFormatDumpLine(line, 32, 0x12345670, nullptr, bytes)));
    EXPECT_EQ("       AB : 00 09", std::string(line, eslFormatDumpLine(line, 32, 1, "AB", bytes)).substr(0, 17));
    EXPECT_EQ("         R8+0000H : 00",
              std::string(line, eslFormatDumpLine(line, 64, 1, "R8+0000H", bytes)).substr(0, 22));

    ESLCrashRegisters regs = SmallRegisters(32);
    regs.ip = 0x00401A2B;
    regs.ax = 0xDEADBEEF;
    char buf[1024];
    std::size_t n = eslFormatCrashHeader(buf, sizeof buf, "C:\\v.exe", 0x1A4, 0xC0000094, regs);
    EXPECT_EQ(
        "モジュール：C:\\v.exe\r\n例外エラーがスレッド 000001A4H で発生しました。\r\n例外エラーコード：C0000094H\r\n"
        "例外エラーの種類：ゼロ除算例外\r\n\r\n\r\nレジスタダンプ；\r\nCS:EIP  = 001B:00401A2B\r\n"
        "EAX = DEADBEEF, EBX = 00000002, ECX = 0000FFFF, EDX = 00000004\r\n"
        "ESI = 00000005, EDI = 00000006, EBP = 00000007, ESP = 00000000\r\n"
        "DS = 0023, ES = 0023, FS = 003B, GS = 0000, SS = 0023\r\n\r\n\r\n",
        std::string(buf, n));

    regs = SmallRegisters(64);
    regs.ip = 0x00007FF6A0B1C2D0ull;
    regs.sp = 0x000000000022FE10ull;
    regs.ax = 0xFFFFFFFFFFFFFFFFull;
    regs.r[7] = 0x0123456789ABCDEFull;
    n = eslFormatCrashHeader(buf, sizeof buf, "C:\\v.exe", 0x20, 0xC0000005, regs);
    EXPECT_EQ(
        "モジュール：C:\\v.exe\r\n例外エラーがスレッド 00000020H で発生しました。\r\n例外エラーコード：C0000005H\r\n"
        "例外エラーの種類：ページアクセス例外\r\n\r\n\r\nレジスタダンプ；\r\n"
        "CS:RIP  = 001B:00007FF6A0B1C2D0\r\n"
        "RAX = FFFFFFFFFFFFFFFF, RBX = 0000000000000002, RCX = 000000000000FFFF, RDX = 0000000000000004\r\n"
        "RSI = 0000000000000005, RDI = 0000000000000006, RBP = 0000000000000007, RSP = 000000000022FE10\r\n"
        "R8  = 0000000000000008, R9  = 0000000000000009, R10 = 000000000000000A, R11 = 000000000000000B\r\n"
        "R12 = 000000000000000C, R13 = 000000000000000D, R14 = 000000000000000E, R15 = 0123456789ABCDEF\r\n"
        "DS = 0023, ES = 0023, FS = 003B, GS = 0000, SS = 0023\r\n\r\n\r\n",
        std::string(buf, n));

    const std::string module(2000, 'x');
    EXPECT_EQ(1023u, eslFormatCrashHeader(buf, sizeof buf, module.c_str(), 1, 1, regs)) << "cut to the buffer";
    EXPECT_EQ('\0', buf[1023]);
}

// Which lines a dump holds: the label on offset 0 only, unreadable lines and
// lines over the top of the address space left out, 32-bit addresses wrapped.
TEST(CrashLog, DumpsHoldTheReadableLinesOnly) {
    constexpr std::size_t kLine = 83;
    FakeMemory memory;
    memory.AddPattern(0x00400F00, 0x400);
    std::string text = WriteDump(memory, 32, 0x00401000, "EIP+0000H", -256, 256);
    ASSERT_EQ(32 * kLine + 4, text.size());
    EXPECT_EQ(0u, text.find("00400F00H : 00 07 0E 15"));
    EXPECT_EQ(16 * kLine, text.find("EIP+0000H : "));
    EXPECT_EQ(17 * kLine, text.find("00401010H : "));
    EXPECT_EQ("\r\n\r\n", text.substr(text.size() - 4));

    FakeMemory holes;
    holes.AddPattern(0x00500000, 0x40);
    holes.AddPattern(0x00500048, 0x100);  // the line at 40H straddles the hole
    text = WriteDump(holes, 32, 0x00500000, "EAX+0000H", 0, 256);
    EXPECT_EQ(std::string::npos, text.find("00500040H"));
    EXPECT_NE(std::string::npos, text.find("00500050H"));
    EXPECT_EQ("\r\n\r\n", WriteDump(FakeMemory(), 32, 0x00600000, "ESP+0000H", 0, 512)) << "a section always ends";
    EXPECT_EQ("", WriteDump(FakeMemory(), 32, 0x00600000, "00600000H", 0, 128, true)) << "a pointed-to dump is omitted";

    FakeMemory wrap;
    wrap.AddPattern(0xFFFFFF00ull, 0x100);
    wrap.AddPattern(0, 0x100);
    EXPECT_EQ(0u, WriteDump(wrap, 32, 0x80, "EIP+0000H", -256, 256).find("FFFFFF80H : "));
    text = WriteDump(wrap, 32, 0xFFFFFFF8ull, "EAX+0000H", 0, 48);
    EXPECT_EQ(std::string::npos, text.find("EAX+0000H")) << "a line over the top is left out";
    EXPECT_EQ(0u, text.find("00000008H : "));

    FakeMemory top;
    top.AddPattern(0xFFFFFFFFFFFFFF00ull, 0xFF);
    text = WriteDump(top, 64, 0xFFFFFFFFFFFFFFF8ull, "RAX+0000H", -32, 32);
    EXPECT_EQ(0u, text.find("FFFFFFFFFFFFFFD8H : "));
    EXPECT_EQ(std::string::npos, text.find("RAX+0000H"));
}

// Code, stack, then a data dump for each register that holds a readable
// address, and one for each word of those that is an address (32-bit words,
// or 64-bit ones whose upper half alone may make the address).
TEST(CrashLog, LogsDumpRegistersAndTheAddressesTheyHold) {
    FakeMemory memory;
    memory.AddPattern(0x00401000, 0x200);
    memory.AddPattern(0x0012FF00, 0x200);
    memory.AddPattern(0x00500000, 0x100);
    memory.AddPattern(0x00510000, 0x100);
    memory.AddPattern(0, 0x10000);  // small values get no dump even where readable
    const std::uint64_t words[8] = {0x00401100, 0x00001234, 0x00700000, 0x00510000, 4, 5, 6, 7};
    for (int i = 0; i < 8; ++i) {
        memory.PutWord(0x00500000 + 4 * i, words[i], 4);
        memory.PutWord(0x00510000 + 4 * i, 0xFFFF, 4);
    }
    ESLCrashRegisters regs = SmallRegisters(32);
    regs.ip = 0x00401100;
    regs.sp = 0x0012FF00;
    regs.ax = 0x00500000;
    regs.si = 0x00510000;
    regs.di = 0x00800000;  // plausible but unreadable: its section still ends
    const std::string log = WriteLog(memory, regs);
    EXPECT_EQ("00401000H ESP+0000H EAX+0000H ESI+0000H 00401100H 00510000H ", DumpStarts(log));
    const std::size_t code = log.find("コードダンプ；\r\n"), stack = log.find("スタックダンプ；\r\n");
    EXPECT_TRUE(code < stack && stack < log.find("データダンプ；\r\n"));
    EXPECT_NE(std::string::npos, log.find("ESI+0000H : FF FF 00 00"));

    FakeMemory wide;
    const std::uint64_t heap = 0x0000020000000000ull, other = 0x0000000100000000ull;
    wide.AddPattern(heap, 0x100);
    wide.AddPattern(other, 0x100);
    const std::uint64_t wideWords[8] = {0, other, 0x00000000FFFF0000ull /* unreadable: omitted */};
    for (int i = 0; i < 8; ++i)
        wide.PutWord(heap + 8 * i, wideWords[i], 8);
    regs = SmallRegisters(64);
    regs.r[1] = heap;
    EXPECT_EQ("R9+0000H 0000000100000000H ", DumpStarts(WriteLog(wide, regs)));
}

namespace {
ESLFileObject* gHookFile = nullptr;
ESLError PassingHook(ESLFileObject* file) {
    gHookFile = file;
    return file->Write("hook\r\n", 6) == 6 ? eslErrorSuccess : eslErrorGeneral;
}
ESLError FailingHook(ESLFileObject* file) {
    file->Write("half", 4);
    return eslErrorGeneral;
}
}  // namespace

TEST(CrashLog, HookWritesAfterTheDumpsAndAFailureIsMarked) {
    FakeMemory memory;
    const ESLCrashRegisters regs = SmallRegisters(32);
    const std::string plain = WriteLog(memory, regs);

    EXPECT_EQ(nullptr, eslSetCrashLogHook(PassingHook));
    EXPECT_EQ(PassingHook, eslGetCrashLogHook());
    EMemoryFile file;
    ASSERT_EQ(eslErrorSuccess, file.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashLog(file, memory, "C:\\books\\velk58.exe", 0x1A4, 0xC0000005, regs));
    EXPECT_EQ(&file, gHookFile);
    EXPECT_EQ(plain + "hook\r\n", Contents(file));

    EXPECT_EQ(PassingHook, eslSetCrashLogHook(FailingHook));
    EXPECT_EQ(plain + "half\r\n\r\n", WriteLog(memory, regs));
    EXPECT_EQ(FailingHook, eslSetCrashLogHook(nullptr));
}

// Whatever is unreadable, the log is made only of the header, section
// titles, empty lines and complete dump lines.
TEST(CrashLog, RandomHolesKeepEveryLineWellFormed) {
    const std::regex dumpLine32(R"(( {0,8}[0-9A-Z+]{1,9}|[0-9A-F]{8}H) : ([0-9A-F]{2} ){16}    [\s\S]{16} )");
    std::mt19937 rng(58);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        FakeMemory memory;
        for (std::uint64_t base = 0x00400000; base < 0x00404000; base += 0x10) {
            if (rng() % 3)
                memory.AddPattern(base + rng() % 8, 0x10 - rng() % 4);
        }
        ESLCrashRegisters regs = SmallRegisters(32);
        for (std::uint64_t* reg : {&regs.ip, &regs.sp, &regs.ax, &regs.bp})
            *reg = 0x00400000 + rng() % 0x4000;
        const std::string log = WriteLog(memory, regs);
        const std::size_t body = log.find("コードダンプ；");
        ASSERT_NE(std::string::npos, body);
        ASSERT_EQ("\r\n", log.substr(log.size() - 2));
        for (std::size_t at = body, next; (next = log.find("\r\n", at)) != std::string::npos; at = next + 2) {
            const std::string line = log.substr(at, next - at);
            if (line.empty() || line == "コードダンプ；" || line == "スタックダンプ；" || line == "データダンプ；")
                continue;
            ASSERT_EQ(81u, line.size()) << line;
            EXPECT_TRUE(std::regex_match(line, dumpLine32)) << line;
        }
    }
}
