#include "system/files.h"

#include "system/platform.h"
#include "system/winerrno.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

#include <io.h>
#include <cerrno>
#include <new>

namespace {

// How often a read that waits on a pipe looks at its stop request.
constexpr int kPollMs = 25;

std::wstring Native(const QString &path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

int LastErrno() {
    return platform::ErrnoOf(::GetLastError());
}

QString NotRegularReason(DWORD type) {
    if (type == FILE_TYPE_PIPE) return QStringLiteral("это канал (FIFO), а не обычный файл");
    if (type == FILE_TYPE_CHAR) return QStringLiteral("это устройство, а не обычный файл");
    return QStringLiteral("это не обычный файл");
}

QString TooLargeReason(qint64 limit) {
    return QStringLiteral("файл больше %1 МиБ").arg(limit / (1024 * 1024));
}

// Closes the handle when it goes out of scope.
struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    bool Close() {
        const bool ok = ::CloseHandle(h) != 0;
        h = INVALID_HANDLE_VALUE;
        return ok;
    }
};

// Opens a file, or a folder, to look at it only.
HANDLE OpenToInspect(const std::wstring &path) {
    return ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// True when both names lead to one file: the C runtime's inode numbers are
// always 0 here, the volume and file index are not.
bool SameFile(const std::wstring &a, const std::wstring &b) {
    Handle first{OpenToInspect(a)};
    Handle second{OpenToInspect(b)};
    BY_HANDLE_FILE_INFORMATION one{}, two{};
    return first.h != INVALID_HANDLE_VALUE && second.h != INVALID_HANDLE_VALUE &&
           ::GetFileInformationByHandle(first.h, &one) && ::GetFileInformationByHandle(second.h, &two) &&
           one.dwVolumeSerialNumber == two.dwVolumeSerialNumber && one.nFileIndexHigh == two.nFileIndexHigh &&
           one.nFileIndexLow == two.nFileIndexLow;
}

int WriteAll(HANDLE file, QByteArrayView bytes) {
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(qMin<qsizetype>(left, 1 << 24));
        if (!::WriteFile(file, data, chunk, &written, nullptr)) return LastErrno();
        if (written == 0) return ENOSPC;
        data += written;
        left -= written;
    }
    return 0;
}

// Reads to the end of the handle. Returns 0, an error number, -1 past the
// limit, or -2 when stopped. A pipe is looked into before each read, so that
// a stop request ends the wait.
int ReadAll(HANDLE file, QByteArray *bytes, qint64 limit, std::stop_token stop, qint64 expected) {
    DWORD type = ::GetFileType(file);
    DWORD mode = 0;
    const bool console = type == FILE_TYPE_CHAR && ::GetConsoleMode(file, &mode);
    try {
        bytes->reserve(qsizetype(qMin(expected, limit) + 1));
        constexpr qsizetype kChunk = 1 << 20;
        for (;;) {
            if (stop.stop_requested()) return -2;
            if (type == FILE_TYPE_PIPE) {
                DWORD available = 0;
                if (!::PeekNamedPipe(file, nullptr, 0, nullptr, &available, nullptr)) {
                    const DWORD error = ::GetLastError();
                    if (error == ERROR_BROKEN_PIPE) return 0;
                    type = FILE_TYPE_UNKNOWN;  // a pipe that cannot be looked into (Wine's from a Unix shell) is read
                    continue;
                }
                if (available == 0) {
                    ::Sleep(kPollMs);
                    continue;
                }
            }
            const qsizetype before = bytes->size();
            const qsizetype room = qsizetype(qMin<qint64>(kChunk, limit + 1 - before));
            bytes->resize(before + room);
            DWORD got = 0;
            const bool ok = ::ReadFile(file, bytes->data() + before, DWORD(room), &got, nullptr);
            const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
            bytes->resize(before + qsizetype(got));
            if (stop.stop_requested()) return -2;
            if (!ok && error == ERROR_BROKEN_PIPE) return 0;  // the writer is done
            if (!ok && error == ERROR_OPERATION_ABORTED) continue;
            if (!ok) return platform::ErrnoOf(error);
            if (console) {  // Ctrl+Z typed at the start of a line ends the input
                const qsizetype end = bytes->indexOf('\x1a', before);
                if (end >= 0) {
                    bytes->truncate(end);
                    return 0;
                }
            }
            if (got == 0 && !console) return 0;
            if (bytes->size() > limit) return -1;
        }
    } catch (const std::bad_alloc &) {
        *bytes = {};
        return ENOMEM;
    }
}

}  // namespace

