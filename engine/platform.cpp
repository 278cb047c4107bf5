#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
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

QString ErrorReason(int error) {
    switch (error) {
        case 0:
            return QStringLiteral("причина неизвестна");
        case ENOENT:
            return QStringLiteral("файл или папка не существует");
        case EACCES:
        case EPERM:
            return QStringLiteral("нет прав доступа");
        case EROFS:
            return QStringLiteral("файловая система доступна только для чтения");
        case ENOSPC:
            return QStringLiteral("на диске нет места");
        case EDQUOT:
            return QStringLiteral("превышена дисковая квота");
        case EFBIG:
            return QStringLiteral("файл слишком велик");
        case EISDIR:
            return QStringLiteral("это папка, а не файл");
        case ENOTDIR:
            return QStringLiteral("часть пути не является папкой");
        case ENAMETOOLONG:
            return QStringLiteral("слишком длинное имя");
        case EEXIST:
            return QStringLiteral("файл уже существует");
        case ETXTBSY:
            return QStringLiteral("файл занят выполняющейся программой");
        case EIO:
            return QStringLiteral("ошибка ввода-вывода");
        case ENOEXEC:
            return QStringLiteral("файл не является исполняемой программой");
        case ENOMEM:
            return QStringLiteral("недостаточно памяти");
        case ELOOP:
            return QStringLiteral("слишком много символических ссылок");
        case EPIPE:
            return QStringLiteral("получатель данных закрыл канал");
        case EBADF:
            return QStringLiteral("поток закрыт");
        case ENXIO:
        case ENODEV:
            return QStringLiteral("устройство недоступно");
        case EBUSY:
            return QStringLiteral("файл или устройство заняты");
        case EINVAL:
            return QStringLiteral("недопустимая операция для этого файла");
        case EMFILE:
        case ENFILE:
            return QStringLiteral("открыто слишком много файлов");
        case EAGAIN:
            return QStringLiteral("ресурс временно недоступен");
        case EXDEV:
            return QStringLiteral("файлы находятся на разных файловых системах");
        case ENOTEMPTY:
            return QStringLiteral("папка не пуста");
        case E2BIG:
            return QStringLiteral("слишком длинный список аргументов");
        case EINTR:
            return QStringLiteral("операция прервана");
        case ESTALE:
            return QStringLiteral("файл на сетевом диске больше недоступен");
        case ETIMEDOUT:
            return QStringLiteral("истекло время ожидания");
        default:
            return QStringLiteral("системная ошибка %1 (%2)")
                .arg(error)
                .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

}  // namespace platform
