#include "products/sourcechecks.h"
#include "run/listing.h"
#include "testsupport.h"
#include "trial/callparams.h"
#include "trial/trial.h"
#include "trial/trialreport.h"
#include "trial/trialworker.h"
#include "trial/x86length.h"

#include <QElapsedTimer>
#include <thread>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif
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
    nasm.start(QStringLiteral(REAL_NASM),
               {u"-f"_s, u"bin"_s, u"f.asm"_s, u"-o"_s, u"f.bin"_s, u"-l"_s, u"f.lst"_s, u"-Lfe"_s});
    if (!nasm.waitForFinished() || nasm.exitCode() != 0) qWarning() << nasm.readAllStandardError();
    for (const QFileInfo &file : QDir(dir.path()).entryInfoList(QDir::Files))  // NASM's under Wine are read-only
        QFile::setPermissions(file.filePath(), QFile::ReadOwner | QFile::WriteOwner);
    return {ReadAll(dir.filePath(u"f.bin"_s)), ParseListing(QString::fromLatin1(ReadAll(dir.filePath(u"f.lst"_s))))};
}

const QString kSum = u"mov eax, [esp+4]\nadd eax, [esp+8]\nadd eax, [esp+12]\nadd eax, [esp+16]\n"_s;

}  // namespace

