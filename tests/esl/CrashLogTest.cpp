// The crash log from given registers and memory: no real fault is needed.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

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

// An independent rendering of one dump line through printf's own formats.
std::string ExpectedLine(int bits, std::uint64_t address, const char* label, const std::uint8_t* bytes) {
    char line[128];
    int n = label ? std::snprintf(line, sizeof line, "%*s : ", bits == 64 ? 17 : 9, label)
                  : std::snprintf(line, sizeof line, "%0*llXH : ", bits / 4, static_cast<unsigned long long>(address));
    for (int i = 0; i < 16; ++i)
        n += std::snprintf(line + n, sizeof line - n, "%02X ", bytes[i]);
    n += std::snprintf(line + n, sizeof line - n, "    ");
    for (int i = 0; i < 16; ++i)
        line[n++] = bytes[i] < 0x20 ? '.' : static_cast<char>(bytes[i]);
    return std::string(line, n) + " \r\n";
}

// The dump as it must look: readable lines only, then an empty line pair.
std::string ExpectedDump(const FakeMemory& memory, int bits, std::uint64_t address, const char* label, int first,
                         int end, bool omitIfEmpty = false) {
    const std::uint64_t mask = bits == 64 ? ~0ull : 0xFFFFFFFFull;
    std::string out;
    for (int offset = first; offset < end; offset += 16) {
        const std::uint64_t at = (address + offset) & mask;
        std::uint8_t bytes[16];
        if (at <= mask - 15 && memory.Read(at, bytes, 16))
            out += ExpectedLine(bits, at, offset == 0 ? label : nullptr, bytes);
    }
    return out.empty() && omitIfEmpty ? out : out + "\r\n\r\n";
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
    ESLCrashRegisters regs{bits, 0,    0,    7,    1, 2,   0xFFFF, 4, 5, 6, {8, 9, 10, 11, 12, 13, 14, 15},
                           0x1B, 0x23, 0x23, 0x3B, 0, 0x23};
    return regs;
}

std::string WriteLog(const FakeMemory& memory, const ESLCrashRegisters& regs) {
    EMemoryFile file;
    EXPECT_EQ(eslErrorSuccess, file.Create(0));
    EXPECT_EQ(eslErrorSuccess, eslWriteCrashLog(file, memory, "C:\\books\\velk58.exe", 0x1A4, 0xC0000005, regs));
    return Contents(file);
}

std::string Header32(const ESLCrashRegisters& r, const char* name, DWORD code) {
    char buf[1024];
    std::snprintf(
        buf, sizeof buf,
        "モジュール：C:\\books\\velk58.exe\r\n例外エラーがスレッド 000001A4H で発生しました。\r\n"
        "例外エラーコード：%08XH\r\n例外エラーの種類：%s\r\n\r\n\r\nレジスタダンプ；\r\nCS:EIP  = %04X:%08X\r\n"
        "EAX = %08X, EBX = %08X, ECX = %08X, EDX = %08X\r\n"
        "ESI = %08X, EDI = %08X, EBP = %08X, ESP = %08X\r\n"
        "DS = %04X, ES = %04X, FS = %04X, GS = %04X, SS = %04X\r\n\r\n\r\n",
        unsigned(code), name, unsigned{r.cs}, unsigned(r.ip), unsigned(r.ax), unsigned(r.bx), unsigned(r.cx),
        unsigned(r.dx), unsigned(r.si), unsigned(r.di), unsigned(r.bp), unsigned(r.sp), unsigned{r.ds}, unsigned{r.es},
        unsigned{r.fs}, unsigned{r.gs}, unsigned{r.ss});
    return buf;
}

}  // namespace

