#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Temporary files for one assembler run, in the temp folder.

// The name for a draw r in [0, 1): the folder, then the upper-case hex form
// of floor(r * 10000000) without leading zeros, then ".tmp".
QString TempName(double r, const QString &folder);

// A file this program created under a fresh TempName. It never takes over an
// existing file or link; it removes its file when it goes out of scope.
class TempFile {
public:
    TempFile() = default;
    TempFile(TempFile &&other) noexcept;
    TempFile &operator=(TempFile &&other) noexcept;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile();

    // Numbers in [0, 1) that pick the names to try.
    using Draw = std::function<double()>;

    // Creates the file holding these bytes. On failure returns a null file and
    // puts the reason into *error.
    static TempFile Create(const QString &folder, QByteArrayView contents, QString *error,
                           const Draw &draw = RandomDraw);

    static double RandomDraw();

    bool isNull() const { return path_.isEmpty(); }
    const QString &path() const { return path_; }

private:
    explicit TempFile(QString path) : path_(std::move(path)) {}
    void remove();

    QString path_;
};
