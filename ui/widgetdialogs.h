#pragma once

#include "dialogs.h"

class QWidget;

// The window's boxes and dialogs, made of Qt widgets.
class WidgetDialogs : public Dialogs {
public:
    explicit WidgetDialogs(QWidget *owner) : owner_(owner) {}

    void ShowInformation(const QString &title, const QString &text) override;
    QString ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) override;
    void ShowError(const QString &title, const QString &text) override;
    bool Question(const QString &title, const QString &text) override;
    QString OpenFileName() override;
    QString SaveFileName() override;

private:
    QString ChooseFile(bool forSaving);

    QWidget *owner_;
};
