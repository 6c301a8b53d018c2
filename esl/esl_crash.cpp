#include "esl_crash.h"

#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "esl_file.h"
#include "esl_handle.h"

namespace {

// Everything here may run on a thread that has just faulted, possibly with a
// damaged heap: no allocation, no exceptions, bounded stack buffers only.

struct ExceptionName {
    DWORD dwCode;
    const char* pszName;
};

constexpr DWORD kEndOfNames = 0xFFFFFFFF;

constexpr ExceptionName kExceptionNames[] = {
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
    {kEndOfNames, "無効例外"},
};

constexpr char kTitle[] = "◆　例外エラー情報　◆";
constexpr char kLogSaved[] = "ログファイルを保存しました。\n処理を続行しますか？";

#if defined(_WIN64)
constexpr char kBreakpointQuestion[] = "ブレークポイント例外が %016llXH で発生しました。\n処理を続行しますか？";
constexpr char kIpName[] = "CS:RIP";
#else
constexpr char kBreakpointQuestion[] = "ブレークポイント例外が %08llXH で発生しました。\n処理を続行しますか？";
constexpr char kIpName[] = "CS:EIP";
#endif

constexpr char kFaultQuestion[] =
    "▼ プログラム実行中に以下の例外エラーが発生しました。\n    %s\n    %s = %04X:%0*llX\n\n"
    "詳細をログファイルに保存しますか？\n\n"
    "※このログファイルをプログラム開発者に送ると何らかの修正情報が得られるかもしれません。\n\n"
    "≫ログを保存して実行を継続する場合には「はい」を、\n"
    "≫ログを保存せずに実行を継続する場合には「いいえ」を、\n"
    "≫ログを保存せずに終了する場合には「キャンセル」を選択してください。";

constexpr char kHeader32[] =
    "モジュール：%s\r\n例外エラーがスレッド %08XH で発生しました。\r\n例外エラーコード：%08XH\r\n"
    "例外エラーの種類：%s\r\n\r\n\r\nレジスタダンプ；\r\nCS:EIP  = %04X:%08X\r\n"
    "EAX = %08X, EBX = %08X, ECX = %08X, EDX = %08X\r\n"
    "ESI = %08X, EDI = %08X, EBP = %08X, ESP = %08X\r\n"
    "DS = %04X, ES = %04X, FS = %04X, GS = %04X, SS = %04X\r\n\r\n\r\n";

// The same header with the 64-bit registers, names padded to three places as
// in the 32-bit one so that the columns stay aligned.
constexpr char kHeader64[] =
    "モジュール：%s\r\n例外エラーがスレッド %08XH で発生しました。\r\n例外エラーコード：%08XH\r\n"
    "例外エラーの種類：%s\r\n\r\n\r\nレジスタダンプ；\r\nCS:RIP  = %04X:%016llX\r\n"
    "RAX = %016llX, RBX = %016llX, RCX = %016llX, RDX = %016llX\r\n"
    "RSI = %016llX, RDI = %016llX, RBP = %016llX, RSP = %016llX\r\n"
    "R8  = %016llX, R9  = %016llX, R10 = %016llX, R11 = %016llX\r\n"
    "R12 = %016llX, R13 = %016llX, R14 = %016llX, R15 = %016llX\r\n"
    "DS = %04X, ES = %04X, FS = %04X, GS = %04X, SS = %04X\r\n\r\n\r\n";

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::atomic<PFUNC_ESL_CRASH_LOG_HOOK> gLogHook{nullptr};
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> gPreviousFilter{nullptr};
// The thread inside the handler: a fault in the handler itself is passed on.
std::atomic<DWORD> gHandlingThread{0};

int AddressDigits(int nBits) {
    return nBits == 64 ? 16 : 8;
}

std::uint64_t AddressMask(int nBits) {
    return nBits == 64 ? ~std::uint64_t{0} : 0xFFFFFFFFu;
}

// A plausible address: some bit above the low 16 set.
bool IsPlausibleAddress(std::uint64_t value, int nBits) {
    return (value & AddressMask(nBits)) >> 16 != 0;
}

char* PutHex(char* out, std::uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i)
        *out++ = kHexDigits[(value >> (i * 4)) & 0xF];
    return out;
}

