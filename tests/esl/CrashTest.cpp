// The crash log from given registers and memory, and the crash handler's
// decisions with the questions answered by the test (no box is ever shown).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "esl_crash.h"
#include "esl_file.h"

namespace {

using Ranges = std::vector<std::pair<std::uint64_t, std::size_t>>;

// Readable in the given ranges only: each byte its address times 7, or a word put there.
struct FakeMemory final : ESLCrashMemory {
    Ranges readable;
    std::map<std::uint64_t, std::uint8_t> put;
    explicit FakeMemory(Ranges ranges = {}) : readable(std::move(ranges)) {}
    void PutWord(std::uint64_t address, std::uint64_t word, int bytes) {
        for (int i = 0; i < bytes; ++i)
            put[address + i] = static_cast<std::uint8_t>(word >> (8 * i));
    }
    bool Read(std::uint64_t address, void* pBuffer, std::size_t bytes) const noexcept override {
        for (std::uint64_t a = address; a - address < bytes; ++a) {
            auto inside = [a](const auto& r) { return a - r.first < r.second; };
            if (a < address || std::none_of(readable.begin(), readable.end(), inside))
                return false;
            auto it = put.find(a);
            static_cast<std::uint8_t*>(pBuffer)[a - address] = it != put.end() ? it->second : std::uint8_t(a * 7);
        }
        return true;
    }
};

template <class Write>
std::string Written(Write write) {
    EMemoryFile file;
    EXPECT_EQ(eslErrorSuccess, file.Create(0));
    EXPECT_EQ(eslErrorSuccess, write(file));
    const void* data = file.GetBuffer();
    return data ? std::string(static_cast<const char*>(data), file.GetLength()) : std::string();
}

std::string WriteLog(const ESLCrashMemory& memory, const ESLCrashRegisters& regs) {
    return Written([&](ESLFileObject& f) { return eslWriteCrashLog(f, memory, "C:\\v.exe", 0x1A4, 0xC0000005, regs); });
}

// Apart from those given, values no larger than 0xFFFF, which are no addresses.
ESLCrashRegisters Registers(int bits, std::uint64_t ip = 0, std::uint64_t sp = 0, std::uint64_t ax = 1) {
    return ESLCrashRegisters{bits, ip,   sp,   7,    ax, 2,   0xFFFF, 4, 5, 6, {8, 9, 10, 11, 12, 13, 14, 15},
                             0x1B, 0x23, 0x23, 0x3B, 0,  0x23};
}

bool gHookFails = false;
ESLError Hook(ESLFileObject* file) {
    file->Write(gHookFails ? "half" : "hook\r\n", gHookFails ? 4 : 6);
    return gHookFails ? eslErrorGeneral : eslErrorSuccess;
}

// The first field of each dump line (with firstOnly, of the first line of each dump).
std::string Heads(const std::string& text, bool firstOnly = false) {
    std::string heads;
    bool after = true;
    for (std::size_t at = 0, next; (next = text.find("\r\n", at)) != std::string::npos; at = next + 2) {
        const std::string line = text.substr(at, next - at);
        const std::size_t start = line.find_first_not_of(' '), colon = line.find(" : ");
        if (colon != std::string::npos && (after || !firstOnly))
            heads += line.substr(start, colon - start) + " ";
        after = colon == std::string::npos;
    }
    return heads;
}

}  // namespace

