#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace platform {

QString AppPath() {
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

QString AssemblerFileName() {
    return QStringLiteral("nasmw");
}

QString HiddenAssemblerFileName() {
    return QStringLiteral(".nasmw");
}

QString TempFolder() {
    return QDir::tempPath();
}

bool FileExists(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
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
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

}  // namespace platform
