// The real boxes and dialogs, driven as a user would: what they show, which
// buttons they offer, what they return.
#include "asmedit.h"
#include "frmmain.h"
#include "programsetup.h"
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
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs the action on the next modal box once it is up (the box's exec() blocks).
void OnNextModal(std::function<void(QWidget *)> action) {
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

QAbstractButton *ButtonWithText(QWidget *box, const QString &text) {
    for (QAbstractButton *button : box->findChildren<QAbstractButton *>()) {
        if (button->text().remove(QLatin1Char('&')) == text) return button;
    }
    return nullptr;
}

}  // namespace

class TestWidgetDialogs : public QObject {
    Q_OBJECT

    WidgetDialogs dialogs_{nullptr};

private slots:
    void initTestCase() {
        QVERIFY(InstallRussianTranslations(*QCoreApplication::instance()));
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (!message.contains(QLatin1StringView("propagateSizeHints")))
                    previous(type, context, message);
            });
    }

    void questionOffersYesAndNoInRussian_data() {
        QTest::addColumn<QString>("click");
        QTest::addColumn<bool>("result");
        QTest::newRow("yes") << "Да" << true;
        QTest::newRow("no") << "Нет" << false;
    }
    void questionOffersYesAndNoInRussian() {
        QFETCH(QString, click);
        QFETCH(bool, result);
        bool checked = false;
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("Подтверждение"));
            QCOMPARE(box->text(), QStringLiteral("Вы уверены?"));
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->buttons().size(), 2);
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            QCOMPARE(box->escapeButton(), nullptr);  // no way out but Yes or No
            QAbstractButton *button = ButtonWithText(box, click);
            QVERIFY(button);
            checked = true;
            button->click();
        });
        QCOMPARE(dialogs_.Question(QStringLiteral("Подтверждение"), QStringLiteral("Вы уверены?")),
                 result);
        QVERIFY(checked);
    }

    void informationShowsLinesAndAnOkButton() {
        bool checked = false;
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("О программе"));
            QCOMPARE(box->text(), QStringLiteral("first\nsecond"));
            QCOMPARE(box->icon(), QMessageBox::Information);
            QCOMPARE(box->buttons().size(), 1);
            checked = true;
            box->button(QMessageBox::Ok)->click();
        });
        dialogs_.ShowInformation(QStringLiteral("О программе"), QStringLiteral("first\r\nsecond"));
        QVERIFY(checked);
    }

    void textEntryBox_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("ok");
        QTest::newRow("short, OK") << 8 << true;
        QTest::newRow("short, cancel") << 8 << false;
        QTest::newRow("over a line edit's default cap") << 40000 << true;
        QTest::newRow("1 MiB of bytes as hex") << 2 * 1024 * 1024 << true;
    }
    void textEntryBox() {
        QFETCH(int, length);
        QFETCH(bool, ok);
        QString hex;
        for (int i = 0; i < length; ++i) hex += QLatin1Char("0123456789ABCDEF"[i % 16]);
        bool checked = false;
        OnNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<TextEntryBox *>(modal);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("Создание HEX строки"));
            QVERIFY(box->findChild<QLabel *>()->text() ==
                    QStringLiteral("В текстовом поле содержатся HEX коды байт"));
            QCOMPARE(box->contents(), hex);
            if (auto *line = box->findChild<QLineEdit *>()) {
                QCOMPARE(line->text(), hex);
            } else {
                // Select all and copy: the clipboard gets the string whole, without breaks.
                auto *lines = box->findChild<QPlainTextEdit *>();
                QVERIFY(lines);
                lines->selectAll();
                lines->copy();
                QCOMPARE(QGuiApplication::clipboard()->text(), hex);
            }
            checked = true;
            ButtonWithText(box, ok ? QStringLiteral("OK") : QStringLiteral("Отмена"))->click();
        });
        const QString returned = dialogs_.ShowTextForCopy(
            QStringLiteral("Создание HEX строки"),
            QStringLiteral("В текстовом поле содержатся HEX коды байт"), hex);
        QVERIFY(checked);
        QCOMPARE(returned, ok ? hex : QString());
    }

    // The dialog asks nothing more: a new name is accepted, an existing one is
    // not questioned, and no extension is added.
    void fileDialogSettings_data() {
        QTest::addColumn<bool>("forSaving");
        QTest::addColumn<QString>("name");
        QTest::newRow("open a new name") << false << "new";
        QTest::newRow("save over an existing file") << true << "exists.asm";
    }
    void fileDialogSettings() {
        QFETCH(bool, forSaving);
        QFETCH(QString, name);
        QTemporaryDir dir;
        QFile(dir.filePath(QStringLiteral("exists.asm"))).open(QIODevice::WriteOnly);
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        bool checked = false;
        OnNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Выберите файл"));
            QCOMPARE(dialog->nameFilters(),
                     QStringList{QStringLiteral("Assembler Programs (*.asm)")});
            QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
            QVERIFY(dialog->defaultSuffix().isEmpty());
            QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
            checked = true;
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(name);
            QTest::keyClick(dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")),
                            Qt::Key_Return);
        });
        const QString chosen = forSaving ? dialogs_.SaveFileName() : dialogs_.OpenFileName();
        QDir::setCurrent(old);
        QVERIFY(checked);
        QCOMPARE(QFileInfo(chosen).fileName(), name);
        QCOMPARE(QDir::cleanPath(QFileInfo(chosen).absolutePath()),
                 QDir(dir.path()).canonicalPath());
    }

    // The window with its own boxes: the wiring from menu item to box and back.
    void windowUsesItsRealBoxes() {
        frmMain window;
        window.show();
        window.textArea()->setText(QStringLiteral("kept"));
        OnNextModal([](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("Подтверждение закрытия файла"));
            ButtonWithText(box, QStringLiteral("Нет"))->click();
        });
        window.findChild<QAction *>(QStringLiteral("mnuClose"))->trigger();
        QCOMPARE(window.textArea()->text(), QStringLiteral("kept"));

        OnNextModal([](QWidget *modal) { ButtonWithText(modal, QStringLiteral("Да"))->click(); });
        window.close();
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestWidgetDialogs)
#include "tst_widgetdialogs.moc"
