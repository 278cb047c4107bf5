#pragma once

#include <QByteArray>
#include <QString>

// A trial worker forked from the command-line program as it starts, before
// it has any thread: the copy has QtCore loaded already and loads the
// emulator at once, so a call is tried without starting a program of its own
// (trialfork_posix.cpp). Where a program cannot fork (trialfork_win.cpp) no
// worker is made, and the worker program is started instead.
struct ForkedTrialWorker {
    qint64 pid = -1;
    int toWorker = -1;
    int fromWorker = -1;

    explicit operator bool() const { return pid > 0; }
};

// Forks the worker, which runs RunTrialWorker with the library; {} when it
// cannot.
ForkedTrialWorker ForkTrialWorker(const QString &library);

// The request, whole; the worker's input is closed afterwards. False when
// the worker is gone.
bool SendToForkedWorker(ForkedTrialWorker &worker, const QByteArray &request);

enum class ForkedRead { Data, End, Timeout };
// Appends what the worker wrote within timeoutMs.
ForkedRead ReadFromForkedWorker(ForkedTrialWorker &worker, QByteArray &into, int timeoutMs);

struct ForkedEnd {
    bool crashed = false;
    int code = 0;  // the exit code, or the signal of a crash
};
// Waits for the worker's end (killed first when kill is true) and closes its pipes.
ForkedEnd EndForkedWorker(ForkedTrialWorker &worker, bool kill);
