// The crash handler: an unhandled-exception filter that asks the user what to
// do after a processor exception and can save an error log with registers and
// memory dumps. The log is put together by functions that take the register
// state and the memory as arguments, so both layouts (32 and 64-bit) can be
// produced and checked on either build.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "esl_error.h"

class ESLFileObject;

// Called with the open log after the dumps; a nonzero result is a failure,
// marked in the log by an empty line pair.
typedef ESLError (*PFUNC_ESL_CRASH_LOG_HOOK)(ESLFileObject* pFile);

PFUNC_ESL_CRASH_LOG_HOOK eslGetCrashLogHook() noexcept;
// Returns the hook installed before.
PFUNC_ESL_CRASH_LOG_HOOK eslSetCrashLogHook(PFUNC_ESL_CRASH_LOG_HOOK pfnHook) noexcept;

// The name of an exception code; codes not in the table get the default name.
const char* eslGetExceptionName(DWORD dwCode) noexcept;

// Register state of a log. nBits chooses the layout: 32 writes the E.. names
// with eight hex digits, 64 the R.. names (and R8 to R15) with sixteen.
struct ESLCrashRegisters {
    int nBits;
    std::uint64_t ip, sp, bp;
    std::uint64_t ax, bx, cx, dx, si, di;
    std::uint64_t r[8];  // R8 to R15; 64-bit layout only
    WORD cs, ds, es, fs, gs, ss;
};

// The registers of this build's context, in its own layout.
ESLCrashRegisters eslCrashRegistersFromContext(const CONTEXT& context) noexcept;

// Memory for the dumps. Read fails (false) unless every byte is readable.
class ESLCrashMemory {
public:
    virtual bool Read(std::uint64_t address, void* pBuffer, std::size_t bytes) const noexcept = 0;

protected:
    ~ESLCrashMemory() = default;
};

// This process's memory. Pages are checked before they are read, so an
// unreadable address fails the read instead of faulting again.
const ESLCrashMemory& eslProcessMemory() noexcept;

// Room for one dump line of either layout, with its terminating zero.
constexpr std::size_t kESLDumpLineSize = 128;

// One line of 16 bytes: the label (right-aligned to the address column) when
// pszLabel is given, otherwise the address; the bytes in hex, four spaces,
// the bytes as characters (below 0x20 as '.') and " \r\n". Returns its length.
std::size_t eslFormatDumpLine(char (&line)[kESLDumpLineSize], int nBits, std::uint64_t address, const char* pszLabel,
                              const std::uint8_t (&bytes)[16]) noexcept;

// The log's header (module, thread, code, name, register dump), cut to the
// buffer's size. Returns its length.
std::size_t eslFormatCrashHeader(char* pszBuffer, std::size_t size, const char* pszModule, DWORD dwThreadId,
                                 DWORD dwCode, const ESLCrashRegisters& regs) noexcept;

// A dump of [address + first, address + end) in lines of 16 bytes, the line
// at offset 0 headed by the label, then "\r\n\r\n". Lines that cannot be read
// are left out. With bOmitIfUnreadable a dump with no readable line writes
// nothing at all. Returns eslErrorGeneral if a write fell short.
ESLError eslWriteCrashDump(ESLFileObject& file, const ESLCrashMemory& memory, int nBits, std::uint64_t address,
                           const char* pszLabel, int nFirst, int nEnd, bool bOmitIfUnreadable = false) noexcept;

// The whole log: header, code, stack and data dumps, then the log hook.
// Returns eslErrorGeneral if a write fell short.
ESLError eslWriteCrashLog(ESLFileObject& file, const ESLCrashMemory& memory, const char* pszModule, DWORD dwThreadId,
                          DWORD dwCode, const ESLCrashRegisters& regs) noexcept;

// What the crash handler asks of the user, apart from the decisions, so that
// those can be taken without a window.
class ESLCrashPrompt {
public:
    // A message box with no owner; returns its result (0 when it failed).
    virtual int Ask(const char* pszText, const char* pszTitle, UINT uType) noexcept = 0;
    // The save dialog; false when cancelled. The path is zero-terminated.
    virtual bool AskLogPath(char* pszPath, std::size_t size) noexcept = 0;
    // Ends the process; returns only in tests.
    virtual void Terminate() noexcept = 0;

protected:
    ~ESLCrashPrompt() = default;
};

// The handler's decision for one exception: EXCEPTION_CONTINUE_EXECUTION or
// EXCEPTION_CONTINUE_SEARCH. May change the context (trap flag, breakpoint).
LONG eslHandleCrash(EXCEPTION_POINTERS* pException, ESLCrashPrompt& prompt) noexcept;

// The filter itself, with message boxes and the save dialog.
LONG WINAPI eslCrashFilter(EXCEPTION_POINTERS* pException);
// Installs the filter (again); the filter found first is remembered.
void eslInstallCrashHandler() noexcept;
// Puts the remembered filter back, if ours is still the one installed.
void eslRemoveCrashHandler() noexcept;
