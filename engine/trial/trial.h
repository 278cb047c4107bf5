#pragma once

#include "trial/callparams.h"
#include "trial/emulator.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A trial call: the function's bytes run in the CPU emulator as Visual
// Basic's CallWindowProc really enters a window procedure. 32-bit code is
// entered through user32's wrapper, which saves EBX, ESI and EDI, calls the
// code through EAX with four 32-bit stdcall arguments, and afterwards rebuilds
// ESP from its EBP frame. 64-bit code is called directly, as in 64-bit
// Windows: the four values in RCX, RDX, R8 and R9, 32 bytes of shadow space
// above the return address, RSP 16-byte aligned before the call, and no one
// to repair what the code breaks. The code runs at user privilege with flat
// segments, FS (GS in 64-bit code) on a thread block, and the CPU raising the
// exceptions a real one does.

enum class TrialEnd {
    Returned,            // it came back to the wrapper
    MemoryFault,         // it read, wrote or executed memory it was not given
    Interrupt,           // int n, or a CPU exception such as a division by zero
    InvalidInstruction,  // bytes no processor accepts (ud2, for instance)
    Unsupported,         // an instruction the emulated CPU does not implement (AVX…); a real one may
    Privileged,          // an instruction a Windows program may not run (cli, in, mov cr0, hlt…); it did not run
    InstructionLimit,    // still running after the instruction limit
    TimeLimit,           // still running after the time limit (a safety net only)
    EmulatorFailure,     // the emulator stopped for a reason of its own (emulatorMessage)
    SystemCall,          // a call into the kernel (syscall, sysenter, int 2Eh) whose outcome depends on Windows (detail)
    Unmodeled,           // it read data of the process the trial's model of Windows does not hold (detail)
};

// What a trial means for the VB program that makes the call.
enum class TrialVerdict {
    Crash,      // it will crash or damage the caller
    Repaired,   // it breaks the stdcall rule, which CallWindowProc's wrapper repairs
    Clean,      // it returned and kept every rule
    Undecided,  // no verdict: the emulator could not finish the call
};

enum class MemoryAccess { Read, Write, Fetch };

struct SavedRegister {
    QString name;  // EBX, ESI, EDI or EBP; in 64-bit code RBX … R15 and XMM6 … XMM15
    quint64 before = 0;
    quint64 after = 0;
    quint64 beforeHigh = 0;  // the upper half of an XMM register
    quint64 afterHigh = 0;

    bool kept() const { return before == after && beforeHigh == afterHigh; }
};

struct TrialBuffer {
    int param = 0;  // 0-based: P1 is 0
    quint64 address = 0;
    qsizetype size = 0;
    QByteArray head;  // its first kTrialBufferHead bytes (fewer when it is shorter) after the call
};

constexpr qsizetype kTrialBufferHead = 256;
constexpr qsizetype kMaxTrialCode = 1024 * 1024;
constexpr quint64 kDefaultInstructionLimit = 300'000'000;
constexpr quint64 kMaxInstructionLimit = 1'000'000'000'000;

struct TrialSettings {
    quint64 instructionLimit = kDefaultInstructionLimit;
    int timeLimitMs = 30'000;       // only so that nothing runs for ever; the instruction limit is the rule
    int bits = 32;                  // 32 or 64: how the code is called
    bool everyInstruction = false;  // watch every instruction: slow; what the usual block by block watch is held to
    QString emulatorLibrary = DefaultUnicornLibrary();
};

struct TrialResult {
    QString error;  // Russian; set when nothing ran (no emulator, too little memory for it, code too long)

    TrialEnd end = TrialEnd::EmulatorFailure;
    QString emulatorMessage;   // TrialEnd::EmulatorFailure
    int bits = 32;             // the mode the code was called in
    quint64 rax = 0;           // at the end, however it came (EAX in its low half)
    quint64 codeBase = 0;      // where the function's bytes were placed
    quint32 offset = 0;        // of the last instruction started in the function (the ret when it returned)
    bool offsetKnown = false;  // false when no instruction of the function ran
    quint64 faultAddress = 0;  // TrialEnd::MemoryFault
    MemoryAccess faultAccess = MemoryAccess::Read;
    int interrupt = -1;   // TrialEnd::Interrupt: its number
    QString instruction;  // TrialEnd::Privileged: its name, as "cli" or "mov cr"
    QString detail;       // TrialEnd::Interrupt: why the CPU raised it, when it is one the code did not ask for;
                          // TrialEnd::SystemCall and Unmodeled: what happened
    QStringList notes;    // what the call met on its way that the report tells (Russian)
    quint64 instructions = 0;
    quint64 instructionLimit = 0;
    quint64 arguments[kCallParamCount] = {};  // as passed; a buffer's address for a buffer

    // The calling rules, meaningful when it returned.
    qint64 argumentBytesRemoved = 0;  // 16 is right in 32-bit code (ret 16), 0 in 64-bit code (ret)
    QList<SavedRegister> saved;       // EBX, ESI, EDI (repaired by the wrapper), EBP (not); all of 64-bit code's
    bool directionClear = true;
    bool frameWritten = false;  // the caller's frame above the arguments (the shadow space in 64-bit) was changed
    quint64 frameAddress = 0;   // the lowest changed byte
    int x87Depth = 0;           // values left on the x87 stack
    quint16 fpuControlBefore = 0, fpuControlAfter = 0;
    quint32 mxcsrBefore = 0, mxcsrAfter = 0;  // the control bits only

    QList<TrialBuffer> buffers;

    explicit operator bool() const { return error.isEmpty(); }
    bool returned() const { return error.isEmpty() && end == TrialEnd::Returned; }
    TrialVerdict verdict() const;
};

// Runs code with the four parameters (missing ones are 0) in this process.
// Safe to call from any thread; each call has an emulator of its own. The
// programs call RunTrial, which runs this in a worker process.
TrialResult TrialCall(const QByteArray &code, const QList<CallParam> &params, const TrialSettings &settings = {});
