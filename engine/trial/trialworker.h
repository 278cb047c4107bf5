#pragma once

#include "trial/trial.h"
#include "trial/trialfork.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <stop_token>

class QProcess;

// A trial run in the worker program (orvandine-trial), so that an emulator
// that crashes or hangs cannot take the window or the command line with it.
// The worker is started at construction and loads the emulator while the
// caller still assembles; Run then sends the code and waits for the result.
class TrialWorker {
public:
    explicit TrialWorker(TrialSettings settings);
    // One forked already (ForkTrialWorker); the worker program is started when forked is empty.
    TrialWorker(TrialSettings settings, ForkedTrialWorker forked);
    ~TrialWorker();  // ends a worker still running
    TrialWorker(const TrialWorker &) = delete;
    TrialWorker &operator=(const TrialWorker &) = delete;

    // The result (the code called as settings.bits tells), or one whose error tells why the worker failed (in
    // Russian, naming the emulator's library). A stop request ends the
    // worker within a fraction of a second; *cancelled is then true.
    TrialResult Run(const QByteArray &code, const QList<CallParam> &params, std::stop_token stop, bool *cancelled);
    // Run in two steps, so that the caller can work while the call runs;
    // bits tells how the code is called (32 or 64).
    void Send(const QByteArray &code, const QList<CallParam> &params, int bits);
    TrialResult Receive(std::stop_token stop, bool *cancelled);

private:
    TrialSettings settings_;
    QString program_;
    std::unique_ptr<QProcess> process_;
    ForkedTrialWorker forked_;
    QString startError_;
    int bits_ = 32;  // of the call sent
};

// What the worker does, in the worker program and in a forked worker: loads
// the emulator (library) at once, reads one request from in, writes its result
// to out. Returns the process's exit code.
int RunTrialWorker(int in, int out, const QString &library);

// The worker beside the running program or in ../libexec/orvandine-converter
// (ORVANDINE_TRIAL_WORKER names another); the first place looked at when it
// is in neither.
QString TrialWorkerProgram();
