#include "trial/process.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// 32-bit: the wrapper in user32 that CallWindowProcA calls, and the stack as it finds it.
constexpr quint32 kUser32 = 0x77D40000;
constexpr quint32 kCallerReturn = kUser32 + 0x80;  // where the wrapper returns into CallWindowProcA
constexpr quint32 kWrapper = kUser32 + 0x100;
constexpr quint32 kStackTop = 0x00200000;
constexpr quint32 kWrapperEsp = kStackTop - 0x10000;  // the caller's own frames above: 64 KiB of them
constexpr quint32 kCallerEbp = 0x001FFF80;            // somewhere in the caller's frames
constexpr quint32 kSystem = 0xC0000000;

// user32's WINPROC_wrapper, as Windows and Wine have it.
constexpr quint8 kWrapperCode[] = {
    0x55,                                                                    // push ebp
    0x89, 0xE5,                                                              // mov ebp, esp
    0x57, 0x56, 0x53,                                                        // push edi; push esi; push ebx
    0x83, 0xEC, 0x0C,                                                        // sub esp, 12
    0xFF, 0x75, 0x18, 0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF, 0x75, 0x0C,  // push [ebp+24] … [ebp+12]
    0x8B, 0x45, 0x08,                                                        // mov eax, [ebp+8]
    0xFF, 0xD0,                                                              // call eax
    0x8D, 0x65, 0xF4,                                                        // lea esp, [ebp-12]
    0x5B, 0x5E, 0x5F,                                                        // pop ebx; pop esi; pop edi
    0xC9, 0xC3,                                                              // leave; ret
};

// 64-bit: CallWindowProcW's code in user32, and the stack it leaves: 16-byte aligned before the call.
constexpr quint64 kUser64 = 0x00007FFB5E100000;
constexpr quint64 kStack64Top = 0x000000E500200000;
constexpr quint64 kCallRsp = kStack64Top - 0x10000;
constexpr quint64 kTeb64 = 0x000000E400000000;  // two pages, then the process block
constexpr quint64 kSystem64 = 0xFFFF800000000000;

ProcessLayout Layout32() {
    ProcessLayout l;
    l.bits = 32;
    l.pointer = 4;
    l.codeBase = 0x00500000;
    l.stackBottom = 0x00100000;
    l.stackTop = kStackTop;
    l.argumentsAt = kWrapperEsp - 44;  // ESP before the wrapper's call eax
    l.frameAt = l.argumentsAt + 16;    // the wrapper's frame, above the arguments
    l.imageBase = 0x00400000;
    l.teb = 0x7FFDE000;
    l.peb = 0x7FFDF000;
    l.tebEnd = l.peb + kPage;
    l.tebSegment = 0x64;
    l.userFrom = kUser32;
    l.userTo = kUser32 + kPage;
    l.systemFrom = kSystem;
    l.systemTo = kSystem + 2 * kPage;
    l.start = kSystem + 0x1800;
    l.returnPoint = kWrapper + 26;  // after its call eax
    l.bufferRegions = 0x01000000;
    l.pc = UC_X86_REG_EIP;
    l.sp = UC_X86_REG_ESP;
    return l;
}

ProcessLayout Layout64() {
    ProcessLayout l;
    l.bits = 64;
    l.pointer = 8;
    l.codeBase = 0x000001F400000000;
    l.stackBottom = 0x000000E500100000;
    l.stackTop = kStack64Top;
    l.argumentsAt = kCallRsp;
    l.frameAt = kCallRsp + 32;  // the caller's frame above the shadow space
    l.imageBase = 0x0000000140000000;
    l.teb = kTeb64;
    l.peb = kTeb64 + 2 * kPage;
    l.tebEnd = kTeb64 + 3 * kPage;
    l.tebSegment = 0x65;
    l.userFrom = kUser64;
    l.userTo = kUser64 + kPage;
    l.systemFrom = kSystem64;
    l.systemTo = kSystem64 + 2 * kPage;
    l.start = kSystem64 + 0x1800;
    l.returnPoint = kUser64 + 0x100;
    l.bufferRegions = 0x0000020000000000;
    l.pc = UC_X86_REG_RIP;
    l.sp = UC_X86_REG_RSP;
    return l;
}

constexpr SavedStart kSaved32[] = {
    {"EBX", UC_X86_REG_EBX, 0xB0B0B0B0},
    {"ESI", UC_X86_REG_ESI, 0x51515151},
    {"EDI", UC_X86_REG_EDI, 0xD1D1D1D1},
};
constexpr SavedStart kSaved64[] = {
    {"RBX", UC_X86_REG_RBX, 0xB0B0B0B0B0B0B0B0}, {"RBP", UC_X86_REG_RBP, 0x000000E5001FFF80},
    {"RDI", UC_X86_REG_RDI, 0xD1D1D1D1D1D1D1D1}, {"RSI", UC_X86_REG_RSI, 0x5151515151515151},
    {"R12", UC_X86_REG_R12, 0x1212121212121212}, {"R13", UC_X86_REG_R13, 0x1313131313131313},
    {"R14", UC_X86_REG_R14, 0x1414141414141414}, {"R15", UC_X86_REG_R15, 0x1515151515151515},
};