// Writes and remembers whether anything fell short.
class LogWriter {
public:
    explicit LogWriter(ESLFileObject& file) : m_file(file) {}
    void Put(const char* text, std::size_t bytes) {
        if (bytes && m_file.Write(text, static_cast<DWORD>(bytes)) != bytes)
            m_bFailed = true;
    }
    void Put(const char* text) { Put(text, std::strlen(text)); }
    ESLError Result() const { return m_bFailed ? eslErrorGeneral : eslErrorSuccess; }

private:
    ESLFileObject& m_file;
    bool m_bFailed = false;
};

void WriteDump(LogWriter& out, const ESLCrashMemory& memory, int nBits, std::uint64_t address, const char* label,
               int first, int end, bool omitIfUnreadable) {
    const std::uint64_t mask = AddressMask(nBits);
    bool anyLine = false;
    for (int offset = first; offset < end; offset += 16) {
        const std::uint64_t lineAddress = (address + static_cast<std::int64_t>(offset)) & mask;
        std::uint8_t bytes[16];
        // A line that runs past the top of the address space is unreadable too.
        if (lineAddress > mask - 15 || !memory.Read(lineAddress, bytes, sizeof bytes))
            continue;
        char line[kESLDumpLineSize];
        out.Put(line, eslFormatDumpLine(line, nBits, lineAddress, offset == 0 ? label : nullptr, bytes));
        anyLine = true;
    }
    if (anyLine || !omitIfUnreadable)
        out.Put("\r\n\r\n");
}

struct NamedRegister {
    const char* pszLabel;
    std::uint64_t value;
};

// The registers whose values may be addresses, in the order of the data dump.
std::size_t DataRegisters(const ESLCrashRegisters& regs, NamedRegister (&list)[15]) {
    if (regs.nBits != 64) {
        const NamedRegister named[] = {{"EAX+0000H", regs.ax}, {"EBX+0000H", regs.bx}, {"ECX+0000H", regs.cx},
                                       {"EDX+0000H", regs.dx}, {"ESI+0000H", regs.si}, {"EDI+0000H", regs.di},
                                       {"EBP+0000H", regs.bp}};
        std::copy(std::begin(named), std::end(named), list);
        return std::size(named);
    }
    const NamedRegister named[] = {{"RAX+0000H", regs.ax},   {"RBX+0000H", regs.bx},   {"RCX+0000H", regs.cx},
                                   {"RDX+0000H", regs.dx},   {"RSI+0000H", regs.si},   {"RDI+0000H", regs.di},
                                   {"RBP+0000H", regs.bp},   {"R8+0000H", regs.r[0]},  {"R9+0000H", regs.r[1]},
                                   {"R10+0000H", regs.r[2]}, {"R11+0000H", regs.r[3]}, {"R12+0000H", regs.r[4]},
                                   {"R13+0000H", regs.r[5]}, {"R14+0000H", regs.r[6]}, {"R15+0000H", regs.r[7]}};
    std::copy(std::begin(named), std::end(named), list);
    return std::size(named);
}

// One register's first eight words, each followed where it looks like an address.
void WritePointedDumps(LogWriter& out, const ESLCrashMemory& memory, int nBits, std::uint64_t address) {
    const std::size_t wordBytes = nBits == 64 ? 8 : 4;
    const std::uint64_t mask = AddressMask(nBits);
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint64_t wordAddress = (address + i * wordBytes) & mask;
        std::uint64_t word = 0;  // little-endian: the low bytes are the word
        if (wordAddress > mask - (wordBytes - 1) || !memory.Read(wordAddress, &word, wordBytes))
            continue;
        if (!IsPlausibleAddress(word, nBits))
            continue;
        char label[24];
        char* end = PutHex(label, word, AddressDigits(nBits));
        *end++ = 'H';
        *end = '\0';
        WriteDump(out, memory, nBits, word, label, 0, 128, true);
    }
}

