// Orvandine Converter: the window.

#include "frmmain.h"
#include "programsetup.h"

#include <QApplication>

#include <csignal>

int main(int argc, char *argv[]) {
    // A full disk or a file-size limit must fail a write, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    PrepareRussianLocale();
    QApplication app(argc, argv);
    SetUpWindowProgram(app);
    frmMain window;
    window.show();
    return app.exec();
}