// A segment descriptor: flat 4 GiB unless a limit in bytes is given; long64 makes a 64-bit code segment.
quint64 Descriptor(quint32 base, int type, int privilege, quint32 byteLimit = 0, bool long64 = false) {
    const bool pages = byteLimit == 0;
    const quint32 limit = pages ? 0xFFFFF : byteLimit - 1;
    return (limit & 0xFFFF) | (quint64(base & 0xFFFFFF) << 16) | (quint64(type) << 40) | (1ull << 44) |
           (quint64(privilege) << 45) | (1ull << 47) | (quint64((limit >> 16) & 0xF) << 48) |
           (long64 ? 1ull << 53 : 1ull << 54) | (quint64(pages) << 55) | (quint64(base >> 24) << 56);
}

}  // namespace

const ProcessLayout &LayoutFor(int bits) {
    static const ProcessLayout layout32 = Layout32(), layout64 = Layout64();
    return bits == 64 ? layout64 : layout32;
}

std::span<const SavedStart> SavedRegisters(const ProcessLayout &layout) {
    if (layout.long64()) return kSaved64;
    return kSaved32;
}

void XmmStart(int index, quint64 (&value)[2]) {
    value[0] = 0x0606060606060606ull * quint64(index);
    value[1] = 0x6060606060606060ull + quint64(index);
}

quint32 PagesFor(quint64 size) {
    return quint32(std::max<quint64>(kPage, (size + kPage - 1) / kPage * kPage));
}

ProcessMemory::ProcessMemory(const ProcessLayout &l, const QByteArray &code, const QList<CallParam> &params)
    : layout_(l) {
    const bool long64 = l.long64();
    regions_.reserve(16);  // the host memory of each region stays where it is
    codeMapped_ = PagesFor(quint64(code.size()));
    code_ = Add(l.codeBase, codeMapped_, long64 ? UC_PROT_READ | UC_PROT_EXEC : UC_PROT_ALL);
    std::copy(code.begin(), code.end(), code_);

    for (int i = 0; i < kCallParamCount && i < params.size(); ++i) {
        const CallParam &p = params[i];
        if (p.kind == CallParam::Kind::Number) {
            // A VB Long given for a LongPtr (P1, P3, P4) keeps its sign; the message (P2) is a Long.
            arguments_[i] = long64 && i != 1 ? quint64(qint64(qint32(p.number))) : quint64(p.number);
            continue;
        }
        const quint64 region = l.bufferRegions + quint64(i) * kBufferRegionSize;
        const quint32 mapped = PagesFor(quint64(p.buffer.size()));
        const quint64 address = region + mapped - quint64(p.buffer.size());
        quint8 *bytes = Add(region, mapped, UC_PROT_READ | UC_PROT_WRITE);
        std::copy(p.buffer.begin(), p.buffer.end(), bytes + (address - region));
        arguments_[i] = address;
        buffers_.push_back({i, region, address, p.buffer.size()});
    }

    // The descriptor table, and the start at privilege 0 whose iret enters the caller at privilege 3.
    quint8 *system = Add(l.systemFrom, l.systemTo - l.systemFrom, UC_PROT_ALL);
    const quint64 table32[8] = {0,
                                Descriptor(0, 0xB, 0),
                                Descriptor(0, 0x3, 0),
                                Descriptor(0, 0xB, 3),  // 0x1B: code
                                Descriptor(0, 0x3, 3),  // 0x23: data and stack
                                0,
                                0,
                                Descriptor(quint32(l.teb), 0x3, 3, kPage)};  // 0x3B: the thread block
    const quint64 table64[8] = {0,
                                Descriptor(0, 0xB, 0, 0, true),  // 0x08: 64-bit code
                                Descriptor(0, 0x3, 0),           // 0x10
                                0,
                                0,
                                Descriptor(0, 0x3, 3),           // 0x2B: data and stack
                                Descriptor(0, 0xB, 3, 0, true),  // 0x33: 64-bit code
                                0};
    std::memcpy(system, long64 ? table64 : table32, sizeof table32);
    quint8 *iretFrame = system + kPage - 5 * l.pointer;
    if (long64)
        WriteFields(iretFrame, {l.codeBase, 0x33, 0x202, kCallRsp - 8, 0x2B});
    else
        WriteFields(iretFrame, {kWrapper, 0x1B, 0x202, kWrapperEsp, 0x23});
    const quint8 iretq[] = {0x48, 0xCF};  // without its REX.W prefix, iretd
    std::memcpy(system + (l.start - l.systemFrom), long64 ? iretq : iretq + 1, long64 ? 2 : 1);

    // user32: int 3 everywhere but in the 32-bit wrapper.
    quint8 *user32 = Add(l.userFrom, kPage, UC_PROT_READ | UC_PROT_EXEC);
    std::fill(user32, user32 + kPage, 0xCC);
    if (!long64) std::copy(std::begin(kWrapperCode), std::end(kWrapperCode), user32 + (kWrapper - kUser32));

    // The thread block (ExceptionList, StackBase, StackLimit, Self, ClientId, the process block) and the process
    // block (ImageBaseAddress), at the same places counted in pointers in both kinds of process.
    quint8 *teb = Add(l.teb, l.tebEnd - l.teb, UC_PROT_READ | UC_PROT_WRITE);
    const quint64 none = long64 ? ~quint64(0) : 0xFFFFFFFF;
    WriteFields(teb, {none, l.stackTop, l.stackBottom, 0, 0, 0, l.teb, 0, 0x0E10, 0x0E14, 0, 0, l.peb});
    WriteFields(teb + (l.peb - l.teb), {0, none, l.imageBase, 0});

    // The VB program's own image: a read-only page with its MZ and PE headers.
    quint8 *image = Add(l.imageBase, kPage, UC_PROT_READ);
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x80;  // e_lfanew
    std::memcpy(image + 0x80, "PE\0\0", 4);
    const quint16 machine = long64 ? 0x8664 : 0x014C;  // x86-64, i386
    image[0x84] = quint8(machine);
    image[0x85] = quint8(machine >> 8);

    Add(0x7FFE0000, kPage, UC_PROT_READ);  // KUSER_SHARED_DATA, read-only in every Windows process
    quint8 *stack = Add(l.stackBottom, l.stackTop - l.stackBottom, UC_PROT_READ | UC_PROT_WRITE);
    if (long64)
        WriteFields(stack + (kCallRsp - 8 - l.stackBottom), {l.returnPoint});
    else
        WriteFields(stack + (kWrapperEsp - l.stackBottom),
                    {kCallerReturn, l.codeBase, arguments_[0], arguments_[1], arguments_[2], arguments_[3]});
}

