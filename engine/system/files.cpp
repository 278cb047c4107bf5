#include "system/files.h"

#include "system/platform.h"

QString FileErrorMessage(const QString &action, const QString &path, const QString &reason) {
    return QStringLiteral("Не удалось %1 «%2»: %3.").arg(action, path, reason);
}

QString FileErrorMessage(const QString &action, const QString &path, int error) {
    return FileErrorMessage(action, path, platform::ErrorReason(error));
}
