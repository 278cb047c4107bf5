#include "trial/trialfork.h"

#include "trial/trialworker.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

namespace {

void Close(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

ForkedTrialWorker ForkTrialWorker(const QString &library) {
    int request[2], result[2];
    if (::pipe2(request, O_CLOEXEC) != 0) return {};
    if (::pipe2(result, O_CLOEXEC) != 0) {
        ::close(request[0]);
        ::close(request[1]);
        return {};
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Ended with the program; a stop signal is the program's to handle, and it ends the worker.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGHUP, SIG_IGN);
        std::signal(SIGTERM, SIG_IGN);
        // The program's standard streams stay the program's: a pipe it writes must end when it ends.
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
        ::close(request[1]);
        ::close(result[0]);
        ::_exit(RunTrialWorker(request[0], result[1], library));
    }
    ::close(request[0]);
    ::close(result[1]);
    if (pid < 0) {
        ::close(request[1]);
        ::close(result[0]);
        return {};
    }
    return {pid, request[1], result[0]};
}

bool SendToForkedWorker(ForkedTrialWorker &worker, const QByteArray &request) {
    bool sent = true;
    for (qsizetype at = 0; at < request.size();) {
        const ssize_t put = ::write(worker.toWorker, request.constData() + at, size_t(request.size() - at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            sent = false;  // the worker is gone; its end tells why
            break;
        }
        at += put;
    }
    Close(worker.toWorker);
    return sent;
}

ForkedRead ReadFromForkedWorker(ForkedTrialWorker &worker, QByteArray &into, int timeoutMs) {
    pollfd readable{worker.fromWorker, POLLIN, 0};
    const int ready = ::poll(&readable, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return ForkedRead::Timeout;
    char chunk[1 << 16];
    const ssize_t got = ::read(worker.fromWorker, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) return ForkedRead::Timeout;
    if (got <= 0) return ForkedRead::End;
    into.append(chunk, got);
    return ForkedRead::Data;
}

ForkedEnd EndForkedWorker(ForkedTrialWorker &worker, bool kill) {
    Close(worker.toWorker);
    Close(worker.fromWorker);
    ForkedEnd end;
    if (worker.pid <= 0) return end;
    if (kill) ::kill(pid_t(worker.pid), SIGKILL);
    int status = 0;
    while (::waitpid(pid_t(worker.pid), &status, 0) < 0 && errno == EINTR) {
    }
    worker.pid = -1;
    end.crashed = WIFSIGNALED(status);
    end.code = end.crashed ? WTERMSIG(status) : WEXITSTATUS(status);
    return end;
}
