#include "trial/trial.h"

#include "trial/emulatedcpu.h"
#include "trial/process.h"
#include "trial/verdict.h"
#include "trial/watch.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace {

// One run of the call in an emulator of its own; again: where to run it stepwise when it is run again.
TrialResult RunCall(const UnicornFunctions *uc, const QByteArray &code, const QList<CallParam> &params,
                    const TrialSettings &settings, const QDeadlineTimer &deadline, std::optional<StepTarget> target,
                    std::optional<StepTarget> *again) {
    const ProcessLayout &layout = LayoutFor(settings.bits);
    TrialResult result;
    result.instructionLimit = settings.instructionLimit;
    result.bits = layout.bits;
    result.codeBase = layout.codeBase;
    // The watch reads the instructions from the program's side; the memory outlives the emulators.
    const ProcessMemory memory(layout, code, params);
    for (const ProcessBuffer &b : memory.buffers()) result.buffers.push_back({b.param, b.address, b.size, {}});
    std::copy(std::begin(memory.arguments()), std::end(memory.arguments()), std::begin(result.arguments));
    auto cpu = std::make_unique<EmulatedCpu>(uc, layout.long64());
    memory.Map(*cpu);
    memory.Start(*cpu);
    Watch watch(uc, memory, quint64(code.size()));
    watch.limit = settings.instructionLimit;
    watch.deadline = deadline;
    watch.target = target;
    watch.stepwise = watch.attention = settings.everyInstruction;
    watch.Arm(*cpu);
    // From privilege 0 (through user32's wrapper in 32-bit code) into the function and back.
    uc_err status = UC_ERR_OK;
    while (cpu->ok()) {
        status = watch.Run(*cpu);
        if (watch.action != Watch::Action::Renew) break;
        uc_context *state = cpu->saveState();
        cpu.reset();  // the old emulator and its translations go first
        cpu = std::make_unique<EmulatedCpu>(uc, layout.long64());
        memory.Map(*cpu);
        cpu->restoreState(state);
        if (state) uc->contextFree(state);
        watch.Arm(*cpu);
    }
    if (!cpu->ok()) {
        result.error = cpu->failure();
        return result;
    }
    if (!watch.entered) {
        cpu->check(status == UC_ERR_OK ? UC_ERR_EXCEPTION : status, "start");
        result.error = cpu->failure();
        return result;
    }
    Judge(*cpu, watch, status, result);
    if (again) *again = watch.stepAgain;
    return result;
}

}  // namespace

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
    const QDeadlineTimer deadline(std::max(1, settings.timeLimitMs));
    std::optional<StepTarget> again;
    result = RunCall(emulator.functions, code, params, settings, deadline, std::nullopt, &again);
    if (result && again) {
        // A fault whose instruction is known only to lie in a block: the same call, run again, stepwise from that
        // block, tells it. The call runs alike each time; should time run out first, the block is what is told.
        TrialResult stepwise = RunCall(emulator.functions, code, params, settings, deadline, again, nullptr);
        if (stepwise && stepwise.end != TrialEnd::TimeLimit) result = stepwise;
    }
    return result;
}
