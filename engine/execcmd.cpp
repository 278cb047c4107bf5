#include "execcmd.h"

#include "platform.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

namespace {

// How often a waiting run looks at its stop request. The wait itself ends as
// soon as the program does.
constexpr int kPollMs = 25;

QString StartFailureReason(const QString &program, const QProcess &process) {
    const QFileInfo info(program);
    if (!info.exists()) return platform::ErrorReason(ENOENT);
    if (!info.isFile()) return platform::ErrorReason(EISDIR);
    if (!info.isExecutable()) return QStringLiteral("нет права на выполнение");
    return process.errorString();
}

}  // namespace

ExecResult ExecCmd(const QString &program, const QStringList &arguments, const QString &workingFolder,
                   std::stop_token stop, std::chrono::milliseconds timeout) {
    ExecResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setWorkingDirectory(workingFolder);
    process.setProgram(program);
    process.setArguments(arguments);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        result.status = ExecResult::Status::FailedToStart;
        result.error = StartFailureReason(program, process);
        return result;
    }

    const QDeadlineTimer deadline =
        timeout.count() > 0 ? QDeadlineTimer(timeout) : QDeadlineTimer(QDeadlineTimer::Forever);
    bool stopped = false;
    while (!process.waitForFinished(kPollMs)) {
        if (process.state() == QProcess::NotRunning) break;
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
    result.output = process.readAll();
    if (stopped) return result;
    if (process.exitStatus() == QProcess::CrashExit) {
        result.status = ExecResult::Status::Crashed;
    } else {
        result.status = ExecResult::Status::Finished;
        result.exitCode = process.exitCode();
    }
    return result;
}
