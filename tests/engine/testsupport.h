#pragma once

// Shared by the tests: a temp folder of their own, a notifier that records,
// and whole-file helpers.

#include "usernotifier.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

struct Shown {
    QString kind;  // "info", "copy", "error" or "question"
    QString title;
    QString text;
};

class RecordingNotifier : public UserNotifier {
public:
    void ShowInformation(const QString &title, const QString &text) override {
        shown.push_back({u"info"_s, title, text});
    }
    QString ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) override {
        shown.push_back({u"copy"_s, title, text});
        prompts << prompt;
        return text;
    }
    void ShowError(const QString &title, const QString &text) override { shown.push_back({u"error"_s, title, text}); }

    QList<Shown> shown;
    QStringList prompts;
};

// The temp variable: TMPDIR, on Windows temp.
#ifdef Q_OS_WIN
inline constexpr char kTempVariable[] = "TEMP";
#else
inline constexpr char kTempVariable[] = "TMPDIR";
#endif

// Points the temp variable at a fresh folder for as long as it lives.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const QString &name = u"tmp"_s)
        : path_(base_.filePath(name)), old_(qgetenv(kTempVariable)) {
        QDir().mkpath(path_);
        qputenv(kTempVariable, QFile::encodeName(path_));
    }
    ~ScopedTempFolder() { qputenv(kTempVariable, old_); }

    const QString &path() const { return path_; }
    QStringList entries() const {
        return QDir(path_).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
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
