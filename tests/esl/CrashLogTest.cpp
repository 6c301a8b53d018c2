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

// Memory made of separate readable ranges; everything else is unreadable.
class FakeMemory final : public ESLCrashMemory {
public:
    void Add(std::uint64_t base, std::vector<std::uint8_t> bytes) { m_ranges[base] = std::move(bytes); }
    void AddPattern(std::uint64_t base, std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<std::uint8_t>((base + i) * 7);
        Add(base, std::move(bytes));
    }
    void PutWord(std::uint64_t address, std::uint64_t word, int bytes) {
        for (int i = 0; i < bytes; ++i)
            *At(address + i) = static_cast<std::uint8_t>(word >> (8 * i));
    }
    bool Read(std::uint64_t address, void* pBuffer, std::size_t bytes) const noexcept override {
        auto* out = static_cast<std::uint8_t*>(pBuffer);
        for (std::size_t i = 0; i < bytes; ++i) {
            if (address + i < address)
                return false;  // past the top of the address space
            const std::uint8_t* p = const_cast<FakeMemory*>(this)->At(address + i);
            if (!p)
                return false;
            out[i] = *p;
        }
        return true;
    }

private:
    std::uint8_t* At(std::uint64_t address) {
        auto it = m_ranges.upper_bound(address);
        if (it == m_ranges.begin())
            return nullptr;
        --it;
        if (address - it->first >= it->second.size())
            return nullptr;
        return &it->second[address - it->first];
    }
    std::map<std::uint64_t, std::vector<std::uint8_t>> m_ranges;
};

std::string Contents(EMemoryFile& file) {
    const void* data = file.GetBuffer();
    return data ? std::string(static_cast<const char*>(data), file.GetLength()) : std::string();
}

// An independent rendering of one dump line through printf's own formats.
std::string ExpectedLine(int bits, std::uint64_t address, const char* label, const std::uint8_t* bytes) {
    char head[64];
    if (label)
        std::snprintf(head, sizeof head, bits == 64 ? "%17s : " : "%9s : ", label);
    else if (bits == 64)
        std::snprintf(head, sizeof head, "%016llXH : ", static_cast<unsigned long long>(address));
    else
        std::snprintf(head, sizeof head, "%08XH : ", static_cast<unsigned>(address));
    std::string line = head;
    for (int i = 0; i < 16; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        line += hex;
    }
    line += "    ";
    for (int i = 0; i < 16; ++i)
        line += bytes[i] < 0x20 ? '.' : static_cast<char>(bytes[i]);
    return line + " \r\n";
}

// The dump as it must look: readable lines only, then an empty line pair.
std::string ExpectedDump(const FakeMemory& memory, int bits, std::uint64_t address, const char* label, int first,
                         int end, bool omitIfEmpty = false) {
    const std::uint64_t mask = bits == 64 ? ~0ull : 0xFFFFFFFFull;
    std::string out;
    for (int offset = first; offset < end; offset += 16) {
        const std::uint64_t at = (address + offset) & mask;
        std::uint8_t bytes[16];
        if (at > mask - 15 || !memory.Read(at, bytes, 16))
            continue;
        out += ExpectedLine(bits, at, offset == 0 ? label : nullptr, bytes);
    }
    return out.empty() && omitIfEmpty ? out : out + "\r\n\r\n";
}

ESLCrashRegisters SmallRegisters(int bits) {
    ESLCrashRegisters regs{};
    regs.nBits = bits;
    regs.ax = 1;
    regs.bx = 2;
    regs.cx = 0xFFFF;  // the largest value that is no address
    regs.dx = 4;
    regs.si = 5;
    regs.di = 6;
    regs.bp = 7;
    for (int i = 0; i < 8; ++i)
        regs.r[i] = 8 + i;
    regs.cs = 0x1B;
    regs.ds = regs.es = regs.ss = 0x23;
    regs.fs = 0x3B;
    regs.gs = 0;
    return regs;
}

std::string WriteLog(const FakeMemory& memory, const ESLCrashRegisters& regs, DWORD code = 0xC0000005) {
    EMemoryFile file;
    EXPECT_EQ(eslErrorSuccess, file.Create(0));
    EXPECT_EQ(eslErrorSuccess, eslWriteCrashLog(file, memory, "C:\\books\\velk58.exe", 0x1A4, code, regs));
    return Contents(file);
}

