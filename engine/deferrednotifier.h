#pragma once

#include "usernotifier.h"

#include <QList>

// Keeps the reports of a command that runs away from the window, so that the
// window can show them once the command has ended.
class DeferredNotifier : public UserNotifier {
public:
    void ShowInformation(const QString &title, const QString &text) override {
        reports_.push_back({Kind::Information, title, {}, text});
    }
    QString ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) override {
        reports_.push_back({Kind::TextForCopy, title, prompt, text});
        return text;
    }
    void ShowError(const QString &title, const QString &text) override {
        reports_.push_back({Kind::Error, title, {}, text});
    }

    // Shows the kept reports, in order, through another notifier.
    void ReplayTo(UserNotifier &notifier) const {
        for (const Report &report : reports_) {
            switch (report.kind) {
                case Kind::Information:
                    notifier.ShowInformation(report.title, report.text);
                    break;
                case Kind::TextForCopy:
                    notifier.ShowTextForCopy(report.title, report.prompt, report.text);
                    break;
                case Kind::Error:
                    notifier.ShowError(report.title, report.text);
                    break;
            }
        }
    }

private:
    enum class Kind { Information, TextForCopy, Error };
    struct Report {
        Kind kind;
        QString title;
        QString prompt;
        QString text;
    };
    QList<Report> reports_;
};
