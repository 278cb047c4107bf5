// The window driven as a user drives it: menu items and shortcuts by their
// names, scripted answers to its questions and dialogs, real files, real NASM.
#include "asmedit.h"
#include "documenttitle.h"
#include "frmmain.h"
#include "geometry.h"
#include "renderers.h"
#include "scripteddialogs.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

namespace {

const QString kUntitledAsm = QStringLiteral("Новый файл.asm");

}  // namespace

class TestFrmMain : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString oldCurrent_;
    std::unique_ptr<ScopedTempFolder> temp_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<frmMain> window_;

    QString at(const QString &name) const { return work_.filePath(name); }
    frmMain &window() { return *window_; }
    QAction *action(const char *name) {
        return window_->findChild<QAction *>(QLatin1StringView(name));
    }
    void setText(const QString &text) { window_->textArea()->setText(text); }

    Outcome run(const char *name) {
        QSignalSpy finished(window_.get(), &frmMain::commandFinished);
        action(name)->trigger();
        if (!finished.wait(60000))
            return Outcome::Failed(Outcome::Failure::File, QStringLiteral("timeout"), {});
        return finished.first().first().value<Outcome>();
    }

private slots:
    void initTestCase() {
        // The offscreen platform says so for every window shown; nothing to learn from it.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (!message.contains(QLatin1StringView("propagateSizeHints")))
                    previous(type, context, message);
            });
    }

    void init() {
        oldCurrent_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_.path()));
        temp_ = std::make_unique<ScopedTempFolder>();
        dialogs_ = ScriptedDialogs();
        window_ = std::make_unique<frmMain>(&dialogs_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() {
        window_.reset();
        QCOMPARE(temp_->entries(), QStringList());  // no temporary file left, whatever happened
        temp_.reset();
        QDir::setCurrent(oldCurrent_);
        QDir(work_.path()).removeRecursively();
        QDir().mkpath(work_.path());
    }

    void startsUntitledWithTheDescribedTextArea() {
        QCOMPARE(window().windowTitle(), QStringLiteral("Orvandine Converter - Новый файл"));
        QCOMPARE(window().windowTitle().size(), 32);
        QCOMPARE(window().GetDocumentPath(), QStringLiteral("Новый файл"));
        AsmEdit *text = window().findChild<AsmEdit *>(QStringLiteral("txtAsm"));
        QVERIFY(text);
        QVERIFY(text->text().isEmpty());
        QCOMPARE(text->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(text->font().pointSize(), 9);
        QVERIFY(text->font().bold());
        QVERIFY(QFontInfo(text->font()).fixedPitch());
        QCOMPARE(text->palette().color(QPalette::Base), QColor(255, 224, 192));
        QCOMPARE(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(text->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(text->pos(), QPoint(8, 8));
        QCOMPARE(window().centralWidget()->size(), QSize(593, 502));
        QVERIFY(text->acceptDrops());
    }

    void menusAreExact() {
        QStringList menus;
        for (QAction *menu : window().menuBar()->actions())
            menus << menu->menu()->objectName() + QLatin1Char('=') + menu->text();
        QCOMPARE(menus, (QStringList{"mnuFile=Файл", "mnuProject=Проект", "mnuHelp=Справка"}));

        QStringList items;
        for (QAction *menu : window().menuBar()->actions()) {
            for (QAction *item : menu->menu()->actions()) {
                items << item->objectName() + QLatin1Char('|') +
                             (item->isSeparator() ? QStringLiteral("-") : item->text()) +
                             QLatin1Char('|') + item->shortcut().toString();
            }
        }
        QCOMPARE(items, (QStringList{
                            "mnuOpen|Открыть|Ctrl+O",
                            "mnuSave|Сохранить|Ctrl+S",
                            "mnuSaveAs|Сохранить Как|",
                            "mnuClose|Закрыть|Ctrl+X",
                            "mnuSeparator1|-|",
                            "mnuExit|Выход|Ctrl+Q",
                            "mnuCreateBIN|Создать BIN файл|Shift+F5",
                            "mnuCreateHEX|Создать HEX строку|Shift+F6",
                            "mnuCreateBAS|Создать BAS модуль|Shift+F7",
                            "mnuAbout|О программе|",
                        }));
    }

    void titleRules_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("absolute") << "/src/boot.inc";
        QTest::newRow("spaces") << "/my files/a b.asm";
        QTest::newRow("placeholder look-alike") << "/src/[*]x.asm";
    }
    void titleRules() {
        QFETCH(QString, path);
        window().SetDocumentPath(path);
        QCOMPARE(window().GetDocumentPath(), path);
        QCOMPARE(DocumentPathOf(TitleFor(path)), path);
        window().ResetDocument();
        QCOMPARE(window().windowTitle(), NewFileTitle());
    }

    void aboutBox() {
        action("mnuAbout")->trigger();
        QCOMPARE(dialogs_.shown.size(), 1);
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("О программе"));
        QVERIFY(dialogs_.shown[0].text.startsWith(
            QStringLiteral("Разработано: Zentaro Software\r\nWeb Site: ")));
    }

    void resizeRule_data() {
        QTest::addColumn<int>("outer");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("margin");
        QTest::addColumn<int>("extent");  // -1: no valid size
        QTest::newRow("width 5000") << 5000 << 120 << kWidthMarginTwips << 4630;
        QTest::newRow("height 4000") << 4000 << 120 << kHeightMarginTwips << 2930;
        QTest::newRow("exactly nothing") << 1070 << 120 << kHeightMarginTwips << 0;
        QTest::newRow("too small") << 900 << 120 << kHeightMarginTwips << -1;
    }
    void resizeRule() {
        QFETCH(int, outer);
        QFETCH(int, position);
        QFETCH(int, margin);
        QFETCH(int, extent);
        QCOMPARE(FollowingExtent(outer, position, margin).value_or(-1), extent);
    }

    void textAreaFollowsTheWindow() {
        AsmEdit *text = window().textArea();
        window().resize(400, 300);
        QTRY_COMPARE(text->width(), ToPixels(window().frameGeometry().width() * 15 - 120 - 250));
        QCOMPARE(text->height(), ToPixels(window().frameGeometry().height() * 15 - 120 - 950));
        // Too small for a valid height: the height stays, the width still follows.
        const int before = text->height();
        window().resize(200, 60);
        QTRY_COMPARE(text->width(), ToPixels(window().frameGeometry().width() * 15 - 120 - 250));
        if (window().frameGeometry().height() * 15 < 1070) QCOMPARE(text->height(), before);
    }

    // --- Saving ---------------------------------------------------------------

    void saveAsksAndWrites_data() {
        QTest::addColumn<QString>("chosen");  // empty: Save, else Save As with this name
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("written");
        QTest::newRow("save untitled, yes") << "" << true << kUntitledAsm;
        QTest::newRow("save untitled, no") << "" << false << kUntitledAsm;
        QTest::newRow("save as, no extension") << "prog" << true << "prog.asm";
        QTest::newRow("save as, upper ASM") << "PROG.ASM" << true << "PROG.ASM";
        QTest::newRow("save as, no") << "prog" << false << "prog.asm";
    }
    void saveAsksAndWrites() {
        QFETCH(QString, chosen);
        QFETCH(bool, yes);
        QFETCH(QString, written);
        setText(QStringLiteral("nop"));
        dialogs_.answers << yes;
        const QString target = chosen.isEmpty() ? written : at(written);
        if (chosen.isEmpty()) {
            action("mnuSave")->trigger();
        } else {
            dialogs_.files << at(chosen);
            action("mnuSaveAs")->trigger();
        }
        QCOMPARE(dialogs_.shown.size(), 1);
        QCOMPARE(dialogs_.shown[0].kind, QStringLiteral("question"));
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("Подтверждение сохранения"));
        QCOMPARE(dialogs_.shown[0].text,
                 QStringLiteral("Вы уверены, что хотите сохранить файл под именем '") + target +
                     QLatin1Char('\''));
        QCOMPARE(QFileInfo::exists(at(written)), yes);
        QCOMPARE(window().GetDocumentPath(), yes ? target : QStringLiteral("Новый файл"));
        if (yes) QCOMPARE(ReadAll(at(written)), QByteArray("nop\r\n"));
    }

    void saveAsCancelledDoesNothing() {
        action("mnuSaveAs")->trigger();
        QVERIFY(dialogs_.shown.isEmpty());
        QCOMPARE(QDir(work_.path()).entryList(QDir::Files), QStringList());
    }

    // Opened and saved without edits, a file keeps every byte.
    void openSaveRoundTripIsByteExact_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("savedAs");  // empty: the same bytes
        QTest::newRow("CR LF") << QByteArray("nop\r\nret\r\n") << QByteArray();
        QTest::newRow("LF") << QByteArray("nop\nret\n") << QByteArray();
        QTest::newRow("no final break gets one")
            << QByteArray("nop\r\nret") << QByteArray("nop\r\nret\r\n");
        QTest::newRow("LF, no final break") << QByteArray("nop\nret") << QByteArray("nop\nret\n");
        QTest::newRow("0x98 and Cyrillic")
            << QByteArray("; \x98 \xCF\xF0\xE8\xE2\xE5\xF2 \xA0\xAD\r\nret\r\n") << QByteArray();
        QByteArray all;
        for (int i = 0; i < 256; ++i) {
            if (i != '\r' && i != '\n') all += char(i);
        }
        QTest::newRow("every other byte") << all + "\r\n" << QByteArray();
    }
    void openSaveRoundTripIsByteExact() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, savedAs);
        const QString path = at(QStringLiteral("round.asm"));
        WriteAll(path, bytes);
        dialogs_.files << path;
        action("mnuOpen")->trigger();
        QCOMPARE(window().GetDocumentPath(), path);
        action("mnuSave")->trigger();
        QCOMPARE(ReadAll(path), savedAs.isEmpty() ? bytes : savedAs);
        action("mnuSave")->trigger();  // and again: it does not grow
        QCOMPARE(ReadAll(path), savedAs.isEmpty() ? bytes : savedAs);
    }

    void unrepresentableTextIsNotSaved() {
        const QString path = at(QStringLiteral("keep.asm"));
        WriteAll(path, "old\r\n");
        window().SetDocumentPath(path);
        setText(QStringLiteral("nop\nret ; ✓"));
        action("mnuSave")->trigger();
        QCOMPARE(dialogs_.shown.last().title, QStringLiteral("Ошибка кодировки"));
        QVERIFY(dialogs_.shown.last().text.contains(QStringLiteral("строке 2")));
        QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
        QCOMPARE(window().textArea()->text(), QStringLiteral("nop\nret ; ✓"));
    }

    void failedSaveKeepsTitleAndText() {
        dialogs_.files << at(QStringLiteral("no folder/x.asm"));
        setText(QStringLiteral("nop"));
        action("mnuSaveAs")->trigger();
        QCOMPARE(dialogs_.shown.last().title, QStringLiteral("Ошибка"));
        QVERIFY(dialogs_.shown.last().text.contains(at(QStringLiteral("no folder/x.asm"))));
        QCOMPARE(window().GetDocumentPath(), QStringLiteral("Новый файл"));
        QCOMPARE(window().textArea()->text(), QStringLiteral("nop"));
    }

    // --- Open, close, drop ----------------------------------------------------

    void openNewNameCreatesAnEmptyFile() {
        setText(QStringLiteral("old text"));
        const QString path = at(QStringLiteral("fresh.inc"));
        dialogs_.files << path;
        action("mnuOpen")->trigger();
        QVERIFY(QFileInfo(path).isFile());
        QCOMPARE(window().textArea()->text(), QString());
        QCOMPARE(window().GetDocumentPath(), path);  // no ".asm" rule on opening
        QVERIFY(dialogs_.shown.isEmpty());
    }

    void openFailureChangesNothing() {
        setText(QStringLiteral("kept"));
        dialogs_.files << work_.path();  // a folder
        action("mnuOpen")->trigger();
        QCOMPARE(dialogs_.shown.size(), 1);
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("Ошибка"));
        QCOMPARE(window().textArea()->text(), QStringLiteral("kept"));
        QCOMPARE(window().GetDocumentPath(), QStringLiteral("Новый файл"));
    }

    void closeAsks_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void closeAsks() {
        QFETCH(bool, yes);
        setText(QStringLiteral("text"));
        dialogs_.answers << yes;
        action("mnuClose")->trigger();
        QCOMPARE(dialogs_.shown.size(), 1);
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("Подтверждение закрытия файла"));
        QCOMPARE(dialogs_.shown[0].text,
                 QStringLiteral("Вы уверены, что хотите закрыть файл 'Новый файл.asm' ?"));
        QCOMPARE(window().textArea()->text(), yes ? QString() : QStringLiteral("text"));
        QVERIFY(QDir(work_.path()).entryList(QDir::Files).isEmpty());  // nothing saved
    }

    void dropRules_data() {
        QTest::addColumn<QString>("file");  // made under the work folder when relative to it
        QTest::addColumn<bool>("accepted");
        QTest::newRow("local .asm") << "@/drop.asm" << true;
        QTest::newRow("upper .ASM refused") << "@/DROP.ASM" << false;
        QTest::newRow("other extension") << "@/drop.txt" << false;
        QTest::newRow("relative path") << "drop.asm" << false;
        QTest::newRow("remote") << "smb://server/share/drop.asm" << false;
    }
    void dropRules() {
        QFETCH(QString, file);
        QFETCH(bool, accepted);
        file.replace(QLatin1Char('@'), work_.path());
        WriteAll(file.startsWith(QLatin1Char('/')) ? file : at(QStringLiteral("drop.asm")),
                 "ret\n");
        setText(QStringLiteral("before"));
        window().DropFiles({file, at(QStringLiteral("second.asm"))});
        QCOMPARE(window().textArea()->text(),
                 accepted ? QStringLiteral("ret\n") : QStringLiteral("before"));
        QCOMPARE(window().GetDocumentPath(), accepted ? file : QStringLiteral("Новый файл"));
        QVERIFY(dialogs_.shown.isEmpty());
    }

    void failedDropChangesNothing() {
        setText(QStringLiteral("before"));
        const QString missing = at(QStringLiteral("gone.asm"));
        window().DropFiles({missing});
        QCOMPARE(dialogs_.shown.size(), 1);
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("Ошибка"));
        QVERIFY(dialogs_.shown[0].text.contains(missing));
        QCOMPARE(window().GetDocumentPath(), QStringLiteral("Новый файл"));
        QCOMPARE(window().textArea()->text(), QStringLiteral("before"));
        QVERIFY(!QFileInfo::exists(missing));  // a drop creates nothing
    }

    void realDropEventReachesTheWindow() {
        const QString file = at(QStringLiteral("real drop.asm"));
        WriteAll(file, "nop\n");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        QWidget *viewport = window().textArea()->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QCOMPARE(window().GetDocumentPath(), file);
        QCOMPARE(window().textArea()->text(), QStringLiteral("nop\n"));
    }

    // --- Project commands -----------------------------------------------------

    void productsFromTheWindow_data() {
        QTest::addColumn<QString>("document");  // empty: untitled
        QTest::newRow("untitled") << "";
        QTest::newRow("titled") << "src/demo.asm";
    }
    void productsFromTheWindow() {
        QFETCH(QString, document);
        QString base = QStringLiteral("Новый файл");
        if (!document.isEmpty()) {
            QDir().mkpath(at(QStringLiteral("src")));
            window().SetDocumentPath(at(document));
            base = at(QStringLiteral("src/demo"));
        }
        setText(QStringLiteral("nop\nret"));
        QVERIFY(run("mnuCreateBIN").ok());
        QCOMPARE(ReadAll(base + QStringLiteral(".bin")), QByteArray("\x90\xC3"));
        QVERIFY(run("mnuCreateHEX").ok());
        QVERIFY(run("mnuCreateBAS").ok());
        QCOMPARE(ReadAll(base + QStringLiteral(".bas")),
                 ModuleText(QStringLiteral("90C3")).toLatin1());

        QCOMPARE(dialogs_.shown.size(), 3);
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("Создание BIN файла"));
        QCOMPARE(dialogs_.shown[1].kind, QStringLiteral("copy"));
        QCOMPARE(dialogs_.shown[1].title, QStringLiteral("Создание HEX строки"));
        QCOMPARE(dialogs_.prompts,
                 QStringList{QStringLiteral("В текстовом поле содержатся HEX коды байт")});
        QCOMPARE(dialogs_.shown[1].text, QStringLiteral("90C3"));
        QCOMPARE(dialogs_.shown[2].title, QStringLiteral("Создание BAS файла"));
        const QString target =
            document.isEmpty() ? QStringLiteral("Новый файл.bas") : base + ".bas";
        QVERIFY(
            dialogs_.shown[2].text.startsWith("Файл модуля \"" + target + "\" создан успешно\r\n"));
        // None of them touches the text or the title.
        QCOMPARE(window().textArea()->text(), QStringLiteral("nop\nret"));
        QCOMPARE(window().GetDocumentPath(),
                 document.isEmpty() ? QStringLiteral("Новый файл") : at(document));
    }

    void assemblyErrorMarksItsLines() {
        setText(QStringLiteral("nop\nnop\nfoo bar\nnop\nbaz qux\n"));
        const Outcome outcome = run("mnuCreateBAS");
        QCOMPARE(outcome.failure, Outcome::Failure::Assembly);
        QCOMPARE(dialogs_.shown.size(), 1);
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("Ошибка ассемблирования"));
        QVERIFY(dialogs_.shown[0].text.startsWith(QStringLiteral("Новый файл:3: error:")));
        AsmEdit *text = window().textArea();
        QCOMPARE(text->markedLines(), (QList<int>{3, 5}));
        QCOMPARE(text->extraSelections().size(), 2);
        QCOMPARE(text->textCursor().blockNumber(), 2);
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("Новый файл.bas"))));

        // An edit removes the marks.
        text->insertPlainText(QStringLiteral(" "));
        QVERIFY(text->markedLines().isEmpty());
        QVERIFY(text->extraSelections().isEmpty());
    }

    void successfulRunClearsMarks() {
        setText(QStringLiteral("mov eax,"));
        run("mnuCreateHEX");
        QCOMPARE(window().textArea()->markedLines(), QList<int>{1});
        window().textArea()->blockSignals(true);  // change the text without an edit signal
        window().textArea()->setText(QStringLiteral("ret"));
        window().textArea()->blockSignals(false);
        QVERIFY(run("mnuCreateHEX").ok());
        QVERIFY(window().textArea()->markedLines().isEmpty());
    }

    // A slow run shows its progress box, keeps the window usable and can be stopped.
    void slowRunCanBeCancelled() {
        setText(
            QStringLiteral("%pragma limit rep 2000000000\n%assign i 0\n%rep 1000000000\n"
                           "%assign i i+1\n%endrep\n"));
        QSignalSpy finished(window_.get(), &frmMain::commandFinished);
        action("mnuCreateBAS")->trigger();
        QVERIFY(window().isAssembling());
        for (const char *name : {"mnuOpen", "mnuSave", "mnuSaveAs", "mnuClose", "mnuCreateBIN",
                                 "mnuCreateHEX", "mnuCreateBAS"})
            QVERIFY2(!action(name)->isEnabled(), name);
        QVERIFY(action("mnuExit")->isEnabled());
        QProgressDialog *progress = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (progress = window().findChild<QProgressDialog *>(QStringLiteral("progressBox"))) &&
                progress->isVisible(),
            5000);
        QCOMPARE(progress->labelText(), QStringLiteral("Ассемблирование…"));
        QVERIFY(window().textArea()->isEnabled());  // the window answers meanwhile
        QPushButton *cancel = progress->findChild<QPushButton *>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("Отмена"));
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().value<Outcome>().failure, Outcome::Failure::Cancelled);
        QVERIFY(dialogs_.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("Новый файл.bas"))));
        QVERIFY(action("mnuCreateBAS")->isEnabled());
    }

    // --- Exit -----------------------------------------------------------------

    void exitAsks_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("yes");
        for (const char *start : {"mnuExit", "Ctrl+Q", "close button"}) {
            QTest::addRow("%s, yes", start) << start << true;
            QTest::addRow("%s, no", start) << start << false;
        }
    }
    void exitAsks() {
        QFETCH(QString, start);
        QFETCH(bool, yes);
        const QString copy = QCoreApplication::applicationDirPath() + QStringLiteral("/.nasmw");
        setText(QStringLiteral("ret"));
        QVERIFY(run("mnuCreateHEX").ok());  // the program's copy is in place
        QVERIFY(QFileInfo::exists(copy));
        dialogs_.shown.clear();
        dialogs_.answers << yes;
        if (start == QLatin1StringView("mnuExit")) {
            action("mnuExit")->trigger();
        } else if (start == QLatin1StringView("Ctrl+Q")) {
            QVERIFY(QTest::qWaitForWindowActive(window_.get()));
            QTest::keyClick(window_.get(), Qt::Key_Q, Qt::ControlModifier);
        } else {
            window().close();
        }
        QCOMPARE(dialogs_.shown.size(), 1);
        QCOMPARE(dialogs_.shown[0].title, QStringLiteral("Подтверждение"));
        QCOMPARE(dialogs_.shown[0].text,
                 QStringLiteral("Вы уверены, что хотите завершить работу?"));
        QCOMPARE(window().isVisible(), !yes);
        QCOMPARE(QFileInfo::exists(copy), !yes);
        QCOMPARE(window().textArea()->text(), QStringLiteral("ret"));
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
