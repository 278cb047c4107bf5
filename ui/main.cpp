// Orvandine Converter: the window.

#include "frmmain.h"
#include "programsetup.h"

#include <QApplication>

#include <pthread.h>

#include <csignal>
#include <thread>

namespace {

// Ctrl+C, termination and a closed session end the window as cleanly as Exit
// does (the run stopped, its files and the program's assembler copy removed),
// without the question nobody would answer.
sigset_t StopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    return stops;
}

// Once the application exists; the signals were blocked before any thread
// started, so that all inherit the mask and a signal waits here.
void EndOnStopSignals() {
    std::thread([stops = StopSignals()] {
        int received = 0;
        sigwait(&stops, &received);
        QMetaObject::invokeMethod(qApp, [received] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (auto *window = qobject_cast<frmMain *>(widget)) window->EndWithoutAsking();
            }
            QApplication::exit(128 + received);
        });
    }).detach();
}

}  // namespace

int main(int argc, char *argv[]) {
    // A full disk or a file-size limit must fail a write, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const sigset_t stops = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    PrepareRussianLocale();
    QApplication app(argc, argv);
    EndOnStopSignals();
    SetUpWindowProgram(app);
    frmMain window;
    window.show();
    return app.exec();
}
