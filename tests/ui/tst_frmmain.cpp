// The window driven as a user drives it: menu items and shortcuts by their
// names, scripted answers to its questions and dialogs, real files, real NASM.
#include "asmedit.h"
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
#include <QSignalSpy>

class TestFrmMain : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString oldCurrent_;
    std::unique_ptr<ScopedTempFolder> temp_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<frmMain> window_;

    QString at(const QString &name) const { return work_.filePath(name); }
    frmMain &window() { return *window_; }
    AsmEdit *text() { return window_->textArea(); }
    QList<Shown> &shown() { return dialogs_.notes.shown; }
    QAction *action(const char *name) { return window_->findChild<QAction *>(QLatin1StringView(name)); }

    Outcome run(const char *name) {
        QSignalSpy finished(window_.get(), &frmMain::commandFinished);
        action(name)->trigger();
        if (!finished.wait(60000)) return Outcome::Failed(Outcome::Failure::File, u"timeout"_s, {});
        return finished.first().first().value<Outcome>();
    }

private slots:
    void initTestCase() {
        // The offscreen platform says so for every window shown; nothing to learn from it.
        static QtMessageHandler previous = nullptr;
        previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (!message.contains(u"propagateSizeHints"_s)) previous(type, context, message);
            });
    }
    void init() {
        oldCurrent_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_.path()));
        temp_.reset();  // the old one restores TMPDIR when it goes
        temp_ = std::make_unique<ScopedTempFolder>();
        dialogs_ = ScriptedDialogs();
        window_ = std::make_unique<frmMain>(&dialogs_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() {
        window_.reset();
        QCOMPARE(temp_->entries(), QStringList());  // no temporary file left, whatever happened
        QDir::setCurrent(oldCurrent_);
        QDir(work_.path()).removeRecursively();
        QDir().mkpath(work_.path());
    }

    void shellIsExact() {
        QCOMPARE(window().windowTitle(), u"Orvandine Converter - Новый файл"_s);
        QCOMPARE(window().GetDocumentPath(), u"Новый файл"_s);
        window().SetDocumentPath(u"/src/[*]x.asm"_s);  // not Qt's modified-mark placeholder
        QCOMPARE(window().GetDocumentPath(), u"/src/[*]x.asm"_s);

        QCOMPARE(text()->objectName(), u"txtAsm"_s);
        QCOMPARE(text()->font().family(), u"Courier New"_s);
        QVERIFY(text()->font().bold() && text()->font().pointSize() == 9);
        QVERIFY(QFontInfo(text()->font()).fixedPitch());
        QCOMPARE(text()->palette().color(QPalette::Base), QColor(255, 224, 192));
        QCOMPARE(text()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(text()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(text()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(text()->pos(), QPoint(8, 8));
        QCOMPARE(window().centralWidget()->size(), QSize(593, 502));

        QStringList items;
        for (QAction *menu : window().menuBar()->actions()) {
            items << menu->menu()->objectName() + u'=' + menu->text();
            for (QAction *item : menu->menu()->actions())
                items << item->objectName() + u'|' + (item->isSeparator() ? u"-"_s : item->text()) + u'|' +
                             item->shortcut().toString();
        }
        QCOMPARE(
            items,
            (QStringList{u"mnuFile=Файл"_s, u"mnuOpen|Открыть|Ctrl+O"_s, u"mnuSave|Сохранить|Ctrl+S"_s,
                         u"mnuSaveAs|Сохранить Как|"_s, u"mnuClose|Закрыть|Ctrl+X"_s, u"mnuSeparator1|-|"_s,
                         u"mnuExit|Выход|Ctrl+Q"_s, u"mnuProject=Проект"_s, u"mnuCreateBIN|Создать BIN файл|Shift+F5"_s,
                         u"mnuCreateHEX|Создать HEX строку|Shift+F6"_s, u"mnuCreateBAS|Создать BAS модуль|Shift+F7"_s,
                         u"mnuHelp=Справка"_s, u"mnuAbout|О программе|"_s}));

        action("mnuAbout")->trigger();
        QCOMPARE(shown()[0].title, u"О программе"_s);
        QVERIFY(shown()[0].text.startsWith(u"Разработано: Zentaro Software\r\nWeb Site: "_s));
    }

    void textAreaFollowsTheWindow_data() {
        QTest::addColumn<int>("outer");
        QTest::addColumn<int>("margin");
        QTest::addColumn<int>("extent");  // -1: not a size
        QTest::newRow("width 5000") << 5000 << kWidthMarginTwips << 4630;
        QTest::newRow("height 4000") << 4000 << kHeightMarginTwips << 2930;
        QTest::newRow("too small") << 900 << kHeightMarginTwips << -1;
    }
    void textAreaFollowsTheWindow() {
        QFETCH(int, outer);
        QFETCH(int, margin);
        QFETCH(int, extent);
        QCOMPARE(FollowingExtent(outer, 120, margin).value_or(-1), extent);
        window().resize(ToPixels(outer), ToPixels(outer));
        const QSize frame = window().frameGeometry().size();
        QTRY_COMPARE(text()->width(), ToPixels(ToTwips(frame.width()) - 120 - 250));
        if (ToTwips(frame.height()) >= 1070) QCOMPARE(text()->height(), ToPixels(ToTwips(frame.height()) - 120 - 950));
    }

    void saveAsksAndWrites_data() {
        QTest::addColumn<QString>("chosen");  // empty: Save, else Save As with this name
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("written");
        QTest::newRow("save untitled") << QString() << true << u"Новый файл.asm"_s;
        QTest::newRow("save, no") << QString() << false << u"Новый файл.asm"_s;
        QTest::newRow("save as, no extension") << u"prog"_s << true << u"prog.asm"_s;
        QTest::newRow("save as, upper ASM") << u"PROG.ASM"_s << true << u"PROG.ASM"_s;
        QTest::newRow("save as, no") << u"prog"_s << false << u"prog.asm"_s;
    }
    void saveAsksAndWrites() {
        QFETCH(QString, chosen);
        QFETCH(bool, yes);
        QFETCH(QString, written);
        text()->setText(u"nop"_s);
        dialogs_.answers << yes;
        const QString target = chosen.isEmpty() ? written : at(written);
        if (!chosen.isEmpty()) dialogs_.files << at(chosen);
        action(chosen.isEmpty() ? "mnuSave" : "mnuSaveAs")->trigger();
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].title, u"Подтверждение сохранения"_s);
        QCOMPARE(shown()[0].text, u"Вы уверены, что хотите сохранить файл под именем '"_s + target + u'\'');
        QCOMPARE(ReadAll(at(written)), yes ? QByteArray("nop\r\n") : QByteArray());
        QCOMPARE(window().GetDocumentPath(), yes ? target : u"Новый файл"_s);
    }

    // Opened and saved without edits, a file keeps every byte.
    void openSaveRoundTripIsByteExact_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("saved");  // empty: the same bytes
        QTest::newRow("CR LF") << QByteArray("nop\r\nret\r\n") << QByteArray();
        QTest::newRow("lone CR") << QByteArray("nop\rret\r\n") << QByteArray();
        QTest::newRow("mixed") << QByteArray("nop\nret\r\n") << QByteArray();
        QTest::newRow("LF") << QByteArray("nop\nret\n") << QByteArray();
        QTest::newRow("no final break") << QByteArray("nop\r\nret") << QByteArray("nop\r\nret\r\n");
        QTest::newRow("LF, no final break") << QByteArray("nop\nret") << QByteArray("nop\nret\n");
        QByteArray all;
        for (int i = 0; i < 256; ++i) {
            if (i != '\r' && i != '\n') all += char(i);  // 0x98 and the no-break space 0xA0 among them
        }
        QTest::newRow("every other byte") << all + "\r\n" << QByteArray();
    }
    void openSaveRoundTripIsByteExact() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, saved);
        const QString path = at(u"round.asm"_s);
        WriteAll(path, bytes);
        dialogs_.files << path;
        action("mnuOpen")->trigger();
        QCOMPARE(window().GetDocumentPath(), path);
        for (int time = 0; time < 2; ++time) {  // saving again does not grow it
            action("mnuSave")->trigger();
            QCOMPARE(ReadAll(path), saved.isEmpty() ? bytes : saved);
        }
    }

    // An edited text is written with the line breaks its file had.
    void editedTextKeepsTheFilesLineBreaks() {
        const QString path = at(u"lf.asm"_s);
        WriteAll(path, "nop\n");
        dialogs_.files << path;
        action("mnuOpen")->trigger();
        text()->moveCursor(QTextCursor::End);
        text()->insertPlainText(u"ret"_s);
        action("mnuSave")->trigger();
        QCOMPARE(ReadAll(path), QByteArray("nop\nret\n"));
    }

    // A failing file command shows its box and changes neither the text nor the title.
    void fileErrorsChangeNothing_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("textPart");
        QTest::newRow("save unrepresentable") << u"save"_s << u"keep.asm"_s << u"Ошибка кодировки"_s << u"строке 2"_s;
        QTest::newRow("save into no folder") << u"save"_s << u"no/x.asm"_s << u"Ошибка"_s << u"no/x.asm"_s;
        QTest::newRow("open a folder") << u"open"_s << QString() << u"Ошибка"_s << u"папка"_s;
        QTest::newRow("drop a vanished file") << u"drop"_s << u"gone.asm"_s << u"Ошибка"_s << u"gone.asm"_s;
    }
    void fileErrorsChangeNothing() {
        QFETCH(QString, command);
        QFETCH(QString, path);
        QFETCH(QString, title);
        QFETCH(QString, textPart);
        WriteAll(at(u"keep.asm"_s), "old\r\n");
        const QString source = command == u"save"_s && path == u"keep.asm"_s ? u"nop\nret ; ✓"_s : u"nop"_s;
        text()->setText(source);
        if (command == u"save"_s) {
            dialogs_.files << at(path);
            action("mnuSaveAs")->trigger();
        } else if (command == u"open"_s) {
            dialogs_.files << work_.path();
            action("mnuOpen")->trigger();
        } else {
            window().DropFiles({at(path)});
        }
        QCOMPARE(shown().last().title, title);
        QVERIFY2(shown().last().text.contains(textPart), qPrintable(shown().last().text));
        QCOMPARE(text()->text(), source);
        QCOMPARE(window().GetDocumentPath(), u"Новый файл"_s);
        QCOMPARE(ReadAll(at(u"keep.asm"_s)), QByteArray("old\r\n"));
        QVERIFY(!QFileInfo::exists(at(u"gone.asm"_s)));  // a drop creates nothing
    }

    void closeAsks_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void closeAsks() {
        QFETCH(bool, yes);
        text()->setText(u"text"_s);
        dialogs_.answers << yes;
        action("mnuClose")->trigger();
        QCOMPARE(shown()[0].title, u"Подтверждение закрытия файла"_s);
        QCOMPARE(shown()[0].text, u"Вы уверены, что хотите закрыть файл 'Новый файл.asm' ?"_s);
        QCOMPARE(text()->text(), yes ? QString() : u"text"_s);
        QVERIFY(QDir(work_.path()).entryList(QDir::Files).isEmpty());  // nothing saved
    }

    void dropRules_data() {
        QTest::addColumn<QString>("file");  // "@" stands for the work folder
        QTest::addColumn<bool>("accepted");
        QTest::newRow("local .asm") << u"@/drop.asm"_s << true;
        QTest::newRow("upper .ASM") << u"@/DROP.ASM"_s << false;
        QTest::newRow("relative path") << u"drop.asm"_s << false;
        QTest::newRow("remote") << u"smb://server/share/drop.asm"_s << false;
    }
    void dropRules() {
        QFETCH(QString, file);
        QFETCH(bool, accepted);
        file.replace(u'@', work_.path());
        WriteAll(file.startsWith(u'/') ? file : at(u"drop.asm"_s), "ret\n");
        text()->setText(u"before"_s);
        window().DropFiles({file, at(u"second.asm"_s)});
        QCOMPARE(text()->text(), accepted ? u"ret\n"_s : u"before"_s);
        QCOMPARE(window().GetDocumentPath(), accepted ? file : u"Новый файл"_s);
        QVERIFY(shown().isEmpty());
    }

    void realDropEventReachesTheWindow() {
        WriteAll(at(u"real drop.asm"_s), "nop\n");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(at(u"real drop.asm"_s))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(text()->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(text()->viewport(), &drop);
        QCOMPARE(window().GetDocumentPath(), at(u"real drop.asm"_s));
    }

    void productsFromTheWindow_data() {
        QTest::addColumn<QString>("document");  // empty: untitled
        QTest::newRow("untitled") << QString();
        QTest::newRow("titled") << u"src/demo.asm"_s;
    }
    void productsFromTheWindow() {
        QFETCH(QString, document);
        QString base = u"Новый файл"_s;
        if (!document.isEmpty()) {
            QDir().mkpath(at(u"src"_s));
            window().SetDocumentPath(at(document));
            base = at(u"src/demo"_s);
        }
        text()->setText(u"nop\nret"_s);
        QVERIFY(run("mnuCreateBIN").ok() && run("mnuCreateHEX").ok() && run("mnuCreateBAS").ok());
        const QDir work(work_.path());
        QCOMPARE(ReadAll(work.absoluteFilePath(base + u".bin"_s)), QByteArray("\x90\xC3"));
        QCOMPARE(ReadAll(work.absoluteFilePath(base + u".bas"_s)), ModuleText(u"90C3"_s).toLatin1());
        QCOMPARE(shown().size(), 3);
        QCOMPARE(shown()[0].title, u"Создание BIN файла"_s);
        QCOMPARE(shown()[1].title, u"Создание HEX строки"_s);
        QCOMPARE(shown()[1].text, u"90C3"_s);
        QCOMPARE(dialogs_.notes.prompts, QStringList{u"В текстовом поле содержатся HEX коды байт"_s});
        QCOMPARE(shown()[2].title, u"Создание BAS файла"_s);
        QVERIFY(shown()[2].text.startsWith(u"Файл модуля \""_s + base + u".bas\" создан успешно\r\n"_s));
        QCOMPARE(text()->text(), u"nop\nret"_s);  // neither the text nor the title changes
        QCOMPARE(window().GetDocumentPath(), document.isEmpty() ? u"Новый файл"_s : at(document));
    }

    void assemblyErrorMarksItsLines() {
        text()->setText(u"nop\nnop\nfoo bar\nnop\nbaz qux\n"_s);
        QCOMPARE(run("mnuCreateBAS").failure, Outcome::Failure::Assembly);
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].title, u"Ошибка ассемблирования"_s);
        QVERIFY(shown()[0].text.startsWith(u"Новый файл:3: error:"_s));
        QCOMPARE(text()->markedLines(), (QList<int>{3, 5}));
        QCOMPARE(text()->extraSelections().size(), 2);
        QCOMPARE(text()->textCursor().blockNumber(), 2);
        QVERIFY(!QFileInfo::exists(at(u"Новый файл.bas"_s)));
        text()->insertPlainText(u" "_s);  // an edit removes the marks
        QVERIFY(text()->extraSelections().isEmpty());

        QCOMPARE(run("mnuCreateHEX").failure, Outcome::Failure::Assembly);
        text()->blockSignals(true);  // change the text without an edit
        text()->setText(u"ret"_s);
        text()->blockSignals(false);
        QVERIFY(run("mnuCreateHEX").ok());  // a run that succeeds removes them too
        QVERIFY(text()->markedLines().isEmpty());
    }

    // A slow run shows its progress box, keeps the window answering, and can be stopped.
    void slowRunCanBeCancelled() {
        text()->setText(u"%pragma limit rep 2000000000\n%assign i 0\n%rep 1000000000\n%assign i i+1\n%endrep\n"_s);
        QSignalSpy finished(window_.get(), &frmMain::commandFinished);
        action("mnuCreateBAS")->trigger();
        for (const char *name :
             {"mnuOpen", "mnuSave", "mnuSaveAs", "mnuClose", "mnuCreateBIN", "mnuCreateHEX", "mnuCreateBAS"})
            QVERIFY2(!action(name)->isEnabled(), name);
        QVERIFY(action("mnuExit")->isEnabled());
        QProgressDialog *progress = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (progress = window().findChild<QProgressDialog *>(u"progressBox"_s)) && progress->isVisible(), 5000);
        QCOMPARE(progress->labelText(), u"Ассемблирование…"_s);
        QPushButton *cancel = progress->findChild<QPushButton *>();
        QCOMPARE(cancel->text(), u"Отмена"_s);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().value<Outcome>().failure, Outcome::Failure::Cancelled);
        QVERIFY(shown().isEmpty());
        QVERIFY(!QFileInfo::exists(at(u"Новый файл.bas"_s)));
        QVERIFY(action("mnuCreateBAS")->isEnabled());
    }

    // In the text area Ctrl+X keeps its editing meaning: it cuts, and asks nothing.
    void ctrlXInTheTextAreaCuts() {
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        text()->setText(u"cut me"_s);
        text()->setFocus();
        text()->selectAll();
        QTest::keyClick(text(), Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(text()->text(), QString());
        QVERIFY(shown().isEmpty());
    }

    void exitAsks_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("yes");
        for (const char *start : {"mnuExit", "Ctrl+Q", "close button"}) {
            QTest::addRow("%s, yes", start) << QString::fromLatin1(start) << true;
            QTest::addRow("%s, no", start) << QString::fromLatin1(start) << false;
        }
    }
    void exitAsks() {
        QFETCH(QString, start);
        QFETCH(bool, yes);
        const QString copy = QCoreApplication::applicationDirPath() + u"/.nasmw"_s;
        text()->setText(u"ret"_s);
        QVERIFY(run("mnuCreateHEX").ok());  // the program's copy is in place
        QVERIFY(QFileInfo::exists(copy));
        shown().clear();
        dialogs_.answers << yes;
        if (start == u"mnuExit"_s) {
            action("mnuExit")->trigger();
        } else if (start == u"Ctrl+Q"_s) {
            QVERIFY(QTest::qWaitForWindowActive(window_.get()));
            QTest::keyClick(window_.get(), Qt::Key_Q, Qt::ControlModifier);
        } else {
            window().close();
        }
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].title, u"Подтверждение"_s);
        QCOMPARE(shown()[0].text, u"Вы уверены, что хотите завершить работу?"_s);
        QCOMPARE(window().isVisible(), !yes);
        QCOMPARE(QFileInfo::exists(copy), !yes);
        QCOMPARE(text()->text(), u"ret"_s);
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
