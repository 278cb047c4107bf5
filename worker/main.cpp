// orvandine-trial: runs one trial call for the programs, in a process of its
// own, so that an emulator that crashes takes only this process with it. The
// emulator's library (the first argument) is loaded at once, while the
// program that started the worker is still assembling; the request then comes
// on standard input, and the result goes to standard output.

#include "trial.h"
#include "trialwire.h"

#include <unistd.h>
#include <cerrno>

namespace {

bool ReadAll(int fd, QByteArray &bytes) {
    char chunk[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) return true;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        bytes.append(chunk, got);
    }
}

bool WriteAll(int fd, const QByteArray &bytes) {
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
    }
    return true;
}

}  // namespace

int main(int argc, char *argv[]) {
    TrialSettings settings;
    if (argc > 1) settings.emulatorLibrary = QString::fromLocal8Bit(argv[1]);
    // Loaded and made ready while the program that started the worker still assembles; a failure is told
    // by TrialCall.
    TrialCall(QByteArray::fromHex("C21000"), {}, settings);  // ret 16

    QByteArray input;
    TrialRequest request;
    if (!ReadAll(STDIN_FILENO, input) || !DecodeTrialRequest(input, &request)) return 2;
    input = {};
    settings.instructionLimit = request.instructionLimit;
    settings.timeLimitMs = request.timeLimitMs;
    settings.bits = request.bits;
    const TrialResult result = TrialCall(request.code, request.params, settings);
    // Nothing is left to clean up: the process ends as soon as the answer is out.
    ::_exit(WriteAll(STDOUT_FILENO, EncodeTrialResult(result)) ? 0 : 2);
}
