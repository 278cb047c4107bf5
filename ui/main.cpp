// Orvandine Converter: the window.

#include "frmmain.h"
#include "programsetup.h"
#include "stopsignals.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    PrepareStopSignals();
    PrepareRussianLocale();
    QApplication app(argc, argv);
    EndOnStopSignals();
    SetUpWindowProgram(app);
    frmMain window;
    window.show();
    return app.exec();
}
