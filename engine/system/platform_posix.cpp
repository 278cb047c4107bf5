#include "system/platform.h"

#include "system/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace platform {

QString AppPath() {
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

QString ProgramFileName(const QString &base) {
    return base;
}

QString AssemblerFileName() {
    return QStringLiteral("nasmw");
}

QString HiddenAssemblerFileName() {
    return QStringLiteral(".nasmw");
}

QString TempFolder(QString *error) {
    const QByteArray variable = qgetenv("TMPDIR");
    const QString folder = variable.isEmpty() ? QStringLiteral("/tmp") : QFile::decodeName(variable);
    struct stat info {};
    const bool exists = ::stat(QFile::encodeName(folder).constData(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) return QDir::cleanPath(QDir(folder).absolutePath());
    const int reason = exists ? ENOTDIR : errno;
    *error = QStringLiteral("Временная папка «%1»%2 недоступна: %3.")
                 .arg(folder, variable.isEmpty() ? QString() : QStringLiteral(" (переменная TMPDIR)"),
                      reason == ENOTDIR ? QStringLiteral("это не папка") : ErrorReason(reason));
    return {};
}

QString CurrentFolder(QString *error) {
    // getcwd fails once the folder is removed; Qt would give an empty path,
    // which would put products into the root folder.
    QByteArray buffer(4096, Qt::Uninitialized);
    while (::getcwd(buffer.data(), size_t(buffer.size())) == nullptr) {
        if (errno != ERANGE) {
            *error = QStringLiteral("Текущая папка программы недоступна: %1.")
                         .arg(errno == ENOENT ? QStringLiteral("она была удалена") : ErrorReason(errno));
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return QFile::decodeName(buffer.constData());
}

bool FileExists(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
}

QByteArray FileStamp(const QString &path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid())
        return {};
    return QByteArray::number(quint64(info.st_dev)) + ' ' + QByteArray::number(quint64(info.st_ino)) + ' ' +
           QByteArray::number(qint64(info.st_size)) + ' ' + QByteArray::number(uint(info.st_mode), 8) + ' ' +
           QByteArray::number(qint64(info.st_ctim.tv_sec)) + '.' + QByteArray::number(qint64(info.st_ctim.tv_nsec));
}

bool MakeExecutable(const QString &path) {
    QFile file(path);
    return file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

int CreateExclusive(const QString &path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    return fd >= 0 ? fd : -errno;
}

bool NoExecMount(const QString &folder) {
    struct statvfs info {};
    return ::statvfs(QFile::encodeName(folder).constData(), &info) == 0 && (info.f_flag & ST_NOEXEC) != 0;
}

QString NoExecReason() {
    return QStringLiteral("файловая система смонтирована без права запуска программ");
}

int LastError() {
    return errno;
}

QString ExecutableSuffix() {
    return {};
}

void HideFile(const QString &) {
    // The leading dot of HiddenAssemblerFileName hides it.
}

bool IsDroppablePath(const QString &path) {
    return QDir::isAbsolutePath(path);
}

// The private folder is used only when it is a real folder of this user's
// (not a link to another), that programs may run from; then it is made
// private.
QString RefusedPrivateFolder(const QString &folder) {
    const QString action = QStringLiteral("использовать папку");
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0) return FileErrorMessage(action, folder, errno);
    if (!S_ISDIR(info.st_mode))
        return FileErrorMessage(action, folder, QStringLiteral("это не папка, а ссылка или файл"));
    if (info.st_uid != ::geteuid())
        return FileErrorMessage(action, folder, QStringLiteral("папка принадлежит другому пользователю"));
    if (platform::NoExecMount(folder)) return FileErrorMessage(action, folder, platform::NoExecReason());
    ::chmod(QFile::encodeName(folder).constData(), S_IRWXU);
    return {};
}

QString CrashReason(int signal) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
            return QStringLiteral("обращение к недопустимой памяти");
        case SIGABRT:
            return QStringLiteral("программа прервала себя сама");
        case SIGXFSZ:
            return QStringLiteral("превышен предельный размер файла");
        case SIGXCPU:
            return QStringLiteral("превышен предел процессорного времени");
        case SIGKILL:
            return QStringLiteral("процесс принудительно завершён, возможно, из-за нехватки памяти");
        case SIGFPE:
            return QStringLiteral("арифметическая ошибка");
        default:
            return QStringLiteral("сигнал %1").arg(signal);
    }
}

QString SignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return QStringLiteral("SIGSEGV, обращение к недоступной памяти");
        case SIGBUS:
            return QStringLiteral("SIGBUS, ошибка шины: файл библиотеки, вероятно, обрезан");
        case SIGILL:
            return QStringLiteral("SIGILL, недопустимая инструкция");
        case SIGABRT:
            return QStringLiteral("SIGABRT, аварийный останов");
        case SIGKILL:
            return QStringLiteral("SIGKILL, процесс снят системой, например из-за нехватки памяти");
        default:
            return QStringLiteral("сигнал %1").arg(signal);
    }
}

QString SystemErrorReason(int error) {
    switch (error) {
        case EDQUOT:
            return QStringLiteral("превышена дисковая квота");
        case ESTALE:
            return QStringLiteral("файл на сетевом диске больше недоступен");
        default:
            return QStringLiteral("системная ошибка %1 (%2)")
                .arg(error)
                .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

void UseBinaryStandardStreams() {}

QString AssemblerPath(const QString &path) {
    return path;  // file names are bytes here
}

void NoErrorDialogs() {}

QString ProgramArgument(char *argv[], int index) {
    return QFile::decodeName(argv[index]);
}

QString DefaultPrivateFolder() {
    // The XDG rules: a relative XDG_CACHE_HOME is ignored. Without a home
    // there is no private folder (never one under the root folder).
    QString cache = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    if (!QDir::isAbsolutePath(cache)) {
        const QString home = QFile::decodeName(qgetenv("HOME"));
        if (!QDir::isAbsolutePath(home)) return {};
        cache = home + QLatin1StringView("/.cache");
    }
    return QDir::cleanPath(cache) + QLatin1StringView("/orvandine-converter");
}

}  // namespace platform
