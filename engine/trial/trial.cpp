#include "trial/trial.h"

#include "trial/x86decode.h"

#include <QDeadlineTimer>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

// The address space of a trial, laid out as in a 32-bit Windows process.
// Nothing below the stack is mapped, so a null pointer faults; each buffer
// ends where a region of its own ends, so an access past it faults too, and
// one before it (in the same region) is caught by a memory hook.
constexpr quint32 kPage = 0x1000;
constexpr quint32 kStackBottom = 0x00100000;
constexpr quint32 kStackTop = 0x00200000;             // a 1 MiB stack
constexpr quint32 kWrapperEsp = kStackTop - 0x10000;  // the caller's own frames above: 64 KiB of them
constexpr quint32 kArgumentsAt = kWrapperEsp - 44;    // ESP before the wrapper's call
constexpr quint32 kFrameAt = kArgumentsAt + 16;       // the wrapper's frame, above the arguments
constexpr quint32 kWrapperEbp = kWrapperEsp - 4;      // after its push ebp; mov ebp, esp
constexpr quint32 kImageBase = 0x00400000;            // the VB program's own image
constexpr quint32 kCodeBase = 0x00500000;
constexpr quint32 kBufferRegions = 0x01000000;
constexpr quint32 kBufferRegionSize = 0x00200000;
constexpr quint32 kUser32 = 0x77D40000;            // the wrapper and the caller in user32
constexpr quint32 kCallerReturn = kUser32 + 0x80;  // where the wrapper returns into CallWindowProcA
constexpr quint32 kWrapper = kUser32 + 0x100;
constexpr quint32 kTeb = 0x7FFDE000;
constexpr quint32 kPeb = 0x7FFDF000;
constexpr quint32 kSharedData = 0x7FFE0000;  // read-only in every Windows process
constexpr quint32 kSystem = 0xC0000000;      // descriptor table and the start at privilege 0
constexpr quint32 kSystemStack = kSystem + 0x1000;
constexpr quint32 kSystemStart = kSystem + 0x1800;
constexpr quint32 kDirectionFlag = 1u << 10;
constexpr quint16 kFpuControl = 0x027F;  // what Windows and the VB runtime set: 53-bit precision, all masked
constexpr quint32 kMxcsr = 0x1F80;
constexpr quint32 kMxcsrControl = 0xFFC0;  // the status flags (bits 0–5) are the callee's to change

// The address space of a 64-bit trial, as a 64-bit Office process has it:
// the stack, the heap (where VirtualAlloc puts the code) and the buffers
// above 4 GiB, so that an address cut to 32 bits faults; the caller in
// user32 high up, KUSER_SHARED_DATA where every process has it.
constexpr quint64 kStack64Bottom = 0x000000E500100000;
constexpr quint64 kStack64Top = 0x000000E500200000;
constexpr quint64 kCallRsp = kStack64Top - 0x10000;  // 16-byte aligned before the call
constexpr quint64 kEntryRsp = kCallRsp - 8;          // the return address
constexpr quint64 kFrame64At = kCallRsp + 32;        // the caller's frame above the shadow space
constexpr quint64 kImage64 = 0x0000000140000000;
constexpr quint64 kCode64 = 0x000001F400000000;
constexpr quint64 kBufferRegions64 = 0x0000020000000000;
constexpr quint64 kUser64 = 0x00007FFB5E100000;  // CallWindowProcW's code in user32
constexpr quint64 kReturn64 = kUser64 + 0x100;
constexpr quint64 kTeb64 = 0x000000E400000000;  // two pages, then the process block
constexpr quint64 kPeb64 = kTeb64 + 0x2000;
constexpr quint64 kSystem64 = 0xFFFF800000000000;  // descriptor table and the start at privilege 0

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
constexpr quint32 kReturnPoint = kWrapper + 26;  // after call eax

struct SavedStart {
    const char *name;
    int reg;
    quint32 value;
};
constexpr SavedStart kSavedStarts[] = {
    {"EBX", UC_X86_REG_EBX, 0xB0B0B0B0},
    {"ESI", UC_X86_REG_ESI, 0x51515151},
    {"EDI", UC_X86_REG_EDI, 0xD1D1D1D1},
};
constexpr quint32 kCallerEbp = 0x001FFF80;  // somewhere in the caller's frames

// What 64-bit Windows code must keep (the x64 calling convention), with the values the caller left there.
struct SavedStart64 {
    const char *name;
    int reg;
    quint64 value;
};
constexpr SavedStart64 kSavedStarts64[] = {
    {"RBX", UC_X86_REG_RBX, 0xB0B0B0B0B0B0B0B0}, {"RBP", UC_X86_REG_RBP, 0x000000E5001FFF80},
    {"RDI", UC_X86_REG_RDI, 0xD1D1D1D1D1D1D1D1}, {"RSI", UC_X86_REG_RSI, 0x5151515151515151},
    {"R12", UC_X86_REG_R12, 0x1212121212121212}, {"R13", UC_X86_REG_R13, 0x1313131313131313},
    {"R14", UC_X86_REG_R14, 0x1414141414141414}, {"R15", UC_X86_REG_R15, 0x1515151515151515},
};
constexpr int kFirstSavedXmm = 6;

