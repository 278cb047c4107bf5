// The window driven as a user drives it: menu items, keys and drops, scripted
// answers to its questions and dialogs, real files, real NASM.
#include "asmedit.h"
#include "dialogs.h"
#include "frmmain.h"
#include "geometry.h"
#include "products/renderers.h"
#include "system/platform.h"
#include "testsupport.h"
#include "trial/callparams.h"
#include "trial/emulator.h"
#include "trialbox.h"

#include <QElapsedTimer>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QQueue>
#include <QSignalSpy>
#include <QWindow>

#include <functional>

namespace {

// Answers the window's questions and dialogs from a script, and records what it showed.
class ScriptedDialogs : public Dialogs {
public:
    void ShowInformation(const QString &title, const QString &text) override { Note(u"info"_s, title, text); }
    QString ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) override {
        notes.prompts << prompt;
        return Note(u"copy"_s, title, text), text;
    }
    void ShowError(const QString &title, const QString &text) override { Note(u"error"_s, title, text); }
    bool Question(const QString &title, const QString &text) override {
        Note(u"question"_s, title, text);
        return answers.isEmpty() || answers.dequeue();
    }
    QString OpenFileName() override { return files.isEmpty() ? QString() : files.dequeue(); }
    QString SaveFileName() override { return OpenFileName(); }

    QQueue<bool> answers;          // Yes when empty
    QQueue<QString> files;         // cancelled when empty
    std::function<void()> during;  // runs once, while the next box is up
    RecordingNotifier notes;

private:
    void Note(const QString &kind, const QString &title, const QString &text) {
        notes.shown.push_back({kind, title, text});
        if (during) std::exchange(during, {})();
    }
};

const QString kUntitled = u"Новый файл"_s;
const QString kSlowSource = u"%pragma limit rep 2000000000\n%rep 1000000000\n%assign i 1\n%endrep\n"_s;

// A file command: f.asm opened first (when on disk), text typed, then saved.
struct FileRow {
    QByteArray onDisk;  // f.asm before; null: not there, and nothing is opened
    QString typed;      // appended; "↵" is Shift+Enter
    QString command;    // "save", "save as NAME", "close", "Ctrl+X" or "cut" (Ctrl+X with all selected)
    bool yes;
    QString written;   // the file the question names
    QByteArray bytes;  // what it holds afterwards; null: it does not exist
    QString box;       // the box shown after the question; empty: none
};

// A text loaded: opened, dropped or pasted, and what becomes of it.
struct LoadRow {
    QString how;       // "open", "drop" or "paste"
    QString name;      // in the work folder; "@" before an address dropped as it is
    QByteArray bytes;  // its content; null: no such file
    QString refusal;   // part of the error box; "-": refused without a box; empty: loaded
};

}  // namespace
Q_DECLARE_METATYPE(FileRow)
Q_DECLARE_METATYPE(LoadRow)

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
    QProgressDialog *progress() { return window_->findChild<QProgressDialog *>(u"progressBox"_s); }
    void open(const QString &path) {
        dialogs_.files << path;
        action("mnuOpen")->trigger();
    }

    Outcome run(const char *name) {
        QSignalSpy finished(window_.get(), &frmMain::commandFinished);
        action(name)->trigger();
        if (!finished.wait(60000)) return Outcome::Failed(Outcome::Failure::File, u"timeout"_s, {});
        return finished.first().first().value<Outcome>();
    }

