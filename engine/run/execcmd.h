#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <stop_token>

struct ExecResult {
    enum class Status {
        Finished,       // ended on its own; see exitCode
        FailedToStart,  // see error
        Crashed,        // ended by a signal; exitCode is the signal
        Cancelled,      // stopped because a stop was requested
        TimedOut,       // stopped because it ran out of time
    };

    Status status = Status::FailedToStart;
    int exitCode = 0;
    QByteArray output;       // what the program printed, both channels together, up to the cap
    bool outputCut = false;  // the program printed more than the cap; the rest was dropped
    QString error;           // why it failed to start
};

class QProcess;

// Gives a child process the start ExecCmd gives its program: default signal
// handling, an empty signal mask, and an end when this program dies; it runs
// in the working folder (empty: this program's current folder).
void PrepareChildProcess(QProcess &process, const QString &workingFolder);

// What is kept of a program's messages.
inline constexpr qsizetype kMaxProgramOutput = 1 << 20;

// Runs a program with an argument vector (never through a shell) in the given
// working folder, without a terminal, and waits for it. The wait ends early,
// killing the program, when a stop is requested or the time-out (when not
// zero) has passed. The program starts with default signal handling and an
// empty signal mask, and is killed when the thread that started it dies.
ExecResult ExecCmd(const QString &program, const QStringList &arguments, const QString &workingFolder,
                   std::stop_token stop = {}, std::chrono::milliseconds timeout = std::chrono::milliseconds::zero());
