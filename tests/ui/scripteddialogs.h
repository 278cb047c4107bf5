#pragma once

// Answers the window's questions and dialogs from a script, and records what
// the window showed.

#include "dialogs.h"
#include "testsupport.h"

#include <QQueue>

#include <functional>

class ScriptedDialogs : public Dialogs {
public:
    void ShowInformation(const QString &title, const QString &text) override {
        During();
        notes.ShowInformation(title, text);
    }
    QString ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) override {
        During();
        return notes.ShowTextForCopy(title, prompt, text);
    }
    void ShowError(const QString &title, const QString &text) override {
        During();
        notes.ShowError(title, text);
    }
    bool Question(const QString &title, const QString &text) override {
        notes.shown.push_back({u"question"_s, title, text});
        During();
        return answers.isEmpty() || answers.dequeue();
    }
    QString OpenFileName() override { return files.isEmpty() ? QString() : files.dequeue(); }
    QString SaveFileName() override { return OpenFileName(); }

    QQueue<bool> answers;          // Yes when empty
    QQueue<QString> files;         // cancelled when empty
    std::function<void()> during;  // runs while a box is up, once
    RecordingNotifier notes;

private:
    void During() {
        if (during) std::exchange(during, {})();
    }
};
