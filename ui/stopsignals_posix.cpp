#include "stopsignals.h"

#include "frmmain.h"

#include <QApplication>

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

sigset_t StopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    return stops;
}

}  // namespace

void PrepareStopSignals() {
    // A full disk or a file-size limit must fail a write, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Blocked in every thread, so that a signal waits for the thread below.
    const sigset_t stops = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

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
        // A window that has not closed by then is stuck where no event reaches it.
        std::this_thread::sleep_for(std::chrono::seconds(5));
        _exit(128 + received);
    }).detach();
}
