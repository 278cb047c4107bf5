// The real boxes and dialogs, driven as a user would: what they show, which
// buttons they offer, what they return.
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
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

// Runs the action on the next modal box once it is up (the box's exec() blocks).
void OnNextModal(std::function<void(QWidget *)> action) {
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            timer->deleteLater();
            timer->stop();
            action(modal);
        }
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
    void initTestCase() { QVERIFY(InstallRussianTranslations(*QCoreApplication::instance())); }

    void questionOffersYesAndNoInRussian_data() {
        QTest::addColumn<QString>("click");
        QTest::newRow("yes") << u"Да"_s;
        QTest::newRow("no") << u"Нет"_s;
    }
    void questionOffersYesAndNoInRussian() {
        QFETCH(QString, click);
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box && box->windowTitle() == u"Подтверждение"_s && box->text() == u"Вы уверены?"_s);
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->buttons().size(), 2);
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            QCOMPARE(box->escapeButton(), nullptr);  // no way out but Yes or No
            Click(box, click);
        });
        QCOMPARE(dialogs_.Question(u"Подтверждение"_s, u"Вы уверены?"_s), click == u"Да"_s);
    }

    void textEntryBoxHoldsTheWholeText_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("ok");
        QTest::newRow("short, OK") << 8 << true;
        QTest::newRow("short, cancel") << 8 << false;
        QTest::newRow("1 MiB as hex, copied") << 2 * 1024 * 1024 << true;
    }
    void textEntryBoxHoldsTheWholeText() {
        QFETCH(int, length);
        QFETCH(bool, ok);
        QString hex(length, u'0');
        for (int i = 0; i < length; ++i) hex[i] = QLatin1Char("0123456789ABCDEF"[i % 16]);
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<TextEntryBox *>(modal);
            QVERIFY(box && box->windowTitle() == u"Создание HEX строки"_s);
            QCOMPARE(box->findChild<QLabel *>()->text(), u"В текстовом поле содержатся HEX коды байт"_s);
            QCOMPARE(box->contents(), hex);
            if (auto *lines = box->findChild<QPlainTextEdit *>()) {
                // Select all and copy: the clipboard gets the string whole, without breaks.
                lines->selectAll();
                lines->copy();
                QCOMPARE(QGuiApplication::clipboard()->text(), hex);
            }
            Click(box, ok ? u"OK"_s : u"Отмена"_s);
        });
        QCOMPARE(
            dialogs_.ShowTextForCopy(u"Создание HEX строки"_s, u"В текстовом поле содержатся HEX коды байт"_s, hex),
            ok ? hex : QString());
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

    // The window with its own boxes: the wiring from menu item to box and back.
    void windowUsesItsRealBoxes() {
        frmMain window;
        window.show();
        window.textArea()->setText(u"kept"_s);
        OnNextModal([](QWidget *modal) {
            QCOMPARE(modal->windowTitle(), u"Подтверждение закрытия файла"_s);
            Click(modal, u"Нет"_s);
        });
        window.findChild<QAction *>(u"mnuClose"_s)->trigger();
        QCOMPARE(window.textArea()->text(), u"kept"_s);
        OnNextModal([](QWidget *modal) { Click(modal, u"Да"_s); });
        window.close();
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestWidgetDialogs)
#include "tst_widgetdialogs.moc"
