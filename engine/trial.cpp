#include "trial.h"

#include "x86decode.h"

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
    quint32 ebpAtEntry = 0;
    std::vector<quint8> frame;  // the caller's frame above the arguments, as the function found it
};

quint32 Reg(const Watch *w, uc_engine *engine, int reg) {
    quint32 value = 0;
    w->uc->regRead(engine, reg, &value);
    return value;
}

quint32 EffectiveAddress(const Watch *w, uc_engine *engine, const x86::Decoded &d) {
    static constexpr int kRegs[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                                     UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
    quint32 address = d.displacement;
    if (d.base >= 0) address += Reg(w, engine, kRegs[d.base]);
    if (d.index >= 0) address += Reg(w, engine, kRegs[d.index]) << d.scale;
    if (d.segment == 0x64) address += kTeb;
    return address;
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
bool RaisesFault(Watch *w, uc_engine *engine, const x86::Decoded &d) {
    if (!d.memory || d.address16) return false;
    if (d.aligned16) {
        const quint32 address = EffectiveAddress(w, engine, d);
        if (address % 16 == 0) return false;
        Raise(w, engine, 13,
              QStringLiteral("операнд команды SSE по адресу %1 не выровнен на 16 байт, а эта форма команды требует "
                             "выравнивания")
                  .arg(Hex32(address)));
        return true;
    }
    if (d.mxcsrOffset < 0) return false;
    const quint32 address = EffectiveAddress(w, engine, d) + quint32(d.mxcsrOffset);
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
        if ((address >= kUser32 && address < kUser32 + kPage) || (address >= kSystem && address < kSystem + 2 * kPage))
            return;
        w->outside = true;
        w->outsideAddress = address >= w->codeBase && address < w->codeEnd ? w->codeEnd : address;
        w->uc->emuStop(engine);
        return;
    }
    if (!w->entered) {
        w->entered = true;
        w->ebpAtEntry = Reg(w, engine, UC_X86_REG_EBP);
        w->frame.resize(kStackTop - kFrameAt);
        w->uc->memRead(engine, kFrameAt, w->frame.data(), w->frame.size());
    }
    const x86::Decoded d = x86::Decode(w->codeBytes + (address - w->codeBase), size);
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
    if ((d.aligned16 || d.mxcsrOffset >= 0) && RaisesFault(w, engine, d)) return;
    ++w->executed;
    // ret n with n of 32 KiB or more: the emulator takes n as negative; a real CPU does not.
    const quint8 *at = w->codeBytes + (address - w->codeBase);
    if (size == 3 && at[0] == 0xC2 && at[2] >= 0x80) {
        const quint32 esp = Reg(w, engine, UC_X86_REG_ESP);
        quint32 target = 0;
        if (w->uc->memRead(engine, esp, &target, 4) != UC_ERR_OK) return;  // the emulator faults on it itself
        const quint32 newEsp = esp + 4 + (quint32(at[1]) | quint32(at[2]) << 8);
        w->uc->regWrite(engine, UC_X86_REG_ESP, &newEsp);
        w->uc->regWrite(engine, UC_X86_REG_EIP, &target);
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
    const quint64 start = w->bufferStart[(address - kBufferRegions) / kBufferRegionSize];
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
bool Writable(const Watch *w, quint32 address, quint32 size) {
    const quint64 end = quint64(address) + size;
    const auto within = [&](quint64 from, quint64 to) { return address >= from && end <= to; };
    if (within(kStackBottom, kStackTop) || within(w->codeBase, w->codeBase + PagesFor(w->codeEnd - w->codeBase)) ||
        within(kTeb, kPeb + kPage))
        return true;
    for (int i = 0; i < kCallParamCount; ++i)
        if (w->bufferStart[i] && within(w->bufferStart[i], kBufferRegions + quint64(i + 1) * kBufferRegionSize))
            return true;
    return false;
}

// popcnt and movbe, which every CPU a VB program runs on today has and this
// emulator lacks, are carried out here; any other instruction the emulator
// refuses is told apart from bytes no CPU runs.
bool OnInvalidInstruction(uc_engine *engine, void *data) {
    auto *w = static_cast<Watch *>(data);
    const quint32 eip = Reg(w, engine, UC_X86_REG_EIP);
    if (eip < w->codeBase || eip >= w->codeEnd) {
        w->invalid = true;
        return false;
    }
    const quint32 room = quint32(std::min<quint64>(15, w->codeEnd - eip));
    const x86::Decoded d = x86::Decode(w->codeBytes + (eip - w->codeBase), room);
    const bool ours = d.kind == x86::Kind::Popcnt || d.kind == x86::Kind::MovbeLoad || d.kind == x86::Kind::MovbeStore;
    if (!ours || d.length > room) {
        (d.kind == x86::Kind::Unsupported ? w->unsupported : w->invalid) = true;
        return false;
    }
    static constexpr int kRegs[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                                     UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
    const quint32 bytes = d.operand16 ? 2 : 4;
    const quint32 mask = d.operand16 ? 0xFFFF : 0xFFFFFFFF;
    const int reg = kRegs[d.reg];
    quint32 source = 0;
    const quint32 address = d.memory ? EffectiveAddress(w, engine, d) : 0;
    const auto fault = [&](uc_mem_type type) {
        w->memoryFault = true;
        w->memoryType = type;
        w->memoryAddress = address;
        return false;
    };
    if (d.kind == x86::Kind::MovbeStore) {
        quint32 value = Reg(w, engine, reg) & mask;
        value = d.operand16 ? quint32(quint16((value << 8) | (value >> 8))) : qbswap(value);
        if (!Writable(w, address, bytes) || w->uc->memWrite(engine, address, &value, bytes) != UC_ERR_OK)
            return fault(UC_MEM_WRITE_UNMAPPED);
    } else {
        if (d.memory) {
            if (w->uc->memRead(engine, address, &source, bytes) != UC_ERR_OK) return fault(UC_MEM_READ_UNMAPPED);
        } else {
            source = Reg(w, engine, kRegs[d.rm]) & mask;
        }
        quint32 result = 0;
        if (d.kind == x86::Kind::Popcnt) {
            result = quint32(std::popcount(source));
            // popcnt clears every arithmetic flag but ZF, which tells a zero source.
            quint32 flags = Reg(w, engine, UC_X86_REG_EFLAGS) & ~0x8D5u;
            if (source == 0) flags |= 0x40;
            w->uc->regWrite(engine, UC_X86_REG_EFLAGS, &flags);
        } else {
            result = d.operand16 ? quint32(quint16((source << 8) | (source >> 8))) : qbswap(source);
        }
        if (d.operand16) result = (Reg(w, engine, reg) & 0xFFFF0000) | result;
        w->uc->regWrite(engine, reg, &result);
    }
    const quint32 next = eip + d.length;
    w->uc->regWrite(engine, UC_X86_REG_EIP, &next);  // counted by the code hook already
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
    explicit Engine(const UnicornFunctions *uc) : uc_(uc) {
        status_ = uc_->open(UC_ARCH_X86, UC_MODE_32, &engine_);
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

    void map(quint32 address, quint32 size, uint32_t perms, void *host = nullptr) {
        check(host ? uc_->memMapPtr(engine_, address, size, perms, host) : uc_->memMap(engine_, address, size, perms),
              "map");
    }
    void write(quint32 address, const void *bytes, size_t size) {
        check(uc_->memWrite(engine_, address, bytes, size), "write");
    }
    void setReg(int reg, quint32 value) { check(uc_->regWrite(engine_, reg, &value), "register"); }
    void setRegFrom(int reg, const void *value) { check(uc_->regWrite(engine_, reg, value), "register"); }
    quint32 reg(int reg) const {
        quint32 value = 0;
        uc_->regRead(engine_, reg, &value);
        return value;
    }

private:
    const UnicornFunctions *uc_;
    uc_engine *engine_ = nullptr;
    uc_err status_ = UC_ERR_OK;
    const char *step_ = "open";
};

// The process around the call: descriptor table, thread and process blocks,
// the program's image header, the shared page, user32's wrapper and the
// start at privilege 0 that enters it at privilege 3 as CallWindowProcA.
void BuildProcess(Engine &engine, const quint32 (&arguments)[kCallParamCount]) {
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

    engine.map(kImageBase, kPage, UC_PROT_READ);
    quint8 image[0x100] = {'M', 'Z'};
    image[0x3C] = 0x80;  // e_lfanew
    std::memcpy(image + 0x80, "PE\0\0\x4C\x01", 6);
    engine.write(kImageBase, image, sizeof image);

    engine.map(kSharedData, kPage, UC_PROT_READ);
    engine.map(kStackBottom, kStackTop - kStackBottom, UC_PROT_READ | UC_PROT_WRITE);
    const quint32 call[2 + kCallParamCount] = {kCallerReturn, kCodeBase,    arguments[0],
                                               arguments[1],  arguments[2], arguments[3]};
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
    const auto kept = [this](const char *name) {
        return std::all_of(saved.begin(), saved.end(),
                           [name](const SavedRegister &r) { return r.name != QLatin1StringView(name) || r.kept(); });
    };
    if (!kept("EBP") || frameWritten || x87Depth > 0 || fpuControlBefore != fpuControlAfter ||
        mxcsrBefore != mxcsrAfter || !directionClear)
        return TrialVerdict::Crash;
    if (argumentBytesRemoved != 4 * kCallParamCount || !kept("EBX") || !kept("ESI") || !kept("EDI"))
        return TrialVerdict::Repaired;
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
    // Writable, as Visual Basic's byte array is; the hook reads its instructions from the host side. It
    // outlives the emulator.
    std::vector<quint8> codeMemory(PagesFor(code.size()));
    std::copy(code.begin(), code.end(), codeMemory.begin());
    const UnicornFunctions *uc = emulator.functions;
    Engine engine(uc);
    Watch watch;
    result.codeBase = kCodeBase;
    engine.map(kCodeBase, quint32(codeMemory.size()), UC_PROT_ALL, codeMemory.data());

    for (int i = 0; i < kCallParamCount && i < params.size(); ++i) {
        const CallParam &p = params[i];
        if (p.kind == CallParam::Kind::Number) {
            result.arguments[i] = p.number;
            continue;
        }
        const quint32 region = kBufferRegions + quint32(i) * kBufferRegionSize;
        const quint32 mapped = PagesFor(p.buffer.size());
        const quint32 address = region + mapped - quint32(p.buffer.size());
        engine.map(region, mapped, UC_PROT_READ | UC_PROT_WRITE);
        engine.write(address, p.buffer.constData(), p.buffer.size());
        result.arguments[i] = address;
        watch.bufferStart[i] = address;
        result.buffers.push_back({i, address, p.buffer.size(), {}});
    }
    BuildProcess(engine, result.arguments);

    watch.uc = uc;
    watch.codeBytes = codeMemory.data();
    watch.codeBase = kCodeBase;
    watch.codeEnd = kCodeBase + quint64(code.size());
    watch.limit = settings.instructionLimit;
    watch.current = kCodeBase;
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
                                 reinterpret_cast<void *>(&OnBufferRegion), &watch, kBufferRegions,
                                 kBufferRegions + kCallParamCount * kBufferRegionSize - 1),
                     "hook");
    if (!engine.ok()) {
        result.error = engine.failure();
        return result;
    }

    const quint64 timeoutUs = quint64(std::max(1, settings.timeLimitMs)) * 1000;
    const QDeadlineTimer deadline{std::chrono::microseconds(timeoutUs)};
    uc_err status = UC_ERR_OK;
    size_t timedOut = 0;
    // From privilege 0 through user32's wrapper into the function and back.
    quint32 eip = kSystemStart;
    do {
        watch.resume = false;
        const quint64 left = quint64(std::max<qint64>(1, deadline.remainingTimeNSecs() / 1000));
        status = uc->emuStart(engine.get(), eip, kReturnPoint, left, 0);
        uc->query(engine.get(), UC_QUERY_TIMEOUT, &timedOut);
        eip = engine.reg(UC_X86_REG_EIP);
    } while (watch.resume && status == UC_ERR_OK && !timedOut && eip != kReturnPoint && !watch.memoryFault &&
             !watch.outside && !watch.privileged && watch.interrupt < 0 && !watch.invalid && !watch.unsupported &&
             !watch.limitReached);

    if (!watch.entered) {
        engine.check(status == UC_ERR_OK ? UC_ERR_EXCEPTION : status, "start");
        result.error = engine.failure();
        return result;
    }
    result.eax = engine.reg(UC_X86_REG_EAX);
    result.instructions = watch.executed;
    result.offsetKnown = watch.executed > 0 || watch.privileged || !watch.interruptDetail.isEmpty();
    result.offset = quint32(watch.current - kCodeBase);
    if (watch.memoryFault) {
        result.end = TrialEnd::MemoryFault;
        result.faultAddress = quint32(watch.memoryAddress);
        result.faultAccess = AccessOf(watch.memoryType);
    } else if (watch.outside) {
        result.end = TrialEnd::MemoryFault;
        result.faultAddress = quint32(watch.outsideAddress);
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
        if (eip >= kCodeBase && eip < watch.codeEnd) {
            result.offset = eip - kCodeBase;
            result.offsetKnown = true;
        }
    } else if (status != UC_ERR_OK) {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QString::fromUtf8(uc->strerror(status));
    } else if (eip == kReturnPoint) {
        result.end = TrialEnd::Returned;
    } else if (watch.limitReached) {
        result.end = TrialEnd::InstructionLimit;
    } else if (timedOut) {
        result.end = TrialEnd::TimeLimit;
    } else {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QStringLiteral("эмулятор остановился, не назвав причину");
    }

    result.argumentBytesRemoved = qint64(engine.reg(UC_X86_REG_ESP)) - qint64(kArgumentsAt);
    result.directionClear = !(engine.reg(UC_X86_REG_EFLAGS) & kDirectionFlag);
    for (const SavedStart &s : kSavedStarts)
        result.saved.push_back({QString::fromLatin1(s.name), s.value, engine.reg(s.reg)});
    result.saved.push_back({QStringLiteral("EBP"), watch.ebpAtEntry, engine.reg(UC_X86_REG_EBP)});
    std::vector<quint8> frameAfter(watch.frame.size());
    uc->memRead(engine.get(), kFrameAt, frameAfter.data(), frameAfter.size());
    const auto changed = std::mismatch(watch.frame.begin(), watch.frame.end(), frameAfter.begin());
    result.frameWritten = changed.first != watch.frame.end();
    result.frameAddress = kFrameAt + quint32(changed.first - watch.frame.begin());
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
