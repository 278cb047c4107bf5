#include "run/execcmd.h"

#include "run/childprocess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

namespace {

// How often a waiting run looks at its stop request. The wait itself ends as
// soon as the program does.
constexpr int kPollMs = 25;

// Keeps what the program printed up to the cap, and drops the rest.
void Collect(QProcess &process, ExecResult &result) {
    const QByteArray chunk = process.readAll();
    if (result.outputCut) return;
    const qsizetype room = kMaxProgramOutput - result.output.size();
    if (chunk.size() <= room) {
        result.output += chunk;
        return;
    }
    result.outputCut = true;  // whole lines only
    result.output += chunk.left(room);
    result.output.truncate(result.output.lastIndexOf('\n') + 1);
}

}  // namespace

ExecResult ExecCmd(const QString &program, const QStringList &arguments, const QString &workingFolder,
                   std::stop_token stop, std::chrono::milliseconds timeout) {
    ExecResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProgram(program);
    process.setArguments(arguments);
    PrepareChildProcess(process, workingFolder);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        result.status = ExecResult::Status::FailedToStart;
        result.error = StartFailureReason(program, process);
        return result;
    }
    ChildProcessStarted(process);

    const QDeadlineTimer deadline =
        timeout.count() > 0 ? QDeadlineTimer(timeout) : QDeadlineTimer(QDeadlineTimer::Forever);
    bool stopped = false;
    // Reading as the output comes keeps a program that prints without end
    // from growing this one.
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(kPollMs);
        Collect(process, result);
        if (stop.stop_requested()) {
            result.status = ExecResult::Status::Cancelled;
            stopped = true;
        } else if (deadline.hasExpired()) {
            result.status = ExecResult::Status::TimedOut;
            stopped = true;
        }
        if (stopped) {
            process.kill();
            process.waitForFinished(-1);
            break;
        }
    }
    Collect(process, result);
    if (stopped) return result;
    if (process.exitStatus() == QProcess::CrashExit) {
        result.status = ExecResult::Status::Crashed;
        result.exitCode = process.exitCode();  // the signal that ended it
    } else {
        result.status = ExecResult::Status::Finished;
        result.exitCode = process.exitCode();
    }
    return result;
}
