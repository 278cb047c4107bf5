#include "programsetup.h"

#include "clibrarylocale.h"

#include <QApplication>
#include <QHash>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <clocale>

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

namespace {

// The categories the user's LC_ALL stands for besides the two below.
constexpr const char *kUsersCategoryNames[] = {"LC_CTYPE",          "LC_COLLATE",  "LC_MESSAGES",    "LC_MONETARY",
                                               "LC_ADDRESS",        "LC_NAME",     "LC_MEASUREMENT", "LC_PAPER",
                                               "LC_IDENTIFICATION", "LC_TELEPHONE"};
// Qt's file dialogs format sizes and dates by QLocale::system(), which reads
// these from the environment and formats with Qt's own data: Russian whether
// or not the system has a Russian locale installed.
constexpr const char *kRussianCategoryNames[] = {"LC_TIME", "LC_NUMERIC"};

}  // namespace

void PrepareRussianLocale() {
    // LC_ALL would outrank the Russian categories: it is spread over the
    // categories it stood for.
    const QByteArray all = qgetenv("LC_ALL");
    if (!all.isEmpty()) {
        for (const char *name : kUsersCategoryNames) qputenv(name, all);
        qunsetenv("LC_ALL");
    }
    for (const char *name : kRussianCategoryNames) qputenv(name, "ru_RU.UTF-8");
}

void SetUpWindowProgram(QApplication &app) {
    SetCLibraryLocale();
    QApplication::setApplicationName(QStringLiteral("orvandine-converter"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/orvandine-converter-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);
    InstallRussianTranslations(app);
    // Sizes, dates and kinds in the file dialogs too, whatever the system's language.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}