TEST(CrashExceptionName, EveryCodeOfTheTableAndTheDefault) {
    const struct {
        DWORD code;
        const char* name;
    } kRows[] = {
        {0xC0000005, "ページアクセス例外"},
        {0x80000002, "アライメント例外"},
        {0xC000008C, "配列境界例外"},
        {0xC000008D, "FPU デノーマルオペランド例外"},
        {0xC000008E, "FPU ゼロ除算例外"},
        {0xC000008F, "FPU 精度例外"},
        {0xC0000090, "FPU 不正オペランド例外"},
        {0xC0000091, "FPU オーバーフロー例外"},
        {0xC0000092, "FPU スタックチェック例外"},
        {0xC0000093, "FPU アンダーフロー例外"},
        {0xC0000094, "ゼロ除算例外"},
        {0xC0000095, "オーバーフロー例外"},
        {0xC0000096, "特権命令例外"},
        {0xC0000006, "ページ例外"},
        {0xC000001D, "無効命令例外"},
        {0xC00000FD, "スタックオーバーフロー例外"},
        {0xC0000026, "不正ディスポジション例外"},
        {0x80000001, "保護ページ例外"},
        // Not in the table: the breakpoint and single step are handled before
        // any lookup, and the end marker itself is no code.
        {0, "無効例外"},
        {0x80000003, "無効例外"},
        {0x80000004, "無効例外"},
        {0xC0000409, "無効例外"},
        {0xE06D7363, "無効例外"},
        {0xFFFFFFFF, "無効例外"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.code);
        EXPECT_STREQ(row.name, eslGetExceptionName(row.code));
    }
}

TEST(CrashDumpLine, LabelOrAddressThenBytesAndCharacters) {
    std::uint8_t bytes[16];
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<std::uint8_t>(0x1C + i * 9);  // crosses 0x20 and 0x7F
    bytes[15] = 0x00;
    const struct {
        int bits;
        std::uint64_t address;
        const char* label;
    } kCases[] = {
        {32, 0x0040AB10, nullptr},     {32, 0x0040AB10, "EIP+0000H"},   {32, 0x0040AB10, "AB"},
        {64, 0x7FF6A0B1C2D0, nullptr}, {64, 0x10, "00007FF6A0B1C2D0H"}, {64, 0x10, "R8+0000H"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.bits) + (c.label ? c.label : " address"));
        char line[kESLDumpLineSize];
        const std::size_t length = eslFormatDumpLine(line, c.bits, c.address, c.label, bytes);
        EXPECT_EQ(ExpectedLine(c.bits, c.address, c.label, bytes), std::string(line, length));
        EXPECT_EQ(length, std::strlen(line));
    }
    // Written out once by hand, as a check of the rendering above too.
    const std::uint8_t control[16] = {0, 9, 10, 13, 0x1F, 0x20, 'A', 0x7F, 0x80, 0x82, 0xA0, 0xFF, '\\', '%', 1, 'z'};
    char line[kESLDumpLineSize];
    EXPECT_EQ("12345670H : 00 09 0A 0D 1F 20 41 7F 80 82 A0 FF 5C 25 01 7A     ..... A\x7F\x80\x82\xA0\xFF\\%.z \r\n",
              std::string(line, eslFormatDumpLine(line, 32, 0x12345670, nullptr, control)));
}

TEST(CrashHeader, LayoutsOfBothWidths) {
    ESLCrashRegisters regs = SmallRegisters(32);
    regs.ip = 0x00401A2B;
    regs.sp = 0x0012FF40;
    regs.ax = 0xDEADBEEF;
    char buf[1024];
    std::size_t n = eslFormatCrashHeader(buf, sizeof buf, "C:\\books\\velk58.exe", 0x1A4, 0xC0000094, regs);
    EXPECT_EQ(Header32(regs, "ゼロ除算例外", 0xC0000094), std::string(buf, n));

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

    // A long module name is cut to the buffer.
    const std::string module(2000, 'x');
    EXPECT_EQ(1023u, eslFormatCrashHeader(buf, sizeof buf, module.c_str(), 1, 1, regs));
    EXPECT_EQ('\0', buf[1023]);
}

