#include "provisioning.h"

#include "files.h"
#include "payload_info.h"
#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

constexpr QFileDevice::Permissions kPrivateExecutable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                                        QFileDevice::WriteUser | QFileDevice::ExeUser;

constexpr QFileDevice::Permissions kSharedExecutable = kPrivateExecutable | QFileDevice::ReadGroup |
                                                       QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                       QFileDevice::ExeOther;

// Writes the payload whole under the name (through a temporary file and a
// rename, so a copy that is running is never changed under it). Returns the
// error, or an empty string.
QString WritePayload(const QString &path, QFileDevice::Permissions permissions) {
    QFile payload(QString::fromLatin1(payload::kResourcePath));
    if (!payload.open(QIODevice::ReadOnly)) return QStringLiteral("Ассемблер не найден в ресурсах программы.");
    const QString error = WriteFileAtomically(path, payload.readAll(), permissions);
    if (!error.isEmpty()) return error;
    if (!QFileInfo(path).isExecutable() && !platform::MakeExecutable(path))
        return FileErrorMessage(QStringLiteral("сделать исполняемым"), path, platform::LastError());
    return {};
}

qint64 PayloadSize() {
    return QFileInfo(QString::fromLatin1(payload::kResourcePath)).size();
}

// A copy written earlier under the payload's own name is reused when it is
// whole and runnable.
bool IsUsableCopy(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() && info.size() == PayloadSize();
}

}  // namespace

QString DefaultPrivateFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QLatin1StringView("/orvandine-converter");
}

bool FileExists(const QString &path) {
    return platform::FileExists(path);
}

ProvidedAssembler ProvideAssembler(const QString &appFolder, CopyPlace place, const QString &privateFolder) {
    const QString visible = appFolder + platform::AssemblerFileName();
    if (FileExists(visible)) return {visible, {}, {}, {}};

    QStringList errors;
    if (place == CopyPlace::ProgramFolder) {
        const QString hidden = appFolder + platform::HiddenAssemblerFileName();
        const QString error = WritePayload(hidden, kSharedExecutable);
        if (error.isEmpty()) return {hidden, hidden, {}, {}};
        errors << error;
    }

    if (!privateFolder.isEmpty()) {
        const QString copy = privateFolder + QLatin1StringView("/nasmw-") + payload::Id();
        if (IsUsableCopy(copy)) return {copy, {}, {}, {}};
        if (QDir().mkpath(privateFolder)) {
            QFile::setPermissions(privateFolder, kPrivateExecutable);
            const QString error = WritePayload(copy, kPrivateExecutable);
            if (error.isEmpty()) return {copy, {}, {}, {}};
            errors << error;
        } else {
            errors << FileErrorMessage(QStringLiteral("создать папку"), privateFolder, platform::LastError());
        }
    }

    QTemporaryDir folder(platform::TempFolder() + QLatin1StringView("/orvandine-XXXXXX"));
    if (folder.isValid()) {
        folder.setAutoRemove(false);
        const QString copy = folder.filePath(platform::AssemblerFileName());
        const QString error = WritePayload(copy, kPrivateExecutable);
        if (error.isEmpty()) return {copy, copy, folder.path(), {}};
        errors << error;
        folder.remove();
    } else {
        errors << QStringLiteral("Не удалось создать временную папку: %1.").arg(folder.errorString());
    }
    return {{}, {}, {}, errors.join(QLatin1Char('\n'))};
}

void RemoveAssembler(const ProvidedAssembler &provided) {
    if (!provided.ownFile.isEmpty()) QFile::remove(provided.ownFile);
    if (!provided.ownFolder.isEmpty()) QDir().rmdir(provided.ownFolder);
}

ProvidedAssembler EnsureAssembler(const ProvidedAssembler &current, const QString &appFolder, CopyPlace place,
                                  const QString &privateFolder) {
    if (current.ok() && QFileInfo(current.program).isFile()) return current;
    return ProvideAssembler(appFolder, place, privateFolder);
}