constexpr int kRegs32[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                            UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
constexpr int kRegs64[16] = {UC_X86_REG_RAX, UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_RBX,
                             UC_X86_REG_RSP, UC_X86_REG_RBP, UC_X86_REG_RSI, UC_X86_REG_RDI,
                             UC_X86_REG_R8,  UC_X86_REG_R9,  UC_X86_REG_R10, UC_X86_REG_R11,
                             UC_X86_REG_R12, UC_X86_REG_R13, UC_X86_REG_R14, UC_X86_REG_R15};

quint32 PagesFor(quint64 size) {
    return quint32(std::max<quint64>(kPage, (size + kPage - 1) / kPage * kPage));
}

// A segment descriptor: flat 4 GiB unless a limit in bytes is given.
quint64 Descriptor(quint32 base, int type, int privilege, quint32 byteLimit = 0) {
    const bool pages = byteLimit == 0;
    const quint32 limit = pages ? 0xFFFFF : byteLimit - 1;
    return (limit & 0xFFFF) | (quint64(base & 0xFFFFFF) << 16) | (quint64(type) << 40) | (1ull << 44) |
           (quint64(privilege) << 45) | (1ull << 47) | (quint64((limit >> 16) & 0xF) << 48) | (1ull << 54) |
           (quint64(pages) << 55) | (quint64(base >> 24) << 56);
}

// What the hooks saw; they run on the thread that called uc_emu_start.
struct Watch {
    const UnicornFunctions *uc = nullptr;
    bool long64 = false;
    // The layout of the mode's process.
    quint64 stackBottom = kStackBottom, stackTop = kStackTop;
    quint64 frameAt = kFrameAt;  // the caller's memory that the code must not write, up to stackTop
    quint64 tebBase = kTeb, tebEnd = kPeb + kPage;
    quint8 tebSegment = 0x64;                                  // fs: in 32-bit code, gs: in 64-bit code
    quint64 callerFrom = kUser32, callerTo = kUser32 + kPage;  // the caller's code, and the start below
    quint64 systemFrom = kSystem, systemTo = kSystem + 2 * kPage;
    quint64 bufferRegions = kBufferRegions;
    quint64 codeBase = 0;
    quint64 codeEnd = 0;
    const quint8 *codeBytes = nullptr;          // the host memory behind the function's region
    quint64 bufferStart[kCallParamCount] = {};  // in each buffer region, 0 when it holds none
    const char *privileged = nullptr;
    quint64 limit = 0;
    quint64 executed = 0;
    quint64 current = 0;
    bool limitReached = false;
    bool outside = false;  // executing outside the function's bytes, but in memory it was given
    quint64 outsideAddress = 0;
    bool memoryFault = false;
    uc_mem_type memoryType = UC_MEM_READ;
    quint64 memoryAddress = 0;
    int interrupt = -1;
    QString interruptDetail;
    bool invalid = false;
    bool unsupported = false;
    bool resume = false;   // a hook carried out an instruction and moved EIP: the emulation goes on there
    bool entered = false;  // the wrapper has called the function
    quint64 ebpAtEntry = 0;
    std::vector<quint8> frame;  // the caller's frame above the arguments, as the function found it
};

quint64 Reg(const Watch *w, uc_engine *engine, int reg) {
    quint64 value = 0;
    w->uc->regRead(engine, reg, &value);
    return value;
}

// The register of number n (as the CPU encodes it) in the code's mode.
int RegisterId(const Watch *w, int n) {
    return w->long64 ? kRegs64[n] : kRegs32[n & 7];
}

int PcRegister(const Watch *w) {
    return w->long64 ? UC_X86_REG_RIP : UC_X86_REG_EIP;
}

// next: where the instruction ends (for [rip + displacement]).
quint64 EffectiveAddress(const Watch *w, uc_engine *engine, const x86::Decoded &d, quint64 next) {
    quint64 address = quint64(qint64(qint32(d.displacement)));
    if (d.ripRelative) address += next;
    if (d.base >= 0) address += Reg(w, engine, RegisterId(w, d.base));
    if (d.index >= 0) address += Reg(w, engine, RegisterId(w, d.index)) << d.scale;
    if (!w->long64 || d.address32) address = quint32(address);
    if (d.segment == w->tebSegment) address += w->tebBase;
    return w->long64 ? address : quint32(address);
}

QString HexAddress(const Watch *w, quint64 value) {
    return QStringLiteral("&H%1").arg(value, w->long64 ? 16 : 8, 16, QChar(u'0')).toUpper();
}
QString Hex32(quint32 value) {
    return QStringLiteral("&H%1").arg(value, 8, 16, QChar(u'0')).toUpper();
}

void Raise(Watch *w, uc_engine *engine, int number, const QString &detail) {
    w->interrupt = number;
    w->interruptDetail = detail;
    w->uc->emuStop(engine);
}

// The faults a real CPU raises before these instructions run, which the
// emulator does not: a misaligned operand of an aligned SSE form, and
// reserved MXCSR bits loaded by ldmxcsr or fxrstor.
bool RaisesFault(Watch *w, uc_engine *engine, const x86::Decoded &d, quint64 next) {
    if (!d.memory || d.address16) return false;
    if (d.aligned16) {
        const quint64 address = EffectiveAddress(w, engine, d, next);
        if (address % 16 == 0) return false;
        Raise(w, engine, 13,
              QStringLiteral("операнд команды SSE по адресу %1 не выровнен на 16 байт, а эта форма команды требует "
                             "выравнивания")
                  .arg(HexAddress(w, address)));
        return true;
    }
    if (d.mxcsrOffset < 0) return false;
    const quint64 address = EffectiveAddress(w, engine, d, next) + quint64(d.mxcsrOffset);
    quint32 value = 0;
    if (w->uc->memRead(engine, address, &value, sizeof value) != UC_ERR_OK || (value & 0xFFFF0000) == 0) return false;
    Raise(w, engine, 13, QStringLiteral("в MXCSR загружается %1 с зарезервированными битами 16–31").arg(Hex32(value)));
    return true;
}

void OnCode(uc_engine *engine, uint64_t address, uint32_t size, void *data) {
    auto *w = static_cast<Watch *>(data);
    // Bytes that are no instruction come with a made-up size; the invalid-instruction hook tells of them.
    if (size > 15) size = 1;
    if (address < w->codeBase || address + size > w->codeEnd) {
        // The start at privilege 0 and the wrapper in user32 are the caller's code.
        if ((address >= w->callerFrom && address < w->callerTo) || (address >= w->systemFrom && address < w->systemTo))
            return;
        w->outside = true;
        w->outsideAddress = address >= w->codeBase && address < w->codeEnd ? w->codeEnd : address;
        w->uc->emuStop(engine);
        return;
    }
    if (!w->entered) {
        w->entered = true;
        w->ebpAtEntry = Reg(w, engine, UC_X86_REG_EBP);
        w->frame.resize(w->stackTop - w->frameAt);
        w->uc->memRead(engine, w->frameAt, w->frame.data(), w->frame.size());
    }
    const x86::Decoded d = x86::Decode(w->codeBytes + (address - w->codeBase), size, w->long64);
    if (d.privileged) {
        w->privileged = d.privileged;
        w->current = address;
        w->uc->emuStop(engine);
        return;
    }
    if (w->executed == w->limit) {
        w->limitReached = true;
        w->uc->emuStop(engine);
        return;
    }
    w->current = address;
    if ((d.aligned16 || d.mxcsrOffset >= 0) && RaisesFault(w, engine, d, address + size)) return;
    ++w->executed;
    // ret n with n of 32 KiB or more: the emulator takes n as negative; a real CPU does not.
    const quint8 *at = w->codeBytes + (address - w->codeBase);
    if (size == 3 && at[0] == 0xC2 && at[2] >= 0x80) {
        const quint32 width = w->long64 ? 8 : 4;
        const int sp = w->long64 ? UC_X86_REG_RSP : UC_X86_REG_ESP;
        const quint64 esp = Reg(w, engine, sp);
        quint64 target = 0;
        if (w->uc->memRead(engine, esp, &target, width) != UC_ERR_OK) return;  // the emulator faults on it itself
        quint64 newEsp = esp + width + (quint32(at[1]) | quint32(at[2]) << 8);
        if (!w->long64) newEsp = quint32(newEsp);
        w->uc->regWrite(engine, sp, &newEsp);
        w->uc->regWrite(engine, PcRegister(w), &target);
        w->resume = true;
    }
}

bool OnInvalidMemory(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *data) {
    auto *w = static_cast<Watch *>(data);
    w->memoryFault = true;
    w->memoryType = type;
    w->memoryAddress = address;
    return false;
}

// An access in a buffer's region before the buffer (the region is mapped from a page boundary).
void OnBufferRegion(uc_engine *engine, uc_mem_type type, uint64_t address, int, int64_t, void *data) {
    auto *w = static_cast<Watch *>(data);
    const quint64 start = w->bufferStart[(address - w->bufferRegions) / kBufferRegionSize];
    if (address >= start || w->memoryFault) return;
    w->memoryFault = true;
    w->memoryType = type;
    w->memoryAddress = address;
    w->uc->emuStop(engine);
}

void OnInterrupt(uc_engine *engine, uint32_t number, void *data) {
    auto *w = static_cast<Watch *>(data);
    if (w->interrupt < 0) w->interrupt = int(number);
    w->uc->emuStop(engine);
}

// Memory the code may write: what a movbe store done here may touch.
bool Writable(const Watch *w, quint64 address, quint32 size) {
    const quint64 end = address + size;
    const auto within = [&](quint64 from, quint64 to) { return address >= from && end <= to; };
    // The 64-bit code's memory is read-only, as VirtualProtect leaves it.
    if (within(w->stackBottom, w->stackTop) ||
        (!w->long64 && within(w->codeBase, w->codeBase + PagesFor(w->codeEnd - w->codeBase))) ||
        within(w->tebBase, w->tebEnd))
        return true;
    for (int i = 0; i < kCallParamCount; ++i)
        if (w->bufferStart[i] && within(w->bufferStart[i], w->bufferRegions + quint64(i + 1) * kBufferRegionSize))
            return true;
    return false;
}

// popcnt and movbe, which every CPU a VB program runs on today has and this
// emulator lacks, are carried out here; any other instruction the emulator
// refuses is told apart from bytes no CPU runs.
bool OnInvalidInstruction(uc_engine *engine, void *data) {
    auto *w = static_cast<Watch *>(data);
    const quint64 eip = Reg(w, engine, PcRegister(w));
    if (eip < w->codeBase || eip >= w->codeEnd) {
        w->invalid = true;
        return false;
    }
    const quint32 room = quint32(std::min<quint64>(15, w->codeEnd - eip));
    const x86::Decoded d = x86::Decode(w->codeBytes + (eip - w->codeBase), room, w->long64);
    const bool ours = d.kind == x86::Kind::Popcnt || d.kind == x86::Kind::MovbeLoad || d.kind == x86::Kind::MovbeStore;
    if (!ours || d.length > room) {
        (d.kind == x86::Kind::Unsupported ? w->unsupported : w->invalid) = true;
        return false;
    }
    const quint32 bytes = d.rexW ? 8 : d.operand16 ? 2 : 4;
    const quint64 mask = bytes == 8 ? ~quint64(0) : bytes == 4 ? 0xFFFFFFFF : 0xFFFF;
    const auto swapped = [bytes](quint64 value) {
        return bytes == 8   ? qbswap(value)
               : bytes == 4 ? quint64(qbswap(quint32(value)))
                            : quint64(qbswap(quint16(value)));
    };
    const int reg = RegisterId(w, d.reg);
    quint64 source = 0;
    const quint64 address = d.memory ? EffectiveAddress(w, engine, d, eip + d.length) : 0;
    const auto fault = [&](uc_mem_type type) {
        w->memoryFault = true;
        w->memoryType = type;
        w->memoryAddress = address;
        return false;
    };
    if (d.kind == x86::Kind::MovbeStore) {
        const quint64 value = swapped(Reg(w, engine, reg) & mask);
        if (!Writable(w, address, bytes) || w->uc->memWrite(engine, address, &value, bytes) != UC_ERR_OK)
            return fault(UC_MEM_WRITE_UNMAPPED);
    } else {
        if (d.memory) {
            if (w->uc->memRead(engine, address, &source, bytes) != UC_ERR_OK) return fault(UC_MEM_READ_UNMAPPED);
        } else {
            source = Reg(w, engine, RegisterId(w, d.rm)) & mask;
        }
        quint64 result = 0;
        if (d.kind == x86::Kind::Popcnt) {
            result = quint64(std::popcount(source));
            // popcnt clears every arithmetic flag but ZF, which tells a zero source.
            quint64 flags = Reg(w, engine, UC_X86_REG_EFLAGS) & ~quint64(0x8D5);
            if (source == 0) flags |= 0x40;
            w->uc->regWrite(engine, UC_X86_REG_EFLAGS, &flags);
        } else {
            result = swapped(source);
        }
        // A 16-bit result keeps the rest of the register; a 32-bit one clears the upper half in 64-bit code.
        if (bytes == 2) result = (Reg(w, engine, reg) & ~quint64(0xFFFF)) | result;
        w->uc->regWrite(engine, reg, &result);
    }
    const quint64 next = eip + d.length;
    w->uc->regWrite(engine, PcRegister(w), &next);  // counted by the code hook already
    w->current = eip;
    w->resume = true;
    return true;
}

MemoryAccess AccessOf(uc_mem_type type) {
    switch (type) {
        case UC_MEM_WRITE:
        case UC_MEM_WRITE_UNMAPPED:
        case UC_MEM_WRITE_PROT:
            return MemoryAccess::Write;
        case UC_MEM_FETCH:
        case UC_MEM_FETCH_UNMAPPED:
        case UC_MEM_FETCH_PROT:
            return MemoryAccess::Fetch;
        default:
            return MemoryAccess::Read;
    }
}

class Engine {
public:
    Engine(const UnicornFunctions *uc, bool long64) : uc_(uc) {
        status_ = uc_->open(UC_ARCH_X86, long64 ? UC_MODE_64 : UC_MODE_32, &engine_);
        // The newest CPU model the emulator has (its own list ends with it).
        if (ok()) check(uc_->ctl(engine_, UC_CTL_WRITE(UC_CTL_CPU_MODEL, 1), int(UC_CPU_X86_ENDING) - 1), "cpu");
    }
    ~Engine() {
        if (engine_) uc_->close(engine_);
    }
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    uc_engine *get() const { return engine_; }
    // Keeps the first failure; every later step is skipped.
    bool ok() const { return status_ == UC_ERR_OK; }
    QString failure() const {
        return QStringLiteral("Эмулятор процессора не смог подготовить вызов (шаг «%1»): %2.")
            .arg(QLatin1StringView(step_), QString::fromUtf8(uc_->strerror(status_)));
    }
    void check(uc_err status, const char *step) {
        if (ok() && status != UC_ERR_OK) {
            status_ = status;
            step_ = step;
        }
    }

    void map(quint64 address, quint64 size, uint32_t perms, void *host = nullptr) {
        check(host ? uc_->memMapPtr(engine_, address, size, perms, host) : uc_->memMap(engine_, address, size, perms),
              "map");
    }
    void write(quint64 address, const void *bytes, size_t size) {
        check(uc_->memWrite(engine_, address, bytes, size), "write");
    }
    void setReg(int reg, quint64 value) { check(uc_->regWrite(engine_, reg, &value), "register"); }
    void setRegFrom(int reg, const void *value) { check(uc_->regWrite(engine_, reg, value), "register"); }
    quint64 reg(int reg) const {
        quint64 value = 0;
        uc_->regRead(engine_, reg, &value);
        return value;
    }

private:
    const UnicornFunctions *uc_;
    uc_engine *engine_ = nullptr;
    uc_err status_ = UC_ERR_OK;
    const char *step_ = "open";
};

// The VB program's own image: a read-only page with its MZ and PE headers, for
// the machine given (IMAGE_FILE_MACHINE_…).
void MapImageHeader(Engine &engine, quint64 base, quint16 machine) {
    engine.map(base, kPage, UC_PROT_READ);
    quint8 image[0x100] = {'M', 'Z'};
    image[0x3C] = 0x80;  // e_lfanew
    std::memcpy(image + 0x80, "PE\0\0", 4);
    image[0x84] = quint8(machine);
    image[0x85] = quint8(machine >> 8);
    engine.write(base, image, sizeof image);
}

// The process around the call: descriptor table, thread and process blocks,
// the program's image header, the shared page, user32's wrapper and the
// start at privilege 0 that enters it at privilege 3 as CallWindowProcA.
void BuildProcess(Engine &engine, const quint64 (&arguments)[kCallParamCount]) {
    engine.map(kSystem, 2 * kPage, UC_PROT_ALL);
    const quint64 table[8] = {0,
                              Descriptor(0, 0xB, 0),
                              Descriptor(0, 0x3, 0),
                              Descriptor(0, 0xB, 3),  // 0x1B: code
                              Descriptor(0, 0x3, 3),  // 0x23: data and stack
                              0,
                              0,
                              Descriptor(kTeb, 0x3, 3, kPage)};  // 0x3B: the thread block
    engine.write(kSystem, table, sizeof table);
    uc_x86_mmr gdtr{0, kSystem, sizeof table - 1, 0};
    engine.setRegFrom(UC_X86_REG_GDTR, &gdtr);
    const quint32 iretFrame[5] = {kWrapper, 0x1B, 0x202, kWrapperEsp, 0x23};
    engine.write(kSystemStack - sizeof iretFrame, iretFrame, sizeof iretFrame);
    const quint8 iretd = 0xCF;
    engine.write(kSystemStart, &iretd, 1);

    engine.map(kUser32, kPage, UC_PROT_READ | UC_PROT_EXEC);
    std::vector<quint8> user32(kPage, 0xCC);
    std::copy(std::begin(kWrapperCode), std::end(kWrapperCode), user32.begin() + (kWrapper - kUser32));
    engine.write(kUser32, user32.data(), user32.size());

    engine.map(kTeb, 2 * kPage, UC_PROT_READ | UC_PROT_WRITE);
    quint32 teb[16] = {};
    teb[0] = 0xFFFFFFFF;    // the end of the exception handler chain
    teb[1] = kStackTop;     // StackBase
    teb[2] = kStackBottom;  // StackLimit
    teb[6] = kTeb;          // Self, +0x18
    teb[8] = 0x0E10;        // ClientId: the process
    teb[9] = 0x0E14;        // and the thread
    teb[12] = kPeb;         // +0x30
    engine.write(kTeb, teb, sizeof teb);
    const quint32 peb[4] = {0, 0xFFFFFFFF, kImageBase, 0};  // ImageBaseAddress at +8
    engine.write(kPeb, peb, sizeof peb);

    MapImageHeader(engine, kImageBase, 0x014C);  // i386

    engine.map(kSharedData, kPage, UC_PROT_READ);
    engine.map(kStackBottom, kStackTop - kStackBottom, UC_PROT_READ | UC_PROT_WRITE);
    const quint32 call[2 + kCallParamCount] = {kCallerReturn,         kCodeBase,
                                               quint32(arguments[0]), quint32(arguments[1]),
                                               quint32(arguments[2]), quint32(arguments[3])};
    engine.write(kWrapperEsp, call, sizeof call);

    // Privilege 0 for the start, whose iretd loads CS 0x1B and SS 0x23; the
    // data segments already have the selectors of a Windows process.
    engine.setReg(UC_X86_REG_CS, 0x08);
    engine.setReg(UC_X86_REG_SS, 0x10);
    for (int reg : {UC_X86_REG_DS, UC_X86_REG_ES}) engine.setReg(reg, 0x23);
    engine.setReg(UC_X86_REG_FS, 0x3B);
    engine.setReg(UC_X86_REG_GS, 0);
    engine.setReg(UC_X86_REG_ESP, kSystemStack - sizeof iretFrame);
    // The x87 and SSE exceptions reach the program as on Windows: #MF and #XM, not the old external line.
    engine.setReg(UC_X86_REG_CR0, engine.reg(UC_X86_REG_CR0) | 0x22);  // MP, NE
    engine.setReg(UC_X86_REG_CR4, 0x600);                              // OSFXSR, OSXMMEXCPT
    engine.setReg(UC_X86_REG_FPCW, kFpuControl);
    engine.setReg(UC_X86_REG_MXCSR, kMxcsr);
    engine.setReg(UC_X86_REG_EBP, kCallerEbp);
    for (int reg : {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX}) engine.setReg(reg, 0);
    for (const SavedStart &s : kSavedStarts) engine.setReg(s.reg, s.value);
}

// The same for 64-bit code: descriptors with a 64-bit code segment, the
// thread block on GS (Self at +0x30, the process block at +0x60, whose
// ImageBaseAddress is at +0x10), and the start at privilege 0 whose iretq
// enters the function at privilege 3 as CallWindowProcW calls it, with the
// return address into user32 on the stack.
void BuildProcess64(Engine &engine, const quint64 (&arguments)[kCallParamCount]) {
    engine.map(kSystem64, 2 * kPage, UC_PROT_ALL);
    const quint64 table[8] = {0,
                              (Descriptor(0, 0xB, 0) | (1ull << 53)) & ~(1ull << 54),  // 0x08: 64-bit code
                              Descriptor(0, 0x3, 0),                                   // 0x10
                              0,
                              0,
                              Descriptor(0, 0x3, 3),                                   // 0x2B: data and stack
                              (Descriptor(0, 0xB, 3) | (1ull << 53)) & ~(1ull << 54),  // 0x33: 64-bit code
                              0};
    engine.write(kSystem64, table, sizeof table);
    uc_x86_mmr gdtr{0, kSystem64, sizeof table - 1, 0};
    engine.setRegFrom(UC_X86_REG_GDTR, &gdtr);
    const quint64 iretFrame[5] = {kCode64, 0x33, 0x202, kEntryRsp, 0x2B};
    const quint64 systemStack = kSystem64 + 0x1000;
    engine.write(systemStack - sizeof iretFrame, iretFrame, sizeof iretFrame);
    const quint8 iretq[] = {0x48, 0xCF};
    engine.write(kSystem64 + 0x1800, iretq, sizeof iretq);

    engine.map(kUser64, kPage, UC_PROT_READ | UC_PROT_EXEC);
    const std::vector<quint8> user32(kPage, 0xCC);
    engine.write(kUser64, user32.data(), user32.size());

    engine.map(kTeb64, 3 * kPage, UC_PROT_READ | UC_PROT_WRITE);
    quint64 teb[16] = {};
    teb[0] = ~quint64(0);     // no exception list in 64-bit code
    teb[1] = kStack64Top;     // StackBase, +0x08
    teb[2] = kStack64Bottom;  // StackLimit, +0x10
    teb[6] = kTeb64;          // Self, +0x30
    teb[8] = 0x0E10;          // ClientId, +0x40: the process
    teb[9] = 0x0E14;          // and the thread
    teb[12] = kPeb64;         // +0x60
    engine.write(kTeb64, teb, sizeof teb);
    const quint64 peb[4] = {0, ~quint64(0), kImage64, 0};  // ImageBaseAddress at +0x10
    engine.write(kPeb64, peb, sizeof peb);

    MapImageHeader(engine, kImage64, 0x8664);  // x86-64

    engine.map(kSharedData, kPage, UC_PROT_READ);
    engine.map(kStack64Bottom, kStack64Top - kStack64Bottom, UC_PROT_READ | UC_PROT_WRITE);
    engine.write(kEntryRsp, &kReturn64, sizeof kReturn64);

    engine.setReg(UC_X86_REG_CS, 0x08);
    engine.setReg(UC_X86_REG_SS, 0x10);
    for (int reg : {UC_X86_REG_DS, UC_X86_REG_ES}) engine.setReg(reg, 0x2B);
    engine.setReg(UC_X86_REG_FS, 0);  // FS and GS hold 0 in a 64-bit process; GS's base is the thread block
    engine.setReg(UC_X86_REG_GS, 0);
    engine.setReg(UC_X86_REG_GS_BASE, kTeb64);
    engine.setReg(UC_X86_REG_RSP, systemStack - sizeof iretFrame);
    engine.setReg(UC_X86_REG_CR0, engine.reg(UC_X86_REG_CR0) | 0x22);   // MP, NE
    engine.setReg(UC_X86_REG_CR4, engine.reg(UC_X86_REG_CR4) | 0x600);  // OSFXSR, OSXMMEXCPT
    engine.setReg(UC_X86_REG_FPCW, kFpuControl);
    engine.setReg(UC_X86_REG_MXCSR, kMxcsr);
    const int volatiles[] = {UC_X86_REG_RAX, UC_X86_REG_R10, UC_X86_REG_R11};
    for (int reg : volatiles) engine.setReg(reg, 0);
    const int argumentRegs[kCallParamCount] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8, UC_X86_REG_R9};
    for (int i = 0; i < kCallParamCount; ++i) engine.setReg(argumentRegs[i], arguments[i]);
    for (const SavedStart64 &s : kSavedStarts64) engine.setReg(s.reg, s.value);
    for (int i = kFirstSavedXmm; i < 16; ++i) {
        const quint64 value[2] = {0x0606060606060606ull * quint64(i), 0x6060606060606060ull + quint64(i)};
        engine.setRegFrom(UC_X86_REG_XMM0 + i, value);
    }
}

}  // namespace

