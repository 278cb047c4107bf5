#pragma once

// Answers the window's questions and dialogs from a script, and records what
// the window showed.

#include "dialogs.h"
#include "testsupport.h"

#include <QQueue>

class ScriptedDialogs : public Dialogs {
public:
    void ShowInformation(const QString &title, const QString &text) override {
        shown.push_back({QStringLiteral("info"), title, text});
    }
    QString ShowTextForCopy(const QString &title, const QString &prompt,
                            const QString &text) override {
        shown.push_back({QStringLiteral("copy"), title, text});
        prompts << prompt;
        return text;
    }
    void ShowError(const QString &title, const QString &text) override {
        shown.push_back({QStringLiteral("error"), title, text});
    }
    bool Question(const QString &title, const QString &text) override {
        shown.push_back({QStringLiteral("question"), title, text});
        return answers.isEmpty() ? true : answers.dequeue();
    }
    QString OpenFileName() override { return files.isEmpty() ? QString() : files.dequeue(); }
    QString SaveFileName() override { return files.isEmpty() ? QString() : files.dequeue(); }

    QQueue<bool> answers;   // Yes when empty
    QQueue<QString> files;  // cancelled when empty
    QList<Shown> shown;
    QStringList prompts;
};