TEST(CrashDump, CodeDumpLabelsOffsetZeroOnly) {
    FakeMemory memory;
    memory.AddPattern(0x00400F00, 0x400);
    const std::string text = WriteDump(memory, 32, 0x00401000, "EIP+0000H", -256, 256);
    EXPECT_EQ(ExpectedDump(memory, 32, 0x00401000, "EIP+0000H", -256, 256), text);
    // 32 lines; the 17th, at the address itself, carries the label.
    constexpr std::size_t kLine = 83;
    ASSERT_EQ(32 * kLine + 4, text.size());
    EXPECT_EQ(0u, text.find("00400F00H : "));
    EXPECT_EQ(16 * kLine, text.find("EIP+0000H : "));
    EXPECT_EQ(17 * kLine, text.find("00401010H : "));
}

TEST(CrashDump, UnreadableLinesAreLeftOutAndTheDumpStillEnds) {
    FakeMemory memory;
    memory.AddPattern(0x00500000, 0x40);   // first four lines
    memory.AddPattern(0x00500048, 0x100);  // line 4 straddles the hole
    const std::string text = WriteDump(memory, 32, 0x00500000, "EAX+0000H", 0, 256);
    EXPECT_EQ(ExpectedDump(memory, 32, 0x00500000, "EAX+0000H", 0, 256), text);
    EXPECT_EQ(std::string::npos, text.find("00500040H"));
    EXPECT_NE(std::string::npos, text.find("00500050H"));

    FakeMemory nothing;
    EXPECT_EQ("\r\n\r\n", WriteDump(nothing, 32, 0x00600000, "ESP+0000H", 0, 512))
        << "a top-level dump always closes its section";
    EXPECT_EQ("", WriteDump(nothing, 32, 0x00600000, "00600000H", 0, 128, true))
        << "a pointed-to dump with nothing readable writes nothing";
}

TEST(CrashDump, AddressesWrapInThirtyTwoBitsAndStopAtTheTopIn64) {
    // A code dump at EIP 0x80 starts 256 bytes below address 0.
    FakeMemory memory;
    memory.AddPattern(0xFFFFFF80ull, 0x80);
    memory.AddPattern(0, 0x100);
    std::string text = WriteDump(memory, 32, 0x80, "EIP+0000H", -256, 256);
    EXPECT_EQ(ExpectedDump(memory, 32, 0x80, "EIP+0000H", -256, 256), text);
    EXPECT_EQ(0u, text.find("FFFFFF80H : "));

    // A line that would run over the top is left out, even where both ends are readable.
    FakeMemory ends;
    ends.AddPattern(0xFFFFFF00ull, 0x100);
    ends.AddPattern(0, 0x100);
    text = WriteDump(ends, 32, 0xFFFFFFF8ull, "EAX+0000H", 0, 48);
    EXPECT_EQ(std::string::npos, text.find("EAX+0000H"));
    EXPECT_EQ(0u, text.find("00000008H : "));
    EXPECT_NE(std::string::npos, text.find("00000018H : "));

    FakeMemory top;
    top.AddPattern(0xFFFFFFFFFFFFFF00ull, 0xFF);
    text = WriteDump(top, 64, 0xFFFFFFFFFFFFFFF8ull, "RAX+0000H", -32, 32);
    EXPECT_EQ(ExpectedDump(top, 64, 0xFFFFFFFFFFFFFFF8ull, "RAX+0000H", -32, 32), text);
    EXPECT_EQ(0u, text.find("FFFFFFFFFFFFFFD8H : "));
}

