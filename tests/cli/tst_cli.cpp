// orvandine-convert as a user runs it: real files, the embedded NASM.
#include "payload_info.h"
#include "renderers.h"
#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Files = QMap<QByteArray, QByteArray>;  // file name (UTF-8) to content

// One run. The arguments are split as a shell would (double quotes), but no shell runs; in them and in the
// patterns, "@" stands for the row's folder. The run gets a temp folder and a cache folder of its own.
struct Case {
    QByteArray arguments;
    QByteArray input;        // standard input
    QByteArray environment;  // NAME=value; with FAKEASM_MODE, the fake assembler lies beside the program
    rlim_t fileSizeLimit = RLIM_INFINITY;
    Files before;  // the folder's files before the run
    int exitCode = 0;
    QByteArray out = "^$";  // patterns for standard output and standard error
    QByteArray err = "^$";
    Files after;  // what the run writes; every other file stays as it was
};

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run Execute(const QString &program, const QStringList &arguments, const QString &folder, const QByteArray &input,
            const QProcessEnvironment &environment, rlim_t fileSizeLimit = RLIM_INFINITY) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([fileSizeLimit] {
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        if (fileSizeLimit != RLIM_INFINITY) setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

}  // namespace

Q_DECLARE_METATYPE(Case)

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void runs_data() {
        QTest::addColumn<Case>("c");
        const Files source{{"Проба 1.asm", "db \"\xCF\xF0\xE8\xE2\xE5\xF2\"\r\nret\r\n"}};  // in the code page
        const Files broken{{"broken.asm", "nop\nfoo bar\n"}, {"broken.bin", "older"}};
        QTest::newRow("hex") << Case{
            .arguments = "--hex \"@/Проба 1.asm\"", .before = source, .out = "^CFF0E8E2E5F2C3\n$"};
        QTest::newRow("bin") << Case{.arguments = "--bin \"@/Проба 1.asm\"",
                                     .before = source,
                                     .out = "^BIN файл успешно создан в папке с исходником\n$",
                                     .after = {{"Проба 1.bin", "\xCF\xF0\xE8\xE2\xE5\xF2\xC3"}}};
        QTest::newRow("bas") << Case{
            .arguments = "--bas \"@/Проба 1.asm\"",
            .before = source,
            .out =
                "^Файл модуля \"@/Проба 1.bas\" создан успешно\nДля его вызова - подключите его "
                "к проекту на VB и вызывайте, где это\nнеобходимо функцию: "
                "\"CallAsmFunction\"\n$",
            .after = {{"Проба 1.bas", ModuleText(u"CFF0E8E2E5F2C3"_s).toLatin1()}}};
        QTest::newRow("standard input") << Case{.arguments = "--bas -",
                                                .input = "nop\n",
                                                .out = "\"Новый файл.bas\" создан",
                                                .after = {{"Новый файл.bas", ModuleText(u"90"_s).toLatin1()}}};
        QTest::newRow("%warning") << Case{.arguments = "--hex w.asm",
                                          .before = {{"w.asm", "%warning wary\nret\n"}},
                                          .out = "^C3\n$",
                                          .err = "^w.asm:1: warning: wary"};
        for (const char *option : {"--hex", "--bin", "--bas"})
            QTest::newRow(option) << Case{.arguments = option + QByteArray(" @/broken.asm"),
                                          .before = broken,
                                          .exitCode = 1,
                                          .err = "@/broken.asm:2: error:"};
        QTest::newRow("time-out") << Case{.arguments = "--timeout 0.3 --bas t.asm",
                                          .environment = "FAKEASM_MODE=hang",
                                          .before = {{"t.asm", "ret\n"}},
                                          .exitCode = 124,
                                          .err = "0[.,]3 с"};
        QTest::newRow("full disk") << Case{.arguments = "--bas big.asm",
                                           .fileSizeLimit = 1024,
                                           .before = {{"big.asm", "times 300 db 0\n"}, {"big.bas", "older"}},
                                           .exitCode = 2,
                                           .err = "@/big.bas"};
        QTest::newRow("version") << Case{.arguments = "--version", .out = "NASM " + payload::NasmVersion().toLatin1()};
        const auto usage = [](const char *arguments, const char *says) {
            return Case{.arguments = arguments, .exitCode = 2, .err = says};
        };
        QTest::newRow("nothing") << usage("", "--hex");
        QTest::newRow("two products") << usage("--hex --bas x", "только один");
        QTest::newRow("unknown option") << usage("--hexx x", "--hexx");
        QTest::newRow("bad timeout") << usage("--timeout soon --hex x", "soon");
        QTest::newRow("missing file") << usage("--hex /nonexistent/a.asm", "/nonexistent/a.asm");
        QTest::newRow("folder") << usage("--hex /", "папка");
    }
    void runs() {
        QFETCH(Case, c);
        QTemporaryDir root;
        const QString folder = root.filePath(u"a \"q\" dir"_s), temp = root.filePath(u"tmp"_s);
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(temp));
        for (auto file = c.before.cbegin(); file != c.before.cend(); ++file)
            WriteAll(folder + u'/' + QString::fromUtf8(file.key()), file.value());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"TMPDIR"_s, temp);
        environment.insert(u"XDG_CACHE_HOME"_s, root.filePath(u"cache"_s));
        for (const QString &setting : QString::fromUtf8(c.environment).split(u' ', Qt::SkipEmptyParts))
            environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        QString program = CLI;
        if (environment.contains(u"FAKEASM_MODE"_s)) {  // a visible assembler beside the program is the one that runs
            program = root.filePath(u"orvandine-convert"_s);
            QVERIFY(QFile::copy(CLI, program) && QFile::copy(FAKEASM, root.filePath(u"nasmw"_s)));
        }

        if (c.fileSizeLimit != RLIM_INFINITY)  // the assembler's copy is cached first: the limit is for the product
            QCOMPARE(Execute(program, {u"--hex"_s, u"-"_s}, folder, {}, environment).exitCode, 0);
        QStringList arguments = QProcess::splitCommand(QString::fromUtf8(c.arguments));
        const Run run =
            Execute(program, arguments.replaceInStrings(u"@"_s, folder), folder, c.input, environment, c.fileSizeLimit);
        const auto matches = [&folder](const QByteArray &pattern, const QByteArray &text) {
            const QString escaped = QString::fromUtf8(pattern).replace(u"@"_s, QRegularExpression::escape(folder));
            return QRegularExpression(escaped).match(QString::fromUtf8(text)).hasMatch();
        };
        QVERIFY2(matches(c.out, run.out), run.out.constData());
        QVERIFY2(matches(c.err, run.err), run.err.constData());
        QCOMPARE(run.exitCode, c.exitCode);
        Files files;
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            files[name.toUtf8()] = ReadAll(folder + u'/' + name);
        c.before.insert(c.after);
        QCOMPARE(files, c.before);
        QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        if (program != CLI) QVERIFY(QFileInfo::exists(root.filePath(u"nasmw"_s)));  // the user's, kept
    }

    // Installed into a prefix its user cannot write to, it still works.
    void installedReadOnlyForItsUser() {
        if (geteuid() != 0 || QStandardPaths::findExecutable(u"runuser"_s).isEmpty())
            QSKIP("needs root and runuser to act as an unprivileged user");
        QTemporaryDir prefix(u"/tmp/orvandine-prefix-XXXXXX"_s);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QStringList install{u"--install"_s, BUILD_DIR, u"--prefix"_s, prefix.path()};
        QCOMPARE(Execute(u"cmake"_s, install, u"/"_s, {}, environment).exitCode, 0);
        QVERIFY(QFile::setPermissions(prefix.path(), QFile::permissions(prefix.path()) | QFile::ExeOther));
        for (const char *file : {"share/applications/orvandine-converter.desktop",
                                 "share/icons/hicolor/16x16/apps/orvandine-converter.png",
                                 "share/icons/hicolor/32x32/apps/orvandine-converter.png"})
            QVERIFY2(QFileInfo::exists(prefix.filePath(QString::fromLatin1(file))), file);

        environment.insert(u"HOME"_s, u"/nonexistent"_s);  // no cache folder either
        environment.remove(u"XDG_CACHE_HOME"_s);
        environment.insert(u"TMPDIR"_s, u"/tmp"_s);
        const QString cli = prefix.filePath(u"bin/orvandine-convert"_s);
        const Run run = Execute(u"runuser"_s, {u"-u"_s, u"nobody"_s, u"--"_s, cli, u"--hex"_s, u"-"_s}, u"/"_s,
                                "nop\nret\n", environment);
        QVERIFY2(run.out == "90C3\n", run.err.constData());
        QCOMPARE(QDir(prefix.filePath(u"bin"_s)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"orvandine-convert"_s, u"orvandine-converter"_s}));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
