// orvandine-convert as a user runs it: real files, the embedded NASM.
#include "payload_info.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

void Start(QProcess &process, const QString &program, const QStringList &arguments,
           const QString &folder, const QByteArray &input = {})
{
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
}

Run Finish(QProcess &process)
{
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

Run Cli(const QStringList &arguments, const QString &folder, const QByteArray &input = {},
        const QString &program = QStringLiteral(CLI))
{
    QProcess process;
    Start(process, program, arguments, folder, input);
    return Finish(process);
}

const QByteArray kModuleTail =
    "Public Declare Function CallWindowProc Lib \"user32\" Alias \"CallWindowProcA\"";

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString tmp_;

    QString at(const QString &name) const { return dir_.filePath(name); }
    QStringList leftovers() const
    {
        return QDir(tmp_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase()
    {
        // Temporary files of the runs land where the tests can count them.
        tmp_ = at(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(tmp_));
        qputenv("TMPDIR", QFile::encodeName(tmp_));
    }
    void cleanup()
    {
        QCOMPARE(leftovers(), QStringList());
        qunsetenv("FAKEASM_MODE");
    }

    void products_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("product");  // a file the run writes, or empty
        QTest::addColumn<QByteArray>("stdOut");
        QTest::newRow("hex") << "--hex" << "" << QByteArray("CFF0E8E2E5F2C3\n");
        QTest::newRow("bin") << "--bin" << "Проба 1.bin"
                             << QByteArray("BIN файл успешно создан в папке с исходником\n");
        QTest::newRow("bas") << "--bas" << "Проба 1.bas"
                             << QByteArray("Файл модуля \"") + at("Проба 1.bas").toUtf8() +
                                    "\" создан успешно\nДля его вызова - подключите его к проекту "
                                    "на VB и вызывайте, где это\nнеобходимо функцию: "
                                    "\"CallAsmFunction\"\n";
    }
    void products()
    {
        QFETCH(QString, option);
        QFETCH(QString, product);
        QFETCH(QByteArray, stdOut);
        // The source is read in the code page, as the window reads it.
        const QString source = at(QStringLiteral("Проба 1.asm"));
        WriteAll(source, "db \"\xCF\xF0\xE8\xE2\xE5\xF2\"\r\nret\r\n");
        const Run run = Cli({option, source}, dir_.path());
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, stdOut);
        if (product.endsWith(QLatin1StringView(".bin")))
            QCOMPARE(ReadAll(at(product)), QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2\xC3"));
        if (product.endsWith(QLatin1StringView(".bas")))
            QVERIFY(ReadAll(at(product))
                        .startsWith("Const CodeString = \"CFF0E8E2E5F2C3\"\r\n" + kModuleTail));
    }

    void standardInputIsTheUntitledDocument()
    {
        QTemporaryDir here;
        QCOMPARE(Cli({QStringLiteral("--bas"), QStringLiteral("-")}, here.path(), "nop\n").exitCode,
                 0);
        QVERIFY(ReadAll(here.filePath(QStringLiteral("Новый файл.bas")))
                    .startsWith("Const CodeString = \"90\"\r\n"));
        const Run hex = Cli({QStringLiteral("--hex"), QStringLiteral("-")}, here.path(), "ret");
        QCOMPARE(hex.out, QByteArray("C3\n"));
    }

    void assemblyErrorNamesTheFileAndWritesNothing()
    {
        const QString source = at(QStringLiteral("broken.asm"));
        WriteAll(source, "nop\nmov eax,\n");
        WriteAll(at(QStringLiteral("broken.bin")), "older");
        for (const char *option : {"--hex", "--bin", "--bas"}) {
            const Run run = Cli({QString::fromLatin1(option), source}, dir_.path());
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.out, QByteArray());
            QVERIFY2(run.err.contains(source.toUtf8() + ":2: error:"), run.err.constData());
            QVERIFY(!run.err.contains(".tmp"));
        }
        QCOMPARE(ReadAll(at(QStringLiteral("broken.bin"))), QByteArray("older"));
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("broken.bas"))));
    }

    void usageAndFileErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("errorPart");
        QTest::newRow("nothing") << QStringList() << 2 << "--hex";
        QTest::newRow("no file") << QStringList{"--hex"} << 2 << "файл";
        QTest::newRow("two products") << QStringList{"--hex", "--bas", "x"} << 2 << "только один";
        QTest::newRow("unknown option") << QStringList{"--hexx", "x"} << 2 << "--hexx";
        QTest::newRow("bad timeout") << QStringList{"--timeout", "soon", "--hex", "x"} << 2
                                     << "soon";
        QTest::newRow("missing file") << QStringList{"--hex", "/nonexistent/a.asm"} << 2
                                      << "/nonexistent/a.asm";
        QTest::newRow("folder") << QStringList{"--hex", "/"} << 2 << "папка";
    }
    void usageAndFileErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, errorPart);
        const Run run = Cli(arguments, dir_.path());
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(QString::fromUtf8(run.err).contains(errorPart), run.err.constData());
        QVERIFY(!QFileInfo::exists(QStringLiteral("/nonexistent/a.asm")));
    }

    void helpAndVersion()
    {
        const Run help = Cli({QStringLiteral("--help")}, dir_.path());
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--timeout"));
        const Run version = Cli({QStringLiteral("--version")}, dir_.path());
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.contains("NASM " + payload::NasmVersion().toLatin1()));
    }

    // A visible assembler beside the program is the one that runs; here a hanging one.
    void timeoutStopsTheAssembler()
    {
        QTemporaryDir app;
        const QString cli = app.filePath(QStringLiteral("orvandine-convert"));
        QVERIFY(QFile::copy(QStringLiteral(CLI), cli));
        QVERIFY(QFile::copy(QStringLiteral(FAKEASM), app.filePath(QStringLiteral("nasmw"))));
        WriteAll(at(QStringLiteral("t.asm")), "ret\n");
        qputenv("FAKEASM_MODE", "hang");
        QElapsedTimer timer;
        timer.start();
        const Run run = Cli({QStringLiteral("--timeout"), QStringLiteral("0.3"),
                             QStringLiteral("--bas"), at(QStringLiteral("t.asm"))},
                            dir_.path(), {}, cli);
        QCOMPARE(run.exitCode, 124);
        QVERIFY(timer.elapsed() < 20000);
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("t.bas"))));
        QVERIFY(QFileInfo::exists(app.filePath(QStringLiteral("nasmw"))));  // the user's, kept
    }

    void awkwardPaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << "a folder/my file.asm";
        QTest::newRow("quotes") << "q\"uo'te/\"x\".asm";
        QTest::newRow("shell") << "$(touch pwned)/`id`;|.asm";
    }
    void awkwardPaths()
    {
        QFETCH(QString, name);
        const QString source = at(name);
        QVERIFY(QDir().mkpath(QFileInfo(source).absolutePath()));
        WriteAll(source, "ret\n");
        QCOMPARE(Cli({QStringLiteral("--bas"), source}, dir_.path()).exitCode, 0);
        const QString target = source.left(source.size() - 3) + QStringLiteral("bas");
        QVERIFY(ReadAll(target).startsWith("Const CodeString = \"C3\""));
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("pwned"))));
    }

    void eightRunsAtOnceInOneFolder()
    {
        QTemporaryDir here;
        constexpr int kRuns = 8;
        QList<QProcess *> processes;
        for (int i = 0; i < kRuns; ++i) {
            const QString source = here.filePath(QStringLiteral("p%1.asm").arg(i));
            WriteAll(source, QStringLiteral("times 5000 db %1\n").arg(i).toLatin1());
            auto *process = new QProcess(this);
            Start(*process, QStringLiteral(CLI),
                  {i % 2 ? QStringLiteral("--bas") : QStringLiteral("--hex"), source},
                  here.path());
            processes << process;
        }
        for (int i = 0; i < kRuns; ++i) {
            const Run run = Finish(*processes[i]);
            QCOMPARE(run.exitCode, 0);
            const QByteArray hex = QByteArray::number(i, 16).rightJustified(2, '0').toUpper()
                                       .repeated(5000);
            if (i % 2) {
                QVERIFY(ReadAll(here.filePath(QStringLiteral("p%1.bas").arg(i)))
                            .startsWith("Const CodeString = \"" + hex + "\"\r\n"));
            } else {
                QCOMPARE(run.out, hex + '\n');
            }
            delete processes[i];
        }
    }

    // A write that does not fit leaves the older module as it was.
    void fullDiskKeepsTheOlderModule()
    {
        QTemporaryDir here;
        const QString source = here.filePath(QStringLiteral("big.asm"));
        WriteAll(source, "times 300 db 0\n");
        WriteAll(here.filePath(QStringLiteral("big.bas")), "older module");
        QProcess process;
        Start(process, QStringLiteral("bash"),
              {QStringLiteral("-c"), QStringLiteral("ulimit -f 1; exec \"$0\" --bas \"$1\""),
               QStringLiteral(CLI), source},
              here.path());
        const Run run = Finish(process);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(here.filePath(QStringLiteral("big.bas"))),
                 run.err.constData());
        QCOMPARE(ReadAll(here.filePath(QStringLiteral("big.bas"))), QByteArray("older module"));
        QCOMPARE(QDir(here.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("big.asm"), QStringLiteral("big.bas")}));
    }

    // Installed into a prefix its user cannot write to, it still works.
    void installedReadOnlyForItsUser()
    {
        if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty())
            QSKIP("needs root and runuser to act as an unprivileged user");
        QTemporaryDir prefix(QStringLiteral("/tmp/orvandine-prefix-XXXXXX"));
        QProcess install;
        install.start(QStringLiteral("cmake"), {QStringLiteral("--install"),
                                                QStringLiteral(BUILD_DIR), QStringLiteral("--prefix"),
                                                prefix.path(), QStringLiteral("--component"),
                                                QStringLiteral("Unspecified")});
        QVERIFY(install.waitForFinished(60000));
        QCOMPARE(install.exitCode(), 0);
        const QString cli = prefix.filePath(QStringLiteral("bin/orvandine-convert"));
        QVERIFY(QFileInfo(cli).isExecutable());
        QVERIFY(QFile::setPermissions(prefix.path(), QFile::permissions(prefix.path()) |
                                                         QFileDevice::ExeOther));

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QStringLiteral("/nonexistent"));
        env.remove(QStringLiteral("XDG_CACHE_HOME"));
        env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
        process.setProcessEnvironment(env);
        Start(process, QStringLiteral("runuser"),
              {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), cli,
               QStringLiteral("--hex"), QStringLiteral("-")},
              QStringLiteral("/"), "nop\nret\n");
        const Run run = Finish(process);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(run.out, QByteArray("90C3\n"));
        QCOMPARE(QDir(prefix.filePath(QStringLiteral("bin"))).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("orvandine-convert"),
                              QStringLiteral("orvandine-converter")}));
        // The window program appears in a desktop's menu with its icon.
        for (const char *file : {"share/applications/orvandine-converter.desktop",
                                 "share/icons/hicolor/16x16/apps/orvandine-converter.png",
                                 "share/icons/hicolor/32x32/apps/orvandine-converter.png"})
            QVERIFY2(QFileInfo::exists(prefix.filePath(QString::fromLatin1(file))), file);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
