#include "callparams.h"
#include "listing.h"
#include "sourcechecks.h"
#include "testsupport.h"
#include "trial.h"
#include "trialreport.h"

#include <sys/resource.h>
#include <QProcess>

namespace {

struct Assembled {
    QByteArray code;
    QList<ListingRow> listing;
};

// The real NASM, as the programs run it: a flat binary and its listing in one run.
Assembled Assemble(const QString &source, const QMap<QString, QByteArray> &beside = {}) {
    QTemporaryDir dir;
    for (auto it = beside.begin(); it != beside.end(); ++it) WriteAll(dir.filePath(it.key()), it.value());
    WriteAll(dir.filePath(u"f.asm"_s), source.toLatin1());
    QProcess nasm;
    nasm.setWorkingDirectory(dir.path());
    nasm.start(QStringLiteral(REAL_NASM), {u"-f"_s, u"bin"_s, u"f.asm"_s, u"-o"_s, u"f.bin"_s, u"-l"_s, u"f.lst"_s});
    if (!nasm.waitForFinished() || nasm.exitCode() != 0) qWarning() << nasm.readAllStandardError();
    return {ReadAll(dir.filePath(u"f.bin"_s)), ParseListing(QString::fromLatin1(ReadAll(dir.filePath(u"f.lst"_s))))};
}

const QString kSum = u"mov eax, [esp+4]\nadd eax, [esp+8]\nadd eax, [esp+12]\nadd eax, [esp+16]\n"_s;

}  // namespace

