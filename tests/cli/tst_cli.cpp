// orvandine-convert as a user runs it: real files, the embedded NASM.
#include "payload_info.h"
#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

void Start(QProcess &process, const QString &program, const QStringList &arguments, const QString &folder,
           const QByteArray &input = {}) {
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
}

Run Finish(QProcess &process) {
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

Run Cli(const QStringList &arguments, const QString &folder, const QByteArray &input = {},
        const QString &program = CLI) {
    QProcess process;
    Start(process, program, arguments, folder, input);
    return Finish(process);
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<ScopedTempFolder> temp_;
    QString at(const QString &name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() { temp_ = std::make_unique<ScopedTempFolder>(); }
    void cleanup() {
        QCOMPARE(temp_->entries(), QStringList());  // no run leaves a temporary file
        qunsetenv("FAKEASM_MODE");
    }

    void products_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("stdOut");
        const QByteArray bas = at(u"a \"q\" dir/Проба 1.bas"_s).toUtf8();
        QTest::newRow("hex") << u"--hex"_s << QByteArray("CFF0E8E2E5F2C3\n");
        QTest::newRow("bin") << u"--bin"_s << QByteArray("BIN файл успешно создан в папке с исходником\n");
        QTest::newRow("bas") << u"--bas"_s
                             << "Файл модуля \"" + bas +
                                    "\" создан успешно\nДля его вызова - "
                                    "подключите его к проекту на VB и вызывайте, где это\n"
                                    "необходимо функцию: \"CallAsmFunction\"\n";
    }
    void products() {
        QFETCH(QString, option);
        QFETCH(QByteArray, stdOut);
        // A path with spaces and quotes; the source read in the code page, as the window reads it.
        QVERIFY(QDir().mkpath(at(u"a \"q\" dir"_s)));
        const QString source = at(u"a \"q\" dir/Проба 1.asm"_s);
        WriteAll(source, "db \"\xCF\xF0\xE8\xE2\xE5\xF2\"\r\nret\r\n");
        const Run run = Cli({option, source}, dir_.path());
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, stdOut);
        if (option == u"--bin"_s)
            QCOMPARE(ReadAll(at(u"a \"q\" dir/Проба 1.bin"_s)), QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2\xC3"));
        if (option == u"--bas"_s)
            QVERIFY(ReadAll(at(u"a \"q\" dir/Проба 1.bas"_s)).startsWith("Const CodeString = \"CFF0E8E2E5F2C3\"\r\n"));
    }

    void standardInputIsTheUntitledDocument() {
        QTemporaryDir here;
        QCOMPARE(Cli({u"--bas"_s, u"-"_s}, here.path(), "nop\n").exitCode, 0);
        QVERIFY(ReadAll(here.filePath(u"Новый файл.bas"_s)).startsWith("Const CodeString = \"90\"\r\n"));
    }

    void assemblyErrorNamesTheFileAndWritesNothing() {
        const QString source = at(u"broken.asm"_s);
        WriteAll(source, "nop\nfoo bar\n");
        WriteAll(at(u"broken.bin"_s), "older");
        for (const QString &option : {u"--hex"_s, u"--bin"_s, u"--bas"_s}) {
            const Run run = Cli({option, source}, dir_.path());
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.out, QByteArray());
            QVERIFY2(run.err.contains(source.toUtf8() + ":2: error:"), run.err.constData());
        }
        QCOMPARE(ReadAll(at(u"broken.bin"_s)), QByteArray("older"));
        QVERIFY(!QFileInfo::exists(at(u"broken.bas"_s)));
    }

    void usage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("saysPart");  // on standard output for 0, standard error else
        QTest::newRow("help") << QStringList{u"--help"_s} << 0 << u"--timeout"_s;
        QTest::newRow("version") << QStringList{u"--version"_s} << 0 << u"NASM "_s + payload::NasmVersion();
        QTest::newRow("nothing") << QStringList() << 2 << u"--hex"_s;
        QTest::newRow("two products") << QStringList{u"--hex"_s, u"--bas"_s, u"x"_s} << 2 << u"только один"_s;
        QTest::newRow("unknown option") << QStringList{u"--hexx"_s, u"x"_s} << 2 << u"--hexx"_s;
        QTest::newRow("bad timeout") << QStringList{u"--timeout"_s, u"soon"_s, u"--hex"_s, u"x"_s} << 2 << u"soon"_s;
        QTest::newRow("missing file") << QStringList{u"--hex"_s, u"/nonexistent/a.asm"_s} << 2
                                      << u"/nonexistent/a.asm"_s;
        QTest::newRow("folder") << QStringList{u"--hex"_s, u"/"_s} << 2 << u"папка"_s;
    }
    void usage() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, saysPart);
        const Run run = Cli(arguments, dir_.path());
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(QString::fromUtf8(exitCode ? run.err : run.out).contains(saysPart), run.err.constData());
    }

    // A visible assembler beside the program is the one that runs; here a hanging one.
    void timeoutStopsTheAssembler() {
        QTemporaryDir app;
        const QString cli = app.filePath(u"orvandine-convert"_s);
        QVERIFY(QFile::copy(CLI, cli));
        QVERIFY(QFile::copy(FAKEASM, app.filePath(u"nasmw"_s)));
        WriteAll(at(u"t.asm"_s), "ret\n");
        qputenv("FAKEASM_MODE", "hang");
        const Run run = Cli({u"--timeout"_s, u"0.3"_s, u"--bas"_s, at(u"t.asm"_s)}, dir_.path(), {}, cli);
        QCOMPARE(run.exitCode, 124);
        QVERIFY(!QFileInfo::exists(at(u"t.bas"_s)));
        QVERIFY(QFileInfo::exists(app.filePath(u"nasmw"_s)));  // the user's, kept
    }

    void eightRunsAtOnceInOneFolder() {
        QTemporaryDir here;
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < 8; ++i) {
            const QString source = here.filePath(u"p%1.asm"_s.arg(i));
            WriteAll(source, u"times 5000 db %1\n"_s.arg(i).toLatin1());
            processes.push_back(std::make_unique<QProcess>());
            Start(*processes.back(), CLI, {i % 2 ? u"--bas"_s : u"--hex"_s, source}, here.path());
        }
        for (int i = 0; i < 8; ++i) {
            const Run run = Finish(*processes[i]);
            QCOMPARE(run.exitCode, 0);
            const QByteArray hex = QByteArray::number(i).rightJustified(2, '0').repeated(5000);
            if (i % 2)
                QVERIFY(
                    ReadAll(here.filePath(u"p%1.bas"_s.arg(i))).startsWith("Const CodeString = \"" + hex + "\"\r\n"));
            else
                QCOMPARE(run.out, hex + '\n');
        }
    }

    // A write that does not fit (a file-size limit here) leaves the older module as it was.
    void fullDiskKeepsTheOlderModule() {
        QTemporaryDir here;
        WriteAll(here.filePath(u"big.asm"_s), "times 300 db 0\n");
        WriteAll(here.filePath(u"big.bas"_s), "older module");
        QProcess process;
        Start(process, u"bash"_s, {u"-c"_s, u"ulimit -f 1; exec \"$0\" --bas big.asm"_s, CLI}, here.path());
        const Run run = Finish(process);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(here.filePath(u"big.bas"_s)), run.err.constData());
        QCOMPARE(ReadAll(here.filePath(u"big.bas"_s)), QByteArray("older module"));
        QCOMPARE(QDir(here.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{u"big.asm"_s, u"big.bas"_s}));
    }

    // Installed into a prefix its user cannot write to, it still works.
    void installedReadOnlyForItsUser() {
        if (geteuid() != 0 || QStandardPaths::findExecutable(u"runuser"_s).isEmpty())
            QSKIP("needs root and runuser to act as an unprivileged user");
        QTemporaryDir prefix(u"/tmp/orvandine-prefix-XXXXXX"_s);
        QProcess install;
        install.start(u"cmake"_s, {u"--install"_s, BUILD_DIR, u"--prefix"_s, prefix.path()});
        QVERIFY(install.waitForFinished(60000) && install.exitCode() == 0);
        QVERIFY(QFile::setPermissions(prefix.path(), QFile::permissions(prefix.path()) | QFile::ExeOther));
        for (const char *file :
             {"bin/orvandine-convert", "bin/orvandine-converter", "share/applications/orvandine-converter.desktop",
              "share/icons/hicolor/16x16/apps/orvandine-converter.png",
              "share/icons/hicolor/32x32/apps/orvandine-converter.png"})
            QVERIFY2(QFileInfo::exists(prefix.filePath(QString::fromLatin1(file))), file);

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, u"/nonexistent"_s);  // no cache folder either
        env.remove(u"XDG_CACHE_HOME"_s);
        env.insert(u"TMPDIR"_s, u"/tmp"_s);
        process.setProcessEnvironment(env);
        Start(process, u"runuser"_s,
              {u"-u"_s, u"nobody"_s, u"--"_s, prefix.filePath(u"bin/orvandine-convert"_s), u"--hex"_s, u"-"_s}, u"/"_s,
              "nop\nret\n");
        const Run run = Finish(process);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(run.out, QByteArray("90C3\n"));
        QCOMPARE(QDir(prefix.filePath(u"bin"_s)).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
