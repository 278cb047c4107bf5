#include "run/childprocess.h"

#include "system/platform.h"

#include <QFileInfo>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

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

namespace {

// Runs in the child between fork and exec: only async-signal-safe calls.
void PrepareChild(pid_t parent, const QByteArray &folder) {
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
    // The folder was found usable just before; one removed since ends the run as a command not run.
    if (!folder.isEmpty() && ::chdir(folder.constData()) != 0) ::_exit(127);
}

}  // namespace

void PrepareChildProcess(QProcess &process, const QString &workingFolder) {
    process.setChildProcessModifier(
        [parent = ::getpid(), folder = platform::EncodeName(workingFolder)] { PrepareChild(parent, folder); });
}

void ChildProcessStarted(QProcess &) {
    // PrepareChild did all before the program ran.
}