class TestTrial : public QObject {
    Q_OBJECT

private slots:
    // One row per behaviour of the real call path: CallWindowProc's wrapper, a Windows process, a real CPU.
    void calls_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("params");
        QTest::addColumn<int>("verdict");       // TrialVerdict
        QTest::addColumn<int>("line");          // the line a stopped call is marked on
        QTest::addColumn<QString>("expected");  // parts of the report (split by ||); the first, when it starts with
                                                // "EAX = " or "RAX = ", begins it
        QTest::addColumn<quint64>("limit");
        const QStringList p1234{u"1"_s, u"2"_s, u"3"_s, u"4"_s};
        const int crash = int(TrialVerdict::Crash), repaired = int(TrialVerdict::Repaired),
                  clean = int(TrialVerdict::Clean), undecided = int(TrialVerdict::Undecided);
        const auto row = [&](const char *name, const QString &body, int verdict, int line, const QString &expected,
                             const QStringList &params = {u"1"_s, u"2"_s, u"3"_s, u"4"_s}) {
            QTest::newRow(name) << u"bits 32\n"_s + body << params << verdict << line << expected << quint64(1000);
        };
        // Where a rule fires after millions of instructions, and where the emulator's speed comes from.
        const auto rowLong = [&](const char *name, const QString &body, int verdict, int line, const QString &expected,
                                 const QStringList &params, quint64 limit) {
            QTest::newRow(name) << u"bits 32\n"_s + body << params << verdict << line << expected << limit;
        };
        rowLong("movaps in a hot loop, misaligned after five million instructions",
                u"mov ebx, [esp+4]\nmov ecx, 1000000\nl: movaps xmm0, [ebx]\ncmp ecx, 2\njne next\nadd ebx, 4\n"
                u"next: dec ecx\njnz l\nret 16\n"_s,
                crash, 4, u"по адресу &H01000FC4 не выровнен||Выполнено инструкций: 4999998\n"_s, {u"buf:64"_s},
                10'000'000);
        rowLong("movaps hidden in another instruction, reached by a jump into it after a loop",
                u"mov ecx, 1000000\nl: dec ecx\njnz l\njmp short x+1\nx: db 0xB8\nmovaps xmm0, [esp+4]\nret 16\n"_s,
                crash, 7, u"по адресу &H001EFFD4 не выровнен||Выполнено инструкций: 2000002\n"_s, p1234, 10'000'000);
        rowLong("the limit inside a block: the state after exactly that many",
                u"mov ecx, 1000\nxor eax, eax\nl: add eax, ecx\ndec ecx\njnz l\nret 16\n"_s, undecided, 4,
                u"EAX в момент остановки = 278389 ||Выполнено инструкций: 1002\n"_s, p1234, 1002);
        rowLong("a fault inside a block after a loop: its instruction",
                u"mov ecx, 1000\nl: dec ecx\njnz l\nnop\nmovups xmm0, [ecx+16]\nret 16\n"_s, crash, 6,
                u"чтение памяти по адресу &H00000010||Выполнено инструкций: 2003\n"_s, p1234, 10'000);
        rowLong("code that rewrites its own next instruction: each rewrite counts once",
                u"push ebx\nmov ebx, eax\nmov ecx, 1000\nl: mov byte [ebx+imm+1], cl\nimm: mov eax, 0\n"
                u"add edx, eax\ndec ecx\njnz l\nmov eax, edx\npop ebx\nret 16\n"_s,
                clean, 0, u"EAX = 124948 (&H0001E814)\n||Выполнено инструкций: 5006\n"_s, p1234, 10'000);
        row("sum", kSum + u"ret 16\n"_s, clean, 0, u"EAX = 10 (&H0000000A)\n"_s);
        row("negative", kSum + u"ret 16\n"_s, clean, 0, u"EAX = -21 (&HFFFFFFEB)\n"_s, {u"-20"_s, u"&HFFFFFFFF"_s});
        row("EAX is the function's address", u"ret 16\n"_s, clean, 0, u"EAX = 5242880 (&H00500000)\n"_s);
        row("plain ret", kSum + u"ret\n"_s, repaired, 0, u"CallWindowProc исправляет: функция сняла со стека 0 байт"_s);
        row("ret 8", u"ret 8\n"_s, repaired, 0, u"сняла со стека 8 байт аргументов из 16"_s);
        row("ret 0xfffc", u"ret 0xfffc\n"_s, repaired, 0, u"сняла со стека 65532 байт"_s);
        row("ebx", u"mov ebx, 5\nmov eax, ebx\nret 16\n"_s, repaired, 0,
            u"EBX изменён: был &HB0B0B0B0, стал &H00000005"_s);
        row("cpuid", u"xor eax, eax\ncpuid\nret 16\n"_s, repaired, 0, u"исправляет: EBX изменён"_s);
        row("ebp", u"xor ebp, ebp\nret 16\n"_s, crash, 0, u"СБОЙ: EBP изменён: был &H001EFFFC, стал &H00000000"_s);
        row("write above the arguments", u"mov dword [esp+20], -1\nret 16\n"_s, crash, 0,
            u"СБОЙ: запись выше аргументов, по адресу &H001EFFE4"_s);
        row("reads above are harmless", u"mov eax, [esp+20]\nmov eax, [esp+256]\nret 16\n"_s, clean, 0, u"EAX = 0 "_s);
        row("fs:[0x18] and the image in fs:[0x30]",
            u"mov eax, [fs:0x18]\nmov eax, [eax+0x30]\nmov eax, [eax+8]\nmovzx eax, word [eax]\nret 16\n"_s, clean, 0,
            u"EAX = 23117 (&H00005A4D)\n"_s);
        row("push ds, pop es, rep movsb",
            u"push esi\npush edi\npush ds\npop es\nmov ax, ds\nmov es, ax\nmov esi, [esp+12]\nlea edi, [esi+4]\n"
            u"mov ecx, 4\nrep movsb\npop edi\npop esi\nret 16\n"_s,
            clean, 0, u"+0000  01 02 03 04 01 02 03 04"_s, {u"hex:0102030400000000"_s});
        row("iretd", u"iretd\n"_s, crash, 2, u"общая ошибка защиты (исключение #GP)"_s);
        row("movaps misaligned", u"movaps xmm0, [esp+4]\nret 16\n"_s, crash, 2,
            u"по адресу &H001EFFD4 не выровнен на 16 байт"_s);
        row("ldmxcsr reserved", u"push 0x10000\nldmxcsr [esp]\n"_s, crash, 3, u"зарезервированными битами"_s);
        row("fwait unmasked", u"push 0x27B\nfldcw [esp]\nfldz\nfldz\nfdivp\nfwait\n"_s, crash, 7, u"(#MF)"_s);
        row("x87 left", u"fld1\nret 16\n"_s, crash, 0, u"СБОЙ: на стеке x87 осталось значений: 1"_s);
        row("fldcw not restored", u"push 0x37F\nfldcw [esp]\npop eax\nret 16\n"_s, crash, 0,
            u"было &H027F, стало &H037F"_s);
        row("std", u"std\nret 16\n"_s, crash, 0, u"СБОЙ: флаг направления установлен"_s);
        row("popcnt", u"mov eax, 7\npopcnt eax, eax\nret 16\n"_s, clean, 0, u"EAX = 3 "_s);
        row("movbe", u"movbe eax, [esp+4]\nret 16\n"_s, clean, 0, u"EAX = 1144201745 (&H44332211)\n"_s,
            {u"0x11223344"_s});
        row("AVX", u"vaddps ymm0, ymm1, ymm2\nret 16\n"_s, undecided, 2,
            u"эмулятор не умеет выполнять эту инструкцию; настоящий процессор, возможно, её выполнит"_s);
        row("shared page read-only", u"mov eax, [0x7FFE0000]\nmov [0x7FFE0000], eax\n"_s, crash, 3,
            u"запись в память по адресу &H7FFE0000"_s);
        row("read 0", u"xor eax, eax\nmov eax, [eax] ; here\nret 16\n"_s, crash, 3,
            u"чтение памяти по адресу &H00000000 — эта память функции не выделена.\n"
            u"Место остановки: смещение &H00000002, строка 3: mov eax, [eax] ; here"_s);
        row("write past buffer", u"mov ecx, [esp+4]\nmov byte [ecx+3], 1\nret 16\n"_s, crash, 3,
            u"запись в память по адресу &H01001000"_s, {u"buf:3"_s});
        row("read before buffer", u"mov ecx, [esp+4]\nmov al, [ecx-1]\nret 16\n"_s, crash, 3,
            u"чтение памяти по адресу &H01000FFC"_s, {u"hex:010203"_s});
        row("a macro in nested %rep blocks stops at its own line",
            u"%macro load 2\nmov %1, [%2]\n%endmacro\nxor eax, eax\n%rep 1\n%rep 1\nload ecx, eax\n%endrep\n%endrep\n"
            u"ret 16\n"_s,
            crash, 8, u"строка 8 (во вложенном тексте: mov %1, [%2], его строка 3)"_s);
        row("a struc's fields are no code",
            u"struc pt\n.x resd 1\n.y resd 1\nendstruc\nxor eax, eax\nmov eax, [eax+pt.y]\n"_s, crash, 7,
            u"строка 7: mov eax, [eax+pt.y]"_s);
        row("off the end", u"nop\n"_s, crash, 2, u"выполнение кода по адресу &H00500001"_s);
        row("jmp $", u"nop\njmp $\n"_s, undecided, 3, u"не дала ответа — вызов не завершился за 1000 инструкций"_s);
        row("int 3", u"nop\nint 3\nret 16\n"_s, crash, 3, u"остановлен: точка останова int 3"_s);
        row("mov eax, cr0 stopped before it runs", u"xor eax, eax\nmov eax, cr0\nret 16\n"_s, crash, 3,
            u"инструкция mov cr — в программе Windows она вызывает сбой.\nМесто остановки: смещение &H00000002, "
            u"строка 3: mov eax, cr0.\nEAX в момент остановки = 0 "_s);
        row("prefixed lidt, not sidt", u"sidt [esp-8]\nfs a16 lidt [si]\n"_s, crash, 3,
            u"привилегированная инструкция lidt"_s);
        row("ud2", u"nop\nud2\n"_s, crash, 3, u"остановлен: недопустимая инструкция"_s);
        row("rdpmc faults in a Windows program", u"nop\nrdpmc\nret 16\n"_s, crash, 3, u"инструкция rdpmc"_s);
        row("monitor faults in a Windows program", u"nop\nmonitor\nret 16\n"_s, crash, 3, u"инструкция monitor"_s);
        row("lock before cmp: every processor refuses it", u"nop\nlock cmp [esp+4], eax\nret 16\n"_s, crash, 3,
            u"остановлен: недопустимая инструкция"_s);
        row("call far through a register: refused", u"nop\ndb 0xFF, 0xD8\nret 16\n"_s, crash, 3,
            u"остановлен: недопустимая инструкция"_s);
        row("sysenter: what it does depends on Windows", u"nop\nsysenter\nret 16\n"_s, undecided, 3,
            u"в 32-битной Windows это вызов службы ядра"_s);
        row("the loader's module list is not in the model",
            u"mov eax, [fs:0x30]\nmov eax, [eax+0x0C]\nmov eax, [eax+0x14]\nret 16\n"_s, undecided, 3,
            u"поле Ldr блока процесса (списки загруженных модулей) (PEB+&H0C)"_s);
        row("what the code wrote to its thread block it reads back",
            u"mov dword [fs:0x34], 5\nmov eax, [fs:0x34]\nret 16\n"_s, clean, 0, u"EAX = 5 "_s);
        row("buffer written", u"mov ecx, [esp+8]\nmov dword [ecx], 0x44332211\nret 16\n"_s, clean, 0,
            u"Буфер P2: 300 байт по адресу &H01200ED4; первые 256 байт после вызова:\n  +0000  11 22 33 44 00"_s,
            {u""_s, u"buf:300"_s, u"hex:AABBCC"_s});
        // 64-bit code, called as 64-bit Office calls it: nothing repairs what it breaks.
        const auto row64 = [&](const char *name, const QString &body, int verdict, int line, const QString &expected,
                               const QStringList &params = {u"1"_s, u"2"_s, u"3"_s, u"-10"_s}) {
            QTest::newRow(name) << u"bits 64\n"_s + body << params << verdict << line << expected << quint64(1000);
        };
        row64("64: sum in RCX, RDX, R8, R9", u"mov rax, rcx\nadd rax, rdx\nadd rax, r8\nadd rax, r9\nret\n"_s, clean, 0,
              u"RAX = -4 (&HFFFFFFFFFFFFFFFC)\nEAX = -4 (&HFFFFFFFC)\n"_s);
        row64("64: ret 16", u"ret 16\n"_s, crash, 0, u"СБОЙ: функция сняла со стека 16 байт"_s);
        row64("64: rbx", u"mov rbx, 5\nret\n"_s, crash, 0, u"СБОЙ: RBX изменён: был &HB0B0B0B0B0B0B0B0"_s);
        row64("64: xmm6", u"pxor xmm6, xmm6\nret\n"_s, crash, 0,
              u"СБОЙ: XMM6 изменён: был &H60606060606060662424242424242424, стал &H0000"_s);
        row64("64: movaps [rsp] on entry", u"movaps [rsp], xmm0\nret\n"_s, crash, 2,
              u"по адресу &H000000E5001EFFF8 не выровнен на 16 байт"_s);
        row64("64: shadow space is the callee's, above it is not",
              u"mov [rsp+8], rcx\nmov [rsp+32], rcx\nmov [rsp+40], rcx\nret\n"_s, crash, 0,
              u"СБОЙ: запись выше теневой области (32 байта над адресом возврата), по адресу &H000000E5001F0020"_s);
        row64("64: buffer above 4 GiB", u"mov dword [rcx], 0x44332211\nmov eax, ecx\nmov byte [rax], 1\nret\n"_s, crash,
              4, u"запись в память по адресу &H0000000000000FF8"_s, {u"buf:8"_s});
        row64("64: gs:[0x30], the image in gs:[0x60]",
              u"mov rax, [gs:0x30]\nmov rax, [rax+0x60]\nmov rax, [rax+0x10]\nmovzx eax, word [rax]\nret\n"_s, clean, 0,
              u"RAX = 23117 "_s);
        row64("64: code is read-only", u"lea rax, [rel $]\nmov byte [rax], 0x90\nret\n"_s, crash, 3,
              u"память кода в модуле VBA7 только для чтения"_s);
        row64("64: syscall of a service no Windows has", u"mov eax, 0FFFh\nsyscall\nret\n"_s, clean, 0,
              u"RAX = 3221225500 (&H00000000C000001C)||вернуло STATUS_INVALID_SYSTEM_SERVICE"_s);
        row64("64: syscall of a service Windows has: no verdict", u"mov eax, 55h\nsyscall\nret\n"_s, undecided, 3,
              u"службу ядра Windows номер &H0055"_s);
        row64("64: the loader's module list is not in the model", u"mov rax, [gs:0x60]\nmov rax, [rax+0x18]\nret\n"_s,
              undecided, 3, u"(PEB+&H18)"_s);
        row64("64: movbe with REX.W", u"mov rax, 0x1122334455667788\nmov [rsp+8], rax\nmovbe rax, [rsp+8]\nret\n"_s,
              clean, 0, u"RAX = -8613303245920329199 (&H8877665544332211)"_s);
        // Assembled as 16-bit code, the first instruction reads [si+24h] with 16-bit addressing.
        QTest::newRow("no bits 32") << kSum + u"ret 16\n"_s << p1234 << crash << 1 << u"нет директивы bits 32"_s
                                    << quint64(1000);
    }
    void calls() {
        QFETCH(QString, source);
        QFETCH(QStringList, params);
        QFETCH(int, verdict);
        QFETCH(int, line);
        QFETCH(QString, expected);
        QFETCH(quint64, limit);
        const Assembled a = Assemble(source);
        const ParsedCallParams parsed = ParseCallParams(params);
        QVERIFY2(parsed, qPrintable(parsed.error));
        TrialSettings settings;
        settings.instructionLimit = limit;
        settings.bits = source.startsWith(u"bits 64") ? 64 : 32;
        const TrialResult r = TrialCall(a.code, parsed.params, settings);
        QVERIFY2(r, qPrintable(r.error));
        const QString report = TrialReportText(r, a.listing, CheckSource(a.listing, a.code.size()), a.code.size());
        for (const QString &part : expected.split(u"||"_s)) QVERIFY2(report.contains(part), qPrintable(report));
        const QString first = expected.section(u"||"_s, 0, 0);
        if (first.startsWith(u"EAX = ") || first.startsWith(u"RAX = "))
            QVERIFY2(report.startsWith(first), qPrintable(report));
        QCOMPARE(int(r.verdict()), verdict);
        QCOMPARE(StoppingLine(r, a.listing), line);
    }

    // Every instruction form of a straight run, as NASM encodes it: the decoder gives each its length, and the
    // call counted block by block stops where the call watched at every instruction stops, whatever the limit.
    void forms_data() {
        QTest::addColumn<int>("bits");
        QTest::newRow("32-bit") << 32;
        QTest::newRow("64-bit") << 64;
    }
    void forms() {
        QFETCH(int, bits);
        const Assembled a =
            Assemble(QString::fromLatin1(ReadAll(QStringLiteral(SOURCE_DIR "/trial/forms%1.asm").arg(bits))));
        QStringList wrong;
        for (const ListingRow &row : a.listing) {
            if (row.size <= 0 || row.repeat != 1) continue;
            const auto *at = reinterpret_cast<const quint8 *>(a.code.constData()) + row.offset;
            const quint32 length = x86::InstructionLength(at, quint32(a.code.size() - row.offset), bits == 64);
            if (length != quint32(row.size))
                wrong << QStringLiteral("%1 (%2, not %3)").arg(row.text.trimmed()).arg(length).arg(row.size);
        }
        QCOMPARE(wrong, QStringList());
#ifdef Q_OS_WIN
        if (!LoadEmulator()) QSKIP("this Windows build carries no unicorn.dll: nothing to emulate with");
#endif
        const auto call = [&a](const TrialSettings &settings) { return TrialCall(a.code, {}, settings); };
        for (quint64 limit = 1; limit < 170; limit += 5) {
            TrialSettings blocks, each;
            blocks.bits = each.bits = bits;
            blocks.instructionLimit = each.instructionLimit = limit;
            each.everyInstruction = true;
            const TrialResult b = call(blocks), e = call(each);
            QVERIFY2(
                b && e && e.end == b.end && e.instructions == b.instructions && e.offset == b.offset && e.rax == b.rax,
                qPrintable(QStringLiteral("limit %1: %2 against %3 instructions")
                               .arg(limit)
                               .arg(b.instructions)
                               .arg(e.instructions)));
        }
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
        QCOMPARE(CheckSource(a.listing, a.code.size()), QList<SourceWarning>());  // bits 32 seen in the listing
    }

    void missingEmulatorIsAMessage() {
        TrialSettings settings;
#ifdef Q_OS_WIN  // looked for beside the program only, where the build puts it
        const QString absent = u"unicorn-absent.dll"_s, advice = u"переустановите её"_s;
        settings.emulatorLibrary = QCoreApplication::applicationDirPath() + u'/' + absent;
#else
        const QString absent = u"libunicorn-absent.so.2"_s, advice = u"libunicorn2"_s;
        settings.emulatorLibrary = absent;
#endif
        const TrialResult r = TrialCall("\xC3", {}, settings);
        QVERIFY(!r);
        QVERIFY2(r.error.contains(absent + u"). Причина: библиотека не найдена."_s), qPrintable(r.error));
        QVERIFY2(r.error.contains(advice), qPrintable(r.error));
#ifndef Q_OS_WIN  // there a program loads as a module too; what it lacks is then told instead
        settings.emulatorLibrary = QStringLiteral(REAL_NASM);  // an executable, not a library
        QVERIFY(TrialCall("\xC3", {}, settings).error.contains(u"файл не является библиотекой"_s));
#endif
        QVERIFY(TrialCall(QByteArray(kMaxTrialCode + 1, '\x90'), {}).error.contains(u"больше 1 МиБ"_s));
        // A worker that Unicorn ended for want of memory after the check had passed: a shortage, not a damaged library.
        const QByteArray worker = qgetenv("ORVANDINE_TRIAL_WORKER");
        qputenv("ORVANDINE_TRIAL_WORKER", FAKEASM);
        qputenv("FAKEASM_MODE", "unicorn-oom");
        bool cancelled = false;
        const QString ended = TrialWorker({}).Run("\xC3", {}, {}, &cancelled).error;
        qputenv("ORVANDINE_TRIAL_WORKER", worker);
        qunsetenv("FAKEASM_MODE");
        QVERIFY2(ended.contains(u"не хватает памяти"_s), qPrintable(ended));
#ifdef Q_OS_WIN
        // There the limit would be a job object's (JOB_OBJECT_LIMIT_PROCESS_MEMORY), which Wine does not enforce and
        // which a process cannot leave once in it.
        QSKIP("no memory limit to set and lift for this process on Windows: the shortage is not tried");
#else
        rlimit saved{};  // then too little address space for the emulator: refused, not ended inside it
        getrlimit(RLIMIT_AS, &saved);
        const rlimit low{ReadAll(u"/proc/self/statm"_s).split(' ').first().toULongLong() * 4096 + (256 << 20),
                         saved.rlim_max};
        setrlimit(RLIMIT_AS, &low);
        const QString shortage = TrialCall("\xC3", {}).error;
        setrlimit(RLIMIT_AS, &saved);
        QVERIFY2(shortage.contains(u"не хватает памяти"_s), qPrintable(shortage));
#endif
    }

    // The worker, started as a program or forked (as the command line does): a library cut short is a
    // message naming it (on Linux loading it ends the loader with SIGBUS; Windows refuses the image), a stop
    // ends the call at once, and a result passes whole.
    void worker() {
        QTemporaryDir dir;
#ifdef Q_OS_WIN
        const QString broken = QDir::toNativeSeparators(dir.filePath(u"unicorn.dll"_s)), reason = u"повреждена"_s;
        WriteAll(broken, ReadAll(DefaultUnicornLibrary()).left(200000));
#else
        const QString broken = dir.filePath(u"libunicorn.so.2"_s), reason = u"аварийно"_s;
        WriteAll(broken, ReadAll(u"/usr/lib/x86_64-linux-gnu/libunicorn.so.2"_s).left(200000));
#endif
        for (const bool forked : {false, true}) {
            const auto start = [forked](const TrialSettings &settings) {
                return std::make_unique<TrialWorker>(
                    settings, forked ? ForkTrialWorker(settings.emulatorLibrary) : ForkedTrialWorker{});
            };
            TrialSettings settings;
            settings.emulatorLibrary = broken;
            bool cancelled = false;
            TrialResult r = start(settings)->Run("\xC2\x10\x00", {}, {}, &cancelled);
            QVERIFY2(!r && r.error.contains(broken) && r.error.contains(reason), qPrintable(r.error));
            std::stop_source stop;
            std::jthread stopper([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stop.request_stop();
            });
            QElapsedTimer clock;
            clock.start();
            r = start({})->Run("\xEB\xFE", {}, stop.get_token(), &cancelled);  // jmp $
            QVERIFY2(cancelled && clock.elapsed() < 300 + 200, qPrintable(QString::number(clock.elapsed())));
            r = start({})->Run(QByteArray::fromHex("B82A000000C3"), {CallParam{CallParam::Kind::Buffer, 0, "ab"}}, {},
                               &cancelled);
            QVERIFY2(r.rax == 42 && r.argumentBytesRemoved == 0 && r.buffers.value(0).head == "ab",
                     qPrintable(r.error + QString::number(r.rax) + u' ' + QString::number(r.argumentBytesRemoved)));
        }
    }

    // Code that rewrites itself 400,000 times: the right value, each instruction counted once, and
    // a worker that stays small (the emulator keeps every translation; the call moves on to fresh emulators).
    void selfModifyingCodeStaysSmall() {
#ifdef Q_OS_WIN
        if (!LoadEmulator()) QSKIP("this Windows build carries no unicorn.dll: nothing to emulate with");
#endif
        const Assembled a = Assemble(
            u"bits 32\npush ebx\nmov ebx, eax\nmov ecx, 400000\nl: mov byte [ebx+imm+1], cl\nimm: mov eax, 0\n"
            u"add edx, eax\ndec ecx\njnz l\nmov eax, edx\npop ebx\nret 16\n"_s);
        bool cancelled = false;
        const TrialResult r = TrialWorker(TrialSettings{}).Run(a.code, {}, {}, &cancelled);
        QVERIFY2(r.returned() && r.rax == 50991936 && r.instructions == 6 + 5 * 400000, qPrintable(r.error));
#ifndef Q_OS_WIN
        rusage children{};
        getrusage(RUSAGE_CHILDREN, &children);
        QVERIFY2(children.ru_maxrss < 300 * 1024, qPrintable(QString::number(children.ru_maxrss / 1024) + u" MB"_s));
#endif
    }
};

QTEST_GUILESS_MAIN(TestTrial)
#include "tst_trial.moc"