private slots:
    void init() {
        oldCurrent_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_.path()));
        temp_.reset();  // the old one restores TMPDIR when it goes
        temp_ = std::make_unique<ScopedTempFolder>();
        dialogs_ = ScriptedDialogs();
        window_ = std::make_unique<frmMain>(&dialogs_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }
    void cleanup() {
        window_.reset();
        QCOMPARE(temp_->entries(), QStringList());  // no temporary file left, whatever happened
        QDir::setCurrent(oldCurrent_);
        QDir(work_.path()).removeRecursively();
        QDir().mkpath(work_.path());
    }

    void shellIsExact() {
        QCOMPARE(window().windowHandle()->title(), u"Orvandine Converter - Новый файл"_s);
        window().SetDocumentPath(u"/src/[*]x.asm"_s);  // not Qt's modified-mark placeholder
        QCOMPARE(window().windowHandle()->title(), u"Orvandine Converter - /src/[*]x.asm"_s);
        const QFont font = text()->font();
        QVERIFY(font.family() == u"Courier New"_s && font.bold() && font.pointSize() == 9);
        QVERIFY(QFontInfo(font).fixedPitch() && text()->objectName() == u"txtAsm"_s);
        QCOMPARE(text()->palette().color(QPalette::Base), QColor(255, 224, 192));
        QCOMPARE(text()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(text()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(text()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(QRect(text()->pos(), window().centralWidget()->size()), QRect(8, 8, 593, 502));
        // The text area follows the outer size; a size too small for it leaves it as it was.
        QCOMPARE(FollowingExtent(5000, 120, kWidthMarginTwips), 4630);
        QCOMPARE(FollowingExtent(4000, 120, kHeightMarginTwips), 2930);
        QVERIFY(!FollowingExtent(900, 120, kHeightMarginTwips));
        window().resize(ToPixels(5000), ToPixels(4000));
        const auto follows = [&](int outer, int margin) { return ToPixels(ToTwips(outer) - 120 - margin); };
        QTRY_COMPARE(text()->size(), QSize(follows(window().frameGeometry().width(), 250),
                                           follows(window().frameGeometry().height(), 950)));

        QStringList items;
        for (QAction *menu : window().menuBar()->actions()) {
            items << menu->menu()->objectName() + u'=' + menu->text();
            for (QAction *item : menu->menu()->actions())
                items << item->objectName() + u'|' + (item->isSeparator() ? u"-"_s : item->text()) + u'|' +
                             item->shortcut().toString();
        }
        QCOMPARE(
            items.join(u", "_s),
            u"mnuFile=Файл, mnuOpen|Открыть|Ctrl+O, mnuSave|Сохранить|Ctrl+S, mnuSaveAs|Сохранить Как|, "
            "mnuClose|Закрыть|Ctrl+X, mnuSeparator1|-|, mnuExit|Выход|Ctrl+Q, mnuProject=Проект, "
            "mnuCreateBIN|Создать BIN файл|Shift+F5, mnuCreateHEX|Создать HEX строку|Shift+F6, "
            "mnuCreateBAS|Создать BAS модуль|Shift+F7, mnuCreateVBA7|Создать модуль VBA7|Shift+F9, mnuSeparator2|-|, "
            "mnuTryCall|Проверить вызов…|Shift+F8, "
            "mnuHelp=Справка, mnuAbout|О программе|"_s);
        action("mnuAbout")->trigger();
        QCOMPARE(shown()[0].title, u"О программе"_s);
        QVERIFY(shown()[0].text.startsWith(u"Разработано: Zentaro Software\r\nWeb Site: "_s));
    }

    void fileCommands_data() {
        QTest::addColumn<FileRow>("row");
        const QString untitled = kUntitled + u".asm"_s;
        QTest::newRow("save untitled") << FileRow{{}, u"nop"_s, u"save"_s, true, untitled, "nop\r\n", {}};
        QTest::newRow("save as, no extension")
            << FileRow{{}, u"nop"_s, u"save as prog"_s, true, u"prog.asm"_s, "nop\r\n", {}};
        QTest::newRow("save as, no") << FileRow{{}, u"nop"_s, u"save as prog"_s, false, u"prog.asm"_s, {}, {}};
        // Saved without edits, a file keeps every byte it had.
        for (const auto &[name, bytes] :
             {std::pair{"CR LF", "nop\r\nret\r\n"}, {"lone CR", "nop\rret\r\n"}, {"LF", "nop\nret\n"}})
            QTest::newRow(name) << FileRow{bytes, {}, u"save"_s, true, u"f.asm"_s, bytes, {}};
        QTest::newRow("no final break") << FileRow{"nop\r\nret", {}, u"save"_s, true, u"f.asm"_s, "nop\r\nret\r\n", {}};
        QByteArray all;
        for (int i = 0; i < 256; ++i) {
            if (i != '\r' && i != '\n') all += char(i);  // 0x98 and the no-break space 0xA0 among them
        }
        QTest::newRow("every other byte") << FileRow{all + "\r\n", {}, u"save"_s, true, u"f.asm"_s, all + "\r\n", {}};
        // Edited, it keeps its line breaks; typed characters are written as they are.
        QTest::newRow("edited LF") << FileRow{"nop\n", u"ret"_s, u"save"_s, true, u"f.asm"_s, "nop\nret\n", {}};
        QTest::newRow("no-break space") << FileRow{"a\r\n",    u"\u00A0"_s,     u"save"_s, true,
                                                   u"f.asm"_s, "a\r\n\xA0\r\n", {}};
        QTest::newRow("Shift+Enter") << FileRow{{}, u"a↵b"_s, u"save"_s, true, untitled, "a\r\nb\r\n", {}};
        // A failed save shows its box and changes nothing.
        QTest::newRow("unrepresentable") << FileRow{"old\r\n", u"\nret ; ✓"_s,       u"save"_s, true, u"f.asm"_s,
                                                    "old\r\n", u"Ошибка кодировки"_s};
        QTest::newRow("into no folder") << FileRow{{}, u"nop"_s,   u"save as no/x.asm"_s, true, u"no/x.asm"_s,
                                                   {}, u"Ошибка"_s};
        // Close asks, empties the text, and the next document starts afresh (CR LF, only its own text).
        // Ctrl+X is Close too, unless text is selected: then it cuts.
        QTest::newRow("close an LF file") << FileRow{"nop\n", {}, u"close"_s, true, u"f.asm"_s, "nop\n", {}};
        QTest::newRow("close, no") << FileRow{{}, u"text"_s, u"close"_s, false, untitled, {}, {}};
        QTest::newRow("Ctrl+X closes") << FileRow{{}, u"text"_s, u"Ctrl+X"_s, true, untitled, {}, {}};
        QTest::newRow("Ctrl+X cuts a selection") << FileRow{{}, u"text"_s, u"cut"_s, true, untitled, {}, {}};
    }
    void fileCommands() {
        QFETCH(FileRow, row);
        if (!row.onDisk.isNull()) {
            WriteAll(at(u"f.asm"_s), row.onDisk);
            open(at(u"f.asm"_s));
        }
        text()->moveCursor(QTextCursor::End);
        for (const QChar c : row.typed)
            c == u'↵' ? QTest::keyClick(text(), Qt::Key_Return, Qt::ShiftModifier) : text()->insertPlainText(c);
        const QString before = window().GetDocumentPath();
        const QString target = row.written.startsWith(kUntitled) ? row.written : at(row.written);
        const bool closing = !row.command.startsWith(u"save"_s), done = row.yes && row.box.isEmpty();
        if (row.command.startsWith(u"save as "_s)) dialogs_.files << at(row.command.mid(8));
        dialogs_.answers << row.yes;
        if (row.command == u"cut"_s) text()->selectAll();
        if (row.command == u"Ctrl+X"_s || row.command == u"cut"_s)
            QTest::keyClick(text(), Qt::Key_X, Qt::ControlModifier);
        else
            action(row.command == u"save"_s ? "mnuSave" : closing ? "mnuClose" : "mnuSaveAs")->trigger();
        if (row.command == u"cut"_s)
            QVERIFY(shown().isEmpty() && QGuiApplication::clipboard()->text() == row.typed);
        else if (closing)
            QCOMPARE(shown().value(0).title + shown().value(0).text,
                     u"Подтверждение закрытия файлаВы уверены, что хотите закрыть файл '"_s + target + u"' ?"_s);
        else
            QCOMPARE(shown().value(0).title + shown().value(0).text,
                     u"Подтверждение сохраненияВы уверены, что хотите сохранить файл под именем '"_s + target + u'\'');
        QCOMPARE(shown().size() > 1 ? shown()[1].title : QString(), row.box);
        if (done && !closing) action("mnuSave")->trigger();  // saving again does not grow it
        QCOMPARE(QFileInfo::exists(at(row.written)), !row.bytes.isNull());
        QCOMPARE(ReadAll(at(row.written)), row.bytes);
        QCOMPARE(window().GetDocumentPath(), !done ? before : closing ? kUntitled : target);
        QCOMPARE(text()->text().isEmpty(), closing && done);
        if (!closing || !done) return;
        text()->insertPlainText(u"ret"_s);
        action("mnuSave")->trigger();
        QCOMPARE(ReadAll(at(u"Новый файл.asm"_s)), QByteArray("ret\r\n"));
    }

    void loading_data() {
        QTest::addColumn<LoadRow>("row");
        const QByteArray longLine = QByteArray(40000, 'A') + "\r\n";
        QTest::newRow("open") << LoadRow{u"open"_s, u"a b.asm"_s, "nop\r\n", {}};
        QTest::newRow("open a folder") << LoadRow{u"open"_s, u"."_s, {}, u"папка"_s};
        QTest::newRow("open a line too long") << LoadRow{u"open"_s, u"long.asm"_s, longLine, u"long.asm»: строка 1"_s};
        QTest::newRow("drop") << LoadRow{u"drop"_s, u"drop.asm"_s, "ret\n", {}};
        QTest::newRow("drop .ASM") << LoadRow{u"drop"_s, u"DROP.ASM"_s, "ret\n", u"-"_s};
        QTest::newRow("drop .inc") << LoadRow{u"drop"_s, u"drop.inc"_s, "ret\n", u"-"_s};
        QTest::newRow("drop remote") << LoadRow{u"drop"_s, u"@smb://server/share/drop.asm"_s, {}, u"-"_s};
        QTest::newRow("drop relative") << LoadRow{u"drop"_s, u"@drop.asm"_s, {}, u"-"_s};
        QTest::newRow("drop a vanished file") << LoadRow{u"drop"_s, u"gone.asm"_s, {}, u"gone.asm"_s};
        QTest::newRow("paste a line too long") << LoadRow{u"paste"_s, {}, longLine, u"Текст не вставлен"_s};
    }
    void loading() {
        QFETCH(LoadRow, row);
        text()->setText(u"before"_s);
        const bool address = row.name.startsWith(u'@');
        const QString path = address ? row.name.mid(1) : at(row.name);
        if (!row.bytes.isNull() && row.how != u"paste"_s) WriteAll(path, row.bytes);
        if (row.how == u"open"_s) {
            open(path);
        } else if (row.how == u"paste"_s) {
            QGuiApplication::clipboard()->setText(QString::fromLatin1(row.bytes));
            text()->moveCursor(QTextCursor::End);
            text()->paste();
        } else {
            QMimeData data;
            data.setUrls({address ? QUrl(path) : QUrl::fromLocalFile(path), QUrl::fromLocalFile(at(u"b.asm"_s))});
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(text()->viewport(), &enter);
            QCOMPARE(enter.isAccepted(), row.refusal != u"-"_s);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(text()->viewport(), &drop);  // the window keeps its own rule
        }
        const bool loaded = row.refusal.isEmpty();
        QCOMPARE(text()->text(), loaded ? QString::fromLatin1(row.bytes).replace(u"\r\n"_s, u"\n"_s) : u"before"_s);
        QCOMPARE(window().GetDocumentPath(), loaded ? path : kUntitled);
        const bool box = !loaded && row.refusal != u"-"_s;
        QCOMPARE(shown().size(), box ? 1 : 0);
        if (box)
            QVERIFY2(shown()[0].title == u"Ошибка"_s && shown()[0].text.contains(row.refusal),
                     qPrintable(shown()[0].text));
        QVERIFY(!QFileInfo::exists(at(u"gone.asm"_s)));  // a drop creates nothing
    }

    void productsFromTheWindow() {
        text()->setText(u"nop\nret"_s);
        QVERIFY(run("mnuCreateBIN").ok() && run("mnuCreateHEX").ok() && run("mnuCreateBAS").ok());
        QCOMPARE(ReadAll(at(u"Новый файл.bin"_s)), QByteArray("\x90\xC3"));
        QCOMPARE(ReadAll(at(u"Новый файл.bas"_s)), ModuleText(u"90C3"_s).toLatin1());
        QCOMPARE(shown().size(), 3);
        QCOMPARE(shown()[0].title + shown()[1].title + shown()[2].title,
                 u"Создание BIN файлаСоздание HEX строкиСоздание BAS файла"_s);
        QCOMPARE(shown()[1].text, u"90C3"_s);
        QCOMPARE(dialogs_.notes.prompts, QStringList{u"В текстовом поле содержатся HEX коды байт"_s});
        QVERIFY(shown()[2].text.startsWith(u"Файл модуля \"Новый файл.bas\" создан успешно\r\n"_s));
        QCOMPARE(text()->text() + window().GetDocumentPath(), u"nop\nretНовый файл"_s);  // neither changes
        // 16-bit code in the VBA7 module and 64-bit code in the BAS module: a warning after the report.
        shown().clear();
        QVERIFY(run("mnuCreateVBA7").ok());
        QVERIFY(ReadAll(at(u"Новый файл.vba7.bas"_s)).contains("Private Const CodeBits As Long = 16\r\n"));
        text()->setText(u"bits 64\nret"_s);
        QVERIFY(run("mnuCreateBAS").ok());
        QCOMPARE(shown().size(), 4);
        QCOMPARE(shown()[0].title + shown()[1].title + shown()[2].title + shown()[3].title,
                 u"Создание модуля VBA7ПредупреждениеСоздание BAS файлаПредупреждение"_s);
        QVERIFY(shown()[0].text.startsWith(u"Файл модуля \"Новый файл.vba7.bas\" создан успешно\r\n"_s));
        QVERIFY(shown()[1].text.contains(u"16-битный"_s) && shown()[3].text.contains(u"модуль VBA7"_s));
    }

    // The trial box calls the code as VB would; a stopped call marks its line; a bad field is refused by name.
    void trialFromTheWindow() {
        action("mnuTryCall")->trigger();
        TrialBox *box = window().trialBox();
        QVERIFY(box && box->isVisible() && box->windowTitle() == u"Проверка вызова"_s);
        const auto tryWith = [&](const QString &source, const QStringList &parameters) {
            text()->setText(source);
            box->setParameters(parameters);
            QSignalSpy finished(window_.get(), &frmMain::commandFinished);
            box->findChild<QPushButton *>(u"cmdTry"_s)->click();
            return !shown().isEmpty() || finished.wait(60000);  // a refused field starts no run
        };
        QVERIFY(tryWith(u"bits 32\nmov eax, [esp+4]\nmov eax, [eax]\nret 16"_s, {u"hex:2A000000"_s}));
        QVERIFY2(box->report().startsWith(u"EAX = 42 (&H0000002A)\n"_s), qPrintable(box->report()));
        QVERIFY(tryWith(u"bits 32\nnop\nmov eax, [0]\nret 16"_s, {}));
        QCOMPARE(text()->markedLines(), QList<int>{3});
        QVERIFY(tryWith(u"ret"_s, {u"1"_s, u"zz"_s}));
        QCOMPARE(shown().last().title, u"Проверка вызова"_s);
        QVERIFY(shown().last().text.startsWith(u"Параметр P2"_s));
        // A buffer pasted whole, up to 1 MiB.
        shown().clear();
        const QString big = u"hex:"_s + QString(2 * kMaxCallBuffer - 2, u'0') + u"2A"_s;
        QVERIFY(tryWith(u"bits 32\nmov eax, [esp+4]\nmovzx eax, byte [eax+0xFFFFF]\nret 16"_s, {big}));
        QVERIFY2(box->report().startsWith(u"EAX = 42 "_s), qPrintable(box->report().left(300)));

        // Отмена stops a long emulation at once; nothing is reported or marked.
        text()->clearMarks();
        text()->setText(u"bits 32\nnop\njmp $\n"_s);
        box->setParameters({});
        QSignalSpy finished(window_.get(), &frmMain::commandFinished);
        box->findChild<QPushButton *>(u"cmdTry"_s)->click();
        QTRY_VERIFY_WITH_TIMEOUT(progress() && progress()->isVisible(), 5000);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(progress()->findChild<QPushButton *>(), Qt::LeftButton);
        QVERIFY(finished.wait(5000));
        QVERIFY2(clock.elapsed() < 400, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(finished.first().first().value<Outcome>().failure, Outcome::Failure::Cancelled);
        QVERIFY(box->report().isEmpty() && text()->markedLines().isEmpty());

        // An emulator library cut short (on Linux it crashes the loader) is an error box; the window and its
        // text stay.
        QTemporaryDir dir;
#ifdef Q_OS_WIN
        const QString broken = QDir::toNativeSeparators(dir.filePath(u"unicorn.dll"_s)), reason = u"повреждена"_s;
        WriteAll(broken, ReadAll(DefaultUnicornLibrary()).left(200000));
#else
        const QString broken = dir.filePath(u"libunicorn.so.2"_s), reason = u"аварийно"_s;
        WriteAll(broken, ReadAll(u"/usr/lib/x86_64-linux-gnu/libunicorn.so.2"_s).left(200000));
#endif
        qputenv("ORVANDINE_EMULATOR_LIBRARY", broken.toLocal8Bit());
        QVERIFY(shown().isEmpty() && tryWith(u"bits 32\nret 16"_s, {}));
        qunsetenv("ORVANDINE_EMULATOR_LIBRARY");
        QCOMPARE(shown().last().title, u"Проверка вызова"_s);
        QVERIFY2(shown().last().text.contains(broken) && shown().last().text.contains(reason),
                 qPrintable(shown().last().text));
        QVERIFY(window().isVisible() && text()->text() == u"bits 32\nret 16"_s && box->report().isEmpty());
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

    // Exit asks first; asked during a run, its question stays on top: no progress box over it, and the
    // run's report waits for the answer. A slow run shows its progress box, which stops it.
    void exitAsks_data() {
        QTest::addColumn<QString>("source");  // of a HEX run going on meanwhile; empty: none
        QTest::addColumn<bool>("yes");
        QTest::newRow("Ctrl+Q, yes") << QString() << true;
        QTest::newRow("close button, no") << QString() << false;
        QTest::newRow("during a slow run, yes") << kSlowSource << true;
        QTest::newRow("during a slow run, no: it goes on until cancelled") << kSlowSource << false;
        QTest::newRow("a run ending meanwhile, no: its report waits") << u"ret"_s << false;
    }
    void exitAsks() {
        QFETCH(QString, source);
        QFETCH(bool, yes);
        const QString copy = platform::AppPath() + platform::HiddenAssemblerFileName();
        text()->setText(source.isEmpty() ? u"ret"_s : source);
        QSignalSpy finished(window_.get(), &frmMain::commandFinished);
        action("mnuCreateHEX")->trigger();
        if (source.isEmpty()) QVERIFY(finished.wait(60000) && QFileInfo::exists(copy));
        for (const char *name :
             {"mnuOpen", "mnuSave", "mnuSaveAs", "mnuClose", "mnuCreateBIN", "mnuCreateBAS", "mnuCreateVBA7"})
            QVERIFY2(action(name)->isEnabled() == source.isEmpty() && action("mnuExit")->isEnabled(), name);
        shown().clear();
        dialogs_.answers << yes;
        dialogs_.during = [&] {
            QTest::qWait(source.isEmpty() ? 0 : 1500);
            QVERIFY(!progress() || !progress()->isVisible());
            QCOMPARE(shown().size(), 1);
        };
        if (source.isEmpty() && yes)
            QTest::keyClick(window_.get(), Qt::Key_Q, Qt::ControlModifier);
        else
            window().close();
        QCOMPARE(shown()[0].title + u'|' + shown()[0].text,
                 u"Подтверждение|Вы уверены, что хотите завершить работу?"_s);
        QCOMPARE(window().isVisible(), !yes);
        QCOMPARE(QFileInfo::exists(copy), !yes);
        if (source == u"ret"_s) QTRY_COMPARE(shown().size(), 2);
        QCOMPARE(shown().last().title, source == u"ret"_s ? u"Создание HEX строки"_s : u"Подтверждение"_s);
        if (yes || source != kSlowSource) return;
        QTRY_VERIFY_WITH_TIMEOUT(progress() && progress()->isVisible(), 5000);
        QCOMPARE(progress()->labelText(), u"Ассемблирование…"_s);
        QPushButton *cancel = progress()->findChild<QPushButton *>();
        QCOMPARE(cancel->text(), u"Отмена"_s);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().value<Outcome>().failure, Outcome::Failure::Cancelled);
        QVERIFY(shown().size() == 1 && action("mnuCreateBAS")->isEnabled());
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
