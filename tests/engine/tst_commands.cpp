#include "commands.h"
#include "docpath.h"
#include "renderers.h"
#include "testsupport.h"

using namespace std::chrono_literals;
using Failure = Outcome::Failure;

class TestCommands : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString oldCurrent_;
    RunRequest request_{QStringLiteral(REAL_NASM), QDir::currentPath(), {}, 0ms};

    QString at(const QString &name) const { return work_.filePath(name); }

private slots:
    void init() {
        oldCurrent_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_.path()));
    }
    void cleanup() {
        QDir::setCurrent(oldCurrent_);
        QDir(work_.path()).removeRecursively();
        QDir().mkpath(work_.path());
        qunsetenv("FAKEASM_MODE");
    }

    void binIsWrittenNextToTheSource_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("target");
        QTest::newRow("asm") << "demo.asm"
                             << "demo.bin";
        QTest::newRow("upper ASM") << "DEMO.ASM"
                                   << "DEMO.bin";
        QTest::newRow("other extension") << "boot.inc"
                                         << "boot.inc.bin";
        // Untitled: the current folder, not the program folder the assembler runs in.
        QTest::newRow("untitled") << UntitledName() << "Новый файл.bin";
    }
    void binIsWrittenNextToTheSource() {
        QFETCH(QString, document);
        QFETCH(QString, target);
        ScopedTempFolder temp;
        RecordingNotifier notifier;
        const Outcome outcome = CreateBin(QStringLiteral("nop\nret"), document, notifier, request_);
        QVERIFY2(outcome.ok(), qPrintable(outcome.text));
        QCOMPARE(ReadAll(at(target)), QByteArray("\x90\xC3"));
        QCOMPARE(notifier.shown.size(), 1);
        QCOMPARE(notifier.shown[0].kind, QStringLiteral("info"));
        QCOMPARE(notifier.shown[0].title, QStringLiteral("Создание BIN файла"));
        QCOMPARE(notifier.shown[0].text,
                 QStringLiteral("BIN файл успешно создан в папке с исходником"));
        QCOMPARE(temp.entries(), QStringList());
    }

    void basModuleAndItsReport() {
        ScopedTempFolder temp;
        RecordingNotifier notifier;
        const QString document = at(QStringLiteral("my demo.asm"));
        QVERIFY(CreateBas(QStringLiteral("ret"), document, notifier, request_).ok());
        const QString target = at(QStringLiteral("my demo.bas"));
        QCOMPARE(ReadAll(target), ModuleText(QStringLiteral("C3")).toLatin1());
        QCOMPARE(notifier.shown.size(), 1);
        QCOMPARE(notifier.shown[0].title, QStringLiteral("Создание BAS файла"));
        QCOMPARE(notifier.shown[0].text,
                 "Файл модуля \"" + target +
                     "\" создан успешно\r\nДля его вызова - подключите его к проекту на VB и "
                     "вызывайте, где это\r\nнеобходимо функцию: \"CallAsmFunction\"");
        // A second run replaces the module.
        QVERIFY(CreateBas(QStringLiteral("nop"), document, notifier, request_).ok());
        QCOMPARE(ReadAll(target), ModuleText(QStringLiteral("90")).toLatin1());
        QCOMPARE(temp.entries(), QStringList());
    }

    void hexIsOfferedForCopying() {
        ScopedTempFolder temp;
        RecordingNotifier notifier;
        QVERIFY(CreateHex(QStringLiteral("db 0, 0x0A, 0xFF"), notifier, request_, {}).ok());
        QCOMPARE(notifier.shown.size(), 1);
        QCOMPARE(notifier.shown[0].kind, QStringLiteral("copy"));
        QCOMPARE(notifier.shown[0].title, QStringLiteral("Создание HEX строки"));
        QCOMPARE(notifier.shown[0].text, QStringLiteral("000AFF"));
        QCOMPARE(temp.entries(), QStringList());
    }

    void zeroBytesIsASuccess() {
        RecordingNotifier notifier;
        QVERIFY(CreateHex(QString(), notifier, request_, {}).ok());
        QVERIFY(CreateBas(QString(), QStringLiteral("empty.asm"), notifier, request_).ok());
        QCOMPARE(notifier.shown[0].text, QString());
        QVERIFY(ReadAll(at(QStringLiteral("empty.bas"))).startsWith("Const CodeString = \"\"\r\n"));
    }

    // A failed run shows one error box, keeps every older product and says nothing of success.
    void failureKeepsOlderProducts_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("mode");  // empty: the real NASM
        QTest::addColumn<Failure>("failure");
        QTest::newRow("syntax error") << "mov eax,"
                                      << "" << Failure::Assembly;
        QTest::newRow("crash") << "ret"
                               << "crash" << Failure::Assembly;
        QTest::newRow("unrepresentable") << "ret ; ✓"
                                         << "" << Failure::Encoding;
    }
    void failureKeepsOlderProducts() {
        QFETCH(QString, source);
        QFETCH(QString, mode);
        QFETCH(Failure, failure);
        ScopedTempFolder temp;
        RunRequest request = request_;
        if (!mode.isEmpty()) {
            qputenv("FAKEASM_MODE", mode.toLatin1());
            request.assembler = QStringLiteral(FAKEASM);
        }
        WriteAll(at(QStringLiteral("old.bin")), "older binary");
        WriteAll(at(QStringLiteral("old.bas")), "older module");
        RecordingNotifier notifier;
        QCOMPARE(CreateBin(source, QStringLiteral("old.asm"), notifier, request).failure, failure);
        QCOMPARE(CreateBas(source, QStringLiteral("old.asm"), notifier, request).failure, failure);
        QCOMPARE(CreateHex(source, notifier, request, {}).failure, failure);
        QCOMPARE(ReadAll(at(QStringLiteral("old.bin"))), QByteArray("older binary"));
        QCOMPARE(ReadAll(at(QStringLiteral("old.bas"))), QByteArray("older module"));
        QCOMPARE(notifier.shown.size(), 3);
        for (const Shown &shown : notifier.shown) QCOMPARE(shown.kind, QStringLiteral("error"));
        QCOMPARE(temp.entries(), QStringList());
    }

    void unwritableTargetIsAFileError() {
        ScopedTempFolder temp;
        RecordingNotifier notifier;
        const QString document = at(QStringLiteral("missing folder/demo.asm"));
        const Outcome outcome = CreateBas(QStringLiteral("ret"), document, notifier, request_);
        QCOMPARE(outcome.failure, Failure::File);
        QCOMPARE(notifier.shown.size(), 1);
        QCOMPARE(notifier.shown[0].title, QStringLiteral("Ошибка"));
        QVERIFY2(notifier.shown[0].text.contains(at(QStringLiteral("missing folder/demo.bas"))),
                 qPrintable(notifier.shown[0].text));
        QCOMPARE(temp.entries(), QStringList());
    }

    void cancelShowsNothing() {
        ScopedTempFolder temp;
        qputenv("FAKEASM_MODE", "hang");
        std::stop_source stop;
        stop.request_stop();
        RunRequest request = request_;
        request.assembler = QStringLiteral(FAKEASM);
        request.stop = stop.get_token();
        RecordingNotifier notifier;
        QCOMPARE(
            CreateBas(QStringLiteral("ret"), QStringLiteral("c.asm"), notifier, request).failure,
            Failure::Cancelled);
        QVERIFY(notifier.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("c.bas"))));
        QCOMPARE(temp.entries(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