std::string Header32(const ESLCrashRegisters& r, const char* name, DWORD code) {
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "モジュール：%s\r\n例外エラーがスレッド %08XH で発生しました。\r\n例外エラーコード：%08XH\r\n"
                  "例外エラーの種類：%s\r\n\r\n\r\nレジスタダンプ；\r\nCS:EIP  = %04X:%08X\r\n"
                  "EAX = %08X, EBX = %08X, ECX = %08X, EDX = %08X\r\n"
                  "ESI = %08X, EDI = %08X, EBP = %08X, ESP = %08X\r\n"
                  "DS = %04X, ES = %04X, FS = %04X, GS = %04X, SS = %04X\r\n\r\n\r\n",
                  "C:\\books\\velk58.exe", 0x1A4u, static_cast<unsigned>(code), name, unsigned{r.cs}, unsigned(r.ip),
                  unsigned(r.ax), unsigned(r.bx), unsigned(r.cx), unsigned(r.dx), unsigned(r.si), unsigned(r.di),
                  unsigned(r.bp), unsigned(r.sp), unsigned{r.ds}, unsigned{r.es}, unsigned{r.fs}, unsigned{r.gs},
                  unsigned{r.ss});
    return buf;
}

}  // namespace

TEST(CrashExceptionName, EveryCodeOfTheTable) {
    struct Row {
        DWORD code;
        const char* name;
    };
    const Row rows[] = {
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
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_STREQ(row.name, eslGetExceptionName(row.code));
    }
}

TEST(CrashExceptionName, UnlistedCodesGetTheDefault) {
    // The breakpoint and single step are handled before any lookup; the end
    // marker itself is no code of the table.
    const DWORD unlisted[] = {0, 0x80000003, 0x80000004, 0xC0000409, 0xE06D7363, 0x20474343, 0xFFFFFFFF};
    for (DWORD code : unlisted) {
        SCOPED_TRACE(code);
        EXPECT_STREQ("無効例外", eslGetExceptionName(code));
    }
}

