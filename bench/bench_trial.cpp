// Cost of a trial call: the first one (the emulator library is opened then),
// the later ones, and how soon endless loops are stopped with the default
// limits. The first argument names a flat binary to call with 1, 2, 3, 4.
#include "trial/trial.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

double Ms(const QElapsedTimer &timer) {
    return timer.nsecsElapsed() / 1e6;
}

const char *EndName(TrialEnd end) {
    switch (end) {
        case TrialEnd::Returned:
            return "returned";
        case TrialEnd::InstructionLimit:
            return "instruction limit";
        case TrialEnd::TimeLimit:
            return "time limit";
        default:
            return "stopped otherwise";
    }
}

}  // namespace

int main(int argc, char *argv[]) {
    QFile file(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "usage: bench_trial FUNCTION.bin\n");
        return 2;
    }
    const QByteArray code = file.readAll();
    const QList<CallParam> params = ParseCallParams({"1", "2", "3", "4"}).params;

    QElapsedTimer timer;
    timer.start();
    const TrialResult first = TrialCall(code, params);
    if (!first) {
        std::fprintf(stderr, "%s\n", qPrintable(first.error));
        return 1;
    }
    std::printf("first trial (opens the emulator): %.2f ms, %s, EAX %d\n", Ms(timer), EndName(first.end),
                int(first.rax));
    constexpr int kRounds = 100;
    timer.restart();
    for (int i = 0; i < kRounds; ++i) TrialCall(code, params);
    std::printf("later trials: mean of %d %.2f ms\n", kRounds, Ms(timer) / kRounds);

    // jmp $, a loop that writes memory, and pushad/popad, slow enough to meet the time limit first.
    for (const char *loop : {"EBFE", "40894424F84BEBF9", "6061EBFC"}) {
        timer.restart();
        const TrialResult r = TrialCall(QByteArray::fromHex(loop), params);
        std::printf("endless loop %s: stopped after %.0f ms (%s, %llu instructions)\n", loop, Ms(timer), EndName(r.end),
                    static_cast<unsigned long long>(r.instructions));
    }
    return 0;
}
