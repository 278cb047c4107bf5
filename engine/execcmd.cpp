#include "execcmd.h"

#include "platform.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <cstring>

namespace {

// How often a waiting run looks at its stop request. The wait itself ends as
// soon as the program does.
constexpr int kPollMs = 25;

QString StartFailureReason(const QString &program, const QProcess &process) {
    const QFileInfo info(program);
    if (!info.exists()) return platform::ErrorReason(ENOENT);
    if (!info.isFile()) return platform::ErrorReason(EISDIR);
    if (!info.isExecutable()) return QStringLiteral("нет права на выполнение");
    if (platform::NoExecMount(info.absolutePath())) return platform::NoExecReason();
    // Qt names the failed call and the system's own (English) text for the
    // error number: find the number, so that the reason is told in Russian.
    const QString text = process.errorString();
    for (int error = 1; error < 134; ++error) {
        if (text.endsWith(QString::fromLocal8Bit(std::strerror(error)))) return platform::ErrorReason(error);
    }
    return QStringLiteral("программа не запускается");
}

// Runs in the child between fork and exec: only async-signal-safe calls.
void PrepareChild(pid_t parent) {
    // Ignored signals and the blocked mask would be inherited through exec:
    // the assembler would then survive Ctrl+C and a broken pipe.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Whatever NASM creates (it re-creates its listing by name) is the user's alone.
    ::umask(077);
    // Killed with the program, even when the program itself is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
}

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

void PrepareChildProcess(QProcess &process) {
    process.setChildProcessModifier([parent = ::getpid()] { PrepareChild(parent); });
}

ExecResult ExecCmd(const QString &program, const QStringList &arguments, const QString &workingFolder,
                   std::stop_token stop, std::chrono::milliseconds timeout) {
    ExecResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setWorkingDirectory(workingFolder);
    process.setProgram(program);
    process.setArguments(arguments);
    PrepareChildProcess(process);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        result.status = ExecResult::Status::FailedToStart;
        result.error = StartFailureReason(program, process);
        return result;
    }

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
