// Orvandine Converter: the window.

#include "frmmain.h"
#include "translations.h"

#include <QApplication>
#include <QIcon>

#include <csignal>

int main(int argc, char *argv[]) {
    // A full disk or a file-size limit must fail a write, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvandine-converter"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);
    InstallRussianTranslations(app);

    frmMain window;
    window.show();
    return app.exec();
}