class TestTrial : public QObject {
    Q_OBJECT

private slots:
    void calls_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("params");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<int>("line");          // the line a stopped call is marked on
        QTest::addColumn<QString>("expected");  // a part of the report, or its first line when it starts with "EAX"
        const QStringList p1234{u"1"_s, u"2"_s, u"3"_s, u"4"_s};
        QTest::newRow("sum") << u"bits 32\n"_s + kSum + u"ret 16\n"_s << p1234 << true << 0
                             << u"EAX = 10 (&H0000000A)\n"_s;
        QTest::newRow("negative") << u"bits 32\n"_s + kSum + u"ret 16\n"_s << QStringList{u"-20"_s, u"&HFFFFFFFF"_s}
                                  << true << 0 << u"EAX = -21 (&HFFFFFFEB)\n"_s;
        QTest::newRow("plain ret") << u"bits 32\n"_s + kSum + u"ret\n"_s << p1234 << false << 0
                                   << u"сняла со стека 0 байт аргументов из 16"_s;
        // Assembled as 16-bit code, the first instruction reads [si+24h] with 16-bit addressing.
        QTest::newRow("no bits 32") << kSum + u"ret 16\n"_s << p1234 << false << 1 << u"нет директивы bits 32"_s;
        QTest::newRow("ebx") << u"bits 32\nmov ebx, 5\nmov eax, ebx\nret 16\n"_s << p1234 << false << 0
                             << u"EBX изменён: был &HB0B0B0B0, стал &H00000005"_s;
        QTest::newRow("std") << u"bits 32\nstd\nret 16\n"_s << p1234 << false << 0
                             << u"НАРУШЕНО: флаг направления установлен"_s;
        QTest::newRow("read 0") << u"bits 32\nxor eax, eax\nmov eax, [eax] ; here\nret 16\n"_s << p1234 << false << 3
                                << u"чтение памяти по адресу &H00000000 — эта память функции не выделена.\n"
                                   u"Место остановки: смещение &H00000002, строка 3: mov eax, [eax] ; here"_s;
        QTest::newRow("write past buffer")
            << u"bits 32\nmov ecx, [esp+4]\nmov byte [ecx+3], 1\nret 16\n"_s << QStringList{u"buf:3"_s} << false << 3
            << u"запись в память по адресу &H01001000"_s;
        QTest::newRow("read before buffer")
            << u"bits 32\nmov ecx, [esp+4]\nmov al, [ecx-1]\nret 16\n"_s << QStringList{u"hex:010203"_s} << false << 3
            << u"чтение памяти по адресу &H01000FFC"_s;
        QTest::newRow("off the end") << u"bits 32\nnop\n"_s << p1234 << false << 2
                                     << u"выполнение кода по адресу &H00400001"_s;
        QTest::newRow("jmp $") << u"bits 32\nnop\njmp $\n"_s << p1234 << false << 3 << u"выполнено 1000 инструкций"_s;
        QTest::newRow("int 3") << u"bits 32\nnop\nint 3\nret 16\n"_s << p1234 << false << 3
                               << u"остановлен: точка останова int 3"_s;
        QTest::newRow("mov eax, cr0 stopped before it runs")
            << u"bits 32\nxor eax, eax\nmov eax, cr0\nret 16\n"_s << p1234 << false << 3
            << u"инструкция mov cr — в программе Windows она вызывает сбой.\nМесто остановки: смещение &H00000002, "
               u"строка 3: mov eax, cr0.\nEAX в момент остановки = 0 "_s;
        QTest::newRow("prefixed lidt, not sidt") << u"bits 32\nsidt [esp-8]\nfs a16 lidt [si]\n"_s << p1234 << false
                                                 << 3 << u"привилегированная инструкция lidt"_s;
        QTest::newRow("ud2") << u"bits 32\nnop\nud2\n"_s << p1234 << false << 3
                             << u"остановлен: недопустимая инструкция"_s;
        QTest::newRow("buffer written")
            << u"bits 32\nmov ecx, [esp+8]\nmov dword [ecx], 0x44332211\nret 16\n"_s
            << QStringList{u""_s, u"buf:300"_s, u"hex:AABBCC"_s} << true << 0
            << u"Буфер P2: 300 байт по адресу &H01200ED4; первые 256 байт после вызова:\n  +0000  11 22 33 44 00"_s;
    }
    void calls() {
        QFETCH(QString, source);
        QFETCH(QStringList, params);
        QFETCH(bool, kept);
        QFETCH(int, line);
        QFETCH(QString, expected);
        const Assembled a = Assemble(source);
        const ParsedCallParams parsed = ParseCallParams(params);
        QVERIFY2(parsed, qPrintable(parsed.error));
        TrialSettings settings;
        settings.instructionLimit = 1000;
        const TrialResult r = TrialCall(a.code, parsed.params, settings);
        QVERIFY2(r, qPrintable(r.error));
        const QString report = TrialReportText(r, a.listing, CheckSource(source, a.code.size()), a.code.size());
        QCOMPARE(r.contractKept(), kept);
        QCOMPARE(StoppingLine(r, a.listing), line);
        if (expected.startsWith(u"EAX")) QVERIFY2(report.startsWith(expected), qPrintable(report));
        QVERIFY2(report.contains(expected), qPrintable(report));
    }

    void params_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");  // the number in hex, or the buffer's bytes after "buf "
        QTest::addColumn<QString>("error");  // a part of the message when refused
        QTest::newRow("empty") << u"  "_s << u"0"_s << QString();
        QTest::newRow("negative") << u"-2147483648"_s << u"80000000"_s << QString();
        QTest::newRow("&H") << u"&hFFFFFFFF"_s << u"ffffffff"_s << QString();
        QTest::newRow("&H Long") << u"&H1F&"_s << u"1f"_s << QString();
        QTest::newRow("0x") << u"0X1f"_s << u"1f"_s << QString();
        QTest::newRow("buf") << u"BUF:3"_s << u"buf 000000"_s << QString();
        QTest::newRow("hex") << u"hex:0102fF"_s << u"buf 0102ff"_s << QString();
        QTest::newRow("too big") << u"4294967296"_s << QString() << u"P2 («4294967296»): число вне"_s;
        QTest::newRow("&H too big") << u"&H100000000"_s << QString() << u"больше &HFFFFFFFF"_s;
        QTest::newRow("0x0x") << u"0x0x1"_s << QString() << u"нет шестнадцатеричного"_s;
        QTest::newRow("word") << u"abc"_s << QString() << u"P2 («abc»): ожидается число"_s;
        QTest::newRow("buf:0") << u"buf:0"_s << QString() << u"от 1 до 1048576"_s;
        QTest::newRow("buf over 1 MiB") << u"buf:1048577"_s << QString() << u"от 1 до 1048576"_s;
        QTest::newRow("leading zeros") << u"000000000001"_s << u"1"_s << QString();
        QTest::newRow("0x leading zeros") << u"0x00000000000000001"_s << u"1"_s << QString();
        QTest::newRow("hex spaced") << u"hex:01 02"_s << QString() << u"пробелы не допускаются"_s;
        QTest::newRow("hex odd") << u"hex:012"_s << QString() << u"нечётное"_s;
        QTest::newRow("hex letters") << u"hex:0G"_s << QString() << u"только цифры"_s;
    }
    void params() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, error);
        const ParsedCallParams parsed = ParseCallParams({u"1"_s, field});
        QCOMPARE(parsed.error.contains(error) && parsed.error.isEmpty() == error.isEmpty(), true);
        if (!parsed) return;
        QCOMPARE(parsed.params.size(), kCallParamCount);
        const CallParam &p = parsed.params[1];
        QCOMPARE(p.kind == CallParam::Kind::Buffer ? u"buf "_s + QString::fromLatin1(p.buffer.toHex())
                                                   : QString::number(p.number, 16),
                 value);
        QVERIFY(!ParseCallParams({u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s}));
    }

    // What a trial needs from the listing: the row, and so the line, of every byte.
    void listing() {
        const Assembled a = Assemble(
            u"bits 32\n%macro two 0\n inc eax\n inc eax\n%endmacro\n  times 3 nop\n"
            u"  db 'abcdefghijklmnopqrstu'\n  two\n%include \"beside.inc\"\n"
            u"  times 2 db 1,2,3,4,5,6,7,8,9,10\n  ret 16\n"_s,
            {{u"beside.inc"_s, "; note\n  mov eax, 1\n"}});
        QStringList rows;  // line, level, the document's line, offset, size, bytes x repeat, text
        for (const ListingRow &r : a.listing)
            rows << QString::asprintf("%d %d %d %lld %lld %sx%lld ", r.line, r.level, r.documentLine, r.offset, r.size,
                                      r.bytes.toHex().constData(), r.repeat) +
                        r.text.trimmed();
        QCOMPARE(rows.mid(5), QStringList({u"6 0 6 0 3 90x3 times 3 nop"_s,
                                           u"7 0 7 3 21 6162636465666768696a6b6c6d6e6f707172737475x1 db "
                                           u"'abcdefghijklmnopqrstu'"_s,
                                           u"8 0 8 -1 0 x1 two"_s, u"3 1 8 24 1 40x1 inc eax"_s,
                                           u"4 1 8 25 1 40x1 inc eax"_s, u"9 0 9 -1 0 x1 %include \"beside.inc\""_s,
                                           u"1 1 9 -1 0 x1 ; note"_s, u"2 1 9 26 5 b801000000x1 mov eax, 1"_s,
                                           u"10 0 10 31 20 0102030405060708090ax2 times 2 db 1,2,3,4,5,6,7,8,9,10"_s,
                                           u"11 0 11 51 3 c21000x1 ret 16"_s}));
        QCOMPARE(RowAtOffset(a.listing, 50)->line, 10);
        QCOMPARE(RowAtOffset(a.listing, 54), nullptr);
        QCOMPARE(CheckSource(u"nop\n"_s, 1, a.listing), QList<SourceWarning>());  // bits 32 seen in the listing
    }

    void warnings_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<SourceWarning>>("warnings");
        using W = QList<SourceWarning>;
        QTest::newRow("bits 32, 501 bytes") << u"bits 32\n"_s << 501 << W{};
        QTest::newRow("[BITS 16], 502 bytes")
            << u"  [BITS 16] ; user's choice\n"_s << 502 << W{SourceWarning::TooLongForVb};
        QTest::newRow("section use32: 16-bit") << u"section .text use32\n"_s << 1 << W{SourceWarning::NoModeDirective};
        QTest::newRow("use32, bits 64") << u" Use32\n bits 64\n"_s << 1 << W{SourceWarning::Mode64};
        QTest::newRow("in a comment") << u"nop ; use32\n"_s << 1 << W{SourceWarning::NoModeDirective};
        QTest::newRow("in strings") << u"db 'bits 32', \"use32\", `\\` use32`\n"_s << 1
                                    << W{SourceWarning::NoModeDirective};
        QTest::newRow("empty") << u"; nothing\n"_s << 0 << W{SourceWarning::NoModeDirective, SourceWarning::NoCode};
    }
    void warnings() {
        QFETCH(QString, source);
        QFETCH(int, size);
        QFETCH(QList<SourceWarning>, warnings);
        QCOMPARE(CheckSource(source, size), warnings);
    }

    void missingEmulatorIsAMessage() {
        TrialSettings settings;
        settings.emulatorLibrary = u"libunicorn-absent.so.2"_s;
        const TrialResult r = TrialCall("\xC3", {}, settings);
        QVERIFY(!r);
        QVERIFY2(r.error.contains(u"libunicorn-absent.so.2). Причина: библиотека не найдена."_s), qPrintable(r.error));
        settings.emulatorLibrary = QStringLiteral(REAL_NASM);  // an executable, not a library
        QVERIFY(TrialCall("\xC3", {}, settings).error.contains(u"файл не является библиотекой"_s));
        rlimit saved{};  // then too little address space for the emulator: refused, not ended inside it
        getrlimit(RLIMIT_AS, &saved);
        const rlimit low{ReadAll(u"/proc/self/statm"_s).split(' ').first().toULongLong() * 4096 + (256 << 20),
                         saved.rlim_max};
        setrlimit(RLIMIT_AS, &low);
        const QString shortage = TrialCall("\xC3", {}).error;
        setrlimit(RLIMIT_AS, &saved);
        QVERIFY2(shortage.contains(u"не хватает памяти"_s), qPrintable(shortage));
        QVERIFY(TrialCall(QByteArray(kMaxTrialCode + 1, '\x90'), {}).error.contains(u"больше 1 МиБ"_s));
    }
};

QTEST_GUILESS_MAIN(TestTrial)
#include "tst_trial.moc"
