#pragma once

#include <QProcess>
#include <QString>

// How a helper program is started on this system: with default signal
// handling, no terminal or console window, and ended together with this
// program (childprocess_posix.cpp, childprocess_win.cpp).

// Called before the process is started; the program runs in the working
// folder (empty: this program's current folder). On POSIX the child enters it
// by the folder's true bytes, which QProcess would re-encode from its text.
void PrepareChildProcess(QProcess &process, const QString &workingFolder);

// Called once it has started, before it may be waited on.
void ChildProcessStarted(QProcess &process);

// Why the program did not start, in Russian.
QString StartFailureReason(const QString &program, const QProcess &process);
