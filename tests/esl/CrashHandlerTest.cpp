// The crash handler's decisions and its reading of this process's memory,
// with the questions answered by the test: no message box is ever shown.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "esl_crash.h"
#include "esl_file.h"

namespace {

constexpr char kTitle[] = "◆　例外エラー情報　◆";

// A message box's text, title and style; every box has the same title and comes to the front.
struct Question {
    std::string text, title;
    UINT type;
    Question(std::string t, UINT buttons, std::string caption = kTitle, UINT extra = MB_SETFOREGROUND)
        : text(std::move(t)), title(std::move(caption)), type(buttons | extra) {}
    bool operator==(const Question& o) const { return text == o.text && title == o.title && type == o.type; }
};
void PrintTo(const Question& q, std::ostream* os) {
    *os << q.title << " / " << std::hex << q.type << " / " << q.text;
}

class ScriptedPrompt final : public ESLCrashPrompt {
public:
    std::vector<int> answers;  // one per Ask, in order
    std::string logPath;       // empty: the dialog is cancelled
    std::vector<Question> asked;
    int pathRequests = 0;
    int terminations = 0;

    int Ask(const char* pszText, const char* pszTitle, UINT uType) noexcept override {
        asked.emplace_back(pszText, uType, pszTitle, 0);
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
#define CONTEXT_SP Rsp
#else
#define CONTEXT_IP Eip
#define CONTEXT_SP Esp
#endif

struct Fault {
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    EXCEPTION_POINTERS pointers{&record, &context};

    explicit Fault(DWORD code, const void* ip = nullptr) {
        record.ExceptionCode = code;
        record.ExceptionAddress = const_cast<void*>(ip);
        context.CONTEXT_IP = reinterpret_cast<std::uintptr_t>(ip);
        context.SegCs = 0x33;
    }
};

std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    ::GetTempPathA(MAX_PATH, dir);
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%svelk58_%lu_%s", dir, ::GetCurrentProcessId(), name);
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Three pages: readable, no access, reserved only.
class Pages {
public:
    Pages() {
        m_base = static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 3 * kPage, MEM_RESERVE, PAGE_NOACCESS));
        ::VirtualAlloc(m_base, kPage, MEM_COMMIT, PAGE_READWRITE);
        ::VirtualAlloc(m_base + kPage, kPage, MEM_COMMIT, PAGE_NOACCESS);
        for (std::size_t i = 0; i < kPage; ++i)
            m_base[i] = static_cast<std::uint8_t>(i);
    }
    ~Pages() { ::VirtualFree(m_base, 0, MEM_RELEASE); }
    std::uint8_t* Base() const { return m_base; }
    std::uint64_t Address(std::size_t offset) const { return reinterpret_cast<std::uintptr_t>(m_base) + offset; }
    static constexpr std::size_t kPage = 4096;

private:
    std::uint8_t* m_base;
};

// The dump lines between two section titles.
std::size_t DumpLines(const std::string& log, const char* title, const char* next) {
    const std::size_t from = log.find(title), to = log.find(next);
    if (from == std::string::npos || to == std::string::npos || to < from)
        return 0;
    std::size_t n = 0;
    for (std::size_t at = from; (at = log.find(" \r\n", at)) != std::string::npos && at < to; at += 3)
        ++n;
    return n;
}

}  // namespace

TEST(CrashProcessMemory, ReadsOnlyWhatIsReadable) {
    Pages pages;
    const ESLCrashMemory& memory = eslProcessMemory();
    std::uint8_t buf[16] = {};
    ASSERT_TRUE(memory.Read(pages.Address(0x100), buf, 16));
    EXPECT_EQ(0x00, buf[0]);
    EXPECT_EQ(0x0F, buf[15]);
    EXPECT_TRUE(memory.Read(pages.Address(Pages::kPage - 16), buf, 16));

    struct Case {
        const char* name;
        std::uint64_t address;
    };
    const Case unreadable[] = {
        {"straddles into a no-access page", pages.Address(Pages::kPage - 8)},
        {"no-access page", pages.Address(Pages::kPage + 0x10)},
        {"reserved page", pages.Address(2 * Pages::kPage + 0x10)},
        {"null page", 0},
        {"top of the address space", ~std::uint64_t{0} - 7},
    };
    for (const Case& c : unreadable) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(memory.Read(c.address, buf, 16));
    }
    // Reading a guard page would disarm it (a thread stack could no longer grow).
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages.Base(), Pages::kPage, PAGE_READWRITE | PAGE_GUARD, &old));
    EXPECT_FALSE(memory.Read(pages.Address(0), buf, 16));
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_TRUE(::VirtualQuery(pages.Base(), &info, sizeof info));
    EXPECT_TRUE(info.Protect & PAGE_GUARD);
}

