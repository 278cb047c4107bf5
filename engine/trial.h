#pragma once

#include "callparams.h"
#include "emulator.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A trial call: the function's bytes run in the CPU emulator (x86, 32-bit) as
// Visual Basic's CallWindowProc enters a window procedure — stdcall, four
// 32-bit arguments — until it returns or does something that would crash the
// program that called it.

enum class TrialEnd {
    Returned,            // it reached the return address
    MemoryFault,         // it read, wrote or executed memory it was not given
    Interrupt,           // int n, or a CPU exception such as a division by zero
    InvalidInstruction,  // bytes the processor does not accept
    Privileged,          // an instruction a Windows program may not run (cli, in, mov cr0, hlt…); it did not run
    InstructionLimit,    // still running after the instruction limit
    TimeLimit,           // still running after the time limit
    EmulatorFailure,     // the emulator stopped for a reason of its own (emulatorMessage)
};

enum class MemoryAccess { Read, Write, Fetch };

struct SavedRegister {
    QString name;  // EBX, ESI, EDI or EBP
    quint32 before = 0;
    quint32 after = 0;

    bool kept() const { return before == after; }
};

struct TrialBuffer {
    int param = 0;  // 0-based: P1 is 0
    quint32 address = 0;
    qsizetype size = 0;
    QByteArray head;  // its first kTrialBufferHead bytes (fewer when it is shorter) after the call
};

constexpr qsizetype kTrialBufferHead = 256;
constexpr qsizetype kMaxTrialCode = 1024 * 1024;

struct TrialSettings {
    quint64 instructionLimit = 10'000'000;
    int timeLimitMs = 2000;
    QString emulatorLibrary = DefaultUnicornLibrary();
};

struct TrialResult {
    QString error;  // Russian; set when nothing ran (no emulator, too little memory for it, code too long)

    TrialEnd end = TrialEnd::EmulatorFailure;
    QString emulatorMessage;   // TrialEnd::EmulatorFailure
    quint32 eax = 0;           // at the end, however it came
    quint32 codeBase = 0;      // where the function's bytes were placed
    quint32 offset = 0;        // of the last instruction started in the function (the ret when it returned)
    bool offsetKnown = false;  // false when no instruction of the function ran
    quint32 faultAddress = 0;  // TrialEnd::MemoryFault
    MemoryAccess faultAccess = MemoryAccess::Read;
    int interrupt = -1;   // TrialEnd::Interrupt: its number
    QString instruction;  // TrialEnd::Privileged: its name, as "cli" or "mov cr"
    quint64 instructions = 0;
    quint32 arguments[kCallParamCount] = {};  // as passed; a buffer's address for a buffer

    // The calling rules, meaningful when it returned.
    qint64 argumentBytesRemoved = 0;  // 16 is right: ret 16
    QList<SavedRegister> saved;       // EBX, ESI, EDI, EBP
    bool directionClear = true;

    QList<TrialBuffer> buffers;

    explicit operator bool() const { return error.isEmpty(); }
    bool returned() const { return error.isEmpty() && end == TrialEnd::Returned; }
    bool contractKept() const;
};

// Runs code with the four parameters (missing ones are 0). Safe to call from
// any thread; each call has an emulator of its own.
TrialResult TrialCall(const QByteArray &code, const QList<CallParam> &params, const TrialSettings &settings = {});
