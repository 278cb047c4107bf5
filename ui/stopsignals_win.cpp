#include "stopsignals.h"

#include "frmmain.h"

#include <QApplication>
#include <QSessionManager>

void PrepareStopSignals() {
    // A window program has no console and no signals to prepare for.
}

void EndOnStopSignals() {
    // Log-off and shut-down: Windows asks the program to end, and gives it
    // no time for a question.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp, [](QSessionManager &) {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *window = qobject_cast<frmMain *>(widget)) window->EndWithoutAsking();
        }
    });
}
