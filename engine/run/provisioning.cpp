#include "run/provisioning.h"

#include "payload_info.h"
#include "system/files.h"
#include "system/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QResource>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

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
    WriteOptions options;
    options.permissions = permissions;
    options.ownFile = true;
    const QString error = WriteFileAtomically(path, payload.readAll(), options);
    if (!error.isEmpty()) return error;
    if (!QFileInfo(path).isExecutable() && !platform::MakeExecutable(path))
        return FileErrorMessage(QStringLiteral("сделать исполняемым"), path, platform::LastError());
    return {};
}

// The stamp kept beside a shared copy: what the file system said of the copy
// when it was last known to hold the payload.
QString StampPath(const QString &copy) {
    return copy + QLatin1StringView(".stamp");
}

bool HoldsPayload(const QString &path) {
    const QResource payload(QString::fromLatin1(payload::kResourcePath));
    QFile copy(path);
    if (!QFileInfo(path).isExecutable() || !copy.open(QIODevice::ReadOnly) || copy.size() != payload.size() ||
        payload.compressionAlgorithm() != QResource::NoCompression)
        return false;
    const uchar *mapped = copy.map(0, copy.size());
    return mapped && std::memcmp(mapped, payload.data(), size_t(payload.size())) == 0;
}

// Notes that the copy holds the payload as it stands now. Without a stamp the
// next run compares the contents again, so a failure here costs only time.
void StampCopy(const QString &copy) {
    const QByteArray stamp = platform::FileStamp(copy);
    if (stamp.isEmpty()) return;
    WriteOptions options;
    options.ownFile = true;
    WriteFileAtomically(StampPath(copy), stamp, options);
}

// A copy written earlier under the payload's own name is reused only when it
// is a runnable file of this user's that holds the payload byte for byte: a
// damaged or replaced copy would fail every run, or have its output taken for
// the product. The contents are compared only when the copy's stamp differs
// from the one written when they were last found right: a matching stamp
// means nothing has written to, replaced or changed the copy since. Only the
// shared private copy keeps a stamp; a copy of this process's own leaves
// nothing behind it.
bool IsUsableCopy(const QString &path, bool stamped) {
    const QByteArray stamp = platform::FileStamp(path);
    if (stamp.isEmpty()) return false;
    if (!stamped) return HoldsPayload(path);
    // Never waited on: a FIFO under the stamp's name is no stamp, and is replaced.
    const FileRead kept = ReadWholeFile(StampPath(path), stamp.size() + 1);
    if (kept.ok() && kept.bytes == stamp) return true;
    if (!HoldsPayload(path)) return false;
    StampCopy(path);
    return true;
}

}  // namespace

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
        if (error.isEmpty()) platform::HideFile(hidden);
        if (error.isEmpty()) return {hidden, hidden, {}, {}};
        errors << error;
    }

    if (!privateFolder.isEmpty()) {
        const QString copy =
            privateFolder + QLatin1StringView("/nasmw-") + payload::Id() + platform::ExecutableSuffix();
        if (IsUsableCopy(copy, true)) return {copy, {}, {}, {}};
        QDir().mkpath(privateFolder);
        if (const QString refused = platform::RefusedPrivateFolder(privateFolder); !refused.isEmpty()) {
            errors << refused;
        } else {
            const QString error = WritePayload(copy, kPrivateExecutable);
            if (error.isEmpty()) {
                StampCopy(copy);
                return {copy, {}, {}, {}};
            }
            errors << error;
        }
    }

    QString tempError;
    const QString temp = platform::TempFolder(&tempError);
    if (temp.isEmpty()) {
        errors << tempError;
        return {{}, {}, {}, errors.join(QLatin1Char('\n'))};
    }
    errno = 0;
    if (platform::NoExecMount(temp)) {
        errors << FileErrorMessage(QStringLiteral("использовать временную папку"), temp, platform::NoExecReason());
        return {{}, {}, {}, errors.join(QLatin1Char('\n'))};
    }
    QTemporaryDir folder(temp + QLatin1StringView("/orvandine-XXXXXX"));
    if (folder.isValid()) {
        folder.setAutoRemove(false);
        const QString copy = folder.filePath(platform::AssemblerFileName());
        const QString error = WritePayload(copy, kPrivateExecutable);
        if (error.isEmpty()) return {copy, copy, folder.path(), {}};
        errors << error;
        folder.remove();
    } else {
        errors << FileErrorMessage(QStringLiteral("создать временную папку в"), temp, platform::LastError());
    }
    return {{}, {}, {}, errors.join(QLatin1Char('\n'))};
}

void RemoveAssembler(const ProvidedAssembler &provided) {
    if (!provided.ownFile.isEmpty()) QFile::remove(provided.ownFile);
    if (!provided.ownFolder.isEmpty()) QDir().rmdir(provided.ownFolder);
}

ProvidedAssembler EnsureAssembler(const ProvidedAssembler &current, const QString &appFolder, CopyPlace place,
                                  const QString &privateFolder) {
    // A user's own assembler is theirs to keep as it is; the program's copies
    // must still hold the payload (another instance may have removed the
    // shared copy at its exit, or something may have damaged it).
    const bool usersOwn = current.program == appFolder + platform::AssemblerFileName();
    if (current.ok() &&
        (usersOwn ? QFileInfo(current.program).isFile() : IsUsableCopy(current.program, current.ownFile.isEmpty())))
        return current;
    RemoveAssembler(current);  // what is left of this process's own copy
    return ProvideAssembler(appFolder, place, privateFolder);
}
