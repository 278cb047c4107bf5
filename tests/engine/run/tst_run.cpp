// The three commands around one assembler run.
#include "commands.h"
#include "products/renderers.h"
#include "run/execcmd.h"
#include "testsupport.h"

using namespace std::chrono_literals;
using Failure = Outcome::Failure;
Q_DECLARE_METATYPE(Outcome::Failure)

class TestRun : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString oldCurrent_;

private slots:
    void init() {
        oldCurrent_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_.path()));
    }
    void cleanup() {
        QDir::setCurrent(oldCurrent_);
        qunsetenv("FAKEASM_MODE");
    }

    // Every way a run can end is told apart. The messages name the document, never a temporary
    // file; the arguments reach the assembler as they are, through no shell; no file is left behind.
    // Products land in the current folder; a failure shows one error box per command and keeps every
    // older product, a cancel shows nothing.
    void run_data() {
        QTest::addColumn<QString>("program");  // a mode of the fake assembler, or a path
        QTest::addColumn<QString>("source");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("says");  // a pattern: the failure's text, or the messages of a success
        QTest::addColumn<QByteArray>("bytes");
        const QString nasm = REAL_NASM;
        const QByteArray none;
        QTest::newRow("empty source") << nasm << QString() << Failure::None << u"^$"_s << none;
        QTest::newRow("code-page data") << nasm << u"db \"Привет\""_s << Failure::None << u"^$"_s
                                        << QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2");
        QTest::newRow("32-bit, LF") << nasm << u"bits 32\nmov eax, [esp+4]\nret 16"_s << Failure::None << u"^$"_s
                                    << QByteArray("\x8B\x44\x24\x04\xC2\x10\x00", 7);
        QTest::newRow("error line") << nasm << u"nop\nfoo bar\nret"_s << Failure::Assembly << u"^Новый файл:2: error:"_s
                                    << none;
        QTest::newRow("unrepresentable, CR LF")
            << nasm << u"a\r\nb\r\n; 😀"_s << Failure::Encoding << u"«😀» \\(U\\+1F600\\) в строке 3 "_s << none;
        QTest::newRow("warning") << u"warn"_s << u"ret"_s << Failure::None << u"^Новый файл:1: warning: fake warning$"_s
                                 << QByteArray("ret\r\n");
        QTest::newRow("code-page messages")
            << nasm << u"%error Привет ыы"_s << Failure::Assembly << u"^Новый файл:1: error: Привет ыы$"_s << none;
        QTest::newRow("endless messages") << u"flood"_s << u"ret"_s << Failure::TimedOut << u"за 1,5 с"_s << none;
        QTest::newRow("no temp folder") << nasm << u"ret"_s << Failure::File
                                        << u"«%1» \\(переменная %2\\)"_s.arg(
                                               QRegularExpression::escape(u"/nonexistent/tmp"_s), kTempVariableShown)
                                        << none;
        QTest::newRow("exit 1") << u"fail"_s << u"ret"_s << Failure::Assembly << u"^Новый файл:1: error: fake"_s
                                << none;
        QTest::newRow("silent exit 3") << u"status"_s << u"ret"_s << Failure::Assembly << u"кодом 3"_s << none;
        QTest::newRow("no output") << u"nooutput"_s << u"ret"_s << Failure::Assembly << u"не создал"_s << none;
        QTest::newRow("crash") << u"crash"_s << u"ret"_s << Failure::Assembly << u"аварийно"_s << none;
        QTest::newRow("hang, cancelled") << u"hang"_s << u"ret"_s << Failure::Cancelled << u"^$"_s << none;
        QTest::newRow("missing") << u"/nonexistent/nasmw"_s << u"ret"_s << Failure::Assembly
                                 << u"«/nonexistent/nasmw»"_s << none;
        QTest::newRow("not executable") << QString::fromUtf8(HOST_DRIVE __FILE__) << u"ret"_s << Failure::Assembly
#ifdef Q_OS_WIN
                                        << u"это не программа \\(\\.exe\\)"_s << none;
#else
                                        << u"нет права на выполнение"_s << none;
#endif
    }
    void run() {
        QFETCH(QString, program);
        QFETCH(QString, source);
        QFETCH(Failure, failure);
        QFETCH(QString, says);
        QFETCH(QByteArray, bytes);
        ScopedTempFolder temp(kHostileFolderName);
        std::stop_source stop;
        RunRequest request{program, oldCurrent_, {}, 0ms};
        if (!program.contains(u'/')) {
            qputenv("FAKEASM_MODE", program.toLatin1());
            request.assembler = FAKEASM;
        }
        if (program == u"hang"_s) stop.request_stop();
        if (program == u"flood"_s) request.timeout = 1500ms;  // room for a slow start under Wine
        if (QTest::currentDataTag() == "no temp folder"_ba) ScopedTempFolder::SetTempVariable(u"/nonexistent/tmp"_s);
        request.stop = stop.get_token();
        const QString document = u"Новый файл"_s, bin = u"Новый файл.bin"_s, bas = u"Новый файл.bas"_s;
        WriteAll(bin, "older");
        WriteAll(bas, "older");

        RecordingNotifier notifier;
        const Outcome outcome = CreateBin(source, document, notifier, request);
        QVERIFY2(outcome.failure == failure, qPrintable(outcome.text));
        QVERIFY2(QRegularExpression(says).match(outcome.ok() ? outcome.messages : outcome.text).hasMatch(),
                 qPrintable(outcome.text + outcome.messages));
        QCOMPARE(CreateBas(source, document, notifier, request).failure, failure);
        QCOMPARE(CreateHex(source, notifier, request, document).failure, failure);
        QCOMPARE(ReadAll(bin), outcome.ok() ? bytes : "older");
        QCOMPARE(ReadAll(bas), outcome.ok() ? ModuleText(HexString(bytes)).toLatin1() : "older");
        QCOMPARE(notifier.shown.size(), failure == Failure::Cancelled ? 0 : 3);
        QVERIFY(outcome.messages.size() < kMaxProgramOutput + 100);  // a flood is cut, and says so
        QCOMPARE(outcome.messages.endsWith(u"не показаны."_s), program == u"flood"_s);
        for (const Shown &shown : notifier.shown) QCOMPARE(shown.kind == u"error"_s, !outcome.ok());
        QCOMPARE(temp.entries(), QStringList());
        QVERIFY(!QFileInfo::exists(oldCurrent_ + u"/pwned"_s));
    }

    // A document gives what NASM gives when run by hand in the document's folder on the document
    // itself: the same bytes and messages, its own includes before the program folder's, files it
    // names landing beside it; the mode warnings follow the directives NASM met, wherever they were.
    void sameAsNasmByHand_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("warning");  // a pattern the product's warnings match, or "" for none
        QTest::newRow("include beside the document, a decoy beside the program")
            << "%include \"x.inc\"\nnop\n"_ba << u"bits 32"_s;
        QTest::newRow("bits from an include") << "%include \"mode.inc\"\nmov eax, 1\n"_ba << QString();
        QTest::newRow("bits from a macro")
            << "%macro mode 1\nbits %1\n%endmacro\nmode 32\nmov eax, 1\n"_ba << QString();
        QTest::newRow("bits 64 from an include") << "%include \"long.inc\"\nmov rax, 1\n"_ba << u"bits 64"_s;
        QTest::newRow("__FILE__ and __LINE__") << "bits 32\ndb __FILE__, __LINE__\n"_ba << QString();
        QTest::newRow("%pathsearch") << "bits 32\n%pathsearch p \"x.inc\"\ndb p\n"_ba << QString();
        QTest::newRow("map file") << "bits 32\n[map all out.map]\nnop\n"_ba << QString();
        QTest::newRow("unclosed %if, final break") << "bits 32\n%if 1\nnop\n"_ba << QString();
        QTest::newRow("unclosed %macro, no final break") << "bits 32\n%macro m 0\nnop"_ba << QString();
        QTest::newRow("error in an include") << "bits 32\n%include \"bad.inc\"\n"_ba << QString();
    }
    void sameAsNasmByHand() {
        QFETCH(QByteArray, source);
        QFETCH(QString, warning);
        QTemporaryDir app;
        const QDir doc(work_.path());
        for (const auto &[name, text] : {std::pair{"x.inc", "db 1\n"},
                                         {"mode.inc", "bits 32\n"},
                                         {"long.inc", "bits 64\n"},
                                         {"bad.inc", "nop\nfoo bar baz\n"}})
            WriteAll(doc.filePath(QString::fromLatin1(name)), text);
        WriteAll(app.filePath(u"x.inc"_s), "db 2\n");
        WriteAll(doc.filePath(u"a.asm"_s), source);

        QProcess nasm;  // by hand
        nasm.setWorkingDirectory(doc.path());
        nasm.start(REAL_NASM, {u"-f"_s, u"bin"_s, u"a.asm"_s, u"-o"_s, u"hand.bin"_s});
        QVERIFY(nasm.waitForFinished());
        const QString said = QString::fromUtf8(nasm.readAllStandardError()).trimmed();
        const QByteArray bytes = ReadAll(doc.filePath(u"hand.bin"_s));
        QFile::remove(doc.filePath(u"out.map"_s));

        RecordingNotifier notifier;
        const Outcome outcome = CreateHex(QString::fromLatin1(source), notifier,
                                          RunRequest{REAL_NASM, app.path() + u'/', {}, 0ms}, u"a.asm"_s);
        QCOMPARE(outcome.ok(), nasm.exitCode() == 0);
        QCOMPARE(outcome.ok() ? outcome.messages : outcome.text, said);
        if (outcome.ok()) QCOMPARE(notifier.shown.value(0).text, QString::fromLatin1(bytes.toHex().toUpper()));
        QCOMPARE(outcome.warnings.size(), warning.isEmpty() ? 0 : 1);
        QVERIFY(warning.isEmpty() || outcome.warnings[0].contains(warning));
        QCOMPARE(QFileInfo::exists(doc.filePath(u"out.map"_s)), source.contains("map"));
        QCOMPARE(QDir(app.path()).entryList(QDir::Files), QStringList{u"x.inc"_s});
    }

    // The mode is what NASM assembled the bytes in, however the source got there: the VBA7 module's CodeBits,
    // and the warnings of every product, follow it.
    void modes_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("codeBits");      // 0: several modes
        QTest::addColumn<QString>("warnings");  // 16: NASM's default 16 bits; 64: 64-bit bytes
        const QString code = u"mov eax, [esp+4]\nret 16\n"_s;
        QTest::newRow("bits 32 where WIN64 is not defined")
            << u"%ifdef WIN64\nbits 64\n%else\nbits 32\n%endif\n"_s + code << 32 << QString();
        QTest::newRow("bits 64 in %if 0, in a macro never called; use16 in an %elif not taken")
            << u"%if 0\nbits 64\n%endif\n%macro long 0\nbits 64\n%endmacro\n%if 1\nbits 32\n%elif 1\nuse16\n"
               u"%endif\n"_s +
                   code
            << 32 << QString();
        QTest::newRow("bits 32 in %if 0: 16-bit") << u"%if 0\nbits 32\n%endif\n"_s + code << 16 << u"16"_s;
        QTest::newRow("bits 32 under an undefined name, in %rep 0, in a macro never called: 16-bit")
            << u"%ifdef NOWHERE\nbits 32\n%endif\n%rep 0\nbits 32\n%endrep\n%macro m 0\nbits 32\n%endmacro\n"_s + code
            << 16 << u"16"_s;
        QTest::newRow("bits written by a %define") << u"%define B bits\nB 32\n"_s + code << 32 << QString();
        QTest::newRow("bits 032, as NASM reads it") << u"bits 032\n"_s + code << 32 << QString();
        QTest::newRow("bits +64") << u"bits +64\n"_s + code << 64 << u"64"_s;
        QTest::newRow("bits 64 where the listing is off")
            << u"bits 32\n[list -]\nbits 64\n[list +]\n"_s + code << 64 << u"64"_s;
        QTest::newRow("the listing off at the end: NASM lists nothing")
            << u"bits 32\n"_s + code + u"[list -]\n"_s << 32 << QString();
        QTest::newRow("the listing off from the start; align leaves a stray row")
            << u"[list -]\nbits 64\nmov rax, rcx\nalign 16\n"_s + code << 64 << u"64"_s;
        QTest::newRow("[pragma list options -e]: no expanded lines")
            << u"[pragma list options -e]\nbits 32\n"_s + code << 32 << QString();
        QTest::newRow("the listing off and on: a label alone, align")
            << u"[list -]\n[list +]\nentry\nbits 32\nalign 4\n"_s + code << 32 << QString();
        QTest::newRow("db in a string of code is no data")
            << u"times 1 mov eax, ' db'\nbits 32\n"_s + code << 0 << u"16"_s;
        QTest::newRow("data before bits 32") << u"db 90h\nx: dd 1\nbits 32\n"_s + code << 32 << QString();
        QTest::newRow("comments that look like the expanded listing, on one line number")
            << u"bits 32\n%line 5+0 same.asm\nnop\n ;;; [bits 64]\n ;;; [bits 64]\n%define FOO 1\n ;;; [bits 64]\n"_s +
                   code
            << 32 << QString();
        QTest::newRow("in a comment, in strings, as a section attribute: 16-bit")
            << u"section .text use32\n ;;; [bits 32]\ndb 'bits 32', \"use32\", `\\` use32`\n"_s + code << 16 << u"16"_s;
        QTest::newRow("[BITS 16]: the user's choice")
            << u"  [BITS 16] ; 16-bit on purpose\n"_s + code << 16 << QString();
        QTest::newRow("bits 64 before bits 32, no bytes between") << u"bits 64\nuse32\n"_s + code << 32 << QString();
        QTest::newRow("32-bit and 64-bit bytes") << u"bits 32\nnop\nbits 64\n"_s + code << 0 << u"64"_s;
        QTest::newRow("empty, bits 64 at the end") << u"bits 32\nbits 64\n"_s << 64 << u"64"_s;
        QTest::newRow("empty") << u"; nothing\n"_s << 16 << u"16"_s;
    }
    void modes() {
        QFETCH(QString, source);
        QFETCH(int, codeBits);
        QFETCH(QString, warnings);
        RecordingNotifier notifier;
        const RunRequest request{REAL_NASM, oldCurrent_, {}, 0ms};
        const Outcome hex = CreateHex(source, notifier, request, u"m.asm"_s);
        QVERIFY2(hex.ok(), qPrintable(hex.text));
        QString told;
        for (const QString &warning : hex.warnings)
            told += warning.contains(u"bits 64 (или use64)"_s) ? u"64"_s
                    : warning.contains(u"bits 32"_s)           ? u"16"_s
                                                               : u"?"_s;
        QCOMPARE(told, warnings);
        QVERIFY(CreateVba7(source, u"m.asm"_s, notifier, request).ok());
        QVERIFY(ReadAll(u"m.vba7.bas"_s).contains("Private Const CodeBits As Long = " + QByteArray::number(codeBits)));
    }
};

QTEST_GUILESS_MAIN(TestRun)
#include "tst_run.moc"