class ProcessMemory final : public ESLCrashMemory {
public:
    bool Read(std::uint64_t address, void* pBuffer, std::size_t bytes) const noexcept override {
        const std::uintptr_t top = ~std::uintptr_t{0};
        if (address > top || bytes > top - address)
            return false;
        // Every page must be committed and readable: touching a guard page
        // would disarm the stack's growth, and reading a hole faults.
        std::uintptr_t at = static_cast<std::uintptr_t>(address);
        const std::uintptr_t end = at + bytes;
        while (at < end) {
            MEMORY_BASIC_INFORMATION info{};
            if (!::VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info))
                return false;
            if (info.State != MEM_COMMIT || !IsReadable(info.Protect))
                return false;
            const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
            if (next <= at)
                return false;
            at = next;
        }
        // Still through the system: another thread may free the page meanwhile.
        SIZE_T copied = 0;
        return ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(address), pBuffer, bytes,
                                   &copied) &&
               copied == bytes;
    }

private:
    static bool IsReadable(DWORD protect) {
        if (protect & (PAGE_GUARD | PAGE_NOACCESS))
            return false;
        return (protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
    }
};

constexpr ProcessMemory kProcessMemory;

LONG ContinueIfPossible(const EXCEPTION_RECORD& record) {
    // Resuming after a non-continuable exception only raises another one.
    return (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) ? EXCEPTION_CONTINUE_SEARCH
                                                              : EXCEPTION_CONTINUE_EXECUTION;
}

std::uint64_t InstructionPointer(const CONTEXT& context) {
#if defined(_WIN64)
    return context.Rip;
#else
    return context.Eip;
#endif
}

void StepInstructionPointer(CONTEXT& context) {
#if defined(_WIN64)
    ++context.Rip;
#else
    ++context.Eip;
#endif
}

LONG OnBreakpoint(const EXCEPTION_RECORD& record, CONTEXT& context, ESLCrashPrompt& prompt) {
    char text[256];
    std::snprintf(text, sizeof text, kBreakpointQuestion,
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress)));
    if (prompt.Ask(text, kTitle, MB_YESNO | MB_SETFOREGROUND) != IDYES)
        return EXCEPTION_CONTINUE_SEARCH;
    std::uint8_t opcode = 0;
    if (kProcessMemory.Read(InstructionPointer(context), &opcode, 1) && opcode == 0xCC)
        StepInstructionPointer(context);
    return ContinueIfPossible(record);
}

ESLError SaveLog(const char* path, const EXCEPTION_RECORD& record, const CONTEXT& context, DWORD threadId) {
    ERawFile file;
    if (file.Open(path, ESLFileObject::modeCreate | ESLFileObject::modeWrite) != eslErrorSuccess)
        return eslErrorGeneral;
    char module[MAX_PATH + 1] = {};
    if (!::GetModuleFileNameA(nullptr, module, MAX_PATH))
        module[0] = '\0';
    ESLError result = eslWriteCrashLog(file, kProcessMemory, module, threadId, record.ExceptionCode,
                                       eslCrashRegistersFromContext(context));
    file.Close();
    return result;
}

LONG OnFault(const EXCEPTION_RECORD& record, CONTEXT& context, ESLCrashPrompt& prompt, DWORD threadId) {
    const ESLCrashRegisters regs = eslCrashRegistersFromContext(context);
    char text[1024];
    std::snprintf(text, sizeof text, kFaultQuestion, eslGetExceptionName(record.ExceptionCode), kIpName,
                  static_cast<unsigned>(regs.cs), AddressDigits(regs.nBits), static_cast<unsigned long long>(regs.ip));
    switch (prompt.Ask(text, kTitle, MB_YESNOCANCEL | MB_SETFOREGROUND)) {
    case IDCANCEL:
        prompt.Terminate();
        return EXCEPTION_CONTINUE_SEARCH;
    case IDNO:
        return ContinueIfPossible(record);
    case IDYES:
        break;
    default:  // no box could be shown: nobody to ask, so pass it on
        return EXCEPTION_CONTINUE_SEARCH;
    }
    char path[1024] = {};
    if (!prompt.AskLogPath(path, sizeof path))
        return EXCEPTION_CONTINUE_SEARCH;
    path[sizeof path - 1] = '\0';
    // A log that could not be written completely is not announced as saved.
    if (SaveLog(path, record, context, threadId) != eslErrorSuccess)
        return EXCEPTION_CONTINUE_SEARCH;
    if (prompt.Ask(kLogSaved, kTitle, MB_YESNO | MB_SETFOREGROUND) != IDYES)
        return EXCEPTION_CONTINUE_SEARCH;
    return ContinueIfPossible(record);
}