quint8 *ProcessMemory::Add(quint64 address, quint64 size, uint32_t perms) {
    regions_.push_back({address, size, perms, std::vector<quint8>(size)});
    return regions_.back().bytes.data();
}

void ProcessMemory::WriteFields(quint8 *at, std::initializer_list<quint64> fields) const {
    for (quint64 field : fields) {
        std::memcpy(at, &field, layout_.pointer);  // little-endian: the low bytes first
        at += layout_.pointer;
    }
}

void ProcessMemory::Map(EmulatedCpu &cpu) const {
    for (const Region &r : regions_) cpu.map(r.address, r.size, r.perms, const_cast<quint8 *>(r.bytes.data()));
}

void ProcessMemory::Start(EmulatedCpu &cpu) const {
    const ProcessLayout &l = layout_;
    const bool long64 = l.long64();
    uc_x86_mmr gdtr{0, l.systemFrom, 8 * 8 - 1, 0};
    cpu.setRegFrom(UC_X86_REG_GDTR, &gdtr);
    // Privilege 0 for the start, whose iret loads the code and stack selectors of a Windows process; the data
    // segments have theirs already. In a 64-bit process FS and GS hold 0, and GS's base is the thread block.
    cpu.setReg(UC_X86_REG_CS, 0x08);
    cpu.setReg(UC_X86_REG_SS, 0x10);
    for (int reg : {UC_X86_REG_DS, UC_X86_REG_ES}) cpu.setReg(reg, long64 ? 0x2B : 0x23);
    cpu.setReg(UC_X86_REG_FS, long64 ? 0 : 0x3B);
    cpu.setReg(UC_X86_REG_GS, 0);
    if (long64) cpu.setReg(UC_X86_REG_GS_BASE, l.teb);
    cpu.setReg(l.sp, l.systemFrom + kPage - 5 * l.pointer);
    // The x87 and SSE exceptions reach the program as on Windows: #MF and #XM, not the old external line.
    cpu.setReg(UC_X86_REG_CR0, cpu.reg(UC_X86_REG_CR0) | 0x22);                  // MP, NE
    cpu.setReg(UC_X86_REG_CR4, (long64 ? cpu.reg(UC_X86_REG_CR4) : 0) | 0x600);  // OSFXSR, OSXMMEXCPT
    cpu.setReg(UC_X86_REG_FPCW, kFpuControl);
    cpu.setReg(UC_X86_REG_MXCSR, kMxcsr);
    if (long64) {
        for (int reg : {UC_X86_REG_RAX, UC_X86_REG_R10, UC_X86_REG_R11}) cpu.setReg(reg, 0);
        const int argumentRegs[kCallParamCount] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8, UC_X86_REG_R9};
        for (int i = 0; i < kCallParamCount; ++i) cpu.setReg(argumentRegs[i], arguments_[i]);
        for (int i = kFirstSavedXmm; i < 16; ++i) {
            quint64 value[2];
            XmmStart(i, value);
            cpu.setRegFrom(UC_X86_REG_XMM0 + i, value);
        }
    } else {
        cpu.setReg(UC_X86_REG_EBP, kCallerEbp);
        for (int reg : {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX}) cpu.setReg(reg, 0);
    }
    for (const SavedStart &s : SavedRegisters(l)) cpu.setReg(s.reg, s.value);
}
