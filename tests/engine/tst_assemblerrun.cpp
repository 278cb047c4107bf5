#include "assemblerrun.h"
#include "testsupport.h"

#include <thread>

using namespace std::chrono_literals;
using Failure = Outcome::Failure;
Q_DECLARE_METATYPE(Outcome::Failure)

class TestAssemblerRun : public QObject {
    Q_OBJECT

    static RunRequest Request(const QString &assembler) { return {assembler, QDir::currentPath(), {}, 0ms}; }

private slots:
    void cleanup() { qunsetenv("FAKEASM_MODE"); }

    void realNasm_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ret") << u"ret"_s << QByteArray("\xC3");
        QTest::newRow("empty source") << QString() << QByteArray();
        QTest::newRow("code-page data") << u"db \"Привет\""_s << QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2");
        QTest::newRow("32-bit, LF") << u"bits 32\nmov eax, [esp+4]\nret 16"_s
                                    << QByteArray("\x8B\x44\x24\x04\xC2\x10\x00", 7);
        QTest::newRow("CR LF") << u"nop\r\nret"_s << QByteArray("\x90\xC3");
    }
    void realNasm() {
        QFETCH(QString, source);
        QFETCH(QByteArray, bytes);
        ScopedTempFolder temp;
        const AssemblerOutput run = AssemblerRun(source, u"x.asm"_s, Request(REAL_NASM));
        QVERIFY2(run.outcome.ok(), qPrintable(run.outcome.text));
        QCOMPARE(run.bytes, bytes);
        QCOMPARE(temp.entries(), QStringList());
    }

    // NASM's messages name the user's document and line, never the temporary file.
    void errorsNameTheDocumentLine() {
        ScopedTempFolder temp;
        const AssemblerOutput run = AssemblerRun(u"nop\nfoo bar\nret"_s, u"Новый файл"_s, Request(REAL_NASM));
        QCOMPARE(run.outcome.failure, Failure::Assembly);
        QCOMPARE(run.outcome.title, u"Ошибка ассемблирования"_s);
        QVERIFY2(run.outcome.text.startsWith(u"Новый файл:2: error:"_s), qPrintable(run.outcome.text));
        QVERIFY(!run.outcome.text.contains(u".tmp"_s));
        QCOMPARE(temp.entries(), QStringList());
    }

    // Every way an assembler can go wrong is told apart, and leaves no file.
    void misbehavingAssembler_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("program");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("textPart");
        const QString fake = FAKEASM;
        QTest::newRow("warning") << u"warn"_s << fake << Failure::None << QString();
        QTest::newRow("exit 1") << u"fail"_s << fake << Failure::Assembly << u"d.asm:1: error: fake"_s;
        QTest::newRow("silent exit 3") << u"status"_s << fake << Failure::Assembly << u"кодом 3"_s;
        QTest::newRow("no output") << u"nooutput"_s << fake << Failure::Assembly << u"не создал"_s;
        QTest::newRow("crash") << u"crash"_s << fake << Failure::Assembly << u"аварийно"_s;
        QTest::newRow("missing") << u"copy"_s << u"/nonexistent/nasmw"_s << Failure::Assembly
                                 << u"/nonexistent/nasmw"_s;
        QTest::newRow("not executable") << u"copy"_s << QString::fromUtf8(__FILE__) << Failure::Assembly
                                        << u"нет права на выполнение"_s;
    }
    void misbehavingAssembler() {
        QFETCH(QString, mode);
        QFETCH(QString, program);
        QFETCH(Failure, failure);
        QFETCH(QString, textPart);
        ScopedTempFolder temp;
        qputenv("FAKEASM_MODE", mode.toLatin1());
        const AssemblerOutput run = AssemblerRun(u"ret"_s, u"d.asm"_s, Request(program));
        QCOMPARE(run.outcome.failure, failure);
        QVERIFY2(run.outcome.text.contains(textPart), qPrintable(run.outcome.text));
        if (failure == Failure::None) {
            QCOMPARE(run.bytes, QByteArray("ret\r\n"));  // the fake copies the source
            QCOMPARE(run.outcome.messages, u"d.asm:1: warning: fake warning"_s);
        }
        QCOMPARE(temp.entries(), QStringList());
    }

    void hangingAssemblerIsCancelledFromAnotherThread() {
        ScopedTempFolder temp;
        qputenv("FAKEASM_MODE", "hang");
        std::stop_source stop;
        RunRequest request = Request(FAKEASM);
        request.stop = stop.get_token();
        std::jthread canceller([&stop] {
            std::this_thread::sleep_for(300ms);
            stop.request_stop();
        });
        const AssemblerOutput run = AssemblerRun(u"ret"_s, {}, request);
        QCOMPARE(run.outcome.failure, Failure::Cancelled);
        QVERIFY(run.outcome.text.isEmpty());
        QCOMPARE(temp.entries(), QStringList());
    }

    // The arguments reach NASM as they are: no shell, no quoting to break.
    void awkwardTempFolderNames_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("quotes and shell") << u"q\" ' $(touch pwned) `id`;|"_s;
        QTest::newRow("spaces, non-ASCII") << u"Папка с пробелами"_s;
    }
    void awkwardTempFolderNames() {
        QFETCH(QString, folder);
        ScopedTempFolder temp(folder);
        const AssemblerOutput run = AssemblerRun(u"ret"_s, {}, Request(REAL_NASM));
        QVERIFY2(run.outcome.ok(), qPrintable(run.outcome.text));
        QCOMPARE(run.bytes, QByteArray("\xC3"));
        QCOMPARE(temp.entries(), QStringList());
        QVERIFY(!QFileInfo::exists(u"pwned"_s));
    }
};

QTEST_GUILESS_MAIN(TestAssemblerRun)
#include "tst_assemblerrun.moc"
