#pragma once

#include "trial/emulator.h"

#include <QString>

#include <vector>

// One CPU of the emulator with its memory. A failed step is kept, and every
// later step is skipped, so that setting up a call is checked once at its end.
class EmulatedCpu {
public:
    EmulatedCpu(const UnicornFunctions *uc, bool long64);
    ~EmulatedCpu();
    EmulatedCpu(const EmulatedCpu &) = delete;
    EmulatedCpu &operator=(const EmulatedCpu &) = delete;

    uc_engine *get() const { return engine_; }
    const UnicornFunctions *functions() const { return uc_; }

    bool ok() const { return status_ == UC_ERR_OK; }
    // Russian: the step that failed and the emulator's reason.
    QString failure() const;
    void check(uc_err status, const char *step);

    void map(quint64 address, quint64 size, uint32_t perms, void *host = nullptr);
    void write(quint64 address, const void *bytes, size_t size);
    void setReg(int reg, quint64 value);
    void setRegFrom(int reg, const void *value);
    quint64 reg(int reg) const;
    // A hook on [begin, end]; begin 1 and end 0 stand for every address.
    void hook(int type, void *callback, void *data, quint64 begin = 1, quint64 end = 0);

    // Addresses where the emulation ends before the instruction there is translated: until's place, when given.
    void setExits(const std::vector<quint64> &exits);

    // Forgets the translated code that holds any of the bytes [from, to), or all of it.
    void forget(quint64 from, quint64 to);
    void forgetAll();

    // The processor's whole state, to give a fresh emulator of the same mode (restoreState), or null. Freed with
    // the library's uc_context_free.
    uc_context *saveState();
    void restoreState(uc_context *state);

    // Runs from an address until it reaches until, a hook stops it, or it faults.
    uc_err run(quint64 from, quint64 until);

private:
    const UnicornFunctions *uc_;
    uc_engine *engine_ = nullptr;
    uc_err status_ = UC_ERR_OK;
    const char *step_ = "open";
};