TEST(CrashProcessMemory, LogEndsCleanlyWhereReadableMemoryEnds) {
    Pages pages;
    ESLCrashRegisters regs{};
    regs.nBits = sizeof(void*) * 8;
    regs.ip = pages.Address(Pages::kPage - 16);  // code runs into the no-access page
    regs.sp = pages.Address(Pages::kPage - 64);
    regs.ax = pages.Address(Pages::kPage + 0x100);
    EMemoryFile file;
    ASSERT_EQ(eslErrorSuccess, file.Create(0));
    ASSERT_EQ(eslErrorSuccess, eslWriteCrashLog(file, eslProcessMemory(), "m", 1, 0xC0000005, regs));
    const std::string log(static_cast<const char*>(file.GetBuffer()), file.GetLength());

    // From -256 to 0: seventeen lines, the last one labelled.
    EXPECT_EQ(17u, DumpLines(log, "コードダンプ；", "スタックダンプ；"));
    EXPECT_NE(std::string::npos, log.find("IP+0000H : F0 F1 F2"));
    EXPECT_NE(std::string::npos, log.find(" \r\n\r\n\r\nスタックダンプ；"));
    EXPECT_EQ(4u, DumpLines(log, "スタックダンプ；", "データダンプ；"));
    // The no-access address in EAX/RAX: its dump is empty and the log goes on.
    EXPECT_EQ("データダンプ；\r\n\r\n\r\n", log.substr(log.find("データダンプ；")));
}

TEST(CrashHandler, SingleStepAndInPageErrorContinueWithoutAsking) {
    Fault step(EXCEPTION_SINGLE_STEP);
    step.context.EFlags = 0x346;
    ScriptedPrompt prompt;
    EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, eslHandleCrash(&step.pointers, prompt));
    EXPECT_EQ(0x246u, step.context.EFlags) << "the trap flag is cleared, nothing else";
    Fault inPage(EXCEPTION_IN_PAGE_ERROR);
    EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, eslHandleCrash(&inPage.pointers, prompt));
    EXPECT_TRUE(prompt.asked.empty());
}

TEST(CrashHandler, BreakpointAsksAndStepsOverInt3) {
    static const std::uint8_t code[] = {0xCC, 0x90, 0x90};
    char expected[256];
    std::snprintf(expected, sizeof expected, "ブレークポイント例外が %0*llXH で発生しました。\n処理を続行しますか？",
                  int(sizeof(void*) * 2), static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(code)));
    struct Case {
        const char* name;
        const std::uint8_t* ip;
        int answer;
        LONG result;
        std::size_t step;
    };
    const Case cases[] = {
        {"yes at an int3", code, IDYES, EXCEPTION_CONTINUE_EXECUTION, 1},
        {"yes elsewhere", code + 1, IDYES, EXCEPTION_CONTINUE_EXECUTION, 0},
        {"no", code, IDNO, EXCEPTION_CONTINUE_SEARCH, 0},
        {"no box", code, 0, EXCEPTION_CONTINUE_SEARCH, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fault fault(EXCEPTION_BREAKPOINT, c.ip);
        fault.record.ExceptionAddress = const_cast<std::uint8_t*>(code);
        ScriptedPrompt prompt;
        prompt.answers = {c.answer};
        EXPECT_EQ(c.result, eslHandleCrash(&fault.pointers, prompt));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c.ip) + c.step, fault.context.CONTEXT_IP);
        ASSERT_EQ(1u, prompt.asked.size());
        EXPECT_EQ(Question(expected, MB_YESNO), prompt.asked[0]);
    }
    // An unreadable instruction pointer is not stepped, and nothing faults.
    Fault fault(EXCEPTION_BREAKPOINT, nullptr);
    ScriptedPrompt prompt;
    prompt.answers = {IDYES};
    EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, eslHandleCrash(&fault.pointers, prompt));
    EXPECT_EQ(0u, fault.context.CONTEXT_IP);
}

TEST(CrashHandler, FaultQuestionNamesTheExceptionAndWhere) {
    Fault fault(0xC0000094, reinterpret_cast<void*>(0x401A2B));
    ScriptedPrompt prompt;
    prompt.answers = {IDNO};
    EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, eslHandleCrash(&fault.pointers, prompt));
    ASSERT_EQ(1u, prompt.asked.size());
    const std::string where =
        sizeof(void*) == 8 ? "    CS:RIP = 0033:0000000000401A2B\n" : "    CS:EIP = 0033:00401A2B\n";
    EXPECT_EQ(Question("▼ プログラム実行中に以下の例外エラーが発生しました。\n    ゼロ除算例外\n" + where +
                           "\n詳細をログファイルに保存しますか？\n\n"
                           "※このログファイルをプログラム開発者に送ると何らかの修正情報が得られるかもしれません。\n\n"
                           "≫ログを保存して実行を継続する場合には「はい」を、\n"
                           "≫ログを保存せずに実行を継続する場合には「いいえ」を、\n"
                           "≫ログを保存せずに終了する場合には「キャンセル」を選択してください。",
                       MB_YESNOCANCEL),
              prompt.asked[0]);
    EXPECT_EQ(0, prompt.pathRequests);
}

