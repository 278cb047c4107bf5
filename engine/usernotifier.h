#pragma once

#include <QString>

// The reports a command may give; the window shows them in its boxes, the
// command-line program prints them.
class UserNotifier {
public:
    virtual ~UserNotifier() = default;

    // Text with an information icon and an OK button.
    virtual void ShowInformation(const QString &title, const QString &text) = 0;

    // An editable field pre-filled with the text, for the user to copy from.
    // Returns the field's contents when closed.
    virtual QString ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) = 0;

    // A failure: what went wrong and why.
    virtual void ShowError(const QString &title, const QString &text) = 0;
};
