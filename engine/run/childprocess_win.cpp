#include "run/childprocess.h"

#include "system/platform.h"

#include <QFileInfo>

#include <windows.h>

#include <cerrno>

namespace {

// Every helper this program starts is put into this job as soon as it has
// started (NASM starts no programs of its own that could escape it). The job ends its processes when its last handle
// closes, which is when this program ends, however it ends: the Windows form of the parent-death signal.
HANDLE KillOnCloseJob() {
    static const HANDLE job = [] {
        HANDLE created = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created) ::SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}

}  // namespace

void PrepareChildProcess(QProcess &process, const QString &workingFolder) {
    process.setWorkingDirectory(workingFolder);
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        // No console window, not even a flash of one.
        arguments->flags |= CREATE_NO_WINDOW;
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = SW_HIDE;
    });
}

void ChildProcessStarted(QProcess &process) {
    const auto processId = DWORD(process.processId());
    if (HANDLE child = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, processId)) {
        if (HANDLE job = KillOnCloseJob()) ::AssignProcessToJobObject(job, child);
        ::CloseHandle(child);
    }
}

QString StartFailureReason(const QString &program, const QProcess &process) {
    const QFileInfo info(program);
    if (!info.exists()) return platform::ErrorReason(ENOENT);
    if (!info.isFile()) return platform::ErrorReason(EISDIR);
    // Qt tells the reason in the system's language; the common ones in Russian.
    const QString text = process.errorString();
    if (text.contains(QLatin1StringView("Access is denied"), Qt::CaseInsensitive)) return platform::ErrorReason(EACCES);
    if (text.contains(QLatin1StringView("not a valid Win32 application"), Qt::CaseInsensitive) ||
        text.contains(QLatin1StringView("is not compatible"), Qt::CaseInsensitive))
        return platform::ErrorReason(ENOEXEC);
    if (!info.isExecutable()) return QStringLiteral("это не программа (.exe)");
    return QStringLiteral("программа не запускается");
}
