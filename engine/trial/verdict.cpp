#include "trial/verdict.h"

#include <algorithm>

namespace {

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

}  // namespace

void Judge(const EmulatedCpu &cpu, const Watch &w, uc_err status, TrialResult &result) {
    const ProcessLayout &layout = w.layout;
    const bool long64 = layout.long64();
    const quint64 codeBase = layout.codeBase;
    result.rax = long64 ? cpu.reg(UC_X86_REG_RAX) : quint32(cpu.reg(UC_X86_REG_EAX));
    result.instructions = w.executed;
    result.offsetKnown = w.executed > 0 || w.privileged || !w.interruptDetail.isEmpty();
    result.offset = quint32(w.current - codeBase);
    result.notes = w.notes;
    const quint64 pc = cpu.reg(layout.pc);
    if (w.memoryFault) {
        result.end = TrialEnd::MemoryFault;
        result.faultAddress = w.memoryAddress;
        result.faultAccess = AccessOf(w.memoryType);
    } else if (w.outside) {
        result.end = TrialEnd::MemoryFault;
        result.faultAddress = w.outsideAddress;
        result.faultAccess = MemoryAccess::Fetch;
    } else if (w.privileged) {
        result.end = TrialEnd::Privileged;
        result.instruction = QString::fromLatin1(w.privileged);
    } else if (!w.systemCall.isEmpty()) {
        result.end = TrialEnd::SystemCall;
        result.detail = w.systemCall;
    } else if (!w.unmodeled.isEmpty()) {
        result.end = TrialEnd::Unmodeled;
        result.detail = w.unmodeled;
    } else if (w.interrupt >= 0) {
        result.end = TrialEnd::Interrupt;
        result.interrupt = w.interrupt;
        result.detail = w.interruptDetail;
    } else if (w.invalid || w.unsupported || status == UC_ERR_INSN_INVALID) {
        result.end = w.unsupported ? TrialEnd::Unsupported : TrialEnd::InvalidInstruction;
        // The processor faults before the instruction runs: the instruction pointer is still on it.
        if (pc >= codeBase && pc < w.codeEnd) {
            result.offset = quint32(pc - codeBase);
            result.offsetKnown = true;
        }
    } else if (status != UC_ERR_OK) {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QString::fromUtf8(w.uc->strerror(status));
    } else if (pc == layout.returnPoint) {
        result.end = TrialEnd::Returned;
    } else if (w.limitReached) {
        result.end = TrialEnd::InstructionLimit;
    } else if (w.timedOut) {
        result.end = TrialEnd::TimeLimit;
    } else {
        result.end = TrialEnd::EmulatorFailure;
        result.emulatorMessage = QStringLiteral("эмулятор остановился, не назвав причину");
    }

    result.directionClear = !(cpu.reg(UC_X86_REG_EFLAGS) & kDirectionFlag);
    // 32-bit code must remove its 16 bytes of arguments; 64-bit code returns with a plain ret.
    result.argumentBytesRemoved = qint64(cpu.reg(layout.sp)) - qint64(layout.argumentsAt);
    for (const SavedStart &s : SavedRegisters(layout))
        result.saved.push_back({QString::fromLatin1(s.name), s.value, cpu.reg(s.reg)});
    if (long64) {
        for (int i = kFirstSavedXmm; i < 16; ++i) {
            quint64 before[2] = {}, after[2] = {};
            XmmStart(i, before);
            w.uc->regRead(cpu.get(), UC_X86_REG_XMM0 + i, after);
            result.saved.push_back({QStringLiteral("XMM%1").arg(i), before[0], after[0], before[1], after[1]});
        }
    } else {
        result.saved.push_back({QStringLiteral("EBP"), w.ebpAtEntry, cpu.reg(UC_X86_REG_EBP)});
    }
    std::vector<quint8> frameAfter(w.frame.size());
    w.uc->memRead(cpu.get(), layout.frameAt, frameAfter.data(), frameAfter.size());
    const auto changed = std::mismatch(w.frame.begin(), w.frame.end(), frameAfter.begin());
    result.frameWritten = changed.first != w.frame.end();
    result.frameAddress = layout.frameAt + quint64(changed.first - w.frame.begin());
    // The stack top starts at 0 and each value left moves it down by one (this emulator's tag word reads
    // wrong, so it is not used; eight values left look like none).
    result.x87Depth = int((8 - ((cpu.reg(UC_X86_REG_FPSW) >> 11) & 7)) & 7);
    result.fpuControlBefore = kFpuControl;
    result.fpuControlAfter = quint16(cpu.reg(UC_X86_REG_FPCW));
    result.mxcsrBefore = kMxcsr & kMxcsrControl;
    result.mxcsrAfter = cpu.reg(UC_X86_REG_MXCSR) & kMxcsrControl;
    for (TrialBuffer &b : result.buffers) {
        b.head.resize(std::min(b.size, kTrialBufferHead));
        w.uc->memRead(cpu.get(), b.address, b.head.data(), b.head.size());
    }
}

TrialVerdict TrialResult::verdict() const {
    switch (end) {
        case TrialEnd::Returned:
            break;
        case TrialEnd::InstructionLimit:
        case TrialEnd::TimeLimit:
        case TrialEnd::Unsupported:
        case TrialEnd::EmulatorFailure:
        case TrialEnd::SystemCall:
        case TrialEnd::Unmodeled:
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
