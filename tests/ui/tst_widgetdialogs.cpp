// The real boxes and dialogs, driven as a user would: what they show, which
// buttons and keys they answer, what they return.
#include "asmedit.h"
#include "frmmain.h"
#include "programsetup.h"
#include "testsupport.h"
#include "textentrybox.h"
#include "widgetdialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>

#include <functional>

namespace {

// Runs the action on the next modal box once it is up (the box's exec() blocks),
// then closes the box if the action left it open, so that a failed check fails at once.
void OnNextModal(std::function<void(QWidget *)> action) {
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal) return;
        timer->deleteLater();
        timer->stop();
        action(modal);
        if (modal && modal->isVisible()) modal->hide();
    });
    timer->start();
}

void Click(QWidget *box, const QString &text) {
    for (QAbstractButton *button : box->findChildren<QAbstractButton *>()) {
        if (button->text().remove(u'&') == text) return button->click();
    }
    QFAIL(qPrintable(u"no button "_s + text));
}

}  // namespace

class TestWidgetDialogs : public QObject {
    Q_OBJECT

    WidgetDialogs dialogs_{nullptr};

private slots:
    void initTestCase() {
        SetUpWindowProgram(static_cast<QApplication &>(*QCoreApplication::instance()));
        // The file dialogs' sizes and dates, whether or not the system has a Russian locale. (Windows
        // gives its user's own locale as the system's: the program cannot choose it there.)
#ifndef Q_OS_WIN
        QCOMPARE(QLocale::system().toString(QDateTime(QDate(2026, 12, 7), QTime(9, 5)), QLocale::ShortFormat),
                 u"07.12.2026 09:05"_s);
        QCOMPARE(QLocale::system().formattedDataSize(1536), u"1,50 KiB"_s);
#endif
        QCOMPARE(QLocale().language(), QLocale::Russian);
    }

    // A question offers Yes and No in Russian and nothing else; however long a report, its box fits
    // the screen and keeps the whole text.
    void boxes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("click");  // "Да" or "Нет": a question; "OK": an error box
        QString lines;
        for (int i = 1; i <= 300; ++i) lines += u"Новый файл:%1: error: parser: instruction expected\r\n"_s.arg(i);
        QTest::newRow("question, yes") << u"Вы уверены?"_s << u"Да"_s;
        QTest::newRow("question, no") << u"Вы уверены?"_s << u"Нет"_s;
        QTest::newRow("300 error lines") << lines << u"OK"_s;
        QTest::newRow("a line of 20,000 characters") << QString(20000, u'x') << u"OK"_s;
    }
    void boxes() {
        QFETCH(QString, text);
        QFETCH(QString, click);
        const bool question = click != u"OK"_s;
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box && box->windowTitle() == u"Подтверждение"_s);
            QVERIFY(box->screen()->availableGeometry().contains(QRect(box->pos(), box->frameGeometry().size())));
            if (question) {
                QVERIFY(box->text() == text && box->icon() == QMessageBox::Question && box->buttons().size() == 2);
                QVERIFY(box->defaultButton() == box->button(QMessageBox::Yes) && !box->escapeButton());  // no way out
            } else {
                QCOMPARE(box->detailedText(), QString(text).replace(u"\r\n"_s, u"\n"_s));
            }
            Click(box, click);
        });
        if (question)
            QCOMPARE(dialogs_.Question(u"Подтверждение"_s, text), click == u"Да"_s);
        else
            dialogs_.ShowError(u"Подтверждение"_s, text);
    }

    // Opened, the whole string is selected: Ctrl+C copies it whole, Enter presses OK.
    void textEntryBoxHoldsTheWholeText_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("short") << 8;
        QTest::newRow("32,768 characters") << 32768;
        QTest::newRow("1 MiB as hex") << 2 * 1024 * 1024;
    }
    void textEntryBoxHoldsTheWholeText() {
        QFETCH(int, length);
        QString hex(length, u'0');
        for (int i = 0; i < length; ++i) hex[i] = QLatin1Char("0123456789ABCDEF"[i % 16]);
        QGuiApplication::clipboard()->clear();
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<TextEntryBox *>(modal);
            QVERIFY(box && box->windowTitle() == u"Создание HEX строки"_s);
            QCOMPARE(box->findChild<QLabel *>()->text(), u"В текстовом поле содержатся HEX коды байт"_s);
            QWidget *field = box->findChild<QLineEdit *>();
            if (!field) field = box->findChild<QPlainTextEdit *>();
            QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
            QCOMPARE(QGuiApplication::clipboard()->text(), hex);
            QTest::keyClick(field, Qt::Key_Return);
        });
        QCOMPARE(
            dialogs_.ShowTextForCopy(u"Создание HEX строки"_s, u"В текстовом поле содержатся HEX коды байт"_s, hex),
            hex);
    }

    // The window's own HEX box, twice: the first run's thread has ended by the second (on Windows a
    // thread that had matched a pattern crashed as it ended, just after its box came up).
    void hexBoxFromTheWindow() {
        frmMain window;
        window.textArea()->setText(u"bits 32\nnop\nret"_s);
        for (int run = 0; run < 2; ++run) {
            QString shown;
            QSignalSpy finished(&window, &frmMain::commandFinished);
            OnNextModal([&](QWidget *box) { shown = box->findChild<QLineEdit *>()->text(); });  // then closes it
            window.CreateHexString();
            QVERIFY(finished.wait(60000) && shown == u"90C3"_s);
        }
    }

    // The dialog asks nothing more: an existing name is not questioned, no extension is added.
    void fileDialogSettings() {
        QTemporaryDir dir;
        WriteAll(dir.filePath(u"exists"_s), "");
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        OnNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog && dialog->windowTitle() == u"Выберите файл"_s);
            QCOMPARE(dialog->nameFilters(), QStringList{u"Assembler Programs (*.asm)"_s});
            QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
            QVERIFY(dialog->defaultSuffix().isEmpty());
            auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
            name->setText(u"exists"_s);
            QTest::keyClick(name, Qt::Key_Return);
        });
        const QString chosen = dialogs_.SaveFileName();
        QDir::setCurrent(old);
        QCOMPARE(QFileInfo(chosen).canonicalFilePath(), QFileInfo(dir.filePath(u"exists"_s)).canonicalFilePath());
    }
};

int main(int argc, char *argv[]) {
    PrepareRussianLocale();  // as the program's own start does
    QApplication app(argc, argv);
    TestWidgetDialogs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widgetdialogs.moc"