TEST(CrashLog, DumpLineHeaderAndExceptionNames) {
    const std::uint8_t bytes[16] = {0, 9, 10, 13, 0x1F, 0x20, 'A', 0x7F, 0x80, 0x82, 0xA0, 0xFF, '\\', '%', 1, 'z'};
    char line[kESLDumpLineSize];
    EXPECT_EQ("12345670H : 00 09 0A 0D 1F 20 41 7F 80 82 A0 FF 5C 25 01 7A     ..... A\x7F\x80\x82\xA0\xFF\\%.z \r\n",
              std::string(line, eslFormatDumpLine(line, 32, 0x12345670, nullptr, bytes)));
    EXPECT_EQ("       AB : 00 09", std::string(line, eslFormatDumpLine(line, 32, 1, "AB", bytes)).substr(0, 17));
    EXPECT_EQ("         R8+0000H : 00",
              std::string(line, eslFormatDumpLine(line, 64, 1, "R8+0000H", bytes)).substr(0, 22));
    ESLCrashRegisters regs = Registers(32, 0x00401A2B, 0, 0xDEADBEEF);
    char buf[1024];
    std::size_t n = eslFormatCrashHeader(buf, sizeof buf, "C:\\v.exe", 0x1A4, 0xC0000094, regs);
    EXPECT_EQ(
        "モジュール：C:\\v.exe\r\n例外エラーがスレッド 000001A4H で発生しました。\r\n例外エラーコード：C0000094H\r\n"
        "例外エラーの種類：ゼロ除算例外\r\n\r\n\r\nレジスタダンプ；\r\nCS:EIP  = 001B:00401A2B\r\n"
        "EAX = DEADBEEF, EBX = 00000002, ECX = 0000FFFF, EDX = 00000004\r\n"
        "ESI = 00000005, EDI = 00000006, EBP = 00000007, ESP = 00000000\r\n"
        "DS = 0023, ES = 0023, FS = 003B, GS = 0000, SS = 0023\r\n\r\n\r\n",
        std::string(buf, n));
    regs = Registers(64, 0x00007FF6A0B1C2D0ull, 0x000000000022FE10ull, ~0ull);
    regs.r[7] = 0x0123456789ABCDEFull;
    n = eslFormatCrashHeader(buf, sizeof buf, "C:\\v.exe", 0x20, 0xC0000005, regs);
    EXPECT_EQ(
        "モジュール：C:\\v.exe\r\n例外エラーがスレッド 00000020H で発生しました。\r\n例外エラーコード：C0000005H\r\n"
        "例外エラーの種類：ページアクセス例外\r\n\r\n\r\nレジスタダンプ；\r\nCS:RIP  = 001B:00007FF6A0B1C2D0\r\n"
        "RAX = FFFFFFFFFFFFFFFF, RBX = 0000000000000002, RCX = 000000000000FFFF, RDX = 0000000000000004\r\n"
        "RSI = 0000000000000005, RDI = 0000000000000006, RBP = 0000000000000007, RSP = 000000000022FE10\r\n"
        "R8  = 0000000000000008, R9  = 0000000000000009, R10 = 000000000000000A, R11 = 000000000000000B\r\n"
        "R12 = 000000000000000C, R13 = 000000000000000D, R14 = 000000000000000E, R15 = 0123456789ABCDEF\r\n"
        "DS = 0023, ES = 0023, FS = 003B, GS = 0000, SS = 0023\r\n\r\n\r\n",
        std::string(buf, n));
    EXPECT_EQ(1023u, eslFormatCrashHeader(buf, sizeof buf, std::string(2000, 'x').c_str(), 1, 1, regs)) << "cut";
    EXPECT_EQ('\0', buf[1023]);
    EXPECT_STREQ("保護ページ例外", eslGetExceptionName(0x80000001));
    for (DWORD code : {0x80000003ul, 0ul, 0xE06D7363ul})  // the breakpoint is handled before; 0 ends the table
        EXPECT_STREQ("無効例外", eslGetExceptionName(code));
}

// The label heads offset 0; unreadable lines and lines over the top are left out.
TEST(CrashLog, DumpsHoldTheReadableLinesOnly) {
    // Readable memory, bits, address, range and the line heads ("": the dump is left out).
    const std::tuple<Ranges, int, std::uint64_t, int, int, const char*> kCases[] = {
        {{{0x00400F00, 0x400}}, 32, 0x00401000, -48, 48, "00400FD0H 00400FE0H 00400FF0H L 00401010H 00401020H "},
        {{{0x00500000, 0x18}, {0x00500020, 0x20}}, 32, 0x00500000, 0, 64, "L 00500020H 00500030H "},
        {{{0xFFFFFF00, 0x100}, {0, 0x20}}, 32, 0x10, -32, 32, "FFFFFFF0H 00000000H L "},
        {{{0xFFFFFF00, 0x100}, {0, 0x100}}, 32, 0xFFFFFFF8, 0, 48, "00000008H 00000018H "},
        {{{~0ull - 0xFF, 0xFF}}, 64, ~0ull - 7, -32, 32, "FFFFFFFFFFFFFFD8H FFFFFFFFFFFFFFE8H "},
        {{}, 32, 0x00600000, 0, 128, ""},
    };
    for (const auto& [readable, bits, address, first, end, heads] : kCases) {
        const FakeMemory memory(readable);
        const std::string text =
            Written([&, bits = bits, address = address, first = first, end = end, heads = heads](ESLFileObject& f) {
                return eslWriteCrashDump(f, memory, bits, address, "L", first, end, !*heads);
            });
        EXPECT_EQ(heads, Heads(text));
        EXPECT_EQ(*heads ? "\r\n\r\n" : "", text.substr(text.size() >= 4 ? text.size() - 4 : 0)) << heads;
    }
}

