#include "assemblerrun.h"
#include "execcmd.h"
#include "testsupport.h"

#include <thread>

using namespace std::chrono_literals;
using Failure = Outcome::Failure;
Q_DECLARE_METATYPE(Outcome::Failure)

namespace {

RunRequest Request(const QString &assembler) {
    return RunRequest{assembler, QDir::currentPath(), {}, 0ms};
}

}  // namespace

class TestAssemblerRun : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("FAKEASM_MODE"); }

    void realNasm_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ret") << "ret" << QByteArray("\xC3");
        QTest::newRow("empty source") << "" << QByteArray();
        QTest::newRow("cyrillic data in the code page")
            << QStringLiteral("db \"Привет\"") << QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2");
        QTest::newRow("32-bit function, LF lines")
            << "bits 32\nmov eax, [esp+4]\nadd eax, [esp+8]\nret 16"
            << QByteArray("\x8B\x44\x24\x04\x03\x44\x24\x08\xC2\x10\x00", 11);
        QTest::newRow("CR LF lines") << "nop\r\nret" << QByteArray("\x90\xC3");
    }
    void realNasm() {
        QFETCH(QString, source);
        QFETCH(QByteArray, bytes);
        ScopedTempFolder temp;
        const AssemblerOutput run =
            AssemblerRun(source, QStringLiteral("x.asm"), Request(QStringLiteral(REAL_NASM)));
        QVERIFY2(run.outcome.ok(), qPrintable(run.outcome.text));
        QCOMPARE(run.bytes, bytes);
        QCOMPARE(temp.entries(), QStringList());
    }

    // NASM's messages name the user's document and line, never the temporary file.
    void assemblyErrorNamesTheDocumentLine() {
        ScopedTempFolder temp;
        const AssemblerOutput run =
            AssemblerRun(QStringLiteral("nop\nmov eax,\nret"), QStringLiteral("Новый файл"),
                         Request(QStringLiteral(REAL_NASM)));
        QCOMPARE(run.outcome.failure, Failure::Assembly);
        QCOMPARE(run.outcome.title, QStringLiteral("Ошибка ассемблирования"));
        QVERIFY2(run.outcome.text.startsWith(QStringLiteral("Новый файл:2: error:")),
                 qPrintable(run.outcome.text));
        QVERIFY(!run.outcome.text.contains(QStringLiteral(".tmp")));
        QVERIFY(run.bytes.isEmpty());
        QCOMPARE(temp.entries(), QStringList());
    }

    void unrepresentableSourceIsNotAssembled() {
        ScopedTempFolder temp;
        const AssemblerOutput run = AssemblerRun(QStringLiteral("ret ; ✓"), QStringLiteral("a"),
                                                 Request(QStringLiteral(FAKEASM)));
        QCOMPARE(run.outcome.failure, Failure::Encoding);
        QCOMPARE(run.outcome.title, QStringLiteral("Ошибка кодировки"));
        QCOMPARE(temp.entries(), QStringList());
    }

    // Every way an assembler can go wrong is told apart, and leaves no file.
    void misbehavingAssembler_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("program");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("textPart");
        const QString fake = QStringLiteral(FAKEASM);
        QTest::newRow("copy") << "copy" << fake << Failure::None << "";
        QTest::newRow("warning") << "warn" << fake << Failure::None << "";
        QTest::newRow("error and exit 1")
            << "fail" << fake << Failure::Assembly << "doc.asm:1: error: fake failure";
        QTest::newRow("silent exit 3") << "status" << fake << Failure::Assembly << "кодом 3";
        QTest::newRow("no output")
            << "nooutput" << fake << Failure::Assembly << "не создал выходной файл";
        QTest::newRow("crash") << "crash" << fake << Failure::Assembly << "аварийно";
        QTest::newRow("missing program")
            << "copy"
            << "/nonexistent/nasmw" << Failure::Assembly << "/nonexistent/nasmw";
        QTest::newRow("not executable")
            << "copy" << QStringLiteral(__FILE__) << Failure::Assembly << "нет права на выполнение";
    }
    void misbehavingAssembler() {
        QFETCH(QString, mode);
        QFETCH(QString, program);
        QFETCH(Failure, failure);
        QFETCH(QString, textPart);
        ScopedTempFolder temp;
        qputenv("FAKEASM_MODE", mode.toLatin1());
        const AssemblerOutput run =
            AssemblerRun(QStringLiteral("ret"), QStringLiteral("doc.asm"), Request(program));
        QCOMPARE(run.outcome.failure, failure);
        QVERIFY2(run.outcome.text.contains(textPart), qPrintable(run.outcome.text));
        if (failure == Failure::None)
            QCOMPARE(run.bytes, QByteArray("ret\r\n"));  // the fake copies the source
        if (mode == QLatin1StringView("warn"))
            QCOMPARE(run.outcome.messages, QStringLiteral("doc.asm:1: warning: fake warning"));
        QCOMPARE(temp.entries(), QStringList());
    }

    void hangingAssemblerIsCancelledFromAnotherThread() {
        ScopedTempFolder temp;
        qputenv("FAKEASM_MODE", "hang");
        std::stop_source stop;
        RunRequest request = Request(QStringLiteral(FAKEASM));
        request.stop = stop.get_token();
        std::jthread canceller([&stop] {
            std::this_thread::sleep_for(300ms);
            stop.request_stop();
        });
        QElapsedTimer timer;
        timer.start();
        const AssemblerOutput run = AssemblerRun(QStringLiteral("ret"), {}, request);
        QCOMPARE(run.outcome.failure, Failure::Cancelled);
        QVERIFY(run.outcome.text.isEmpty());
        QVERIFY(timer.elapsed() < 10000);
        QCOMPARE(temp.entries(), QStringList());
    }

    void hangingAssemblerRunsOutOfTime() {
        ScopedTempFolder temp;
        qputenv("FAKEASM_MODE", "hang");
        RunRequest request = Request(QStringLiteral(FAKEASM));
        request.timeout = 200ms;
        const AssemblerOutput run = AssemblerRun(QStringLiteral("ret"), {}, request);
        QCOMPARE(run.outcome.failure, Failure::TimedOut);
        QCOMPARE(temp.entries(), QStringList());
    }

    // The arguments reach NASM as they are: no shell, no quoting to break.
    void awkwardTempFolderNames_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("spaces") << "with spaces";
        QTest::newRow("quotes") << "quote\" and ' apostrophe";
        QTest::newRow("shell") << "$(touch pwned) `id` ; |";
        QTest::newRow("non-ASCII") << "Папка";
    }
    void awkwardTempFolderNames() {
        QFETCH(QString, folder);
        ScopedTempFolder temp(folder);
        const AssemblerOutput run =
            AssemblerRun(QStringLiteral("ret"), {}, Request(QStringLiteral(REAL_NASM)));
        QVERIFY2(run.outcome.ok(), qPrintable(run.outcome.text));
        QCOMPARE(run.bytes, QByteArray("\xC3"));
        QCOMPARE(temp.entries(), QStringList());
        QVERIFY(!QFileInfo::exists(QStringLiteral("pwned")));
    }

    void runsInTheGivenWorkingFolder() {
        // NASM resolves %include against its working folder.
        QTemporaryDir work;
        WriteAll(work.filePath(QStringLiteral("inc.mac")), "db 0x42\n");
        ScopedTempFolder temp;
        RunRequest request = Request(QStringLiteral(REAL_NASM));
        request.workingFolder = work.path();
        const AssemblerOutput run =
            AssemblerRun(QStringLiteral("%include \"inc.mac\""), {}, request);
        QVERIFY2(run.outcome.ok(), qPrintable(run.outcome.text));
        QCOMPARE(run.bytes, QByteArray("\x42"));
    }
};

QTEST_GUILESS_MAIN(TestAssemblerRun)
#include "tst_assemblerrun.moc"
