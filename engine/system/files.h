#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>
#include <stop_token>

// Whole-file reading and all-or-nothing writing. Failures come back as a
// Russian sentence naming the file and the reason.

// Sources (and assembler outputs) larger than this are refused before they
// are read, so that no input can exhaust the memory.
inline constexpr qint64 kMaxFileBytes = qint64(256) * 1024 * 1024;

struct FileRead {
    QByteArray bytes;
    QString error;  // empty on success
    bool cancelled = false;

    bool ok() const { return error.isEmpty() && !cancelled; }
};

// Reads a whole regular file as bytes. A missing file is an error, not an
// empty file; so are folders, devices, FIFOs (never waited on) and files over
// the limit.
FileRead ReadWholeFile(const QString &path, qint64 limit = kMaxFileBytes);

// Reads an open descriptor (standard input) to its end, up to the limit. A
// stop request ends the wait; the read then comes back cancelled.
FileRead ReadStandardInput(int fd, std::stop_token stop, qint64 limit = kMaxFileBytes);

struct WriteOptions {
    std::optional<QFileDevice::Permissions> permissions;  // else the old file's, or the usual for a new file
    QString notSameAs;            // refused when the target is this very file (the source of a product)
    bool directFallback = false;  // write in place when the folder takes no new file
    std::stop_token stop;         // a stop before the file is replaced leaves it as it was
    bool ownFile = false;  // the program's own file: a link, FIFO or socket under the name is replaced, never used
};

// Replaces a regular file with exactly these bytes, or leaves the old file as
// it was; a link to a regular file is written through. Anything else under the
// name (a device, FIFO, socket, folder) is refused and left untouched.
// Returns the error, or an empty string on success.
QString WriteFileAtomically(const QString &path, QByteArrayView bytes, const WriteOptions &options = {});

// "Не удалось <action> «path»: <reason>." for a failure with this error number.
QString FileErrorMessage(const QString &action, const QString &path, int error);

// The same with a reason of its own.
QString FileErrorMessage(const QString &action, const QString &path, const QString &reason);
