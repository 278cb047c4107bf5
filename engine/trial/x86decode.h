#pragma once

#include <QtGlobal>

// Just enough of the x86 instruction format (32-bit, and 64-bit with its REX
// prefixes) for a trial: the prefixes,
// the opcode and the memory operand of an instruction, to tell what a real
// CPU does with it that the emulator does not.
namespace x86 {

enum class Kind {
    Plain,        // nothing the trial does itself
    Undefined,    // bytes no processor runs: ud0, ud1, ud2, or a form that does not exist
    Unsupported,  // a real instruction (VEX, EVEX, XOP or two-byte opcode) the emulator may lack
    Popcnt,
    MovbeLoad,   // movbe reg, mem
    MovbeStore,  // movbe mem, reg
};

struct Decoded {
    Kind kind = Kind::Plain;
    quint32 length = 0;  // up to the end of the memory operand; immediates are not counted
    quint8 segment = 0;  // the segment prefix (0x64 for fs:), 0 without one
    bool operand16 = false;
    bool address16 = false;    // 32-bit code only; in 64-bit code 0x67 makes the address 32-bit
    bool address32 = false;    // 64-bit code with 0x67: the address is cut to 32 bits
    bool rexW = false;         // a 64-bit operand
    bool ripRelative = false;  // [rip + displacement]: from the end of the instruction
    bool memory = false;       // a ModRM memory operand
    int reg = 0;               // ModRM reg field (with REX.R)
    int rm = 0;                // ModRM rm field, with REX.B (a register when !memory)
    int base = -1;  // register numbers as the CPU encodes them (EAX 0 … EDI 7, R8 8 … R15 15); -1 for none
    int index = -1;
    int scale = 0;
    quint32 displacement = 0;
    bool aligned16 = false;            // an SSE form whose memory operand must be 16-byte aligned
    int mxcsrOffset = -1;              // ldmxcsr (0) or fxrstor (24): where it reads the new MXCSR
    const char *privileged = nullptr;  // the name of an instruction a user-mode program may not run
    const char *systemCall = nullptr;  // syscall, sysenter or int 2Eh: a call into the kernel
};

// long64: the bytes are 64-bit code.
Decoded Decode(const quint8 *bytes, quint32 size, bool long64 = false);

// A form every processor refuses with #UD that this emulator fails on as it
// translates it: a lock prefix on an instruction that takes none (or on one
// without a memory destination), call far or jmp far with a register.
bool BreaksTheEmulator(const quint8 *bytes, quint32 size, bool long64);

}  // namespace x86