FileRead ReadWholeFile(const QString &path, qint64 limit) {
    const QString action = QStringLiteral("прочитать файл");
    Handle file{::CreateFileW(Native(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) return {{}, FileErrorMessage(action, path, LastErrno())};
    FileRead read;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD type = ::GetFileType(file.h);
    if (type != FILE_TYPE_DISK) {
        read.error = FileErrorMessage(action, path, NotRegularReason(type));
    } else if (!::GetFileInformationByHandle(file.h, &info)) {
        read.error = FileErrorMessage(action, path, LastErrno());
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        read.error = FileErrorMessage(action, path, EISDIR);
    } else {
        const qint64 size = qint64(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
        if (size > limit) {
            read.error = FileErrorMessage(action, path, TooLargeReason(limit));
        } else {
            const int result = ReadAll(file.h, &read.bytes, limit, {}, size);
            if (result == -1) read.error = FileErrorMessage(action, path, TooLargeReason(limit));
            if (result > 0) read.error = FileErrorMessage(action, path, result);
        }
    }
    if (!read.error.isEmpty()) read.bytes = {};
    return read;
}

FileRead ReadStandardInput(int fd, std::stop_token stop, qint64 limit) {
    FileRead read;
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    int result = file == INVALID_HANDLE_VALUE || file == nullptr ? EBADF : 0;
    if (result == 0) {
        LARGE_INTEGER size{};
        const bool disk = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size);
        result = ReadAll(file, &read.bytes, limit, stop, disk ? size.QuadPart : 0);
    }
    if (result == -2) read.cancelled = true;
    if (result == -1) read.error = TooLargeReason(limit);
    if (result > 0)
        read.error = result == EBADF ? QStringLiteral("стандартный ввод закрыт") : platform::ErrorReason(result);
    if (!read.error.isEmpty())
        read.error = QStringLiteral("Не удалось прочитать стандартный ввод: %1.").arg(read.error);
    if (!read.ok()) read.bytes = {};
    return read;
}

QString WriteFileAtomically(const QString &path, QByteArrayView bytes, const WriteOptions &options) {
    const QString action = QStringLiteral("записать файл");
    const DWORD attributes = ::GetFileAttributesW(Native(path).c_str());
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return FileErrorMessage(action, path, platform::ErrnoOf(error));
    }
    const bool link = exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (link && options.ownFile) exists = false;  // the link itself is replaced
    if (link && !options.ownFile && !QFileInfo(path).exists())
        return FileErrorMessage(action, path, QStringLiteral("это ссылка на несуществующий файл"));
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return FileErrorMessage(action, path, EISDIR);
    if (exists && !options.notSameAs.isEmpty() && SameFile(Native(path), Native(options.notSameAs)))
        return FileErrorMessage(action, path, QStringLiteral("это сам исходный файл"));

    // The file a link names is the one replaced; the temporary file goes beside it.
    const QFileInfo info(path);
    const QString final = exists && link ? info.canonicalFilePath() : info.absoluteFilePath();
    const QString folder = QFileInfo(final).absolutePath();

    // The new file starts with the attributes its owner gave the old one (a
    // hidden product stays hidden), whichever way it then takes its place.
    const DWORD kept = exists ? ::GetFileAttributesW(Native(final).c_str()) : INVALID_FILE_ATTRIBUTES;
    const DWORD keptAttributes =
        kept == INVALID_FILE_ATTRIBUTES
            ? 0
            : kept & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);

    // A short name of its own, created only when nothing has it yet.
    QString temp;
    Handle file;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && file.h == INVALID_HANDLE_VALUE && error == ERROR_FILE_EXISTS; ++attempt) {
        temp =
            folder +
            QStringLiteral("/.orv-%1").arg(QRandomGenerator::global()->generate() & 0xFFFFFF, 6, 16, QLatin1Char('0'));
        file.h = ::CreateFileW(Native(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               keptAttributes ? keptAttributes : FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.h == INVALID_HANDLE_VALUE) error = ::GetLastError();
    }
    if (file.h == INVALID_HANDLE_VALUE) {
        if (options.directFallback && error == ERROR_ACCESS_DENIED) {
            // The folder takes no new file, the file itself may still be writable.
            Handle direct{::CreateFileW(Native(final).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)};
            if (direct.h == INVALID_HANDLE_VALUE) return FileErrorMessage(action, path, LastErrno());
            int result = WriteAll(direct.h, bytes);
            if (result == 0 && !::SetEndOfFile(direct.h)) result = LastErrno();
            if (!direct.Close() && result == 0) result = LastErrno();
            return result == 0 ? QString() : FileErrorMessage(action, path, result);
        }
        if (error == ERROR_ACCESS_DENIED)
            return FileErrorMessage(
                action, path,
                QStringLiteral("нет прав на создание файлов в папке «%1»").arg(QDir::toNativeSeparators(folder)));
        return FileErrorMessage(action, path, platform::ErrnoOf(error));
    }
    auto discard = [&](int reason) {
        ::DeleteFileW(Native(temp).c_str());
        return FileErrorMessage(action, path, reason);
    };
    int result = WriteAll(file.h, bytes);
    if (result == 0 && !::FlushFileBuffers(file.h)) result = LastErrno();
    if (!file.Close() && result == 0) result = LastErrno();
    if (result != 0) return discard(result);
    if (options.stop.stop_requested()) return discard(EINTR);
    // ReplaceFile keeps the old file's attributes (hidden, read-only),
    // security and creation time; a file the program may not replace that
    // way is moved over instead, which Windows also does in one step.
    if (exists && ::ReplaceFileW(Native(final).c_str(), Native(temp).c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                 nullptr, nullptr))
        return {};
    if (!::MoveFileExW(Native(temp).c_str(), Native(final).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return discard(LastErrno());
    return {};
}
