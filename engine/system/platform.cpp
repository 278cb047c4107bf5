#include "system/platform.h"

#include <cerrno>

namespace platform {

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
        case ETIMEDOUT:
            return QStringLiteral("истекло время ожидания");
        default:
            return SystemErrorReason(error);
    }
}

}  // namespace platform
