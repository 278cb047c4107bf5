#include "trial/emulatedcpu.h"

EmulatedCpu::EmulatedCpu(const UnicornFunctions *uc, bool long64) : uc_(uc) {
    status_ = uc_->open(UC_ARCH_X86, long64 ? UC_MODE_64 : UC_MODE_32, &engine_);
    // The newest CPU model the emulator has (its own list ends with it).
    if (ok()) check(uc_->ctl(engine_, UC_CTL_WRITE(UC_CTL_CPU_MODEL, 1), int(UC_CPU_X86_ENDING) - 1), "cpu");
}

EmulatedCpu::~EmulatedCpu() {
    if (engine_) uc_->close(engine_);
}

QString EmulatedCpu::failure() const {
    return QStringLiteral("Эмулятор процессора не смог подготовить вызов (шаг «%1»): %2.")
        .arg(QLatin1StringView(step_), QString::fromUtf8(uc_->strerror(status_)));
}

void EmulatedCpu::check(uc_err status, const char *step) {
    if (ok() && status != UC_ERR_OK) {
        status_ = status;
        step_ = step;
    }
}

void EmulatedCpu::map(quint64 address, quint64 size, uint32_t perms, void *host) {
    if (ok())
        check(host ? uc_->memMapPtr(engine_, address, size, perms, host) : uc_->memMap(engine_, address, size, perms),
              "map");
}

void EmulatedCpu::write(quint64 address, const void *bytes, size_t size) {
    if (ok()) check(uc_->memWrite(engine_, address, bytes, size), "write");
}

void EmulatedCpu::setReg(int reg, quint64 value) {
    if (ok()) check(uc_->regWrite(engine_, reg, &value), "register");
}

void EmulatedCpu::setRegFrom(int reg, const void *value) {
    if (ok()) check(uc_->regWrite(engine_, reg, value), "register");
}

quint64 EmulatedCpu::reg(int reg) const {
    quint64 value = 0;
    uc_->regRead(engine_, reg, &value);
    return value;
}

void EmulatedCpu::hook(int type, void *callback, void *data, quint64 begin, quint64 end) {
    uc_hook handle;
    if (ok()) check(uc_->hookAdd(engine_, &handle, type, callback, data, begin, end), "hook");
}

void EmulatedCpu::setExits(const std::vector<quint64> &exits) {
    if (ok()) check(uc_->ctl(engine_, UC_CTL_WRITE(UC_CTL_UC_USE_EXITS, 1), 1), "exits");
    if (ok()) check(uc_->ctl(engine_, UC_CTL_WRITE(UC_CTL_UC_EXITS, 2), exits.data(), exits.size()), "exits");
}

void EmulatedCpu::forget(quint64 from, quint64 to) {
    uc_->ctl(engine_, UC_CTL_WRITE(UC_CTL_TB_REMOVE_CACHE, 2), from, to);
}

void EmulatedCpu::forgetAll() {
    uc_->ctl(engine_, UC_CTL_WRITE(UC_CTL_TB_FLUSH, 0));
}

uc_context *EmulatedCpu::saveState() {
    uc_context *state = nullptr;
    if (ok()) check(uc_->contextAlloc(engine_, &state), "state");
    if (ok()) check(uc_->contextSave(engine_, state), "state");
    return state;
}

void EmulatedCpu::restoreState(uc_context *state) {
    if (ok()) check(state ? uc_->contextRestore(engine_, state) : UC_ERR_ARG, "state");
}

uc_err EmulatedCpu::run(quint64 from, quint64 until) {
    return uc_->emuStart(engine_, from, until, 0, 0);
}
