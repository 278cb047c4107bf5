#include "commands.h"
#include "testsupport.h"

using namespace std::chrono_literals;
using Failure = Outcome::Failure;

class TestCommands : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString oldCurrent_;
    RunRequest request_{REAL_NASM, QDir::currentPath(), {}, 0ms};

    QString at(const QString &name) const { return work_.filePath(name); }

private slots:
    void init() {
        oldCurrent_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work_.path()));
    }
    void cleanup() {
        QDir::setCurrent(oldCurrent_);
        qunsetenv("FAKEASM_MODE");
    }

    // The untitled BIN lands in the current folder, not in the assembler's.
    void untitledBinLandsInTheCurrentFolder() {
        RecordingNotifier notifier;
        QVERIFY(CreateBin(u"nop\nret"_s, u"Новый файл"_s, notifier, request_).ok());
        QCOMPARE(ReadAll(at(u"Новый файл.bin"_s)), QByteArray("\x90\xC3"));
        QCOMPARE(notifier.shown[0].text, u"BIN файл успешно создан в папке с исходником"_s);
    }

    // A failed run shows one error box, keeps every older product, says nothing of success.
    void failureKeepsOlderProducts_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("mode");  // empty: the real NASM
        QTest::addColumn<Failure>("failure");
        QTest::newRow("syntax error") << u"mov eax,"_s << QString() << Failure::Assembly;
        QTest::newRow("crash") << u"ret"_s << u"crash"_s << Failure::Assembly;
        QTest::newRow("unrepresentable") << u"ret ; ✓"_s << QString() << Failure::Encoding;
        QTest::newRow("hang, cancelled") << u"ret"_s << u"hang"_s << Failure::Cancelled;
    }
    void failureKeepsOlderProducts() {
        QFETCH(QString, source);
        QFETCH(QString, mode);
        QFETCH(Failure, failure);
        ScopedTempFolder temp;
        RunRequest request = request_;
        std::stop_source stop;
        if (!mode.isEmpty()) {
            qputenv("FAKEASM_MODE", mode.toLatin1());
            request.assembler = FAKEASM;
        }
        if (mode == u"hang"_s) {
            stop.request_stop();
            request.stop = stop.get_token();
        }
        WriteAll(at(u"old.bin"_s), "older binary");
        WriteAll(at(u"old.bas"_s), "older module");
        RecordingNotifier notifier;
        QCOMPARE(CreateBin(source, u"old.asm"_s, notifier, request).failure, failure);
        QCOMPARE(CreateBas(source, u"old.asm"_s, notifier, request).failure, failure);
        QCOMPARE(CreateHex(source, notifier, request, {}).failure, failure);
        QCOMPARE(ReadAll(at(u"old.bin"_s)), QByteArray("older binary"));
        QCOMPARE(ReadAll(at(u"old.bas"_s)), QByteArray("older module"));
        QCOMPARE(notifier.shown.size(), failure == Failure::Cancelled ? 0 : 3);
        for (const Shown &shown : notifier.shown) QCOMPARE(shown.kind, u"error"_s);
        QCOMPARE(temp.entries(), QStringList());
    }

    void unwritableTargetIsAFileError() {
        RecordingNotifier notifier;
        const QString document = at(u"missing folder/demo.asm"_s);
        QCOMPARE(CreateBas(u"ret"_s, document, notifier, request_).failure, Failure::File);
        QCOMPARE(notifier.shown.size(), 1);
        QCOMPARE(notifier.shown[0].title, u"Ошибка"_s);
        QVERIFY(notifier.shown[0].text.contains(at(u"missing folder/demo.bas"_s)));
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
