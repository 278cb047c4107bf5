#include "programsetup.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallRussianTranslations(QCoreApplication &app) {
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void SetUpWindowProgram(QApplication &app) {
    QApplication::setApplicationName(QStringLiteral("orvandine-converter"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);
    InstallRussianTranslations(app);
}
