#pragma once

// Shared by the engine tests: a temporary folder for every test function's
// temporary files, and a notifier that records what it was asked to show.

#include "usernotifier.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

struct Shown {
    QString kind;  // "info", "copy" or "error"
    QString title;
    QString text;
};

class RecordingNotifier : public UserNotifier {
public:
    void ShowInformation(const QString &title, const QString &text) override {
        shown.push_back({QStringLiteral("info"), title, text});
    }
    QString ShowTextForCopy(const QString &title, const QString &, const QString &text) override {
        shown.push_back({QStringLiteral("copy"), title, text});
        return text;
    }
    void ShowError(const QString &title, const QString &text) override {
        shown.push_back({QStringLiteral("error"), title, text});
    }

    QList<Shown> shown;
};

// Points the temp variable at a fresh folder for as long as it lives.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const QString &name = QStringLiteral("tmp"))
        : path_(base_.filePath(name)), old_(qgetenv("TMPDIR")) {
        QDir().mkpath(path_);
        qputenv("TMPDIR", QFile::encodeName(path_));
    }
    ~ScopedTempFolder() { qputenv("TMPDIR", old_); }

    const QString &path() const { return path_; }
    QStringList entries() const {
        return QDir(path_).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir base_;
    QString path_;
    QByteArray old_;
};

inline QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void WriteAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}