TEST(CrashLog, ThirtyTwoBitLogInOrder) {
    FakeMemory memory;
    memory.AddPattern(0x00401000, 0x200);  // code around EIP
    memory.AddPattern(0x0012FF00, 0x200);  // stack
    memory.AddPattern(0x00500000, 0x100);  // where EAX points
    memory.AddPattern(0x00510000, 0x100);  // where ESI points
    memory.AddPattern(0, 0x10000);         // small values get no dump even where readable
    // EAX's words: an address into the code, a small number, an unreadable
    // address, the start of ESI's block, then small numbers.
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
    regs.di = 0x00800000;  // plausible but unreadable

    EXPECT_EQ(Header32(regs, "ページアクセス例外", 0xC0000005) + "コードダンプ；\r\n" +
                  ExpectedDump(memory, 32, 0x00401100, "EIP+0000H", -256, 256) + "スタックダンプ；\r\n" +
                  ExpectedDump(memory, 32, 0x0012FF00, "ESP+0000H", 0, 512) + "データダンプ；\r\n" +
                  ExpectedDump(memory, 32, 0x00500000, "EAX+0000H", 0, 256) +
                  ExpectedDump(memory, 32, 0x00510000, "ESI+0000H", 0, 256) +
                  ExpectedDump(memory, 32, 0x00800000, "EDI+0000H", 0, 256) +
                  ExpectedDump(memory, 32, 0x00401100, "00401100H", 0, 128) +
                  ExpectedDump(memory, 32, 0x00510000, "00510000H", 0, 128),
              WriteLog(memory, regs));
}

TEST(CrashLog, SixtyFourBitLogDumpsExtendedRegistersAndWholeWords) {
    FakeMemory memory;
    const std::uint64_t code = 0x00007FF6A0B10000ull, stack = 0x000000000022FE00ull;
    const std::uint64_t heap = 0x0000020000000000ull, other = 0x0000000100000000ull;
    memory.AddPattern(code - 0x100, 0x300);
    memory.AddPattern(stack, 0x200);
    memory.AddPattern(heap, 0x100);
    memory.AddPattern(other, 0x100);
    const std::uint64_t words[8] = {0, other /* upper half only: still an address */, 0x00000000FFFF0000ull};
    for (int i = 0; i < 8; ++i) {
        memory.PutWord(heap + 8 * i, words[i], 8);
        memory.PutWord(other + 8 * i, 0x10, 8);
    }
    ESLCrashRegisters regs = SmallRegisters(64);
    regs.ip = code;
    regs.sp = stack;
    regs.r[1] = heap;  // R9

    const std::string log = WriteLog(memory, regs);
    const std::size_t body = log.find("コードダンプ；\r\n");
    ASSERT_NE(std::string::npos, body);
    EXPECT_EQ("コードダンプ；\r\n" + ExpectedDump(memory, 64, code, "RIP+0000H", -256, 256) + "スタックダンプ；\r\n" +
                  ExpectedDump(memory, 64, stack, "RSP+0000H", 0, 512) + "データダンプ；\r\n" +
                  ExpectedDump(memory, 64, heap, "R9+0000H", 0, 256) +
                  ExpectedDump(memory, 64, other, "0000000100000000H", 0, 128) +
                  ExpectedDump(memory, 64, 0xFFFF0000ull, "00000000FFFF0000H", 0, 128, true),
              log.substr(body));
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

TEST(CrashLog, RandomHolesKeepEveryLineWellFormed) {
    // Property: whatever is unreadable, the log is made only of the header,
    // section titles, empty lines and complete dump lines.
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
        const std::string header = Header32(regs, "ページアクセス例外", 0xC0000005);
        ASSERT_EQ(0u, log.find(header));
        ASSERT_EQ("\r\n", log.substr(log.size() - 2));
        for (std::size_t at = header.size(), next; (next = log.find("\r\n", at)) != std::string::npos; at = next + 2) {
            const std::string line = log.substr(at, next - at);
            if (line.empty() || line == "コードダンプ；" || line == "スタックダンプ；" || line == "データダンプ；")
                continue;
            ASSERT_EQ(81u, line.size()) << line;
            EXPECT_TRUE(std::regex_match(line, dumpLine32)) << line;
        }
    }
}
