#include "trial/x86length.h"

namespace x86 {
namespace {

// What follows a one-byte opcode: a ModRM operand, and an immediate of
// 1 or 2 bytes, or of the operand size ('z': 2 or 4), or of another kind.
enum : quint8 { M = 0x10, I1 = 1, I2 = 2, Iz = 3, Special = 0x0F };

// clang-format off
constexpr quint8 kOneByte[256] = {
    // 0     1     2     3     4     5     6     7     8     9     A     B     C     D     E     F
    M,    M,    M,    M,    I1,   Iz,   0,    0,    M,    M,    M,    M,    I1,   Iz,   0,    0,     // 00
    M,    M,    M,    M,    I1,   Iz,   0,    0,    M,    M,    M,    M,    I1,   Iz,   0,    0,     // 10
    M,    M,    M,    M,    I1,   Iz,   0,    0,    M,    M,    M,    M,    I1,   Iz,   0,    0,     // 20
    M,    M,    M,    M,    I1,   Iz,   0,    0,    M,    M,    M,    M,    I1,   Iz,   0,    0,     // 30
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,     // 40
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,     // 50
    0,    0,    M,    M,    0,    0,    0,    0,    Iz,   M|Iz, I1,   M|I1, 0,    0,    0,    0,     // 60
    I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,    // 70
    M|I1, M|Iz, M|I1, M|I1, M,    M,    M,    M,    M,    M,    M,    M,    M,    M,    M,    M,     // 80
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    Special, 0, 0,    0,    0,    0,     // 90
    Special, Special, Special, Special, 0, 0, 0, 0, I1,   Iz,   0,    0,    0,    0,    0,    0,     // A0
    I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   Special, Special, Special, Special, Special, Special, Special, Special, // B0
    M|I1, M|I1, I2,   0,    M,    M,    M|I1, M|Iz, Special, 0, I2,   0,    0,    I1,   0,    0,     // C0
    M,    M,    M,    M,    I1,   I1,   0,    0,    M,    M,    M,    M,    M,    M,    M,    M,     // D0
    I1,   I1,   I1,   I1,   I1,   I1,   I1,   I1,   Special, Special, Special, I1, 0, 0,    0,    0,     // E0
    0,    0,    0,    0,    0,    0,    Special, Special, 0, 0, 0,    0,    0,    0,    M,    M,     // F0
};
// clang-format on

bool In(quint8 op, quint8 from, quint8 to) {
    return op >= from && op <= to;
}

// After 0F: a ModRM operand for most; an immediate byte for a few.
bool TwoByteHasModrm(quint8 op) {
    return !(In(op, 0x04, 0x09) || op == 0x0B || op == 0x0E || In(op, 0x30, 0x37) || op == 0x77 || In(op, 0x80, 0x8F) ||
             In(op, 0xA0, 0xA2) || In(op, 0xA8, 0xAA) || In(op, 0xC8, 0xCF));
}
bool TwoByteHasImm8(quint8 op) {
    return op == 0x0F || In(op, 0x70, 0x73) || op == 0xA4 || op == 0xAC || op == 0xBA || op == 0xC2 ||
           In(op, 0xC4, 0xC6);
}

// The bytes of a ModRM operand from bytes[at]; 0 when size ends first.
quint32 ModrmLength(const quint8 *bytes, quint32 size, quint32 at, bool address16) {
    if (at >= size) return 0;
    const quint8 modrm = bytes[at];
    const int mod = modrm >> 6, rm = modrm & 7;
    quint32 length = 1;
    if (mod == 3) return length;
    if (address16) return length + (mod == 1 ? 1 : mod == 2 || (mod == 0 && rm == 6) ? 2 : 0);
    int base = rm;
    if (rm == 4) {
        if (at + 1 >= size) return 0;
        base = bytes[at + 1] & 7;
        ++length;
    }
    return length + (mod == 1 ? 1 : mod == 2 || (mod == 0 && base == 5) ? 4 : 0);
}

}  // namespace

quint32 InstructionLength(const quint8 *bytes, quint32 size, bool long64) {
    if (size > 15) size = 15;
    bool operand16 = false, address16 = false, rexW = false;
    quint32 i = 0;
    quint8 op = 0;
    // Prefixes, as the emulator collects them: a REX prefix counts wherever it stands among them.
    for (;; ++i) {
        if (i >= size) return 0;
        op = bytes[i];
        if (op == 0x66)
            operand16 = true;
        else if (op == 0x67)
            address16 = true;
        else if (long64 && (op & 0xF0) == 0x40)
            rexW = op & 8;
        else if (!(op == 0xF0 || op == 0xF2 || op == 0xF3 || op == 0x26 || op == 0x2E || op == 0x36 || op == 0x3E ||
                   op == 0x64 || op == 0x65))
            break;
    }
    // In 64-bit code 0x66 gives 16-bit operands unless REX.W asks for 64; 0x67 gives 32-bit addresses.
    const bool data16 = operand16 && !rexW;
    const quint32 iz = data16 ? 2 : 4;
    const bool modrm16 = address16 && !long64;
    const auto done = [size](quint32 length) { return length <= size ? length : 0; };
    ++i;  // past the opcode

    // VEX: always in 64-bit code, in 32-bit code only when the next byte's top bits are set (else les, lds).
    if ((op == 0xC4 || op == 0xC5) && i < size && (long64 || bytes[i] >= 0xC0)) {
        quint8 map = 1;
        if (op == 0xC4) {
            map = bytes[i] & 0x1F;
            ++i;
        }
        ++i;  // the byte with W, vvvv, L and pp
        if (i >= size) return 0;
        const quint8 opcode = bytes[i++];
        if (map == 1 && opcode == 0x77) return done(i);  // vzeroupper, vzeroall: no operand
        const quint32 modrm = ModrmLength(bytes, size, i, modrm16);
        if (!modrm) return 0;
        const bool imm8 = map == 3 || (map == 1 && TwoByteHasImm8(opcode));
        return done(i + modrm + (imm8 ? 1 : 0));
    }

    if (op == 0x0F) {
        if (i >= size) return 0;
        const quint8 op2 = bytes[i++];
        if (op2 == 0x38 || op2 == 0x3A) {
            ++i;  // the third opcode byte
            const quint32 modrm = ModrmLength(bytes, size, i, modrm16);
            return modrm ? done(i + modrm + (op2 == 0x3A ? 1 : 0)) : 0;
        }
        // mov to and from control and debug registers ignore the mod bits: always a register.
        if (In(op2, 0x20, 0x23)) return done(i + 1);
        quint32 length = i;
        if (TwoByteHasModrm(op2)) {
            const quint32 modrm = ModrmLength(bytes, size, i, modrm16);
            if (!modrm) return 0;
            length += modrm;
        }
        if (TwoByteHasImm8(op2)) length += 1;
        if (In(op2, 0x80, 0x8F)) length += iz;  // jcc rel16/32
        return done(length);
    }

    const quint8 form = kOneByte[op];
    quint32 length = i;
    if (form == Special) {
        switch (op) {
            case 0x9A:  // call far and jmp far: offset and selector
            case 0xEA:
                return done(length + iz + 2);
            case 0xA0:  // mov to and from an absolute address: the address size
            case 0xA1:
            case 0xA2:
            case 0xA3:
                return done(length + (long64 ? (address16 ? 4 : 8) : (address16 ? 2 : 4)));
            case 0xC8:  // enter
                return done(length + 3);
            case 0xE8:  // call and jmp rel16/32
            case 0xE9:
                return done(length + iz);
            case 0xF6:  // test with an immediate for /0 and /1 only
            case 0xF7: {
                const quint32 modrm = ModrmLength(bytes, size, i, modrm16);
                if (!modrm) return 0;
                const bool test = ((bytes[i] >> 3) & 7) < 2;
                return done(length + modrm + (test ? (op == 0xF6 ? 1 : iz) : 0));
            }
            default:  // B8–BF: mov reg, imm16/32, or imm64 with REX.W
                return done(length + (rexW ? 8 : iz));
        }
    }
    if (form & M) {
        const quint32 modrm = ModrmLength(bytes, size, i, modrm16);
        if (!modrm) return 0;
        length += modrm;
    }
    switch (form & 0x0F) {
        case I1:
            length += 1;
            break;
        case I2:
            length += 2;
            break;
        case Iz:
            length += iz;
            break;
        default:
            break;
    }
    return done(length);
}

}  // namespace x86
