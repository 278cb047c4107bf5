#include "files.h"

#include "platform.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

QString FileErrorMessage(const QString &action, const QString &path, int error, const QString &fallbackReason) {
    const QString reason = error != 0 || fallbackReason.isEmpty() ? platform::ErrorReason(error) : fallbackReason;
    return QStringLiteral("Не удалось %1 «%2»: %3.").arg(action, path, reason);
}

FileRead ReadWholeFile(const QString &path) {
    const QString action = QStringLiteral("прочитать файл");
    if (QFileInfo(path).isDir()) return {{}, FileErrorMessage(action, path, EISDIR)};
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        return {{}, FileErrorMessage(action, path, platform::LastError(), file.errorString())};
    errno = 0;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {{}, FileErrorMessage(action, path, platform::LastError(), file.errorString())};
    return {std::move(bytes), {}};
}

QString WriteFileAtomically(const QString &path, QByteArrayView bytes,
                            std::optional<QFileDevice::Permissions> permissions) {
    const QString action = QStringLiteral("записать файл");
    if (QFileInfo(path).isDir()) return FileErrorMessage(action, path, EISDIR);
    QSaveFile file(path);
    errno = 0;
    // Unbuffered, so that a short write (a full disk, a file-size limit) shows
    // here: a buffered flush would let it pass unnoticed.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return FileErrorMessage(action, path, platform::LastError(), file.errorString());
    errno = 0;
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || file.size() != bytes.size()) {
        const int error = platform::LastError();
        const QString reason = file.errorString();
        file.cancelWriting();
        return FileErrorMessage(action, path, error, reason);
    }
    if (permissions) file.setPermissions(*permissions);
    errno = 0;
    if (!file.commit()) return FileErrorMessage(action, path, platform::LastError(), file.errorString());
    return {};
}