// Code, stack, a dump for each register holding a plausible address (an unreadable
// one still ends its section), then for each such word there (unreadable: left out).
TEST(CrashLog, LogsDumpRegistersTheAddressesTheyHoldThenTheHook) {
    FakeMemory memory(
        {{0x00401000, 0x200}, {0x0012FF00, 0x200}, {0x00500000, 0x100}, {0x00510000, 0x100}, {0, 0x10000}});
    const std::uint64_t words[8] = {0x00401100, 0x00001234, 0x00700000, 0x00510000, 4, 5, 6, 7};
    for (int i = 0; i < 8; ++i) {
        memory.PutWord(0x00500000 + 4 * i, words[i], 4);
        memory.PutWord(0x00510000 + 4 * i, 0xFFFF, 4);
    }
    ESLCrashRegisters regs = Registers(32, 0x00401100, 0x0012FF00, 0x00500000);
    regs.si = 0x00510000;
    regs.di = 0x00800000;
    const std::string log = WriteLog(memory, regs), body = log.substr(log.find("コードダンプ；\r\n"));
    EXPECT_EQ("00401000H ESP+0000H EAX+0000H ESI+0000H 00401100H 00510000H ", Heads(body, true));
    EXPECT_NE(std::string::npos, log.find("ESI+0000H : FF FF 00 00"));
    EXPECT_NE(std::string::npos, log.find(" \r\n\r\n\r\n\r\n\r\n00401100H : ")) << "EDI's empty section";
    EXPECT_EQ(32u + 32 + 16 + 16 + 8 + 8, Heads(body).size() / 10) << "lines in all";
    const std::uint64_t heap = 0x0000020000000000ull, other = 0x0000000100000000ull;
    FakeMemory wide({{heap, 0x100}, {other, 0x100}});
    const std::uint64_t wideWords[8] = {0, other, 0x00000000FFFF0000ull};
    for (int i = 0; i < 8; ++i)
        wide.PutWord(heap + 8 * i, wideWords[i], 8);
    regs = Registers(64);
    regs.r[1] = heap;
    EXPECT_EQ("R9+0000H 0000000100000000H ", Heads(WriteLog(wide, regs), true));
    // The hook writes after the dumps; a failed one is marked by an empty line pair.
    const std::string plain = WriteLog(wide, regs);
    EXPECT_EQ(nullptr, eslSetCrashLogHook(Hook));
    EXPECT_EQ(plain + "hook\r\n", WriteLog(wide, regs));
    gHookFails = true;
    EXPECT_EQ(plain + "half\r\n\r\n", WriteLog(wide, regs));
    EXPECT_EQ(Hook, eslSetCrashLogHook(nullptr));
}

// Whatever is unreadable, the log holds only titles, empty lines and whole dump lines.
TEST(CrashLog, RandomHolesKeepEveryLineWellFormed) {
    const std::regex dumpLine(R"(( {0,8}[0-9A-Z+]{1,9}|[0-9A-F]{8}H) : ([0-9A-F]{2} ){16}    [\s\S]{16} )");
    std::mt19937 rng(58);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        Ranges readable;
        for (std::uint64_t base = 0x00400000; base < 0x00404000; base += 0x10) {
            if (rng() % 3)
                readable.emplace_back(base + rng() % 8, 0x10 - rng() % 4);
        }
        ESLCrashRegisters regs = Registers(32);
        for (std::uint64_t* reg : {&regs.ip, &regs.sp, &regs.ax, &regs.bp})
            *reg = 0x00400000 + rng() % 0x4000;
        const std::string log = WriteLog(FakeMemory(readable), regs);
        ASSERT_EQ("\r\n", log.substr(log.size() - 2));
        for (std::size_t at = log.find("コードダンプ；"), next; (next = log.find("\r\n", at)) != std::string::npos;
             at = next + 2) {
            const std::string line = log.substr(at, next - at);
            const bool title = line == "コードダンプ；" || line == "スタックダンプ；" || line == "データダンプ；";
            ASSERT_TRUE(line.empty() || title || (line.size() == 81 && std::regex_match(line, dumpLine))) << line;
        }
    }
}

//--- the handler

