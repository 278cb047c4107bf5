#pragma once

#include "usernotifier.h"

// Everything the window asks of the user besides the text itself: its boxes
// and its file dialogs. Tests put scripted answers in its place.
class Dialogs : public UserNotifier {
public:
    // A Yes/No question; true unless the answer is No.
    virtual bool Question(const QString &title, const QString &text) = 0;

    // The path chosen in the open-file dialog; empty when cancelled.
    virtual QString OpenFileName() = 0;

    // The path chosen in the save-file dialog; empty when cancelled.
    virtual QString SaveFileName() = 0;
};
