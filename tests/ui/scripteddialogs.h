#pragma once

// Answers the window's questions and dialogs from a script, and records what
// the window showed.

#include "dialogs.h"
#include "testsupport.h"

#include <QQueue>

#include <functional>

class ScriptedDialogs : public Dialogs {
public:
    void ShowInformation(const QString &title, const QString &text) override { Note(u"info"_s, title, text); }
    QString ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) override {
        notes.prompts << prompt;
        return Note(u"copy"_s, title, text), text;
    }
    void ShowError(const QString &title, const QString &text) override { Note(u"error"_s, title, text); }
    bool Question(const QString &title, const QString &text) override {
        Note(u"question"_s, title, text);
        return answers.isEmpty() || answers.dequeue();
    }
    QString OpenFileName() override { return files.isEmpty() ? QString() : files.dequeue(); }
    QString SaveFileName() override { return OpenFileName(); }

    QQueue<bool> answers;          // Yes when empty
    QQueue<QString> files;         // cancelled when empty
    std::function<void()> during;  // runs once, while the next box is up
    RecordingNotifier notes;

private:
    void Note(const QString &kind, const QString &title, const QString &text) {
        notes.shown.push_back({kind, title, text});
        if (during) std::exchange(during, {})();
    }
};