TEST(CrashDumpLine, LabelOrAddressThenBytesAndCharacters) {
    std::uint8_t bytes[16];
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<std::uint8_t>(0x1C + i * 9);  // crosses 0x20 and 0x7F
    bytes[15] = 0x00;
    struct Case {
        const char* name;
        int bits;
        std::uint64_t address;
        const char* label;
    };
    const Case cases[] = {
        {"32-bit address", 32, 0x0040AB10, nullptr},
        {"32-bit label fills the column", 32, 0x0040AB10, "EIP+0000H"},
        {"32-bit short label is right-aligned", 32, 0x0040AB10, "AB"},
        {"32-bit word label", 32, 0x00401000, "00401000H"},
        {"64-bit address", 64, 0x00007FF6A0B1C2D0ull, nullptr},
        {"64-bit register label", 64, 0x10, "RSP+0000H"},
        {"64-bit word label", 64, 0x10, "00007FF6A0B1C2D0H"},
        {"64-bit R8 label", 64, 0x10, "R8+0000H"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char line[kESLDumpLineSize];
        const std::size_t length = eslFormatDumpLine(line, c.bits, c.address, c.label, bytes);
        const std::string expected = ExpectedLine(c.bits, c.address, c.label, bytes);
        EXPECT_EQ(expected, std::string(line, length));
        EXPECT_EQ(length, std::strlen(line));
    }
}

TEST(CrashDumpLine, ControlBytesBecomeDotsOthersStay) {
    std::uint8_t bytes[16] = {0x00, 0x09, 0x0A, 0x0D, 0x1F, 0x20, 'A',  0x7F,
                              0x80, 0x82, 0xA0, 0xFF, 0x5C, '%',  0x01, 'z'};
    char line[kESLDumpLineSize];
    const std::size_t length = eslFormatDumpLine(line, 32, 0x12345670, nullptr, bytes);
    const std::string text(line, length);
    EXPECT_EQ(
        "12345670H : 00 09 0A 0D 1F 20 41 7F 80 82 A0 FF 5C 25 01 7A     "
        "..... A\x7F\x80\x82\xA0\xFF\\%.z \r\n",
        text);
}

TEST(CrashHeader, ThirtyTwoBitLayout) {
    ESLCrashRegisters regs = SmallRegisters(32);
    regs.ip = 0x00401A2B;
    regs.sp = 0x0012FF40;
    regs.ax = 0xDEADBEEF;
    char buf[1024];
    const std::size_t n = eslFormatCrashHeader(buf, sizeof buf, "C:\\books\\velk58.exe", 0x1A4, 0xC0000094, regs);
    EXPECT_EQ(Header32(regs, "ゼロ除算例外", 0xC0000094), std::string(buf, n));
}

TEST(CrashHeader, SixtyFourBitLayoutNamesEveryRegister) {
    ESLCrashRegisters regs = SmallRegisters(64);
    regs.ip = 0x00007FF6A0B1C2D0ull;
    regs.sp = 0x000000000022FE10ull;
    regs.ax = 0xFFFFFFFFFFFFFFFFull;
    regs.r[7] = 0x0123456789ABCDEFull;
    char buf[1024];
    const std::size_t n = eslFormatCrashHeader(buf, sizeof buf, "C:\\v.exe", 0x20, 0xC0000005, regs);
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
}

TEST(CrashHeader, LongModuleNameIsCutToTheBuffer) {
    const std::string module(2000, 'x');
    char buf[1024];
    const std::size_t n = eslFormatCrashHeader(buf, sizeof buf, module.c_str(), 1, 1, SmallRegisters(32));
    EXPECT_EQ(1023u, n);
    EXPECT_EQ('\0', buf[1023]);
}

TEST(CrashDump, CodeDumpLabelsOffsetZeroOnly) {
    FakeMemory memory;
    memory.AddPattern(0x00400F00, 0x400);
    EMemoryFile file;
    ASSERT_EQ(eslErrorSuccess, file.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashDump(file, memory, 32, 0x00401000, "EIP+0000H", -256, 256));
    const std::string text = Contents(file);
    EXPECT_EQ(ExpectedDump(memory, 32, 0x00401000, "EIP+0000H", -256, 256), text);
    // 32 lines; the 17th, at the address itself, carries the label.
    std::vector<std::string> lines;
    for (std::size_t at = 0, next; (next = text.find("\r\n", at)) != std::string::npos; at = next + 2)
        lines.push_back(text.substr(at, next - at));
    ASSERT_EQ(34u, lines.size());
    EXPECT_EQ(0u, lines[0].rfind("00400F00H : ", 0));
    EXPECT_EQ(0u, lines[16].rfind("EIP+0000H : ", 0));
    EXPECT_EQ(0u, lines[17].rfind("00401010H : ", 0));
    EXPECT_EQ(0u, lines[31].rfind("004010F0H : ", 0));
    EXPECT_EQ("", lines[32]);
    EXPECT_EQ("", lines[33]);
}

TEST(CrashDump, UnreadableLinesAreLeftOutAndTheDumpStillEnds) {
    FakeMemory memory;
    memory.AddPattern(0x00500000, 0x40);   // first four lines
    memory.AddPattern(0x00500048, 0x100);  // line 4 straddles the hole
    EMemoryFile file;
    ASSERT_EQ(eslErrorSuccess, file.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashDump(file, memory, 32, 0x00500000, "EAX+0000H", 0, 256));
    const std::string text = Contents(file);
    EXPECT_EQ(ExpectedDump(memory, 32, 0x00500000, "EAX+0000H", 0, 256), text);
    EXPECT_EQ(std::string::npos, text.find("00500040H"));
    EXPECT_NE(std::string::npos, text.find("00500050H"));
}

TEST(CrashDump, NothingReadable) {
    FakeMemory memory;
    EMemoryFile file;
    ASSERT_EQ(eslErrorSuccess, file.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashDump(file, memory, 32, 0x00600000, "ESP+0000H", 0, 512));
    EXPECT_EQ("\r\n\r\n", Contents(file)) << "a top-level dump always closes its section";
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashDump(file, memory, 32, 0x00600000, "00600000H", 0, 128, true));
    EXPECT_EQ("\r\n\r\n", Contents(file)) << "a pointed-to dump with nothing readable writes nothing";
}

