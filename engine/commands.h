#pragma once

#include "products/sourcechecks.h"
#include "run/assemblerrun.h"
#include "system/outcome.h"
#include "trial/callparams.h"
#include "trial/trial.h"
#include "usernotifier.h"

#include <QString>

#include <functional>

// The products. Each assembles the source, delivers its product, and
// reports through the notifier: success as described, a failure as an error
// box (nothing is written then), a cancel not at all. The outcome returned is
// the one reported. Product files are named by TargetName and resolved
// against the current folder.

Outcome CreateBin(const QString &source, const QString &documentPath, UserNotifier &notifier,
                  const RunRequest &request);

// documentName stands for the source in the assembler's messages.
Outcome CreateHex(const QString &source, UserNotifier &notifier, const RunRequest &request,
                  const QString &documentName);

Outcome CreateBas(const QString &source, const QString &documentPath, UserNotifier &notifier,
                  const RunRequest &request);

// The module for VBA7, NAME.vba7.bas; code over kMaxVba7Code is refused.
Outcome CreateVba7(const QString &source, const QString &documentPath, UserNotifier &notifier,
                   const RunRequest &request);

// The request for a document: NASM runs in the document's own folder (an
// untitled document's is the current folder), so that %include, incbin and
// %pathsearch find what lies beside it first and name it as written, and
// output files named in the source land beside it; the program folder, the
// request's working folder, is searched after it.
RunRequest RequestFor(const QString &documentPath, RunRequest request);

// The trial of a function: the source assembled once (binary and listing),
// its code called in the emulator as VB calls it, in the trial worker.
struct TrialRun {
    Outcome outcome;       // an assembly, file or emulator failure, or a cancel; the trial itself is in the report
    QString report{};      // the Russian report
    int stoppingLine = 0;  // the document's line a stopped call stopped on, else 0
    TrialVerdict verdict = TrialVerdict::Undecided;
};
// A worker started earlier by the caller (with the same settings) may be
// given; otherwise one is started here, before NASM runs.
class TrialWorker;
TrialRun TryCall(const QString &source, const QString &documentPath, const QList<CallParam> &params,
                 const RunRequest &request, const TrialSettings &settings = {}, TrialWorker *started = nullptr);

// NASM's listing as the user reads it (line, offset, bytes, source), handed
// to print a row at a time as it is read, so that a listing of any size goes
// out in constant memory; print returns false when its output failed, which
// ends the reading.
Outcome ListSource(const QString &source, const QString &documentPath, const RunRequest &request,
                   const std::function<bool(const QString &)> &print);

// The report shown after the module was written to target.
QString BasReportText(const QString &target);
QString Vba7ReportText(const QString &target, CodeMode mode);
