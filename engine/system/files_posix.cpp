#include "system/files.h"

#include "system/platform.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// How often a read that waits on standard input looks at its stop request.
constexpr int kPollMs = 25;

QString NotRegularReason(mode_t mode) {
    if (S_ISDIR(mode)) return platform::ErrorReason(EISDIR);
    if (S_ISFIFO(mode)) return QStringLiteral("это канал (FIFO), а не обычный файл");
    if (S_ISSOCK(mode)) return QStringLiteral("это сокет, а не обычный файл");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("это устройство, а не обычный файл");
    return QStringLiteral("это не обычный файл");
}

QString TooLargeReason(qint64 limit) {
    return QStringLiteral("файл больше %1 МиБ").arg(limit / (1024 * 1024));
}

mode_t ModeOf(QFileDevice::Permissions permissions) {
    const auto bits = uint(permissions.toInt());
    return mode_t(((bits >> 12) & 7) << 6 | ((bits >> 4) & 7) << 3 | (bits & 7));
}

// The permissions a new file gets from open(2): 0666 less the umask.
mode_t NewFileMode() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) return mode_t(0666 & ~line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 0644;
}

int WriteAll(int fd, QByteArrayView bytes) {
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : ENOSPC;
        data += written;
        left -= written;
    }
    return 0;
}

// Reads to the end of the descriptor. Returns 0, an error number, -1 past the
// limit, or -2 when stopped.
int ReadAll(int fd, QByteArray *bytes, qint64 limit, std::stop_token stop, qint64 expected) {
    try {
        bytes->reserve(qsizetype(qMin(expected, limit) + 1));
        constexpr qsizetype kChunk = 1 << 20;
        for (;;) {
            pollfd waiting{fd, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, kPollMs);
            if (stop.stop_requested()) return -2;
            if (ready < 0 && errno != EINTR) return errno;
            if (ready <= 0) continue;
            const qsizetype before = bytes->size();
            const qsizetype room = qsizetype(qMin<qint64>(kChunk, limit + 1 - before));
            bytes->resize(before + room);
            const ssize_t got = ::read(fd, bytes->data() + before, size_t(room));
            bytes->resize(before + qMax<ssize_t>(got, 0));
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got < 0) return errno;
            if (got == 0) return 0;
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
    // Not blocking: opening a FIFO must not wait for a writer.
    const int fd = ::open(platform::EncodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};  // a socket cannot be opened at all: say what it is
        if (::stat(platform::EncodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode))
            return {{}, FileErrorMessage(action, path, NotRegularReason(info.st_mode))};
        return {{}, FileErrorMessage(action, path, error)};
    }
    struct stat info {};
    FileRead read;
    if (::fstat(fd, &info) != 0) {
        read.error = FileErrorMessage(action, path, errno);
    } else if (!S_ISREG(info.st_mode)) {
        read.error = FileErrorMessage(action, path, NotRegularReason(info.st_mode));
    } else if (info.st_size > limit) {
        read.error = FileErrorMessage(action, path, TooLargeReason(limit));
    } else {
        const int result = ReadAll(fd, &read.bytes, limit, {}, info.st_size);
        if (result == -1) read.error = FileErrorMessage(action, path, TooLargeReason(limit));
        if (result > 0) read.error = FileErrorMessage(action, path, result);
    }
    ::close(fd);
    if (!read.error.isEmpty()) read.bytes = {};
    return read;
}

FileRead ReadStandardInput(int fd, std::stop_token stop, qint64 limit) {
    FileRead read;
    struct stat info {};
    int result = ::fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    if (result == 0) result = ReadAll(fd, &read.bytes, limit, stop, S_ISREG(info.st_mode) ? info.st_size : 0);
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
    const QByteArray native = platform::EncodeName(path);
    struct stat old {};
    bool exists = (options.ownFile ? ::lstat(native.constData(), &old) : ::stat(native.constData(), &old)) == 0;
    if (!exists && errno != ENOENT) return FileErrorMessage(action, path, errno);
    // Under the program's own name, a link, FIFO or socket is itself replaced.
    if (exists && options.ownFile && !S_ISREG(old.st_mode) && !S_ISDIR(old.st_mode)) exists = false;
    struct stat link {};
    if (!exists && !options.ownFile && ::lstat(native.constData(), &link) == 0)
        return FileErrorMessage(action, path, QStringLiteral("это ссылка на несуществующий файл"));
    if (exists && !S_ISREG(old.st_mode)) return FileErrorMessage(action, path, NotRegularReason(old.st_mode));
    struct stat source {};
    if (exists && !options.notSameAs.isEmpty() &&
        ::stat(platform::EncodeName(options.notSameAs).constData(), &source) == 0 && source.st_dev == old.st_dev &&
        source.st_ino == old.st_ino)
        return FileErrorMessage(action, path, QStringLiteral("это сам исходный файл"));

    // The file a link names is the one replaced; the temporary file goes beside it.
    QString final = QFileInfo(path).absoluteFilePath();
    if (exists) {
        char *real = ::realpath(native.constData(), nullptr);
        if (!real) return FileErrorMessage(action, path, errno);
        final = platform::DecodeName(real);
        std::free(real);
    }
    const QString folder = QFileInfo(final).absolutePath();
    const mode_t mode = options.permissions ? ModeOf(*options.permissions)
                        : exists            ? old.st_mode & 07777
                                            : NewFileMode();

    // A short name of its own, so that a target name near the length limit
    // can still be replaced.
    QByteArray temp = platform::EncodeName(folder + QLatin1StringView("/.orv-XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (options.directFallback && (error == EACCES || error == EPERM)) {
            // The folder takes no new file, the file itself may still be writable.
            const int direct =
                ::open(platform::EncodeName(final).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
            if (direct < 0) return FileErrorMessage(action, path, errno);
            int result = WriteAll(direct, bytes);
            if (::close(direct) != 0 && result == 0) result = errno;
            return result == 0 ? QString() : FileErrorMessage(action, path, result);
        }
        if (error == EACCES || error == EPERM)
            return FileErrorMessage(action, path,
                                    QStringLiteral("нет прав на создание файлов в папке «%1»").arg(folder));
        return FileErrorMessage(action, path, error);
    }
    auto discard = [&](int error) {
        ::unlink(temp.constData());
        return FileErrorMessage(action, path, error);
    };
    if (exists && ::geteuid() == 0) (void)!::fchown(fd, old.st_uid, old.st_gid);
    int result = ::fchmod(fd, mode) == 0 ? 0 : errno;
    if (result == 0) result = WriteAll(fd, bytes);
    if (::close(fd) != 0 && result == 0) result = errno;
    if (result != 0) return discard(result);
    if (options.stop.stop_requested()) return discard(EINTR);
    if (::rename(temp.constData(), platform::EncodeName(final).constData()) != 0) return discard(errno);
    return {};
}
