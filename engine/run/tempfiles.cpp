#include "run/tempfiles.h"

#include "system/files.h"
#include "system/platform.h"

#include <QFile>
#include <QRandomGenerator>

#include <unistd.h>
#include <cerrno>
#include <cmath>

QString TempName(double r, const QString &folder) {
    const auto number = static_cast<qulonglong>(std::floor(r * 10000000.0));
    QString name = folder;
    if (!name.endsWith(QLatin1Char('/'))) name += QLatin1Char('/');
    return name + QString::number(number, 16).toUpper() + QLatin1StringView(".tmp");
}

TempFile::TempFile(TempFile &&other) noexcept : path_(std::exchange(other.path_, {})) {}

TempFile &TempFile::operator=(TempFile &&other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

TempFile::~TempFile() {
    remove();
}

void TempFile::remove() {
    if (!path_.isEmpty()) QFile::remove(path_);
    path_.clear();
}

double TempFile::RandomDraw() {
    return QRandomGenerator::global()->generateDouble();
}

TempFile TempFile::Create(const QString &folder, QByteArrayView contents, QString *error, const Draw &draw) {
    // There are ten million names; a name that is taken is simply drawn again.
    constexpr int kAttempts = 100;
    int lastError = EEXIST;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QString path = TempName(draw(), folder);
        const int fd = platform::CreateExclusive(path);
        if (fd == -EEXIST) continue;
        if (fd < 0) {
            lastError = -fd;
            break;
        }
        TempFile file(path);
        const char *data = contents.data();
        qsizetype left = contents.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, data, size_t(left));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                const int writeError = written < 0 ? errno : ENOSPC;
                ::close(fd);
                *error = FileErrorMessage(QStringLiteral("записать временный файл"), path, writeError);
                return {};
            }
            data += written;
            left -= written;
        }
        if (::close(fd) != 0) {
            *error = FileErrorMessage(QStringLiteral("записать временный файл"), path, errno);
            return {};
        }
        return file;
    }
    *error = FileErrorMessage(QStringLiteral("создать временный файл в папке"), folder, lastError);
    return {};
}
