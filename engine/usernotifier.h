#pragma once

#include "products/renderers.h"

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

    // The same for the hex string of code; one who only prints it need not
    // hold the whole string (four bytes a byte) in memory.
    virtual void ShowHexForCopy(const QString &title, const QString &prompt, QByteArrayView code) {
        ShowTextForCopy(title, prompt, HexString(code));
    }

    // A failure: what went wrong and why.
    virtual void ShowError(const QString &title, const QString &text) = 0;
};