TEST(CrashDump, AddressesWrapInThirtyTwoBitsAndStopAtTheTopIn64) {
    // A code dump at EIP 0x80 starts 256 bytes below address 0.
    FakeMemory memory;
    memory.AddPattern(0xFFFFFF80ull, 0x80);
    memory.AddPattern(0, 0x100);
    EMemoryFile file;
    ASSERT_EQ(eslErrorSuccess, file.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashDump(file, memory, 32, 0x80, "EIP+0000H", -256, 256));
    const std::string text = Contents(file);
    EXPECT_EQ(ExpectedDump(memory, 32, 0x80, "EIP+0000H", -256, 256), text);
    EXPECT_EQ(0u, text.find("FFFFFF80H : "));

    // A line that would run over the top is left out, even where both ends
    // are readable.
    FakeMemory ends;
    ends.AddPattern(0xFFFFFF00ull, 0x100);
    ends.AddPattern(0, 0x100);
    EMemoryFile wrapped;
    ASSERT_EQ(eslErrorSuccess, wrapped.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashDump(wrapped, ends, 32, 0xFFFFFFF8ull, "EAX+0000H", 0, 48));
    const std::string lines = Contents(wrapped);
    EXPECT_EQ(std::string::npos, lines.find("EAX+0000H"));
    EXPECT_EQ(0u, lines.find("00000008H : "));
    EXPECT_NE(std::string::npos, lines.find("00000018H : "));

    FakeMemory top;
    top.AddPattern(0xFFFFFFFFFFFFFF00ull, 0xFF);
    EMemoryFile file64;
    ASSERT_EQ(eslErrorSuccess, file64.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashDump(file64, top, 64, 0xFFFFFFFFFFFFFFF8ull, "RAX+0000H", -32, 32));
    EXPECT_EQ(ExpectedDump(top, 64, 0xFFFFFFFFFFFFFFF8ull, "RAX+0000H", -32, 32), Contents(file64));
    EXPECT_EQ(0u, Contents(file64).find("FFFFFFFFFFFFFFD8H : "));
}

TEST(CrashLog, ThirtyTwoBitLogInOrder) {
    FakeMemory memory;
    memory.AddPattern(0x00401000, 0x200);  // code around EIP
    memory.AddPattern(0x0012FF00, 0x200);  // stack
    memory.AddPattern(0x00500000, 0x100);  // where EAX points
    memory.AddPattern(0x00510000, 0x100);  // where ESI points
    // EAX's words: an address into the code, a small number, an unreadable
    // address, then the start of ESI's block.
    memory.PutWord(0x00500000, 0x00401100, 4);
    memory.PutWord(0x00500004, 0x00001234, 4);
    memory.PutWord(0x00500008, 0x00700000, 4);
    memory.PutWord(0x0050000C, 0x00510000, 4);
    for (int i = 4; i < 8; ++i)
        memory.PutWord(0x00500000 + 4 * i, static_cast<std::uint64_t>(i), 4);
    for (int i = 0; i < 8; ++i)
        memory.PutWord(0x00510000 + 4 * i, 0xFFFF, 4);

    ESLCrashRegisters regs = SmallRegisters(32);
    regs.ip = 0x00401100;
    regs.sp = 0x0012FF00;
    regs.ax = 0x00500000;
    regs.si = 0x00510000;
    regs.di = 0x00800000;  // plausible but unreadable

    std::string expected = Header32(regs, "ページアクセス例外", 0xC0000005);
    expected += "コードダンプ；\r\n" + ExpectedDump(memory, 32, 0x00401100, "EIP+0000H", -256, 256);
    expected += "スタックダンプ；\r\n" + ExpectedDump(memory, 32, 0x0012FF00, "ESP+0000H", 0, 512);
    expected += "データダンプ；\r\n";
    expected += ExpectedDump(memory, 32, 0x00500000, "EAX+0000H", 0, 256);
    expected += ExpectedDump(memory, 32, 0x00510000, "ESI+0000H", 0, 256);
    expected += ExpectedDump(memory, 32, 0x00800000, "EDI+0000H", 0, 256);
    expected += ExpectedDump(memory, 32, 0x00401100, "00401100H", 0, 128);
    expected += ExpectedDump(memory, 32, 0x00510000, "00510000H", 0, 128);
    EXPECT_EQ(expected, WriteLog(memory, regs));
}

