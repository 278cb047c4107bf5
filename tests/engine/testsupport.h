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
inline constexpr QLatin1StringView kTempVariableShown("temp");  // as messages name it
#else
inline constexpr char kTempVariable[] = "TMPDIR";
inline constexpr QLatin1StringView kTempVariableShown("TMPDIR");
#endif

// A folder name that would run commands if it ever reached a shell, as far as the system allows.
#ifdef Q_OS_WIN
inline const QString kHostileFolderName = u"Папка ' $(touch pwned) `id`;& %PATH% ^"_s;
#else
inline const QString kHostileFolderName = u"Папка \" ' $(touch pwned) `id`;|"_s;
#endif

// Points the temp variable at a fresh folder for as long as it lives.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const QString &name = u"tmp"_s)
        : path_(base_.filePath(name)), old_(qEnvironmentVariable(kTempVariable)) {
        QDir().mkpath(path_);
        SetTempVariable(path_);
    }
    ~ScopedTempFolder() { SetTempVariable(old_); }

    // Windows keeps the environment in wide text; its 8-bit form holds only the code page's letters.
    static void SetTempVariable(const QString &value) {
#ifdef Q_OS_WIN
        _wputenv_s(L"TEMP", value.toStdWString().c_str());
#else
        qputenv(kTempVariable, QFile::encodeName(value));
#endif
    }

    const QString &path() const {
        return path_;
    }
    QStringList entries() const {
        return QDir(path_).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir base_;
    QString path_;
    QString old_;
};

inline QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void WriteAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path + u": "_s + file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}
