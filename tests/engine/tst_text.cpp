// The text rules: the code page, the document path rules.
#include "codepage.h"
#include "docpath.h"
#include "files.h"
#include "testsupport.h"

class TestText : public QObject {
    Q_OBJECT

private slots:
    void everyByteSurvivesDecodeAndEncode() {
        QByteArray all(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i) all[i] = char(i);
        const codepage::Encoded back = codepage::Encode(codepage::Decode(all));
        QVERIFY(back.ok());
        QCOMPARE(back.bytes, all);
    }

    void cyrillicIsWindows1251() {
        QCOMPARE(codepage::Decode("\xCF\xF0\xE8\xE2\xE5\xF2"), QStringLiteral("Привет"));
        QCOMPARE(codepage::Encode(QStringLiteral("Ёё№€")).bytes, QByteArray("\xA8\xB8\xB9\x88"));
    }

    void unrepresentableCharacterIsRefusedWithItsLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("code");
        QTest::addColumn<int>("line");
        QTest::newRow("first line") << QStringLiteral("mov ax, 1 ; ✓") << 0x2713u << 1;
        QTest::newRow("third line, CR LF") << QStringLiteral("a\r\nb\r\n; ü") << 0xFCu << 3;
        QTest::newRow("outside the BMP") << QStringLiteral("\n; 😀") << 0x1F600u << 2;
    }
    void unrepresentableCharacterIsRefusedWithItsLine() {
        QFETCH(QString, text);
        QFETCH(uint, code);
        QFETCH(int, line);
        const codepage::Encoded encoded = codepage::Encode(text);
        QVERIFY(!encoded.ok());
        QCOMPARE(uint(encoded.unrepresentable), code);
        QCOMPARE(encoded.line, line);
        QVERIFY(encoded.bytes.isEmpty());
        const QString message = codepage::UnrepresentableMessage(encoded);
        QVERIFY2(message.contains(QStringLiteral("строке %1").arg(line)), qPrintable(message));
    }

    void asmPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("untitled") << UntitledName() << QStringLiteral("Новый файл.asm");
        QTest::newRow("lower") << "/src/demo.asm"
                               << "/src/demo.asm";
        QTest::newRow("mixed case kept") << "/src/demo.Asm"
                                         << "/src/demo.Asm";
        QTest::newRow("upper kept") << "/src/DEMO.ASM"
                                    << "/src/DEMO.ASM";
        QTest::newRow("other extension") << "/src/boot.inc"
                                         << "/src/boot.inc.asm";
        QTest::newRow("short") << "asm"
                               << "asm.asm";
        QTest::newRow("just the extension") << ".asm"
                                            << ".asm";
        QTest::newRow("empty") << ""
                               << ".asm";
    }
    void asmPath() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(AsmPath(path), expected);
    }

    void targetName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("expected");
        QTest::newRow("asm") << "/src/demo.asm"
                             << "bas"
                             << "/src/demo.bas";
        QTest::newRow("upper ASM") << "/src/DEMO.ASM"
                                   << "bin"
                                   << "/src/DEMO.bin";
        QTest::newRow("txt") << "/src/demo.txt"
                             << "bas"
                             << "/src/demo.txt.bas";
        QTest::newRow("untitled") << UntitledName() << "bas"
                                  << "Новый файл.bas";
        QTest::newRow("spaces and quotes") << "/a b/\"q\".asm"
                                           << "bin"
                                           << "/a b/\"q\".bin";
    }
    void targetName() {
        QFETCH(QString, path);
        QFETCH(QString, extension);
        QFETCH(QString, expected);
        QCOMPARE(TargetName(path, extension), expected);
    }

    void atomicWriteReplacesOrKeeps() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.bas"));
        QCOMPARE(WriteFileAtomically(path, "first"), QString());
        QCOMPARE(WriteFileAtomically(path, "second"), QString());
        QCOMPARE(ReadAll(path), QByteArray("second"));

        // A folder in the way, or a missing folder: an error naming the path, nothing written.
        const QString missing = dir.filePath(QStringLiteral("no such folder/out.bas"));
        const QString error = WriteFileAtomically(missing, "x");
        QVERIFY2(error.contains(missing), qPrintable(error));
        QVERIFY(!WriteFileAtomically(dir.path(), "x").isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.bas")});
    }

    void readingAMissingFileIsAnErrorAndCreatesNothing() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("absent.asm"));
        const FileRead read = ReadWholeFile(path);
        QVERIFY(!read.ok());
        QVERIFY2(read.error.contains(path), qPrintable(read.error));
        QVERIFY(!QFileInfo::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
