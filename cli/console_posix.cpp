#include "console.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

namespace {

constexpr int kInterrupted = 130;    // the exit code of a second stop request
constexpr time_t kGraceSeconds = 5;  // how long a stopped program may take to end by itself

}  // namespace

Stream::Stream(int fd, bool closedAtStart) : fd_(fd), error_(closedAtStart ? EBADF : 0) {
    // A pipe, socket or terminal that reports room takes PIPE_BUF bytes
    // without blocking; more could wait on the reader past a stop request.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) slice_ = PIPE_BUF;
}

void Stream::Write(QByteArrayView bytes, std::stop_token stop) {
    while (!bytes.isEmpty() && error_ == 0 && !stop.stop_requested()) {
        pollfd waiting{fd_, POLLOUT, 0};
        if (::poll(&waiting, 1, 25) == 0) continue;
        const ssize_t written = ::write(fd_, bytes.data(), size_t(qMin(bytes.size(), slice_)));
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (written <= 0) {
            error_ = written < 0 ? errno : EIO;
            break;
        }
        bytes = bytes.sliced(written);
    }
}

void Stream::Close() {
    if (::close(fd_) != 0 && error_ == 0 && errno != EINTR) error_ = errno;
}

bool OccupyIfClosed(int fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) return false;
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
    }
    return true;
}

void PrepareConsole() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

// A signal that comes again after a while ends the program at once; one that
// comes right after the first (as `timeout` sends one to the program and one
// to its group) is the same request. A program that has not ended a few
// seconds after the request is stuck somewhere no stop reaches, and ends then.
void HandleStopSignals(std::stop_source stop) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread([stopSignals, stop]() mutable {
        int received = 0;
        sigwait(&stopSignals, &received);
        stop.request_stop();
        const auto first = std::chrono::steady_clock::now();
        const auto end = first + std::chrono::seconds(kGraceSeconds);
        for (auto now = first; now < end; now = std::chrono::steady_clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - now).count();
            const timespec wait{time_t(left / 1'000'000'000), long(left % 1'000'000'000)};
            const bool again = sigtimedwait(&stopSignals, nullptr, &wait) > 0;
            if (again && std::chrono::steady_clock::now() - first > std::chrono::seconds(2)) break;
        }
        _exit(kInterrupted);
    }).detach();
}