TrialVerdict TrialResult::verdict() const {
    switch (end) {
        case TrialEnd::Returned:
            break;
        case TrialEnd::InstructionLimit:
        case TrialEnd::TimeLimit:
        case TrialEnd::Unsupported:
        case TrialEnd::EmulatorFailure:
            return TrialVerdict::Undecided;
        default:
            return TrialVerdict::Crash;
    }
    if (frameWritten || x87Depth > 0 || fpuControlBefore != fpuControlAfter || mxcsrBefore != mxcsrAfter ||
        !directionClear)
        return TrialVerdict::Crash;
    // In 64-bit code nobody repairs anything.
    const bool allKept = std::all_of(saved.begin(), saved.end(), [](const SavedRegister &r) { return r.kept(); });
    if (bits == 64) return allKept && argumentBytesRemoved == 0 ? TrialVerdict::Clean : TrialVerdict::Crash;
    const auto kept = [this](const char *name) {
        return std::all_of(saved.begin(), saved.end(),
                           [name](const SavedRegister &r) { return r.name != QLatin1StringView(name) || r.kept(); });
    };
    if (!kept("EBP")) return TrialVerdict::Crash;
    if (argumentBytesRemoved != 4 * kCallParamCount || !allKept) return TrialVerdict::Repaired;
    return TrialVerdict::Clean;
}

