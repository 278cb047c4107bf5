#include "trial/x86decode.h"

#include <algorithm>
#include <initializer_list>

namespace x86 {
namespace {

struct Named {
    quint8 byte;
    const char *name;
};
// After any prefixes (segment, operand and address size, lock, rep).
constexpr Named kPrivileged[] = {{0xF4, "hlt"}, {0xFA, "cli"}, {0xFB, "sti"}, {0xE4, "in"},   {0xE5, "in"},
                                 {0xEC, "in"},  {0xED, "in"},  {0xE6, "out"}, {0xE7, "out"},  {0xEE, "out"},
                                 {0xEF, "out"}, {0x6C, "ins"}, {0x6D, "ins"}, {0x6E, "outs"}, {0x6F, "outs"}};
// After 0F.
constexpr Named kPrivileged0F[] = {{0x06, "clts"},   {0x07, "sysret"},  {0x08, "invd"},   {0x09, "wbinvd"},
                                   {0x20, "mov cr"}, {0x22, "mov cr"},  {0x21, "mov dr"}, {0x23, "mov dr"},
                                   {0x24, "mov tr"}, {0x26, "mov tr"},  {0x30, "wrmsr"},  {0x32, "rdmsr"},
                                   {0x33, "rdpmc"},  {0x35, "sysexit"}, {0x37, "getsec"}};
// 0F 01 with a register form, by the whole ModRM byte (F0–F7, lmsw, by its reg field).
constexpr Named kPrivileged0F01[] = {
    {0xC1, "vmcall"}, {0xC2, "vmlaunch"}, {0xC3, "vmresume"}, {0xC4, "vmxoff"}, {0xC8, "monitor"}, {0xC9, "mwait"},
    {0xCA, "clac"},   {0xCB, "stac"},     {0xD1, "xsetbv"},   {0xD8, "vmrun"},  {0xD9, "vmmcall"}, {0xDA, "vmload"},
    {0xDB, "vmsave"}, {0xDC, "stgi"},     {0xDD, "clgi"},     {0xDE, "skinit"}, {0xDF, "invlpga"}, {0xF8, "swapgs"}};

template <size_t N>
const char *Find(const Named (&table)[N], quint8 byte) {
    const auto it = std::find_if(table, table + N, [byte](const Named &n) { return n.byte == byte; });
    return it == table + N ? nullptr : it->name;
}

bool In(quint8 op, std::initializer_list<quint8> list) {
    return std::find(list.begin(), list.end(), op) != list.end();
}
bool Between(quint8 op, quint8 from, quint8 to) {
    return op >= from && op <= to;
}

// The legacy SSE forms with a 128-bit memory operand that must be 16-byte
// aligned (movaps, movdqa, the packed arithmetic…), by mandatory prefix
// (0, 0x66, 0xF2, 0xF3) and opcode map (0x0F, 0x38, 0x3A). The explicitly
// unaligned forms (movups, movdqu, lddqu), the scalar ones and MMX are not.
bool Aligned(quint8 prefix, quint8 map, quint8 op) {
    if (map == 0x38) return prefix == 0x66 && !Between(op, 0x20, 0x25) && !Between(op, 0x30, 0x35) && op < 0xF0;
    if (map == 0x3A)
        return prefix == 0x66 && !In(op, {0x0A, 0x0B, 0x14, 0x15, 0x16, 0x17, 0x20, 0x21, 0x22}) &&
               !Between(op, 0x60, 0x63);
    switch (prefix) {
        case 0:
            return In(op, {0x14, 0x15, 0x28, 0x29, 0x2B, 0xC2, 0xC6}) || (Between(op, 0x51, 0x5F) && op != 0x5A);
        case 0x66:
            return In(op, {0x14, 0x15, 0x28, 0x29, 0x2B, 0x51, 0x6F, 0x70, 0x74, 0x75, 0x76, 0x7C, 0x7D, 0x7F, 0xC2,
                           0xC6, 0xD0}) ||
                   Between(op, 0x54, 0x6D) || (Between(op, 0xD1, 0xFE) && !In(op, {0xD6, 0xD7, 0xF0, 0xF7, 0xFF}));
        case 0xF3:
            return In(op, {0x12, 0x16, 0x5B});
        default:
            return In(op, {0x7C, 0x7D, 0xD0, 0xE6});
    }
}

// The ModRM operand at bytes[at]; false when the bytes end first. rex is the
// REX prefix of 64-bit code, 0 without one.
bool Operand(const quint8 *bytes, quint32 size, quint32 at, quint8 rex, bool long64, Decoded &d) {
    if (at >= size) return false;
    const quint8 modrm = bytes[at++];
    const int mod = modrm >> 6;
    d.reg = ((modrm >> 3) & 7) | (rex & 4 ? 8 : 0);
    d.rm = (modrm & 7) | (rex & 1 ? 8 : 0);
    d.memory = mod != 3;
    if (!d.memory || d.address16) {
        d.length = at;  // 16-bit addressing is not followed: nothing is checked for it
        return true;
    }
    int base = modrm & 7;
    bool sib = false;
    if (base == 4) {
        if (at >= size) return false;
        const quint8 byte = bytes[at++];
        sib = true;
        d.scale = byte >> 6;
        const int index = ((byte >> 3) & 7) | (rex & 2 ? 8 : 0);
        d.index = index == 4 ? -1 : index;
        base = byte & 7;
    }
    const bool noBase = mod == 0 && base == 5;
    d.ripRelative = noBase && !sib && long64;
    d.base = noBase ? -1 : base | (rex & 1 ? 8 : 0);
    const quint32 width = mod == 1 ? 1 : (mod == 2 || noBase) ? 4 : 0;
    if (at + width > size) return false;
    if (width == 1) d.displacement = quint32(qint32(qint8(bytes[at])));
    if (width == 4)
        d.displacement = quint32(bytes[at]) | quint32(bytes[at + 1]) << 8 | quint32(bytes[at + 2]) << 16 |
                         quint32(bytes[at + 3]) << 24;
    d.length = at + width;
    return true;
}

}  // namespace

Decoded Decode(const quint8 *bytes, quint32 size, bool long64) {
    Decoded d;
    quint8 sse = 0;  // the last of 66, F2 and F3: F2 and F3 decide over 66
    quint8 rex = 0;  // counts only right before the opcode
    quint32 i = 0;
    for (; i < size; ++i) {
        const quint8 b = bytes[i];
        if (long64 && (b & 0xF0) == 0x40) {
            rex = b;
            continue;
        }
        if (In(b, {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3})) rex = 0;
        if (In(b, {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65})) {
            d.segment = b;
        } else if (b == 0x66) {
            d.operand16 = true;
            if (sse == 0) sse = 0x66;
        } else if (b == 0x67) {
            (long64 ? d.address32 : d.address16) = true;
        } else if (b == 0xF2 || b == 0xF3) {
            sse = b;
        } else if (b != 0xF0) {
            break;
        }
    }
    if (i >= size) return d;
    d.rexW = rex & 8;
    const quint8 op = bytes[i];
    if (op != 0x0F) {
        d.privileged = Find(kPrivileged, op);
        if (op == 0xCD && i + 1 < size && bytes[i + 1] == 0x2E) d.systemCall = "int 2Eh";
        // A one-byte opcode the emulator refuses is no instruction, unless it starts a VEX, EVEX or XOP form.
        const quint8 next = i + 1 < size ? bytes[i + 1] : 0;
        const bool extended = ((op == 0xC4 || op == 0xC5 || op == 0x62) && (long64 || next >= 0xC0)) ||
                              (op == 0x8F && ((next >> 3) & 7) != 0);
        d.kind = extended ? Kind::Unsupported : Kind::Undefined;
        return d;
    }
    if (i + 1 >= size) return d;
    const quint8 op2 = bytes[i + 1];
    const quint8 modrm = i + 2 < size ? bytes[i + 2] : 0;
    const int reg = (modrm >> 3) & 7;
    if (op2 == 0x00) {
        d.privileged = reg == 2 ? "lldt" : reg == 3 ? "ltr" : nullptr;
    } else if (op2 == 0x01) {
        if (modrm < 0xC0) {  // a memory operand: lgdt, lidt, lmsw, invlpg by the reg field
            static const char *const forms[8] = {nullptr, nullptr, "lgdt", "lidt", nullptr, nullptr, "lmsw", "invlpg"};
            d.privileged = forms[reg];
        } else {
            d.privileged = reg == 6 ? "lmsw" : Find(kPrivileged0F01, modrm);
        }
    } else {
        d.privileged = Find(kPrivileged0F, op2);
        d.systemCall = op2 == 0x05 ? "syscall" : op2 == 0x34 ? "sysenter" : nullptr;
    }
    d.kind = In(op2, {0x0B, 0xB9, 0xFF}) ? Kind::Undefined : Kind::Unsupported;
    if (d.privileged || d.systemCall || d.kind == Kind::Undefined) return d;

    const bool threeByte = op2 == 0x38 || op2 == 0x3A;
    const quint8 map = threeByte ? op2 : 0x0F;
    const quint32 opAt = threeByte ? i + 2 : i + 1;
    if (opAt >= size) return d;
    const quint8 opcode = bytes[opAt];
    const bool popcnt = map == 0x0F && opcode == 0xB8 && sse == 0xF3;
    const bool movbe = map == 0x38 && (opcode == 0xF0 || opcode == 0xF1) && sse != 0xF2;
    const bool mxcsr = map == 0x0F && opcode == 0xAE && sse == 0;
    const bool aligned = Aligned(sse, map, opcode);
    if (!popcnt && !movbe && !mxcsr && !aligned) return d;
    if (!Operand(bytes, size, opAt + 1, rex, long64, d)) return d;
    if (popcnt) d.kind = Kind::Popcnt;
    if (movbe) d.kind = !d.memory ? Kind::Undefined : opcode == 0xF0 ? Kind::MovbeLoad : Kind::MovbeStore;
    if (mxcsr && d.memory && (d.reg == 1 || d.reg == 2)) d.mxcsrOffset = d.reg == 1 ? 24 : 0;
    d.aligned16 = aligned && d.memory;
    return d;
}

bool BreaksTheEmulator(const quint8 *bytes, quint32 size, bool long64) {
    bool lock = false;
    quint32 i = 0;
    for (; i < size; ++i) {
        const quint8 b = bytes[i];
        if (b == 0xF0)
            lock = true;
        else if (!(In(b, {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF2, 0xF3}) ||
                   (long64 && (b & 0xF0) == 0x40)))
            break;
    }
    if (i + 1 >= size) return false;
    const quint8 op = bytes[i];
    const quint8 modrm = bytes[i + 1];
    const int reg = (modrm >> 3) & 7;
    const bool memory = modrm < 0xC0;
    if (op == 0xFF && !memory && (reg == 3 || reg == 5)) return true;  // call far, jmp far: only from memory
    if (!lock) return false;
    // What a lock prefix may stand before: add, or, adc, sbb, and, sub, xor, xchg, inc, dec, not, neg, bts, btr,
    // btc, cmpxchg, cmpxchg8b, cmpxchg16b, xadd, each with a memory destination.
    bool lockable = false;
    if (op == 0x0F) {
        if (i + 2 >= size) return false;
        const quint8 op2 = bytes[i + 1];
        const quint8 modrm2 = bytes[i + 2];
        const int reg2 = (modrm2 >> 3) & 7;
        lockable = modrm2 < 0xC0 && (In(op2, {0xAB, 0xB3, 0xBB, 0xB0, 0xB1, 0xC0, 0xC1}) ||
                                     (op2 == 0xBA && reg2 >= 5) || (op2 == 0xC7 && reg2 == 1));
    } else {
        lockable = memory && (op < 0x34 && (op & 7) < 2 && op != 0x38 && op != 0x39 ? true
                              : Between(op, 0x80, 0x83)                             ? reg != 7
                              : op == 0x86 || op == 0x87                            ? true
                              : op == 0xFE || op == 0xFF                            ? reg < 2
                              : op == 0xF6 || op == 0xF7                            ? reg == 2 || reg == 3
                                                                                    : false);
    }
    return !lockable;
}

}  // namespace x86
