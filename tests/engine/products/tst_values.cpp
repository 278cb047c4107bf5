// The rules without a process: hex digits, the module, the code page, file names as bytes, the names
// made from a document path, temporary files, and the error lines in the assembler's messages.
#include "products/docpath.h"
#include "products/renderers.h"
#include "products/vba7module.h"
#include "run/messages.h"
#include "run/tempfiles.h"
#include "system/codepage.h"
#include "system/platform.h"
#include "system/sourcefile.h"
#include "testsupport.h"

class TestValues : public QObject {
    Q_OBJECT

private slots:
    void hexOfEveryByte() {
        QByteArray all;
        QString expected;
        for (int value = 0; value < 256; ++value) all += char(value), expected += QString::asprintf("%02X", value);
        // Every length around the four-byte steps of the encoder, and all 256 values.
        for (int n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 256}) QCOMPARE(HexString(all.left(n)), expected.left(2 * n));
    }

    // The module is what Visual Basic programs load: every byte of it matters.
    void moduleTextIsExact_data() {
        QTest::addColumn<QString>("hex");
        QTest::newRow("empty output") << QString();
        QTest::newRow("70,000 bytes, on the first line") << HexString(QByteArray(70000, '\x90'));
    }
    void moduleTextIsExact() {
        QFETCH(QString, hex);
        const QByteArray expected = "Const CodeString = \"" + hex.toLatin1() + "\"\r\n" +
                                    "Public Declare Function CallWindowProc Lib \"user32\" Alias \"CallWindowProcA\" "
                                    "(ByVal ptrMC As Long, ByVal P1 As Long, ByVal P2 As Long, ByVal P3 As Long, ByVal "
                                    "P4 As Long) As Long\r\n"
                                    "\r\n"
                                    "Public Function CallAsmFunction(ByVal P1 As Long, ByVal P2 As Long, ByVal P3 As "
                                    "Long, ByVal P4 As Long)\r\n"
                                    "    Dim i As Long\r\n"
                                    "    Dim BinCode() As Byte\r\n"
                                    "    If Len(CodeString) = 0 Then Exit Function\r\n"
                                    "    ReDim BinCode(Len(CodeString) \\ 2 - 1)\r\n"
                                    "    For i = 0 To Len(CodeString) \\ 2 - 1\r\n"
                                    "        BinCode(i) = CByte(\"&H\" & Mid(CodeString, i * 2 + 1, 2))\r\n"
                                    "    Next i\r\n"
                                    "    CallAsmFunction = CallWindowProc (VarPtr(BinCode(0)), P1, P2, P3, P4)\r\n"
                                    "End Function\r\n";
        QCOMPARE(ModuleText(hex).toLatin1(), expected);
        QCOMPARE(ModuleBytes(QByteArray::fromHex(hex.toLatin1())), expected);  // as the BAS command writes it
    }

    void everyByteSurvivesTheCodePage() {
        QByteArray all;
        for (int i = 0; i < 256; ++i) all += char(i);
        const codepage::Encoded back = codepage::Encode(codepage::Decode(all));
        QVERIFY(back.ok());
        QCOMPARE(back.bytes, all);
        QCOMPARE(codepage::Decode("\xCF\xF0\xE8\xE2\xE5\xF2\xA8\xB9\x88"), u"ПриветЁ№€"_s);
        // An edited text is encoded anew: a no-break space is saved as the byte it was read as.
        QCOMPARE(SourceToBytes({u"db '\u00A0'"_s, u"\r\n"_s, {}}).bytes, QByteArray("db '\xA0'\r\n"));
    }

    // A POSIX name is bytes: whatever is not UTF-8 in it comes back as the very bytes, and shows escaped.
    void namesKeepTheirBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-8") << "/\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB1\xD0\xB0 \xF0\x9F\x98\x80.asm"_ba
                               << u"/Проба \U0001F600.asm"_s << u"/Проба \U0001F600.asm"_s;
        QTest::newRow("Windows-1251") << "\xCF\xF0\xEE\xE1\xE0.asm"_ba << u"\xDCCF\xDCF0\xDCEE\xDCE1\xDCE0.asm"_s
                                      << u"\\xCF\\xF0\\xEE\\xE1\\xE0.asm"_s;
        QTest::newRow("mixed, 0x80 and 0xFF") << "\xD0\x9F\x80/\xFF"_ba << u"П\xDC80/\xDCFF"_s << u"П\\x80/\\xFF"_s;
        QTest::newRow("overlong, surrogate, past U+10FFFF")
            << "\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80"_ba << u"\xDCC0\xDCAF\xDCED\xDCA0\xDC80\xDCF4\xDC90\xDC80\xDC80"_s
            << u"\\xC0\\xAF\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80"_s;
        QTest::newRow("cut short") << "a\xE2\x82"_ba << u"a\xDCE2\xDC82"_s << u"a\\xE2\\x82"_s;
    }
    void namesKeepTheirBytes() {
#ifdef Q_OS_WIN
        QSKIP("Windows names are UTF-16");
#endif
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QCOMPARE(platform::DecodeName(bytes), name);
        QCOMPARE(platform::EncodeName(name), bytes);
        QCOMPARE(platform::ReadableName(name), shown);
        // Text from elsewhere: a kept byte is a byte, however it came; other lone surrogates are U+FFFD.
        QCOMPARE(platform::EncodeName(u"\xDCC3\xDCA9\xD800"_s), "\xC3\xA9\xEF\xBF\xBD"_ba);
    }

    void productNames_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("asmPath");
        QTest::addColumn<QString>("basName");
        QTest::addColumn<QString>("vba7Name");
        QTest::newRow("untitled") << UntitledName() << u"Новый файл.asm"_s << u"Новый файл.bas"_s
                                  << u"Новый файл.vba7.bas"_s;
        QTest::newRow("upper") << u"/s/D.ASM"_s << u"/s/D.ASM"_s << u"/s/D.bas"_s << u"/s/D.vba7.bas"_s;
        QTest::newRow("other extension") << u"/s/b.inc"_s << u"/s/b.inc.asm"_s << u"/s/b.inc.bas"_s
                                         << u"/s/b.inc.vba7.bas"_s;
        QTest::newRow("shorter than .asm") << u"asm"_s << u"asm.asm"_s << u"asm.bas"_s << u"asm.vba7.bas"_s;
    }
    void productNames() {
        QFETCH(QString, path);
        QFETCH(QString, asmPath);
        QFETCH(QString, basName);
        QFETCH(QString, vba7Name);
        QCOMPARE(AsmPath(path), asmPath);
        QCOMPARE(TargetName(path, u"bas"_s), basName);
        QCOMPARE(TargetName(path, u"vba7.bas"_s), vba7Name);
    }

    // What the VBA editor and compiler take: lines under 1,023 characters, no line continuations,
    // small procedures; the hex lines put together give the code back, each part called once.
    void vba7ModuleLoadsInVba_data() {
        QTest::addColumn<qsizetype>("size");
        for (qsizetype size : {0, 1, 256, 257, 8192, 8193, 1 << 20}) QTest::addRow("%lld bytes", qint64(size)) << size;
    }
    void vba7ModuleLoadsInVba() {
        QFETCH(qsizetype, size);
        QByteArray code(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i) code[i] = char(i * 7 + i / 256);
        const QString text = Vba7ModuleText(code, CodeMode::Bits64);
        QVERIFY(text.endsWith(u"\r\n"_s) && !text.contains(u"\r\n\r\n\r\n"_s));
        QString hex;
        QStringList calls, parts;
        qsizetype procedure = -1;  // characters of the procedure so far, well under the 64 KB VBA compiles
        for (const QString &line : text.chopped(2).split(u"\r\n"_s)) {
            QVERIFY2(line.size() < 600 && !line.endsWith(u" _"_s) && !line.contains(u'\n'), qPrintable(line));
            if (line.startsWith(u"Private Sub CodeDigits"_s)) parts << line.section(u'(', 0, 0).mid(12);
            if (line.startsWith(u"    CodeDigits"_s) && line.endsWith(u" Digits, Pos"_s))
                calls << line.section(u' ', 4, 4);
            if (line.startsWith(u"    AddDigits Digits, Pos, \""_s)) hex += line.mid(28).chopped(1);
            if (line.contains(QRegularExpression(u"^(Private|Public) (Sub|Function) "_s))) procedure = 0;
            if (procedure >= 0) procedure += line.size();
            QVERIFY(procedure < 20000);
            if (line.startsWith(u"End "_s)) procedure = -1;
        }
        QCOMPARE(hex, HexString(code));
        QCOMPARE(calls, parts);
        QVERIFY(text.contains(u"Private Const CodeSize As Long = %1\r\n"_s.arg(size)));
        QVERIFY(codepage::Encode(text).ok());
    }

    void errorLines_data() {
        QTest::addColumn<QString>("messages");
        QTest::addColumn<QList<int>>("lines");
        QTest::newRow("in order, each once")
            << u"d:a.asm:7: error: x\nd:a.asm:2: error: y\nd:a.asm:7: error: z"_s << QList<int>{7, 2};
        QTest::newRow("warnings and other files") << u"d:a.asm:3: warning: w\nb.inc:4: error: e"_s << QList<int>{};
        QTest::newRow("fatal") << u"d:a.asm:5: fatal: unable to open include file"_s << QList<int>{5};
    }
    void errorLines() {
        QFETCH(QString, messages);
        QFETCH(QList<int>, lines);
        QCOMPARE(ErrorLines(messages, u"d:a.asm"_s), lines);
    }

    // Whatever already has a drawn name (a file, a link to someone's file, a
    // dangling link) is left alone, and another name is drawn.
    void takenNamesAreNeverFollowedOrTouched() {
        QCOMPARE(TempName(0.0, u"/t"_s), u"/t/0.tmp"_s);
        QCOMPARE(TempName(0.5, u"/t/"_s), u"/t/4C4B40.tmp"_s);
        QCOMPARE(TempName(0.99999999, u"/t"_s), u"/t/98967F.tmp"_s);
        ScopedTempFolder temp;
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(u"victim"_s);
        WriteAll(victim, "precious");
        WriteAll(TempName(0.1, temp.path()), "someone's");
        QVERIFY(QFile::link(victim, TempName(0.2, temp.path())));
        QVERIFY(QFile::link(elsewhere.filePath(u"nothing"_s), TempName(0.3, temp.path())));

        QList<double> draws{0.1, 0.2, 0.3, 0.4};
        QString error;
        {
            const TempFile file = TempFile::Create(temp.path(), "mine", &error, [&] { return draws.takeFirst(); });
            QCOMPARE(file.path(), TempName(0.4, temp.path()));
            QCOMPARE(ReadAll(file.path()), QByteArray("mine"));
#ifndef Q_OS_WIN  // there the file takes the access list of the user's own temp folder; no mode bits
            QCOMPARE(QFileInfo(file.path()).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                     QFile::Permissions());
#endif
        }
        QVERIFY(!QFileInfo::exists(TempName(0.4, temp.path())));  // removed with its owner

        // The two names of one run differ even when the draw repeats.
        QList<double> same{0.5, 0.5, 0.6};
        const TempFile first = TempFile::Create(temp.path(), {}, &error, [&] { return same.takeFirst(); });
        const TempFile second = TempFile::Create(temp.path(), {}, &error, [&] { return same.takeFirst(); });
        QCOMPARE(second.path(), TempName(0.6, temp.path()));
        QCOMPARE(ReadAll(TempName(0.1, temp.path())), QByteArray("someone's"));
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
#ifdef Q_OS_WIN  // a link QFile::link makes is a shortcut file there
        QVERIFY(QFileInfo::exists(TempName(0.2, temp.path())));
#else
        QVERIFY(QFileInfo(TempName(0.2, temp.path())).isSymLink());
#endif
        QVERIFY(!QFileInfo::exists(elsewhere.filePath(u"nothing"_s)));
    }
};

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
