// orvandine-convert as a user runs it: real files, the embedded NASM.
#include "payload_info.h"
#include "products/renderers.h"
#include "products/vba7module.h"
#include "system/codepage.h"
#include "system/platform.h"
#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#ifdef Q_OS_WIN
#include <windows.h>

#include <tlhelp32.h>
using rlim_t = qint64;
constexpr rlim_t RLIM_INFINITY = -1;
constexpr int SIGKILL = 9;
constexpr char kDevice[] = "--hex NUL";
int mkfifo(const char *, int) {
    return -1;
}
#else
constexpr char kDevice[] = "--hex /dev/zero";
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <functional>
#include <vector>

namespace {

using Files = QMap<QByteArray, QByteArray>;

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
    Files after;         // what the run writes; every other file stays as it was
    QByteArray streams;  // "out=full|closed|broken", "in=closed|folder", "cwd=removed": how the run is started
    int signal = 0;      // sent once the run's folder is there
    std::function<void(const QString &folder)> prepare;  // links, FIFOs and sparse files among the files before
    std::function<void(const QString &folder)> check;    // what the files must still be after the run
    const char *notOnWindows = nullptr;                  // why the row cannot run on Windows
};

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

#ifdef Q_OS_WIN
const wchar_t *Wide(const QString &path) {
    static std::wstring text;
    return (text = QDir::toNativeSeparators(path).toStdWString()).c_str();
}

// Ctrl+C in the program's console, as a person presses it there.
void PressCtrlC(qint64 program) {
    ::FreeConsole();
    if (!::AttachConsole(DWORD(program))) qWarning("no console to attach to: %lu", ::GetLastError());
    ::SetConsoleCtrlHandler(nullptr, TRUE);  // the test itself goes on
    ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    ::FreeConsole();
    QTest::qWait(200);
    ::SetConsoleCtrlHandler(nullptr, FALSE);
}