TEST(CrashHandler, AnswersThatWriteNoLog) {
    const struct {
        const char* name;
        int answer;
        DWORD flags;
        std::string path;
        LONG result;
        int terminations, pathRequests;
    } kCases[] = {
        {"no continues", IDNO, 0, "", EXCEPTION_CONTINUE_EXECUTION, 0, 0},
        // Resuming would only raise a non-continuable-exception fault.
        {"no on a non-continuable exception", IDNO, EXCEPTION_NONCONTINUABLE, "", EXCEPTION_CONTINUE_SEARCH, 0, 0},
        {"cancel ends the process", IDCANCEL, 0, "", EXCEPTION_CONTINUE_SEARCH, 1, 0},
        {"no box could be shown", 0, 0, "", EXCEPTION_CONTINUE_SEARCH, 0, 0},
        {"yes, save dialog cancelled", IDYES, 0, "", EXCEPTION_CONTINUE_SEARCH, 0, 1},
        {"yes, file cannot be created", IDYES, 0, TempPath("missing_folder\\crash.log"), EXCEPTION_CONTINUE_SEARCH, 0,
         1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        Fault fault(0xC0000005);
        fault.record.ExceptionFlags = c.flags;
        ScriptedPrompt prompt;
        prompt.answers = {c.answer, IDYES};
        prompt.logPath = c.path;
        EXPECT_EQ(c.result, eslHandleCrash(&fault.pointers, prompt));
        EXPECT_EQ(c.terminations, prompt.terminations);
        EXPECT_EQ(c.pathRequests, prompt.pathRequests);
        EXPECT_EQ(1u, prompt.asked.size()) << "no 'saved' question";
    }
}

TEST(CrashHandler, YesSavesTheLogThenAsksWhetherToGoOn) {
    static std::uint8_t code[512];
    static std::uint8_t stack[512];
    for (int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(answer);
        const std::string path = TempPath("crash.log");
        ::DeleteFileA(path.c_str());
        Fault fault(0xC0000005, code + 256);
        fault.context.CONTEXT_SP = reinterpret_cast<std::uintptr_t>(stack);
        ScriptedPrompt prompt;
        prompt.answers = {IDYES, answer};
        prompt.logPath = path;
        EXPECT_EQ(answer == IDYES ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH,
                  eslHandleCrash(&fault.pointers, prompt));
        ASSERT_EQ(2u, prompt.asked.size());
        EXPECT_EQ(Question("ログファイルを保存しました。\n処理を続行しますか？", MB_YESNO), prompt.asked[1]);

        char module[MAX_PATH + 1] = {};
        ::GetModuleFileNameA(nullptr, module, MAX_PATH);
        char header[1024];
        const std::size_t n = eslFormatCrashHeader(header, sizeof header, module, ::GetCurrentThreadId(), 0xC0000005,
                                                   eslCrashRegistersFromContext(fault.context));
        const std::string log = ReadFile(path);
        EXPECT_EQ(std::string(header, n), log.substr(0, n));
        EXPECT_NE(std::string::npos, log.find("スタックダンプ；\r\n"));
        ::DeleteFileA(path.c_str());
    }
}

namespace {
constexpr DWORD kRaisedCode = 0xE0000058;
ScriptedPrompt* gVectoredPrompt = nullptr;
LONG gVectoredResult = 0;

LONG CALLBACK HandleRaised(EXCEPTION_POINTERS* pException) {
    if (pException->ExceptionRecord->ExceptionCode != kRaisedCode || !gVectoredPrompt)
        return EXCEPTION_CONTINUE_SEARCH;
    gVectoredResult = eslHandleCrash(pException, *gVectoredPrompt);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

TEST(CrashHandler, LogOfARealExceptionContext) {
    // The system's own context for a raised exception: code and stack are
    // readable, so both dumps are complete.
    const std::string path = TempPath("raised.log");
    ::DeleteFileA(path.c_str());
    ScriptedPrompt prompt;
    prompt.answers = {IDYES, IDYES};
    prompt.logPath = path;
    gVectoredPrompt = &prompt;
    PVOID handler = ::AddVectoredExceptionHandler(1, HandleRaised);
    ASSERT_NE(nullptr, handler);
    ::RaiseException(kRaisedCode, 0, 0, nullptr);
    ::RemoveVectoredExceptionHandler(handler);
    gVectoredPrompt = nullptr;

    EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, gVectoredResult);
    const std::string log = ReadFile(path);
    ::DeleteFileA(path.c_str());
    EXPECT_NE(std::string::npos, log.find("例外エラーコード：E0000058H\r\n例外エラーの種類：無効例外\r\n"));
    EXPECT_EQ(32u, DumpLines(log, "コードダンプ；", "スタックダンプ；"));
    EXPECT_EQ(32u, DumpLines(log, "スタックダンプ；", "データダンプ；"));
    EXPECT_EQ("\r\n", log.substr(log.size() - 2));
}
