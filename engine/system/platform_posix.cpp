#include "system/platform.h"

#include "system/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace platform {

QByteArray EncodeName(QStringView name) {
    QByteArray bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            ++i;
        } else if (QChar::isSurrogate(c)) {
            bytes += name.sliced(from, i - from).toUtf8();
            bytes += c >= 0xDC80 && c <= 0xDCFF ? QByteArray(1, char(c - 0xDC00)) : QByteArray("\xEF\xBF\xBD");
            from = i + 1;
        }
    }
    return bytes + name.sliced(from).toUtf8();
}

QString DecodeName(QByteArrayView bytes) {
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar lead = uchar(bytes[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
        char32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        bool valid = length > 0 && i + length <= bytes.size();
        for (int k = 1; valid && k < length; ++k) {
            valid = (uchar(bytes[i + k]) & 0xC0) == 0x80;
            code = code << 6 | (uchar(bytes[i + k]) & 0x3F);
        }
        // Not UTF-8: overlong forms, surrogates, code points past U+10FFFF.
        valid = valid &&
                code >= (length == 4   ? 0x10000u
                         : length == 3 ? 0x800u
                                       : 0u) &&
                code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            name += QChar(char16_t(0xDC00 + lead));
            ++i;
            continue;
        }
        if (code >= 0x10000)
            name += QChar(QChar::highSurrogate(code)), name += QChar(QChar::lowSurrogate(code));
        else
            name += QChar(char16_t(code));
        i += length;
    }
    return name;
}

QString ReadableName(const QString &text) {
    QString readable;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            readable += QStringView(text).sliced(from, i - from);
            readable += QLatin1StringView("\\x") + QString::number(c - 0xDC00, 16).toUpper();
            from = i + 1;
        }
    }
    return from == 0 ? text : readable.append(QStringView(text).sliced(from));
}

int FolderError(const QString &path) {
    const QByteArray native = EncodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0) return errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    return ::access(native.constData(), X_OK) == 0 ? 0 : errno;
}

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
    const QString folder = variable.isEmpty() ? QStringLiteral("/tmp") : DecodeName(variable);
    // Paths in it reach NASM through QProcess, which passes text: a name that is not UTF-8 is refused.
    const bool text = variable.isValidUtf8();
    const int reason = FolderError(folder);
    if (text && reason == 0) return QDir::cleanPath(QDir(folder).absolutePath());
    *error = QStringLiteral("Временная папка «%1»%2 недоступна: %3.")
                 .arg(ReadableName(folder), variable.isEmpty() ? QString() : QStringLiteral(" (переменная TMPDIR)"),
                      reason == ENOTDIR ? QStringLiteral("это не папка")
                      : reason != 0     ? ErrorReason(reason)
                                        : QStringLiteral("её имя не в кодировке UTF-8"));
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
    return DecodeName(buffer.constData());
}

bool FileExists(const QString &path) {
    struct stat info {};
    return ::stat(EncodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           !QStringView(path).sliced(path.lastIndexOf(QLatin1Char('/')) + 1).startsWith(QLatin1Char('.'));
}

QByteArray FileStamp(const QString &path) {
    struct stat info {};
    if (::lstat(EncodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
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
    const QByteArray native = EncodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    return fd >= 0 ? fd : -errno;
}

bool NoExecMount(const QString &folder) {
    struct statvfs info {};
    return ::statvfs(EncodeName(folder).constData(), &info) == 0 && (info.f_flag & ST_NOEXEC) != 0;
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
    if (::lstat(EncodeName(folder).constData(), &info) != 0) return FileErrorMessage(action, folder, errno);
    if (!S_ISDIR(info.st_mode))
        return FileErrorMessage(action, folder, QStringLiteral("это не папка, а ссылка или файл"));
    if (info.st_uid != ::geteuid())
        return FileErrorMessage(action, folder, QStringLiteral("папка принадлежит другому пользователю"));
    if (platform::NoExecMount(folder)) return FileErrorMessage(action, folder, platform::NoExecReason());
    ::chmod(EncodeName(folder).constData(), S_IRWXU);
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

QStringList ProgramArguments(int argc, char *argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << DecodeName(argv[i]);
    return arguments;
}

QString ProgramArgument(char *argv[], int index) {
    return DecodeName(argv[index]);
}

QString DefaultPrivateFolder() {
    // The XDG rules: a relative XDG_CACHE_HOME is ignored. Without a home
    // there is no private folder (never one under the root folder), nor with
    // a name that is not UTF-8: the copy's path is handed to QProcess as text.
    QByteArray cache = qgetenv("XDG_CACHE_HOME");
    if (!cache.startsWith('/')) {
        cache = qgetenv("HOME");
        if (!cache.startsWith('/')) return {};
        cache += "/.cache";
    }
    if (!cache.isValidUtf8()) return {};
    return QDir::cleanPath(QString::fromUtf8(cache)) + QLatin1StringView("/orvandine-converter");
}

}  // namespace platform