// The NASM copies (nasmw.exe, or the cached nasmw-….exe) this program started that still run.
int Running(qint64 program) {
    int count = 0;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{.dwSize = sizeof entry};
    for (bool more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        count += entry.th32ParentProcessID == DWORD(program) && QStringView(entry.szExeFile).startsWith(u"nasmw");
    ::CloseHandle(snapshot);
    return count;
}
#else
// The processes whose command line names this text.
int Running(const QString &text) {
    int count = 0;
    for (const QString &pid : QDir(u"/proc"_s).entryList({u"[0-9]*"_s}, QDir::Dirs))
        count += ReadAll(u"/proc/"_s + pid + u"/cmdline"_s).contains(text.toUtf8());
    return count;
}
#endif

Run Execute(const QString &program, const QStringList &arguments, const QString &folder, const QByteArray &input,
            const QProcessEnvironment &environment, rlim_t fileSizeLimit = RLIM_INFINITY,
            const QByteArray &streams = {}, int signal = 0) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
#ifndef Q_OS_WIN
    // QProcess passes arguments as UTF-8 text: one with a name's other bytes is passed by the child itself.
    QByteArrayList strings{QFile::encodeName(program)};
    for (const QString &argument : arguments) strings << platform::EncodeName(argument);
    const bool bytes = std::any_of(arguments.begin(), arguments.end(),
                                   [](const QString &a) { return platform::EncodeName(a) != a.toUtf8(); });
    const qsizetype count = strings.size();
    for (const QString &variable : environment.toStringList()) strings << variable.toUtf8();
    std::vector<char *> vectors;  // into the data the lambda's copy of strings shares
    for (const QByteArray &string : strings) vectors.push_back(const_cast<char *>(string.constData()));
    vectors.insert(vectors.begin() + count, nullptr);
    vectors.push_back(nullptr);
    process.setChildProcessModifier([fileSizeLimit, streams, bytes, strings, vectors, count] {
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        if (fileSizeLimit != RLIM_INFINITY) setrlimit(RLIMIT_FSIZE, &limit);
        int broken[2];
        if (streams.contains("out=full")) dup2(open("/dev/full", O_WRONLY), 1);
        if (streams.contains("out=closed")) close(1);
        if (streams.contains("out=broken") && pipe(broken) == 0) dup2(broken[1], 1), close(broken[0]);
        if (streams.contains("in=closed")) close(0);
        if (streams.contains("in=folder")) dup2(open("/", O_RDONLY), 0);
        if (streams.contains("cwd=removed") && mkdir("gone", 0700) == 0 && chdir("gone") == 0) rmdir("../gone");
        if (bytes) execve(vectors[0], vectors.data(), vectors.data() + count + 1);
    });
#endif
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (signal != 0) {
#ifdef Q_OS_WIN
        const qint64 id = process.processId();
        const auto running = [id] { return Running(id); };
#else
        const QString temp = environment.value(u"TMPDIR"_s);
        const auto running = [temp] { return Running(temp); };
#endif
        if (!QTest::qWaitFor([&] { return running() > 0; }, 20000)) return {-100, {}, "NASM never ran"};
#ifdef Q_OS_WIN
        if (signal == SIGKILL)
            process.kill();  // TerminateProcess: nothing of the program runs any more
        else
            PressCtrlC(id);
#else
        kill(pid_t(process.processId()), signal);  // twice at once, as `timeout` sends it
        if (signal != SIGKILL) kill(pid_t(process.processId()), signal);
#endif
        process.waitForFinished(60000);
        if (!QTest::qWaitFor([&] { return running() == 0; }, 5000))  // NASM ends with the program, even killed
            return {-101, {}, "NASM outlived the program"};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -signal,
                {},
                process.readAllStandardError()};
    }
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
        const Files source{
            {"Проба 1.asm", "bits 32\r\ndb \"\xCF\xF0\xE8\xE2\xE5\xF2\"\r\nret\r\n"}};  // in the code page
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
                                                .input = "use32\nnop\n",
                                                .out = "\"Новый файл.bas\" создан",
                                                .after = {{"Новый файл.bas", ModuleText(u"90"_s).toLatin1()}}};
        // The golden modules: their text is what Office and VB6 load.
        const auto golden = [](const char *name) { return ReadAll(QStringLiteral(GOLDEN_DIR "/") + name); };
        for (const char *name : {"sum32", "table64"}) {
            const QByteArray asmName = name + QByteArray(".asm"), module = name + QByteArray(".vba7.bas");
            QTest::addRow("vba7 %s", name)
                << Case{.arguments = "--vba7 " + asmName,
                        .before = {{asmName, golden(asmName)}},
                        .out = "^Файл модуля \"" + module + "\" создан успешно\n[^\n]*\n[^\n]*\"CallAsmCode\"\nКод " +
                               QByteArray(name).right(2) + "-битный",
                        .after = {{module, golden(module)}}};
        }
        const auto vba7 = [](const QByteArray &code, CodeMode mode) {
            return codepage::Encode(Vba7ModuleText(code, mode)).bytes;
        };
        QTest::newRow("vba7, bits 64 in an include")
            << Case{.arguments = "--vba7 i.asm",
                    .before = {{"i.asm", "%include \"m.inc\"\nret\n"}, {"m.inc", "bits 64\n"}},
                    .out = "\"i.vba7.bas\" создан",
                    .after = {{"i.vba7.bas", vba7("\xC3", CodeMode::Bits64)}}};
        QTest::newRow("vba7, 16-bit code") << Case{.arguments = "--vba7 n.asm",
                                                   .before = {{"n.asm", "nop\n"}},
                                                   .out = "успешно",
                                                   .err = "^[^\n]*16-битный код, и модуль VBA7 не станет[^\n]*\n$",
                                                   .after = {{"n.vba7.bas", vba7("\x90", CodeMode::Bits16)}}};
        QTest::newRow("vba7, over 1 MiB") << Case{.arguments = "--vba7 big.asm",
                                                  .before = {{"big.asm", "bits 32\ntimes 1048577 db 0\n"}},
                                                  .exitCode = 2,
                                                  .err = "big.vba7.bas.*1048577 байт.*1 МиБ"};
        QTest::newRow("bas, bits 64: points to VBA7")
            << Case{.arguments = "--bas s.asm",
                    .before = {{"s.asm", "bits 64\nret\n"}},
                    .out = "успешно",
                    .err = "^[^\n]*только 32-битный код, в VB6[^\n]*--vba7[^\n]*\n$",
                    .after = {{"s.bas", ModuleBytes("\xC3")}}};
        QTest::newRow("%warning") << Case{.arguments = "--hex w.asm",
                                          .before = {{"w.asm", "%warning wary\nret\n"}},
                                          .out = "^C3\n$",
                                          .err = "^w.asm:1: warning: wary"};
        for (const char *option : {"--hex", "--bin", "--bas", "--vba7"})
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
                                           .err = "@/big.bas",
                                           .notOnWindows = "file-size limits are rlimits"};
        const Files small{{"a.asm", "ret\n"}};
        const auto refused = [&](const char *arguments, const QByteArray &streams, int code, const char *says) {
            return Case{.arguments = arguments,
                        .before = small,
                        .exitCode = code,
                        .out = ".*",
                        .err = says,
                        .streams = streams,
                        .notOnWindows = "odd standard streams and a removed current folder need a POSIX child hook"};
        };
        QTest::newRow("output to a full disk") << refused("--hex a.asm", "out=full", 2, "нет места");
        QTest::newRow("output closed") << refused("--hex a.asm", "out=closed", 2, "вывод: он закрыт");
        QTest::newRow("broken pipe") << refused("--hex a.asm", "out=broken", 2, "закрыл канал");
        QTest::newRow("input closed") << refused("--bin -", "in=closed", 2, "ввод: он закрыт");
        QTest::newRow("input is a folder") << refused("--bin -", "in=folder", 2, "ввод: это папка");
        QTest::newRow("current folder removed") << refused("--bin -", "cwd=removed", 2, "удалена");
        QTest::newRow("no temp folder") << Case{.arguments = "--hex a.asm",
                                                .environment = kTempVariable + "=/nonexistent/tmp"_ba,
                                                .before = small,
                                                .exitCode = 2,
                                                .err = "«/nonexistent/tmp»"};
        const auto special = [&](const char *arguments, const char *says, std::function<void(const QString &)> make,
                                 const char *notOnWindows =
                                     "no FIFOs on Windows, and QFile::link makes a shortcut there") {
            return Case{.arguments = arguments,
                        .before = small,
                        .exitCode = 2,
                        .err = says,
                        .prepare = make,
                        .notOnWindows = notOnWindows};
        };
        QTest::newRow("FIFO source") << special("--hex f.asm", "FIFO", [](const QString &folder) {
            QCOMPARE(mkfifo(QFile::encodeName(folder + u"/f.asm"_s).constData(), 0600), 0);
        });
        QTest::newRow("source over the limit") << special(
            "--hex big.asm", "больше 256 МиБ",
            [](const QString &folder) {
                QFile big(folder + u"/big.asm"_s);
                QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(257) << 20));  // sparse
            },
            nullptr);
        QTest::newRow("product links to a FIFO") << special("--bin a.asm", "FIFO", [](const QString &folder) {
            QCOMPARE(mkfifo(QFile::encodeName(folder + u"/fifo"_s).constData(), 0600), 0);
            QVERIFY(QFile::link(u"fifo"_s, folder + u"/a.bin"_s));
        });
        QTest::newRow("vba7 links to a FIFO") << special("--vba7 a.asm", "FIFO", [](const QString &folder) {
            QCOMPARE(mkfifo(QFile::encodeName(folder + u"/fifo"_s).constData(), 0600), 0);
            QVERIFY(QFile::link(u"fifo"_s, folder + u"/a.vba7.bas"_s));
        });
        QTest::newRow("product is the source") << special("--bas a.asm", "сам исходный", [](const QString &folder) {
            QVERIFY(QFile::link(u"a.asm"_s, folder + u"/a.bas"_s));
        });
        const QByteArray longName(247, 'n');  // the product's name is 251 bytes: no room for a suffix
        QTest::newRow("name near the limit, replaced")
            << Case{.arguments = "--bin " + longName + ".asm",
                    .before = {{longName + ".asm", "bits 32\nret\n"}, {longName + ".bin", "older"}},
                    .out = "успешно",
                    .after = {{longName + ".bin", "\xC3"}}};
        // Replaced in one step, the product keeps what its owner gave it: hidden there, the mode bits here.
        const QByteArray kept = "kept.bin";
        QTest::newRow("replaced, keeps its attributes") << Case{
            .arguments = "--bin kept.asm",
            .before = {{"kept.asm", "bits 32\nret\n"}, {kept, "older"}},
            .out = "успешно",
            .after = {{kept, "\xC3"}},
#ifdef Q_OS_WIN
            .prepare =
                [](const QString &folder) {
                    QVERIFY(SetFileAttributesW(Wide(folder + u"/kept.bin"_s), FILE_ATTRIBUTE_HIDDEN));
                },
            .check =
                [](const QString &folder) {
                    QCOMPARE(GetFileAttributesW(Wide(folder + u"/kept.bin"_s)) & FILE_ATTRIBUTE_HIDDEN,
                             DWORD(FILE_ATTRIBUTE_HIDDEN));
                },
#else
            .prepare =
                [](const QString &folder) {
                    QVERIFY(QFile::setPermissions(folder + u"/kept.bin"_s,
                                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
                },
            .check =
                [](const QString &folder) {
                    QCOMPARE(QFile::permissions(folder + u"/kept.bin"_s) & 0x7077,
                             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
                },
#endif
        };
#ifndef Q_OS_WIN
        // A name in Windows-1251 bytes ("Проба"), as archives made on Windows unpack: the product's name keeps the
        // bytes, and the message shows them escaped. Qt's file classes cannot name these files: plain calls do.
        const auto named = [](const QString &folder, const char *extension) {
            return QFile::encodeName(folder) + "/\xCF\xF0\xEE\xE1\xE0." + extension;
        };
        QTest::newRow("name in Windows-1251 bytes")
            << Case{.arguments = "--bas @/\xCF\xF0\xEE\xE1\xE0.asm",
                    .out = "^Файл модуля \"@/\\\\xCF\\\\xF0\\\\xEE\\\\xE1\\\\xE0\\.bas\" создан",
                    .prepare =
                        [named](const QString &folder) {
                            const int fd = ::open(named(folder, "asm").constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
                            QVERIFY(fd >= 0 && ::write(fd, "bits 32\nret\n", 12) == 12 && ::close(fd) == 0);
                        },
                    .check =
                        [named](const QString &folder) {
                            QFile product;
                            product.open(::open(named(folder, "bas").constData(), O_RDONLY), QIODevice::ReadOnly,
                                         QFile::AutoCloseHandle);
                            const QByteArray module = product.readAll();
                            int entries = 0;  // Qt lists none of these names, nor can it remove them
                            DIR *listed = ::opendir(QFile::encodeName(folder).constData());
                            while (const dirent *entry = ::readdir(listed)) entries += entry->d_name[0] != '.';
                            ::closedir(listed);
                            ::unlink(named(folder, "asm").constData()), ::unlink(named(folder, "bas").constData());
                            QCOMPARE(module, ModuleBytes("\xC3"));
                            QCOMPARE(entries, 2);
                        }};
        // NASM takes no control character in the name the run hands it for __FILE__ and its messages.
        QTest::newRow("a line break in the name") << Case{.arguments = "--hex \"l\nb.asm\"",
                                                          .before = {{
                                                              "l\nb.asm",
                                                              "bits 32\ndb __FILE__\n"
                                                          }},
                                                          .out = "^6C3F622E61736D\n$"};
#endif
        const Files slow{{"slow.asm", "%rep 1000000\n%rep 1000000\n%assign i 1\n%endrep\n%endrep\n"}};
        QTest::newRow("interrupted") << Case{.arguments = "--hex slow.asm",
                                             .environment = "HOME= XDG_CACHE_HOME=",
                                             .before = slow,
                                             .exitCode = 130,
                                             .signal = SIGINT};
        QTest::newRow("killed") << Case{
            .arguments = "--hex slow.asm", .before = slow, .exitCode = -SIGKILL, .signal = SIGKILL};
        const Files sum{
            {"sum.asm", "bits 32\nmov eax, [esp+4]\nadd eax, [esp+8]\nadd eax, [esp+12]\nadd eax, [esp+16]\nret 16\n"},
            {"w.inc", "%define TWO 2\n"}};
        QTest::newRow("call") << Case{
            .arguments = "--call sum.asm 1 2 3 4", .before = sum, .out = "^EAX = 10 \\(&H0000000A\\)\n"};
        QTest::newRow("call, rule CallWindowProc repairs") << Case{
            .arguments = "--call r.asm", .before = {{"r.asm", "bits 32\nret\n"}}, .out = "0 байт аргументов из 16"};
        QTest::newRow("call, crash") << Case{.arguments = "--call r.asm",
                                             .before = {{"r.asm", "bits 32\nxor ebp, ebp\nret 16\n"}},
                                             .exitCode = 3,
                                             .out = "СБОЙ: EBP изменён"};
        QTest::newRow("call, no verdict") << Case{.arguments = "--max-instructions 5000 --call r.asm",
                                                  .before = {{"r.asm", "bits 32\njmp $\n"}},
                                                  .exitCode = 4,
                                                  .out = "не завершился за 5000 инструкций"};
        QTest::newRow("call, bad limit") << Case{.arguments = "--max-instructions 0 --call sum.asm",
                                                 .before = sum,
                                                 .exitCode = 2,
                                                 .err = "предел инструкций"};
        QTest::newRow("call, empty source") << Case{
            .arguments = "--call e.asm", .before = {{"e.asm", ""}}, .out = "^Кода нет: при пустой строке CodeString"};
        // The mode comes from what NASM did: here from an included file.
        QTest::newRow("call, bits 64 in an include") << Case{
            .arguments = "--call r.asm -7",
            .before = {{"r.asm", "%include \"m.inc\"\nmov rax, rcx\nret\n"}, {"m.inc", "bits 64\n"}},
            .out = "^RAX = -7 \\(&HFFFFFFFFFFFFFFF9\\)\nEAX = -7 \\(&HFFFFFFF9\\)\n[\\s\\S]*Режим проверки: 64-битный"};
        QTest::newRow("call, bits 32 where WIN64 is not defined") << Case{
            .arguments = "--call w.asm 3 4",
            .before = {{"w.asm",
                        "%ifdef WIN64\nbits 64\n%else\nbits 32\n%endif\nmov eax, [esp+4]\nadd eax, [esp+8]\nret 16\n"}},
            .out = "^EAX = 7 \\(&H00000007\\)\n[\\s\\S]*Режим проверки: 32-битный"};
        QTest::newRow("call, code in two modes runs as VB6 runs it")
            << Case{.arguments = "--call m.asm",
                    .before = {{"m.asm", "bits 32\nnop\nbits 64\nret 16\n"}},
                    .out = "Режим проверки: код, вызванный как 32-битный[^\n]*модуль VBA7 его не вызовет"};
        QTest::newRow("call, bad parameter")
            << Case{.arguments = "--call sum.asm 1 zz", .before = sum, .exitCode = 2, .err = "P2 \\(«zz»\\)"};
        QTest::newRow("list, include beside the document")
            << Case{.arguments = "--list i.asm",
                    .before = {{"i.asm", "bits 32\n%include \"w.inc\"\npush TWO\n"}, {"w.inc", "%define TWO 2\n"}},
                    .out = "3  00000000  6A02 +push TWO"};
        QTest::newRow("warnings: no bits, too long for VB")
            << Case{.arguments = "--bas nb.asm",
                    .before = {{"nb.asm", "times 502 nop\n"}},
                    .out = "успешно",
                    .err = "^[^\n]*bits 32[^\n]*\n[^\n]*502 байт[^\n]*1023[^\n]*--vba7[^\n]*\n$",
                    .after = {{"nb.bas", ModuleBytes(QByteArray(502, '\x90'))}}};
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
        QTest::newRow("device source") << usage(kDevice, "устройство");
    }
    void runs() {
        QFETCH(Case, c);
#ifdef Q_OS_WIN
        if (c.notOnWindows) QSKIP(c.notOnWindows);
        const QString exe = u".exe"_s, folderName = u"a 'q' dir"_s;  // no quotes in Windows names
#else
        const QString exe, folderName = u"a \"q\" dir"_s;
#endif
        QTemporaryDir root;
        const QString folder = root.filePath(folderName), temp = root.filePath(u"tmp"_s);
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(temp));
        for (auto file = c.before.cbegin(); file != c.before.cend(); ++file)
            WriteAll(folder + u'/' + QString::fromUtf8(file.key()), file.value());
        if (c.prepare) c.prepare(folder);
        const auto kinds = [&folder] {  // links, FIFOs and other files are never replaced
            QStringList kinds;
            for (const QFileInfo &entry :
                 QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
                kinds << entry.fileName() + (entry.isSymLink() ? u"@"_s : entry.isFile() ? u""_s : u"?"_s);
            return kinds;
        };
        const QStringList kindsBefore = kinds();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kTempVariable), temp);
        environment.insert(u"XDG_CACHE_HOME"_s, root.filePath(u"cache"_s));
        for (const QString &setting : QString::fromUtf8(c.environment).split(u' ', Qt::SkipEmptyParts))
            environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        QString program = CLI;
        if (environment.contains(u"FAKEASM_MODE"_s)) {  // a visible assembler beside the program is the one that runs
            program = root.filePath(u"orvandine-convert"_s + exe);
            QVERIFY(QFile::copy(CLI, program) && QFile::copy(FAKEASM, root.filePath(u"nasmw"_s + exe)));
        }

        if (c.fileSizeLimit != RLIM_INFINITY)  // the assembler's copy is cached first: the limit is for the product
            QCOMPARE(Execute(program, {u"--hex"_s, u"-"_s}, folder, {}, environment).exitCode, 0);
#ifdef Q_OS_WIN
        QStringList arguments = QProcess::splitCommand(QString::fromUtf8(c.arguments));
#else
        QStringList arguments = QProcess::splitCommand(platform::DecodeName(c.arguments));
#endif
        const Run run = Execute(program, arguments.replaceInStrings(u"@"_s, folder), folder, c.input, environment,
                                c.fileSizeLimit, c.streams, c.signal);
        const auto matches = [&folder](const QByteArray &pattern, const QByteArray &text) {
            const QString escaped = QString::fromUtf8(pattern).replace(u"@"_s, QRegularExpression::escape(folder));
            return QRegularExpression(escaped).match(QString::fromUtf8(text)).hasMatch();
        };
        QVERIFY2(matches(c.out, run.out), run.out.constData());
        QVERIFY2(matches(c.err, run.err), run.err.constData());
        QCOMPARE(run.exitCode, c.exitCode);
        Files files;
        for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
            if (file.isFile() && !file.isSymLink() && file.size() < (1 << 20))
                files[file.fileName().toUtf8()] = ReadAll(file.filePath());
        c.before.insert(c.after);
        QCOMPARE(files, c.before);
        const QStringList kindsAfter = kinds();
        for (const QString &kind : kindsBefore) QVERIFY2(kindsAfter.contains(kind), qPrintable(kind));
        QVERIFY(!QFileInfo::exists(u"/Новый файл.bin"_s));
        if (c.check) c.check(folder);
        if (c.signal != SIGKILL)
            QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        if (program != CLI) QVERIFY(QFileInfo::exists(root.filePath(u"nasmw"_s + exe)));  // the user's, kept
    }

    // Installed into a prefix its user cannot write to, it still works.
    void installedReadOnlyForItsUser() {
#ifdef Q_OS_WIN
        QSKIP("runuser and POSIX permissions");
#else
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
#endif
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