TrialResult TrialCall(const QByteArray &code, const QList<CallParam> &params, const TrialSettings &settings) {
    TrialResult result;
    result.instructionLimit = settings.instructionLimit;
    if (code.size() > kMaxTrialCode) {
        result.error = QStringLiteral(
                           "Код функции занимает %1 байт, больше 1 МиБ (%2 байт): такой код для проверки вызова не "
                           "запускается.")
                           .arg(code.size())
                           .arg(kMaxTrialCode);
        return result;
    }
    const LoadedEmulator emulator = LoadEmulator(settings.emulatorLibrary);
    if (!emulator) {
        result.error = emulator.error;
        return result;
    }
    if (const QString shortage = EmulatorMemoryShortage(settings.emulatorLibrary); !shortage.isEmpty()) {
        result.error = shortage;
        return result;
    }
    const bool long64 = settings.bits == 64;
    result.bits = long64 ? 64 : 32;
    // The hook reads the instructions from the host side; the memory outlives the emulator.
    std::vector<quint8> codeMemory(PagesFor(code.size()));
    std::copy(code.begin(), code.end(), codeMemory.begin());
    const UnicornFunctions *uc = emulator.functions;
    Engine engine(uc, long64);
    Watch watch;
    watch.long64 = long64;
    const quint64 codeBase = long64 ? kCode64 : kCodeBase;
    result.codeBase = codeBase;
    // Writable, as Visual Basic's byte array is; the VBA7 module's memory, which is the only way 64-bit
    // code is called, is made executable and read-only by VirtualProtect.
    engine.map(codeBase, codeMemory.size(), long64 ? UC_PROT_READ | UC_PROT_EXEC : UC_PROT_ALL, codeMemory.data());
    if (long64) {
        watch.stackBottom = kStack64Bottom;
        watch.stackTop = kStack64Top;
        watch.frameAt = kFrame64At;
        watch.tebBase = kTeb64;
        watch.tebEnd = kTeb64 + 3 * kPage;
        watch.tebSegment = 0x65;
        watch.callerFrom = kUser64;
        watch.callerTo = kUser64 + kPage;
        watch.systemFrom = kSystem64;
        watch.systemTo = kSystem64 + 2 * kPage;
        watch.bufferRegions = kBufferRegions64;
    }

    for (int i = 0; i < kCallParamCount && i < params.size(); ++i) {
        const CallParam &p = params[i];
        if (p.kind == CallParam::Kind::Number) {
            // A VB Long given for a LongPtr (P1, P3, P4) keeps its sign; the message (P2) is a Long.
            result.arguments[i] = long64 && i != 1 ? quint64(qint64(qint32(p.number))) : quint64(p.number);
            continue;
        }
        const quint64 region = watch.bufferRegions + quint64(i) * kBufferRegionSize;
        const quint32 mapped = PagesFor(p.buffer.size());
        const quint64 address = region + mapped - quint64(p.buffer.size());
        engine.map(region, mapped, UC_PROT_READ | UC_PROT_WRITE);
        engine.write(address, p.buffer.constData(), p.buffer.size());
        result.arguments[i] = address;
        watch.bufferStart[i] = address;
        result.buffers.push_back({i, address, p.buffer.size(), {}});
    }
    if (long64)
        BuildProcess64(engine, result.arguments);
    else
        BuildProcess(engine, result.arguments);

    watch.uc = uc;
    watch.codeBytes = codeMemory.data();
    watch.codeBase = codeBase;
    watch.codeEnd = codeBase + quint64(code.size());
    watch.limit = settings.instructionLimit;
    watch.current = codeBase;
    uc_hook hook;
    engine.check(uc->hookAdd(engine.get(), &hook, UC_HOOK_CODE, reinterpret_cast<void *>(&OnCode), &watch, 1, 0),
                 "hook");
    engine.check(
        uc->hookAdd(engine.get(), &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(&OnInvalidMemory), &watch, 1, 0),
        "hook");
    engine.check(uc->hookAdd(engine.get(), &hook, UC_HOOK_INTR, reinterpret_cast<void *>(&OnInterrupt), &watch, 1, 0),
                 "hook");
    engine.check(uc->hookAdd(engine.get(), &hook, UC_HOOK_INSN_INVALID, reinterpret_cast<void *>(&OnInvalidInstruction),
                             &watch, 1, 0),
                 "hook");
    if (!result.buffers.isEmpty())
        engine.check(uc->hookAdd(engine.get(), &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                                 reinterpret_cast<void *>(&OnBufferRegion), &watch, watch.bufferRegions,
                                 watch.bufferRegions + kCallParamCount * kBufferRegionSize - 1),
                     "hook");
    if (!engine.ok()) {
        result.error = engine.failure();
        return result;
    }

    const quint64 timeoutUs = quint64(std::max(1, settings.timeLimitMs)) * 1000;
    const QDeadlineTimer deadline{std::chrono::microseconds(timeoutUs)};
    uc_err status = UC_ERR_OK;
    size_t timedOut = 0;
    // From privilege 0 (through user32's wrapper in 32-bit code) into the function and back.
    const int pc = long64 ? UC_X86_REG_RIP : UC_X86_REG_EIP;
    const quint64 returnPoint = long64 ? kReturn64 : kReturnPoint;
    quint64 eip = long64 ? kSystem64 + 0x1800 : kSystemStart;
    do {
        watch.resume = false;
        const quint64 left = quint64(std::max<qint64>(1, deadline.remainingTimeNSecs() / 1000));
        status = uc->emuStart(engine.get(), eip, returnPoint, left, 0);
        uc->query(engine.get(), UC_QUERY_TIMEOUT, &timedOut);
        eip = engine.reg(pc);
    } while (watch.resume && status == UC_ERR_OK && !timedOut && eip != returnPoint && !watch.memoryFault &&
             !watch.outside && !watch.privileged && watch.interrupt < 0 && !watch.invalid && !watch.unsupported &&
             !watch.limitReached);

    if (!watch.entered) {
        engine.check(status == UC_ERR_OK ? UC_ERR_EXCEPTION : status, "start");
        result.error = engine.failure();
        return result;
    }
    result.rax = long64 ? engine.reg(UC_X86_REG_RAX) : quint32(engine.reg(UC_X86_REG_EAX));
    result.instructions = watch.executed;
    result.offsetKnown = watch.executed > 0 || watch.privileged || !watch.interruptDetail.isEmpty();
    result.offset = quint32(watch.current - codeBase);
    if (watch.memoryFault) {
        result.end = TrialEnd::MemoryFault;
        result.faultAddress = watch.memoryAddress;
        result.faultAccess = AccessOf(watch.memoryType);
    } else if (watch.outside) {
        result.end = TrialEnd::MemoryFault;
        result.faultAddress = watch.outsideAddress;
        result.faultAccess = MemoryAccess::Fetch;
    } else if (watch.privileged) {
        result.end = TrialEnd::Privileged;
        result.instruction = QString::fromLatin1(watch.privileged);
    } else if (watch.interrupt >= 0) {
        result.end = TrialEnd::Interrupt;
        result.interrupt = watch.interrupt;
        result.detail = watch.interruptDetail;
    } else if (watch.invalid || watch.unsupported || status == UC_ERR_INSN_INVALID) {
        result.end = watch.unsupported ? TrialEnd::Unsupported : TrialEnd::InvalidInstruction;
        // The processor faults before the instruction runs: EIP is still on it.
        if (eip >= codeBase && eip < watch.codeEnd) {
            result.offset = quint32(eip - codeBase);
            result.offsetKnown = true;
        }
    } else if (status != UC_ERR_OK) {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QString::fromUtf8(uc->strerror(status));
    } else if (eip == returnPoint) {
        result.end = TrialEnd::Returned;
    } else if (watch.limitReached) {
        result.end = TrialEnd::InstructionLimit;
    } else if (timedOut) {
        result.end = TrialEnd::TimeLimit;
    } else {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QStringLiteral("эмулятор остановился, не назвав причину");
    }

    result.directionClear = !(engine.reg(UC_X86_REG_EFLAGS) & kDirectionFlag);
    if (long64) {
        // A plain ret leaves RSP just above the return address.
        result.argumentBytesRemoved = qint64(engine.reg(UC_X86_REG_RSP)) - qint64(kCallRsp);
        for (const SavedStart64 &s : kSavedStarts64)
            result.saved.push_back({QString::fromLatin1(s.name), s.value, engine.reg(s.reg)});
        for (int i = kFirstSavedXmm; i < 16; ++i) {
            const quint64 before[2] = {0x0606060606060606ull * quint64(i), 0x6060606060606060ull + quint64(i)};
            quint64 after[2] = {};
            uc->regRead(engine.get(), UC_X86_REG_XMM0 + i, after);
            result.saved.push_back({QStringLiteral("XMM%1").arg(i), before[0], after[0], before[1], after[1]});
        }
    } else {
        result.argumentBytesRemoved = qint64(engine.reg(UC_X86_REG_ESP)) - qint64(kArgumentsAt);
        for (const SavedStart &s : kSavedStarts)
            result.saved.push_back({QString::fromLatin1(s.name), s.value, engine.reg(s.reg)});
        result.saved.push_back({QStringLiteral("EBP"), watch.ebpAtEntry, engine.reg(UC_X86_REG_EBP)});
    }
    std::vector<quint8> frameAfter(watch.frame.size());
    uc->memRead(engine.get(), watch.frameAt, frameAfter.data(), frameAfter.size());
    const auto changed = std::mismatch(watch.frame.begin(), watch.frame.end(), frameAfter.begin());
    result.frameWritten = changed.first != watch.frame.end();
    result.frameAddress = watch.frameAt + quint64(changed.first - watch.frame.begin());
    // The stack top starts at 0 and each value left moves it down by one (this emulator's tag word reads
    // wrong, so it is not used; eight values left look like none).
    result.x87Depth = int((8 - ((engine.reg(UC_X86_REG_FPSW) >> 11) & 7)) & 7);
    result.fpuControlBefore = kFpuControl;
    result.fpuControlAfter = quint16(engine.reg(UC_X86_REG_FPCW));
    result.mxcsrBefore = kMxcsr & kMxcsrControl;
    result.mxcsrAfter = engine.reg(UC_X86_REG_MXCSR) & kMxcsrControl;
    for (TrialBuffer &b : result.buffers) {
        b.head.resize(std::min(b.size, kTrialBufferHead));
        uc->memRead(engine.get(), b.address, b.head.data(), b.head.size());
    }
    return result;
}
