#pragma once

#include "system/platform.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <unistd.h>  // STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO

#include <limits>
#include <stop_token>

// The command-line program's standard streams and stop requests, as this
// system has them (console_posix.cpp, console_win.cpp).

// Standard output (or error) written through its descriptor: every write is
// checked, and a stop request ends a write that waits on a slow reader.
class Stream {
public:
    Stream(int fd, bool closedAtStart);

    void Write(QByteArrayView bytes, std::stop_token stop = {});
    // A file name's bytes that are not UTF-8 show as \xCF. Large hex strings
    // go out in slices, so that no second full-size copy exists.
    void WriteText(const QString &text, std::stop_token stop = {}) {
        constexpr qsizetype kSlice = 1 << 20;
        for (qsizetype at = 0; at < text.size() && error_ == 0; at += kSlice)
            Write(platform::ReadableName(text.mid(at, kSlice)).toUtf8(), stop);
    }
    // The last chance for a deferred failure (a file system that reports on close).
    void Close();
    int error() const { return error_; }

private:
    int fd_;
    int error_;
    qsizetype slice_ = std::numeric_limits<qsizetype>::max();
};

// A descriptor the program was started without is taken by the null device,
// so that no file the program opens can land on it; the closed standard
// stream is remembered, and writing to it fails.
bool OccupyIfClosed(int fd);

// Before anything is read or written: a full disk, a file-size limit or a
// reader that went away must fail a write, not end the program; on Windows
// the streams carry bytes as they are and the console shows UTF-8.
void PrepareConsole();

// Ctrl+C, termination and a closed terminal (or console window) ask the run
// to stop; it then ends NASM and removes every file it made before exiting.
void HandleStopSignals(std::stop_source stop);
