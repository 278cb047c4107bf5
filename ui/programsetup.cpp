#include "programsetup.h"

#include <QApplication>
#include <QHash>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// The kinds the file dialogs name that Qt's own Russian texts leave in English.
class FileKinds : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *text, const char *, int) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
        static const QHash<QByteArray, QString> kinds{{"Folder", QStringLiteral("Папка")},
                                                      {"Drive", QStringLiteral("Диск")},
                                                      {"Shortcut", QStringLiteral("Ярлык")},
                                                      {"Unknown", QStringLiteral("Неизвестно")}};
        return kinds.value(text);
    }
};

}  // namespace

bool InstallRussianTranslations(QCoreApplication &app) {
    QCoreApplication::installTranslator(new FileKinds(&app));
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void PrepareRussianLocale() {
    // Qt reads the system's locale from these once, as the application starts;
    // the file dialogs format sizes and dates by it.
    qputenv("LC_ALL", "ru_RU.UTF-8");
}

void SetUpWindowProgram(QApplication &app) {
    QApplication::setApplicationName(QStringLiteral("orvandine-converter"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);
    InstallRussianTranslations(app);
    // Sizes, dates and kinds in the file dialogs too, whatever the system's language.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}