class SystemPrompt final : public ESLCrashPrompt {
public:
    int Ask(const char* pszText, const char* pszTitle, UINT uType) noexcept override {
        return ::MessageBoxA(nullptr, pszText, pszTitle, uType);
    }
    bool AskLogPath(char* pszPath, std::size_t size) noexcept override {
        OPENFILENAMEA ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.lpstrFilter = "error log file (*.log)\0*.log\0";
        ofn.lpstrFile = pszPath;
        ofn.nMaxFile = static_cast<DWORD>(size);
        ofn.lpstrTitle = "ログファイル保存";
        ofn.lpstrDefExt = "log";
        ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
        pszPath[0] = '\0';
        return ::GetSaveFileNameA(&ofn) != FALSE;
    }
    void Terminate() noexcept override { ::TerminateProcess(::GetCurrentProcess(), 0xFFFFFFFF); }
};

}  // namespace

PFUNC_ESL_CRASH_LOG_HOOK eslGetCrashLogHook() noexcept {
    return gLogHook.load();
}

PFUNC_ESL_CRASH_LOG_HOOK eslSetCrashLogHook(PFUNC_ESL_CRASH_LOG_HOOK pfnHook) noexcept {
    return gLogHook.exchange(pfnHook);
}

const char* eslGetExceptionName(DWORD dwCode) noexcept {
    const ExceptionName* entry = kExceptionNames;
    while (entry->dwCode != kEndOfNames && entry->dwCode != dwCode)
        ++entry;
    return entry->pszName;
}

ESLCrashRegisters eslCrashRegistersFromContext(const CONTEXT& context) noexcept {
    ESLCrashRegisters regs{};
#if defined(_WIN64)
    regs.nBits = 64;
    regs.ip = context.Rip;
    regs.sp = context.Rsp;
    regs.bp = context.Rbp;
    regs.ax = context.Rax;
    regs.bx = context.Rbx;
    regs.cx = context.Rcx;
    regs.dx = context.Rdx;
    regs.si = context.Rsi;
    regs.di = context.Rdi;
    const DWORD64 extended[8] = {context.R8,  context.R9,  context.R10, context.R11,
                                 context.R12, context.R13, context.R14, context.R15};
    std::copy(std::begin(extended), std::end(extended), regs.r);
#else
    regs.nBits = 32;
    regs.ip = context.Eip;
    regs.sp = context.Esp;
    regs.bp = context.Ebp;
    regs.ax = context.Eax;
    regs.bx = context.Ebx;
    regs.cx = context.Ecx;
    regs.dx = context.Edx;
    regs.si = context.Esi;
    regs.di = context.Edi;
#endif
    regs.cs = static_cast<WORD>(context.SegCs);
    regs.ds = static_cast<WORD>(context.SegDs);
    regs.es = static_cast<WORD>(context.SegEs);
    regs.fs = static_cast<WORD>(context.SegFs);
    regs.gs = static_cast<WORD>(context.SegGs);
    regs.ss = static_cast<WORD>(context.SegSs);
    return regs;
}

const ESLCrashMemory& eslProcessMemory() noexcept {
    return kProcessMemory;
}