namespace {

std::string Question(const std::string& text, UINT type) {
    return "◆　例外エラー情報　◆ " + std::to_string(type | MB_SETFOREGROUND) + "\n" + text;
}

// Answers in order (then 0: no box could be shown).
struct ScriptedPrompt final : ESLCrashPrompt {
    std::vector<int> answers;
    std::string logPath;  // empty: the dialog is cancelled
    std::vector<std::string> asked;
    int pathRequests = 0, terminations = 0;
    int Ask(const char* pszText, const char* pszTitle, UINT uType) noexcept override {
        asked.push_back(std::string(pszTitle) + " " + std::to_string(uType) + "\n" + pszText);
        return asked.size() <= answers.size() ? answers[asked.size() - 1] : 0;
    }
    bool AskLogPath(char* pszPath, std::size_t size) noexcept override {
        ++pathRequests;
        if (logPath.empty() || logPath.size() >= size)
            return false;
        std::memcpy(pszPath, logPath.c_str(), logPath.size() + 1);
        return true;
    }
    void Terminate() noexcept override { ++terminations; }
};

#if defined(_WIN64)
#define CONTEXT_IP Rip
#else
#define CONTEXT_IP Eip
#endif

// A fault at ip in this thread's own context, so that its stack is readable.
struct Fault {
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};
    Fault(DWORD code, const void* ip, DWORD flags = 0) : record{code, flags, nullptr, const_cast<void*>(ip), 0, {}} {
        ::RtlCaptureContext(&context);
        context.CONTEXT_IP = reinterpret_cast<std::uintptr_t>(ip);
        context.SegCs = 0x33;
        context.EFlags = 0x346;  // the trap flag among others
    }
};

}  // namespace

// A breakpoint asks and steps over an int3; a fault asks whether to save a log,
// and only a log written completely is announced as saved.
TEST(CrashHandler, DecisionsByExceptionAndAnswer) {
    static const std::uint8_t code[] = {0xCC, 0x90};
    const std::string log = "velk58_crash.log", noFolder = "velk58_missing\\crash.log";
    constexpr LONG kGoOn = EXCEPTION_CONTINUE_EXECUTION, kPass = EXCEPTION_CONTINUE_SEARCH;
    constexpr DWORD kStep = EXCEPTION_SINGLE_STEP, kBreak = EXCEPTION_BREAKPOINT, kFault = 0xE0000058;
    // Name, code, flags, address, answers, log path, result, questions, step over, path questions, ends.
    const std::tuple<const char*, DWORD, DWORD, const std::uint8_t*, std::vector<int>, std::string, LONG, std::size_t,
                     std::size_t, int, int>
        kCases[] = {
            {"single step", kStep, 0, code, {}, "", kGoOn, 0, 0, 0, 0},
            {"in-page error", EXCEPTION_IN_PAGE_ERROR, 0, code, {}, "", kGoOn, 0, 0, 0, 0},
            {"breakpoint at an int3", kBreak, 0, code, {IDYES}, "", kGoOn, 1, 1, 0, 0},
            {"breakpoint elsewhere", kBreak, 0, code + 1, {IDYES}, "", kGoOn, 1, 0, 0, 0},
            {"breakpoint at no readable code", kBreak, 0, nullptr, {IDYES}, "", kGoOn, 1, 0, 0, 0},
            {"breakpoint, no", kBreak, 0, code, {IDNO}, "", kPass, 1, 0, 0, 0},
            {"fault, no", kFault, 0, code, {IDNO}, "", kGoOn, 1, 0, 0, 0},
            // Resuming would only raise a non-continuable-exception fault.
            {"fault, no, not continuable", kFault, EXCEPTION_NONCONTINUABLE, code, {IDNO}, "", kPass, 1, 0, 0, 0},
            {"fault, cancel", kFault, 0, code, {IDCANCEL}, "", kPass, 1, 0, 0, 1},
            {"fault, no box", kFault, 0, code, {}, "", kPass, 1, 0, 0, 0},
            {"fault, save dialog cancelled", kFault, 0, code, {IDYES}, "", kPass, 1, 0, 1, 0},
            {"fault, log cannot be created", kFault, 0, code, {IDYES, IDYES}, noFolder, kPass, 1, 0, 1, 0},
            {"fault, saved, go on", kFault, 0, code, {IDYES, IDYES}, log, kGoOn, 2, 0, 1, 0},
            {"fault, saved, stop", kFault, 0, code, {IDYES, IDNO}, log, kPass, 2, 0, 1, 0},
        };
    for (const auto& [name, code, flags, ip, answers, path, result, asked, step, pathRequests, ends] : kCases) {
        SCOPED_TRACE(name);
        Fault fault(code, ip, flags);
        ScriptedPrompt prompt;
        prompt.answers = answers;
        prompt.logPath = path;
        EXPECT_EQ(result, eslHandleCrash(&fault.pointers, prompt));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ip) + step, fault.context.CONTEXT_IP);
        EXPECT_EQ(code == kStep ? 0x246u : 0x346u, fault.context.EFlags) << "the trap flag";
        ASSERT_EQ(asked, prompt.asked.size());
        EXPECT_EQ(pathRequests, prompt.pathRequests);
        EXPECT_EQ(ends, prompt.terminations);
        if (asked < 2)
            continue;
        EXPECT_EQ(Question("ログファイルを保存しました。\n処理を続行しますか？", MB_YESNO), prompt.asked[1]);
        std::ifstream in(path, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        char thread[64];
        std::snprintf(thread, sizeof thread, "例外エラーがスレッド %08lXH で", ::GetCurrentThreadId());
        EXPECT_NE(std::string::npos, text.find(thread)) << "the faulting thread";
        EXPECT_NE(std::string::npos, text.find("SP+0000H : ")) << "and its stack";
        in.close();
        ::DeleteFileA(path.c_str());
    }
}