TEST(CrashLog, SmallRegistersGetNoDataDump) {
    FakeMemory memory;
    memory.AddPattern(0, 0x20000);  // even the small values would be readable
    ESLCrashRegisters regs = SmallRegisters(32);
    regs.ip = 0x00010100;
    regs.sp = 0x00010000;
    const std::string log = WriteLog(memory, regs);
    const std::string tail = "データダンプ；\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(tail, log.substr(log.size() - tail.size()));
}

TEST(CrashLog, SixtyFourBitLogDumpsExtendedRegistersAndWholeWords) {
    FakeMemory memory;
    const std::uint64_t code = 0x00007FF6A0B10000ull, stack = 0x000000000022FE00ull;
    const std::uint64_t heap = 0x0000020000000000ull, other = 0x0000000100000000ull;
    memory.AddPattern(code - 0x100, 0x300);
    memory.AddPattern(stack, 0x200);
    memory.AddPattern(heap, 0x100);
    memory.AddPattern(other, 0x100);
    for (int i = 0; i < 8; ++i)
        memory.PutWord(heap + 8 * i, 0, 8);
    memory.PutWord(heap + 8, other, 8);  // upper half only: still an address
    memory.PutWord(heap + 16, 0x00000000FFFF0000ull, 8);
    for (int i = 0; i < 8; ++i)
        memory.PutWord(other + 8 * i, 0x10, 8);

    ESLCrashRegisters regs = SmallRegisters(64);
    regs.ip = code;
    regs.sp = stack;
    regs.r[1] = heap;  // R9

    std::string expected;
    expected += "コードダンプ；\r\n" + ExpectedDump(memory, 64, code, "RIP+0000H", -256, 256);
    expected += "スタックダンプ；\r\n" + ExpectedDump(memory, 64, stack, "RSP+0000H", 0, 512);
    expected += "データダンプ；\r\n";
    expected += ExpectedDump(memory, 64, heap, "R9+0000H", 0, 256);
    expected += ExpectedDump(memory, 64, other, "0000000100000000H", 0, 128);
    expected += ExpectedDump(memory, 64, 0xFFFF0000ull, "00000000FFFF0000H", 0, 128, true);
    const std::string log = WriteLog(memory, regs);
    const std::size_t body = log.find("コードダンプ；\r\n");
    ASSERT_NE(std::string::npos, body);
    EXPECT_EQ(expected, log.substr(body));
}

namespace {
int gHookCalls = 0;
ESLFileObject* gHookFile = nullptr;
ESLError PassingHook(ESLFileObject* file) {
    ++gHookCalls;
    gHookFile = file;
    return file->Write("hook\r\n", 6) == 6 ? eslErrorSuccess : eslErrorGeneral;
}
ESLError FailingHook(ESLFileObject* file) {
    ++gHookCalls;
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
    gHookCalls = 0;
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashLog(file, memory, "C:\\books\\velk58.exe", 0x1A4, 0xC0000005, regs));
    EXPECT_EQ(1, gHookCalls);
    EXPECT_EQ(&file, gHookFile);
    EXPECT_EQ(plain + "hook\r\n", Contents(file));

    EXPECT_EQ(PassingHook, eslSetCrashLogHook(FailingHook));
    EXPECT_EQ(plain + "half\r\n\r\n", WriteLog(memory, regs));
    EXPECT_EQ(FailingHook, eslSetCrashLogHook(nullptr));
    EXPECT_EQ(nullptr, eslGetCrashLogHook());
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
        regs.ip = 0x00400000 + rng() % 0x4000;
        regs.sp = 0x00400000 + rng() % 0x4000;
        regs.ax = 0x00400000 + rng() % 0x4000;
        regs.bp = 0x00400000 + rng() % 0x4000;
        const std::string log = WriteLog(memory, regs);
        const std::string header = Header32(regs, "ページアクセス例外", 0xC0000005);
        ASSERT_EQ(0u, log.find(header));
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ("\r\n", log.substr(log.size() - 2));
        for (std::size_t at = header.size(), next; (next = log.find("\r\n", at)) != std::string::npos; at = next + 2) {
            const std::string line = log.substr(at, next - at);
            if (line.empty() || line == "コードダンプ；" || line == "スタックダンプ；" || line == "データダンプ；")
                continue;
            ASSERT_EQ(81u, line.size()) << line;
            EXPECT_TRUE(std::regex_match(line, dumpLine32)) << line;
        }
    }
}
