#include "console.h"

#include "system/winerrno.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kInterrupted = 130;  // the exit code of a second stop request, as on Linux

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

std::stop_source &StopSource() {
    static std::stop_source stop;
    return stop;
}

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    static std::chrono::steady_clock::time_point first;
    static bool requested = false;
    if (!requested) {
        requested = true;
        first = std::chrono::steady_clock::now();
        StopSource().request_stop();
    } else if (std::chrono::steady_clock::now() - first > std::chrono::seconds(2)) {
        ::_exit(kInterrupted);
    }
    // A closed console window, log-off or shut-down ends the process as soon
    // as this returns: the run gets the few seconds Windows allows to end
    // NASM and remove its files, and main() ends the process before that.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) ::Sleep(INFINITE);
    return TRUE;
}

}  // namespace

Stream::Stream(int fd, bool closedAtStart) : fd_(fd), error_(closedAtStart ? EBADF : 0) {
    // Slices keep a stop request from waiting on the whole of a long write to a pipe.
    if (::GetFileType(HandleOf(fd)) != FILE_TYPE_DISK) slice_ = 1 << 16;
}

void Stream::Write(QByteArrayView bytes, std::stop_token stop) {
    const HANDLE out = HandleOf(fd_);
    while (!bytes.isEmpty() && error_ == 0 && !stop.stop_requested()) {
        DWORD written = 0;
        if (!::WriteFile(out, bytes.data(), DWORD(qMin(bytes.size(), slice_)), &written, nullptr)) {
            const DWORD reason = ::GetLastError();
            error_ = reason == ERROR_INVALID_HANDLE ? EBADF : platform::ErrnoOf(reason);
            break;
        }
        if (written == 0) {
            error_ = EIO;
            break;
        }
        bytes = bytes.sliced(written);
    }
}

void Stream::Close() {
    const HANDLE out = HandleOf(fd_);
    // A file's last bytes reach the disk, or the failure is seen here.
    if (::GetFileType(out) == FILE_TYPE_DISK && !::FlushFileBuffers(out) && error_ == 0)
        error_ = platform::ErrnoOf(::GetLastError());
    if (::_close(fd_) != 0 && error_ == 0) error_ = errno;
}

bool OccupyIfClosed(int fd) {
    const HANDLE handle = HandleOf(fd);
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && handle != reinterpret_cast<HANDLE>(-2)) return false;
    const int null = ::_open("NUL", (fd == 0 ? _O_RDONLY : _O_WRONLY) | _O_BINARY);
    if (null >= 0 && null != fd) {
        ::_dup2(null, fd);
        ::_close(null);
    }
    return true;
}

void PrepareConsole() {
    // Bytes as they are: the text mode would turn the module's CR LF into
    // CR CR LF, and end standard input at the first Ctrl+Z byte.
    ::_setmode(0, _O_BINARY);
    ::_setmode(1, _O_BINARY);
    ::_setmode(2, _O_BINARY);
    // The messages are UTF-8, as on Linux; the console shows them so.
    ::SetConsoleOutputCP(CP_UTF8);
}

void HandleStopSignals(std::stop_source stop) {
    StopSource() = stop;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
