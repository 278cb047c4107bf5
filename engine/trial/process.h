#pragma once

#include "trial/callparams.h"
#include "trial/emulatedcpu.h"

#include <QList>

#include <span>
#include <vector>

// What a Windows process looks like to the code a trial calls: one
// description for each kind, the 32-bit process of a VB6 program or a 32-bit
// Office, and the 64-bit process of a 64-bit Office.
//
// Nothing below the stack is mapped, so a null pointer faults. In 64-bit
// code the stack, the code (where VirtualAlloc puts it) and the buffers lie
// above 4 GiB, so an address cut to 32 bits faults too. Each buffer ends
// where a region of its own ends, so an access past it faults; one before it
// in the same region is caught by a memory hook.
struct ProcessLayout {
    int bits = 32;
    quint32 pointer = 4;  // bytes in an address
    quint64 codeBase = 0;
    quint64 stackBottom = 0, stackTop = 0;
    quint64 argumentsAt = 0;  // the stack pointer the function must leave: 16 bytes of arguments above it in 32-bit
                              // code, the return address just below it in 64-bit code
    quint64 frameAt = 0;      // the caller's memory above the arguments (the shadow space), up to stackTop
    quint64 imageBase = 0;
    quint64 teb = 0, peb = 0, tebEnd = 0;  // the thread and process blocks
    quint8 tebSegment = 0;                 // the prefix that reaches the thread block: fs: or gs:
    quint64 userFrom = 0, userTo = 0;      // user32's code: the caller
    quint64 systemFrom = 0, systemTo = 0;  // the descriptor table and the start at privilege 0
    quint64 start = 0;                     // where the emulation begins
    quint64 returnPoint = 0;               // where the call comes back into user32
    quint64 bufferRegions = 0;
    int pc = 0, sp = 0;  // the registers of the instruction and stack pointers

    bool long64() const { return bits == 64; }
    // The caller's code: user32, and the start below it.
    bool isCaller(quint64 address) const {
        return (address >= userFrom && address < userTo) || (address >= systemFrom && address < systemTo);
    }
};

const ProcessLayout &LayoutFor(int bits);

constexpr quint32 kPage = 0x1000;
constexpr quint64 kBufferRegionSize = 0x00200000;
constexpr quint32 kDirectionFlag = 1u << 10;
constexpr quint16 kFpuControl = 0x027F;  // what Windows and the VB runtime set: 53-bit precision, all masked
constexpr quint32 kMxcsr = 0x1F80;
constexpr quint32 kMxcsrControl = 0xFFC0;  // the status flags (bits 0–5) are the callee's to change

// A register the function must keep, with the value the caller left in it.
struct SavedStart {
    const char *name;
    int reg;
    quint64 value;
};
// EBX, ESI, EDI (which CallWindowProc's wrapper restores) in 32-bit code; RBX, RBP, RDI, RSI, R12–R15 in 64-bit code.
std::span<const SavedStart> SavedRegisters(const ProcessLayout &layout);
// XMM6–XMM15 in 64-bit code, as the caller left them: low and high half.
constexpr int kFirstSavedXmm = 6;
void XmmStart(int index, quint64 (&value)[2]);

quint32 PagesFor(quint64 size);

struct ProcessBuffer {
    int param = 0;
    quint64 region = 0;  // where its region starts
    quint64 address = 0;
    qsizetype size = 0;
};

// The process's memory. Every region lies in memory of the program's own, so
// that a fresh emulator can be given the same process at any moment.
class ProcessMemory {
public:
    // Lays out the process: the function's memory (read-only in 64-bit code, as the VBA7 module leaves it; writable
    // in 32-bit code, as a VB byte array is), the buffers the parameters ask for, the stack with the call on it, the
    // thread and process blocks, the program's image header, the shared page, the caller in user32 and the start at
    // privilege 0.
    ProcessMemory(const ProcessLayout &layout, const QByteArray &code, const QList<CallParam> &params);

    const ProcessLayout &layout() const { return layout_; }
    quint8 *code() const { return code_; }
    quint64 codeMapped() const { return codeMapped_; }
    const QList<ProcessBuffer> &buffers() const { return buffers_; }
    // What the code gets: a number, or a buffer's address.
    const quint64 (&arguments() const)[kCallParamCount] { return arguments_; }

    // Gives an emulator the process's memory.
    void Map(EmulatedCpu &cpu) const;
    // Sets up a new emulator's processor for the call: privilege 0 at the start, about to enter the caller.
    void Start(EmulatedCpu &cpu) const;

private:
    struct Region {
        quint64 address = 0;
        quint64 size = 0;
        uint32_t perms = 0;
        std::vector<quint8> bytes;
    };
    quint8 *Add(quint64 address, quint64 size, uint32_t perms);
    // Values of pointer width, one after the other.
    void WriteFields(quint8 *at, std::initializer_list<quint64> fields) const;

    const ProcessLayout &layout_;
    std::vector<Region> regions_;
    quint8 *code_ = nullptr;
    quint64 codeMapped_ = 0;
    QList<ProcessBuffer> buffers_;
    quint64 arguments_[kCallParamCount] = {};
};