TEST(CrashHandler, QuestionsNameTheExceptionAndWhere) {
    const bool wide = sizeof(void*) == 8;
    Fault breakpoint(EXCEPTION_BREAKPOINT, reinterpret_cast<void*>(0x401A2B));
    Fault fault(0xC0000094, reinterpret_cast<void*>(0x401A2B));
    ScriptedPrompt prompt;
    eslHandleCrash(&breakpoint.pointers, prompt);
    eslHandleCrash(&fault.pointers, prompt);
    ASSERT_EQ(2u, prompt.asked.size());
    EXPECT_EQ(Question(std::string("ブレークポイント例外が ") + (wide ? "0000000000401A2B" : "00401A2B") +
                           "H で発生しました。\n処理を続行しますか？",
                       MB_YESNO),
              prompt.asked[0]);
    EXPECT_EQ(Question(std::string("▼ プログラム実行中に以下の例外エラーが発生しました。\n    ゼロ除算例外\n") +
                           (wide ? "    CS:RIP = 0033:0000000000401A2B\n" : "    CS:EIP = 0033:00401A2B\n") +
                           "\n詳細をログファイルに保存しますか？\n\n"
                           "※このログファイルをプログラム開発者に送ると何らかの修正情報が得られるかもしれません。\n\n"
                           "≫ログを保存して実行を継続する場合には「はい」を、\n"
                           "≫ログを保存せずに実行を継続する場合には「いいえ」を、\n"
                           "≫ログを保存せずに終了する場合には「キャンセル」を選択してください。",
                       MB_YESNOCANCEL),
              prompt.asked[1]);
}

// Pages readable, no access, reserved only; a guard page read would be disarmed.
TEST(CrashProcessMemory, ReadsOnlyWhatIsReadable) {
    constexpr std::size_t kPage = 4096;
    auto* base = static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 3 * kPage, MEM_RESERVE, PAGE_NOACCESS));
    ::VirtualAlloc(base, kPage, MEM_COMMIT, PAGE_READWRITE);
    ::VirtualAlloc(base + kPage, kPage, MEM_COMMIT, PAGE_NOACCESS);
    base[kPage - 1] = 0x5A;
    auto at = [base](std::size_t offset) { return std::uint64_t{reinterpret_cast<std::uintptr_t>(base) + offset}; };
    const ESLCrashMemory& memory = eslProcessMemory();
    std::uint8_t buf[16] = {};
    ASSERT_TRUE(memory.Read(at(kPage - 16), buf, 16));
    EXPECT_EQ(0x5A, buf[15]);
    for (std::uint64_t address : {at(kPage - 8), at(kPage + 16), at(2 * kPage + 16), 0ull, ~0ull - 7})  // or straddling
        EXPECT_FALSE(memory.Read(address, buf, 16)) << address;
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(base, kPage, PAGE_READWRITE | PAGE_GUARD, &old));
    EXPECT_FALSE(memory.Read(at(0), buf, 16));
    MEMORY_BASIC_INFORMATION info{};
    ::VirtualQuery(base, &info, sizeof info);
    EXPECT_TRUE(info.Protect & PAGE_GUARD) << "still armed";
    ::VirtualFree(base, 0, MEM_RELEASE);
}
