// orvandine-trial: runs one trial call for the programs, in a process of its
// own, so that an emulator that crashes takes only this process with it. The
// emulator's library (the first argument) is loaded at once, while the
// program that started the worker is still assembling; the request then comes
// on standard input, and the result goes to standard output.

#include "system/platform.h"
#include "trial/trialworker.h"

#include <unistd.h>

int main(int argc, char *argv[]) {
    // A broken emulator library is reported by the program that started the worker, from how the worker ended.
    platform::NoErrorDialogs();
    platform::UseBinaryStandardStreams();
    const QString library = argc > 1 ? platform::ProgramArgument(argv, 1) : DefaultUnicornLibrary();
    // Nothing is left to clean up: the process ends as soon as the answer is out.
    ::_exit(RunTrialWorker(STDIN_FILENO, STDOUT_FILENO, library));
}
