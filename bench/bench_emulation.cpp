// The trial's emulation against Unicorn's own speed on the same loops: a
// register loop and a memory loop, each run by a bare emulator with no hooks
// (the floor) and by TrialCall, in turn, several rounds; the best of each is
// printed in millions of instructions per second, with their ratio; for a
// self-modifying loop, the cost of each rewrite too. Then the time a call of
// each kind takes to reach the default instruction limit.
#include "trial/trial.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Loop {
    const char *name;
    QByteArray code;
    quint64 instructions;  // one call, to its ret
    QList<CallParam> params;
};

// The bare emulator: the loop's bytes, a stack and two 1 MiB buffers, the arguments on the stack as stdcall has
// them, run to the return address with nothing watching. Seconds, or a negative number when it failed.
double Bare(const UnicornFunctions *uc, const Loop &loop) {
    uc_engine *engine = nullptr;
    if (uc->open(UC_ARCH_X86, UC_MODE_32, &engine) != UC_ERR_OK) return -1;
    uc->ctl(engine, UC_CTL_WRITE(UC_CTL_CPU_MODEL, 1), int(UC_CPU_X86_ENDING) - 1);
    constexpr quint32 code = 0x500000, stack = 0x100000, in = 0x1000000, out = 0x1200000, back = 0x600000;
    uc->memMap(engine, code, 0x1000, UC_PROT_ALL);
    uc->memWrite(engine, code, loop.code.constData(), size_t(loop.code.size()));
    uc->memMap(engine, stack, 0x100000, UC_PROT_READ | UC_PROT_WRITE);
    uc->memMap(engine, in, 0x100000, UC_PROT_READ | UC_PROT_WRITE);
    uc->memMap(engine, out, 0x100000, UC_PROT_READ | UC_PROT_WRITE);
    const quint32 frame[5] = {back, in, out, 3, 4};
    quint32 esp = stack + 0xF0000;
    uc->memWrite(engine, esp, frame, sizeof frame);
    uc->regWrite(engine, UC_X86_REG_ESP, &esp);
    QElapsedTimer timer;
    timer.start();
    const uc_err status = uc->emuStart(engine, code, back, 0, 0);
    const double seconds = timer.nsecsElapsed() / 1e9;
    uc->close(engine);
    return status == UC_ERR_OK ? seconds : -1;
}

double Trial(const Loop &loop, quint64 limit, quint64 *executed = nullptr) {
    TrialSettings settings;
    settings.instructionLimit = limit;
    QElapsedTimer timer;
    timer.start();
    const TrialResult r = TrialCall(loop.code, loop.params, settings);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (executed) *executed = r.instructions;
    return r ? seconds : -1;
}

}  // namespace

int main() {
    const LoadedEmulator emulator = LoadEmulator();
    if (!emulator) {
        std::fprintf(stderr, "%s\n", qPrintable(emulator.error));
        return 1;
    }
    const CallParam mib{CallParam::Kind::Buffer, 0, QByteArray(1 << 20, '\x5A')};
    const std::vector<Loop> loops = {
        // mov ecx, 30000000 / l: add eax, ecx / dec ecx / jnz l / ret 16
        {"register loop (add, dec, jnz)", QByteArray::fromHex("B980C3C90101C849 75FBC21000"), 90'000'002, {}},
        // push esi / push edi / mov edx, 20 / o: mov esi, [esp+12] / mov edi, [esp+16] / mov ecx, 262144 /
        // l: lodsd / bswap eax / stosd / dec ecx / jnz l / dec edx / jnz o / pop edi / pop esi / ret 16
        {"memory loop (1 MiB read, byte-swapped, written, 20 times)",
         QByteArray::fromHex("5657BA140000008B74240C8B7C2410B900000400AD0FC8AB4975F94A75E95F5EC21000"),
         20ull * (3 + 5 * 262144 + 2) + 6,
         {mib, mib}},
        // Self-modifying code, as a VB6 byte array lets it run: each turn rewrites the immediate of the next
        // instruction, so the emulator translates that code again every time. org 0x500000 / mov ecx, 100000 /
        // l: mov byte [imm+1], cl / imm: mov eax, 0 / add edx, eax / dec ecx / jnz l / mov eax, edx / ret 16
        {"self-modifying loop (100,000 rewrites of its own code)",
         QByteArray::fromHex("B9A0860100880D0C005000B80000000001C24975F089D0C21000"),
         1 + 5 * 100'000 + 2,
         {}},
    };
    for (const Loop &loop : loops) {
        double bare = 1e9, trial = 1e9;
        for (int round = 0; round < 5; ++round) {
            const double b = Bare(emulator.functions, loop), t = Trial(loop, kMaxInstructionLimit);
            if (b < 0 || t < 0) {
                std::fprintf(stderr, "%s: the emulator failed\n", loop.name);
                return 1;
            }
            bare = std::min(bare, b);
            trial = std::min(trial, t);
        }
        const double mips = loop.instructions / 1e6;
        std::printf(
            "%s, %llu instructions: bare Unicorn %.1f MIPS (%.3f s); the trial %.1f MIPS (%.3f s); ratio %.2f\n",
            loop.name, static_cast<unsigned long long>(loop.instructions), mips / bare, bare, mips / trial, trial,
            bare / trial);
        if (loop.params.isEmpty() && loop.instructions < 1'000'000)  // the self-modifying loop: cost per rewrite
            std::printf(
                "  per rewrite: bare Unicorn %.1f us, the trial %.1f us; 20 million rewrites: %.0f s bare, "
                "%.0f s in the trial\n",
                bare * 10, trial * 10, bare * 200, trial * 200);
    }
    // The same loops without their end, to the default limit.
    const std::vector<Loop> endless = {
        {"register loop", QByteArray::fromHex("01C849EBFB"), 0, {}},  // l: add eax, ecx / dec ecx / jmp l
        {"memory loop", QByteArray::fromHex("8B7424048B7C2408B900000400AD0FC8AB4975F9EBEA"), 0, {mib, mib}},
    };
    for (const Loop &loop : endless) {
        quint64 executed = 0;
        const double seconds = Trial(loop, kDefaultInstructionLimit, &executed);
        std::printf("%s to the default limit: %llu instructions in %.2f s\n", loop.name,
                    static_cast<unsigned long long>(executed), seconds);
    }
    return 0;
}
