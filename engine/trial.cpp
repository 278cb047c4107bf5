#include "trial.h"

#include <algorithm>
#include <vector>

namespace {

// The address space of a trial. Nothing below the stack is mapped, so a null
// pointer faults; each buffer ends where a region of its own ends, so an
// access past it faults too, and one before it (in the same region) is
// caught by a memory hook.
constexpr quint32 kPage = 0x1000;
constexpr quint32 kStackBottom = 0x00100000;
constexpr quint32 kStackTop = 0x00200000;        // a 1 MiB stack
constexpr quint32 kEntryEsp = kStackTop - 0x40;  // the caller's frame above the arguments
constexpr quint32 kCodeBase = 0x00400000;
constexpr quint32 kBufferRegions = 0x01000000;
constexpr quint32 kBufferRegionSize = 0x00200000;
constexpr quint32 kReturnAddress = 0x7FFE0000;  // reaching it ends the call
constexpr quint32 kDirectionFlag = 1u << 10;

struct SavedStart {
    const char *name;
    int reg;
    quint32 value;
};
constexpr SavedStart kSavedStarts[] = {
    {"EBX", UC_X86_REG_EBX, 0xB0B0B0B0},
    {"ESI", UC_X86_REG_ESI, 0x51515151},
    {"EDI", UC_X86_REG_EDI, 0xD1D1D1D1},
    {"EBP", UC_X86_REG_EBP, 0xBEBEBEBE},
};

quint32 PagesFor(quint64 size) {
    return quint32(std::max<quint64>(kPage, (size + kPage - 1) / kPage * kPage));
}

struct Named {
    quint8 byte;
    const char *name;
};
// After any prefixes (segment, operand and address size, lock, rep).
constexpr Named kPrivileged[] = {{0xF4, "hlt"}, {0xFA, "cli"}, {0xFB, "sti"}, {0xE4, "in"},   {0xE5, "in"},
                                 {0xEC, "in"},  {0xED, "in"},  {0xE6, "out"}, {0xE7, "out"},  {0xEE, "out"},
                                 {0xEF, "out"}, {0x6C, "ins"}, {0x6D, "ins"}, {0x6E, "outs"}, {0x6F, "outs"}};
// After 0F.
constexpr Named kPrivileged0F[] = {{0x05, "syscall"}, {0x06, "clts"},     {0x07, "sysret"},  {0x08, "invd"},
                                   {0x09, "wbinvd"},  {0x20, "mov cr"},   {0x22, "mov cr"},  {0x21, "mov dr"},
                                   {0x23, "mov dr"},  {0x24, "mov tr"},   {0x26, "mov tr"},  {0x30, "wrmsr"},
                                   {0x32, "rdmsr"},   {0x34, "sysenter"}, {0x35, "sysexit"}, {0x37, "getsec"}};
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

// The name of an instruction that a program in user mode (Windows runs VB
// programs at privilege level 3) may not execute: it faults there, or enters
// the kernel behind Windows' back. nullptr for any other instruction. The
// emulator runs at level 0 and would execute them.
const char *PrivilegedName(const quint8 *bytes, quint32 size) {
    static const QByteArray prefixes = QByteArrayLiteral("\x26\x2E\x36\x3E\x64\x65\x66\x67\xF0\xF2\xF3");
    quint32 i = 0;
    while (i < size && prefixes.contains(char(bytes[i]))) ++i;
    if (i >= size) return nullptr;
    if (bytes[i] != 0x0F) return Find(kPrivileged, bytes[i]);
    if (i + 1 >= size) return nullptr;
    const quint8 modrm = i + 2 < size ? bytes[i + 2] : 0;
    const int reg = (modrm >> 3) & 7;
    if (bytes[i + 1] == 0x00) return reg == 2 ? "lldt" : reg == 3 ? "ltr" : nullptr;
    if (bytes[i + 1] != 0x01) return Find(kPrivileged0F, bytes[i + 1]);
    if (modrm < 0xC0) {  // a memory operand: lgdt, lidt, lmsw, invlpg by the reg field
        static const char *const forms[8] = {nullptr, nullptr, "lgdt", "lidt", nullptr, nullptr, "lmsw", "invlpg"};
        return forms[reg];
    }
    return reg == 6 ? "lmsw" : Find(kPrivileged0F01, modrm);
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
    bool invalid = false;
};

void OnCode(uc_engine *engine, uint64_t address, uint32_t size, void *data) {
    auto *w = static_cast<Watch *>(data);
    if (address == kReturnAddress) return;
    // Bytes that are no instruction come with a made-up size; the invalid-instruction hook tells of them.
    if (size > 15) size = 1;
    if (address < w->codeBase || address + size > w->codeEnd) {
        w->outside = true;
        w->outsideAddress = address >= w->codeBase && address < w->codeEnd ? w->codeEnd : address;
        w->uc->emuStop(engine);
        return;
    }
    if (const char *name = PrivilegedName(w->codeBytes + (address - w->codeBase), size)) {
        w->privileged = name;
        w->current = address;
        w->uc->emuStop(engine);
        return;
    }
    if (w->executed == w->limit) {
        w->limitReached = true;
        w->uc->emuStop(engine);
        return;
    }
    ++w->executed;
    w->current = address;
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
    w->interrupt = int(number);
    w->uc->emuStop(engine);
}

bool OnInvalidInstruction(uc_engine *, void *data) {
    static_cast<Watch *>(data)->invalid = true;
    return false;
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
    explicit Engine(const UnicornFunctions *uc) : uc_(uc) { status_ = uc_->open(UC_ARCH_X86, UC_MODE_32, &engine_); }
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

}  // namespace

bool TrialResult::contractKept() const {
    return returned() && argumentBytesRemoved == 4 * kCallParamCount && directionClear &&
           std::all_of(saved.begin(), saved.end(), [](const SavedRegister &r) { return r.kept(); });
}

TrialResult TrialCall(const QByteArray &code, const QList<CallParam> &params, const TrialSettings &settings) {
    TrialResult result;
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
    engine.map(kStackBottom, kStackTop - kStackBottom, UC_PROT_READ | UC_PROT_WRITE);
    // The return address is mapped, so that reaching it is never mistaken for a jump into nowhere.
    engine.map(kReturnAddress, kPage, UC_PROT_ALL);

    quint32 frame[1 + kCallParamCount] = {kReturnAddress};
    for (int i = 0; i < kCallParamCount && i < params.size(); ++i) {
        const CallParam &p = params[i];
        if (p.kind == CallParam::Kind::Number) {
            frame[1 + i] = p.number;
            continue;
        }
        const quint32 region = kBufferRegions + quint32(i) * kBufferRegionSize;
        const quint32 mapped = PagesFor(p.buffer.size());
        const quint32 address = region + mapped - quint32(p.buffer.size());
        engine.map(region, mapped, UC_PROT_READ | UC_PROT_WRITE);
        engine.write(address, p.buffer.constData(), p.buffer.size());
        frame[1 + i] = address;
        watch.bufferStart[i] = address;
        result.buffers.push_back({i, address, p.buffer.size(), {}});
    }
    std::copy(frame + 1, frame + 1 + kCallParamCount, result.arguments);
    engine.write(kEntryEsp, frame, sizeof frame);

    engine.setReg(UC_X86_REG_ESP, kEntryEsp);
    engine.setReg(UC_X86_REG_EFLAGS, 0x202);  // interrupts enabled, direction clear
    for (int reg : {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX}) engine.setReg(reg, 0);
    for (const SavedStart &s : kSavedStarts) engine.setReg(s.reg, s.value);

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
    const uc_err status = uc->emuStart(engine.get(), kCodeBase, kReturnAddress, timeoutUs, 0);
    size_t timedOut = 0;
    uc->query(engine.get(), UC_QUERY_TIMEOUT, &timedOut);
    const quint32 eip = engine.reg(UC_X86_REG_EIP);

    result.eax = engine.reg(UC_X86_REG_EAX);
    result.instructions = watch.executed;
    result.offsetKnown = watch.executed > 0 || watch.privileged;
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
    } else if (watch.invalid || status == UC_ERR_INSN_INVALID) {
        result.end = TrialEnd::InvalidInstruction;
        // The processor faults before the instruction runs: EIP is still on it.
        if (eip >= kCodeBase && eip < watch.codeEnd) {
            result.offset = eip - kCodeBase;
            result.offsetKnown = true;
        }
    } else if (status != UC_ERR_OK) {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QString::fromUtf8(uc->strerror(status));
    } else if (eip == kReturnAddress) {
        result.end = TrialEnd::Returned;
    } else if (watch.limitReached) {
        result.end = TrialEnd::InstructionLimit;
    } else if (timedOut) {
        result.end = TrialEnd::TimeLimit;
    } else {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QStringLiteral("эмулятор остановился, не назвав причину");
    }

    result.argumentBytesRemoved = qint64(engine.reg(UC_X86_REG_ESP)) - qint64(kEntryEsp + 4);
    result.directionClear = !(engine.reg(UC_X86_REG_EFLAGS) & kDirectionFlag);
    for (const SavedStart &s : kSavedStarts)
        result.saved.push_back({QString::fromLatin1(s.name), s.value, engine.reg(s.reg)});
    for (TrialBuffer &b : result.buffers) {
        b.head.resize(std::min(b.size, kTrialBufferHead));
        uc->memRead(engine.get(), b.address, b.head.data(), b.head.size());
    }
    return result;
}
