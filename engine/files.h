#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

// Whole-file reading and all-or-nothing writing. Failures come back as a
// Russian sentence naming the file and the reason.

struct FileRead {
    QByteArray bytes;
    QString error;  // empty on success

    bool ok() const { return error.isEmpty(); }
};

// Reads a whole file as bytes. A missing file is an error, not an empty file.
FileRead ReadWholeFile(const QString &path);

// Replaces the file with exactly these bytes, or leaves the old file as it was.
// Returns the error, or an empty string on success.
QString WriteFileAtomically(const QString &path, QByteArrayView bytes,
                            std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// "Не удалось <action> «path»: <reason>." for a failure with this error number.
QString FileErrorMessage(const QString &action, const QString &path, int error, const QString &fallbackReason = {});