std::size_t eslFormatDumpLine(char (&line)[kESLDumpLineSize], int nBits, std::uint64_t address, const char* pszLabel,
                              const std::uint8_t (&bytes)[16]) noexcept {
    const int digits = AddressDigits(nBits);
    char* out = line;
    if (pszLabel) {
        // Right-aligned to the width of "<address>H"; a longer label is cut
        // so that the line always fits.
        const std::size_t width = static_cast<std::size_t>(digits) + 1;
        const std::size_t length = strnlen(pszLabel, width);
        std::memset(out, ' ', width - length);
        std::memcpy(out + (width - length), pszLabel, length);
        out += width;
    } else {
        out = PutHex(out, address, digits);
        *out++ = 'H';
    }
    std::memcpy(out, " : ", 3);
    out += 3;
    for (std::uint8_t b : bytes) {
        out = PutHex(out, b, 2);
        *out++ = ' ';
    }
    std::memcpy(out, "    ", 4);
    out += 4;
    for (std::uint8_t b : bytes)
        *out++ = b < 0x20 ? '.' : static_cast<char>(b);
    std::memcpy(out, " \r\n", 3);
    out += 3;
    *out = '\0';
    return static_cast<std::size_t>(out - line);
}

std::size_t eslFormatCrashHeader(char* pszBuffer, std::size_t size, const char* pszModule, DWORD dwThreadId,
                                 DWORD dwCode, const ESLCrashRegisters& regs) noexcept {
    if (!pszBuffer || size == 0)
        return 0;
    const char* module = pszModule ? pszModule : "";
    const char* name = eslGetExceptionName(dwCode);
    int n;
    if (regs.nBits == 64) {
        using U = unsigned long long;
        n = std::snprintf(
            pszBuffer, size, kHeader64, module, static_cast<unsigned>(dwThreadId), static_cast<unsigned>(dwCode), name,
            static_cast<unsigned>(regs.cs), U{regs.ip}, U{regs.ax}, U{regs.bx}, U{regs.cx}, U{regs.dx}, U{regs.si},
            U{regs.di}, U{regs.bp}, U{regs.sp}, U{regs.r[0]}, U{regs.r[1]}, U{regs.r[2]}, U{regs.r[3]}, U{regs.r[4]},
            U{regs.r[5]}, U{regs.r[6]}, U{regs.r[7]}, static_cast<unsigned>(regs.ds), static_cast<unsigned>(regs.es),
            static_cast<unsigned>(regs.fs), static_cast<unsigned>(regs.gs), static_cast<unsigned>(regs.ss));
    } else {
        auto u = [](std::uint64_t v) { return static_cast<unsigned>(v & 0xFFFFFFFFu); };
        n = std::snprintf(pszBuffer, size, kHeader32, module, u(dwThreadId), u(dwCode), name, u(regs.cs), u(regs.ip),
                          u(regs.ax), u(regs.bx), u(regs.cx), u(regs.dx), u(regs.si), u(regs.di), u(regs.bp),
                          u(regs.sp), u(regs.ds), u(regs.es), u(regs.fs), u(regs.gs), u(regs.ss));
    }
    if (n < 0) {
        pszBuffer[0] = '\0';
        return 0;
    }
    return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

ESLError eslWriteCrashDump(ESLFileObject& file, const ESLCrashMemory& memory, int nBits, std::uint64_t address,
                           const char* pszLabel, int nFirst, int nEnd, bool bOmitIfUnreadable) noexcept {
    LogWriter out(file);
    WriteDump(out, memory, nBits, address, pszLabel, nFirst, nEnd, bOmitIfUnreadable);
    return out.Result();
}

ESLError eslWriteCrashLog(ESLFileObject& file, const ESLCrashMemory& memory, const char* pszModule, DWORD dwThreadId,
                          DWORD dwCode, const ESLCrashRegisters& regs) noexcept {
    LogWriter out(file);
    const int bits = regs.nBits == 64 ? 64 : 32;
    char header[1024];
    out.Put(header, eslFormatCrashHeader(header, sizeof header, pszModule, dwThreadId, dwCode, regs));

    out.Put("コードダンプ；\r\n");
    WriteDump(out, memory, bits, regs.ip, bits == 64 ? "RIP+0000H" : "EIP+0000H", -256, 256, false);
    out.Put("スタックダンプ；\r\n");
    WriteDump(out, memory, bits, regs.sp, bits == 64 ? "RSP+0000H" : "ESP+0000H", 0, 512, false);

    out.Put("データダンプ；\r\n");
    NamedRegister registers[15];
    const std::size_t count = DataRegisters(regs, registers);
    for (std::size_t i = 0; i < count; ++i) {
        if (IsPlausibleAddress(registers[i].value, bits))
            WriteDump(out, memory, bits, registers[i].value, registers[i].pszLabel, 0, 256, false);
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (IsPlausibleAddress(registers[i].value, bits))
            WritePointedDumps(out, memory, bits, registers[i].value);
    }

    if (PFUNC_ESL_CRASH_LOG_HOOK hook = gLogHook.load()) {
        if (hook(&file) != eslErrorSuccess)
            out.Put("\r\n\r\n");
    }
    return out.Result();
}

namespace {

// threadId: the faulting thread, which the log names.
LONG HandleCrash(EXCEPTION_POINTERS* pException, ESLCrashPrompt& prompt, DWORD threadId) {
    if (!pException || !pException->ExceptionRecord || !pException->ContextRecord)
        return EXCEPTION_CONTINUE_SEARCH;
    const EXCEPTION_RECORD& record = *pException->ExceptionRecord;
    CONTEXT& context = *pException->ContextRecord;
    switch (record.ExceptionCode) {
    case EXCEPTION_SINGLE_STEP:
        context.EFlags &= ~DWORD{0x100};  // the trap flag
        return EXCEPTION_CONTINUE_EXECUTION;
    case EXCEPTION_BREAKPOINT:
        return OnBreakpoint(record, context, prompt);
    case EXCEPTION_IN_PAGE_ERROR:
        return ContinueIfPossible(record);  // the access is retried
    default:
        return OnFault(record, context, prompt, threadId);
    }
}

struct DeferredCrash {
    EXCEPTION_POINTERS* pException;
    DWORD threadId;
    LONG result;
};

DWORD WINAPI HandleDeferredCrash(void* param) {
    auto* crash = static_cast<DeferredCrash*>(param);
    SystemPrompt prompt;
    crash->result = HandleCrash(crash->pException, prompt, crash->threadId);
    return 0;
}

// After a stack overflow only the guard region is left, too little for a
// message box or the save dialog: those run on a thread with a stack of its
// own while the faulting thread waits.
LONG HandleOnOwnStack(EXCEPTION_POINTERS* pException, DWORD threadId) {
    DeferredCrash crash{pException, threadId, EXCEPTION_CONTINUE_SEARCH};
    esl::UniqueKernelHandle thread(::CreateThread(nullptr, 256 * 1024, HandleDeferredCrash, &crash, 0, nullptr));
    if (!thread)
        return EXCEPTION_CONTINUE_SEARCH;
    ::WaitForSingleObject(thread.get(), INFINITE);
    return crash.result;
}

}  // namespace

LONG eslHandleCrash(EXCEPTION_POINTERS* pException, ESLCrashPrompt& prompt) noexcept {
    return HandleCrash(pException, prompt, ::GetCurrentThreadId());
}

LONG WINAPI eslCrashFilter(EXCEPTION_POINTERS* pException) {
    const DWORD self = ::GetCurrentThreadId();
    DWORD owner = 0;
    const bool claimed = gHandlingThread.compare_exchange_strong(owner, self);
    if (!claimed && owner == self)
        return EXCEPTION_CONTINUE_SEARCH;  // the handler itself faulted
    LONG result;
    if (pException && pException->ExceptionRecord &&
        pException->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        result = HandleOnOwnStack(pException, self);
    } else {
        SystemPrompt prompt;
        result = HandleCrash(pException, prompt, self);
    }
    if (claimed)
        gHandlingThread.store(0);
    return result;
}

void eslInstallCrashHandler() noexcept {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(eslCrashFilter);
    if (previous != eslCrashFilter)
        gPreviousFilter.store(previous);
}

void eslRemoveCrashHandler() noexcept {
    LPTOP_LEVEL_EXCEPTION_FILTER current = ::SetUnhandledExceptionFilter(gPreviousFilter.load());
    if (current != eslCrashFilter)
        ::SetUnhandledExceptionFilter(current);  // someone came after us: theirs stays
    else
        gPreviousFilter.store(nullptr);
}
