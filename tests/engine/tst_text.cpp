// The text rules: the code page, and the names made from a document path.
#include "codepage.h"
#include "docpath.h"
#include "testsupport.h"

class TestText : public QObject {
    Q_OBJECT

private slots:
    void everyByteSurvivesTheCodePage() {
        QByteArray all;
        for (int i = 0; i < 256; ++i) all += char(i);
        const codepage::Encoded back = codepage::Encode(codepage::Decode(all));
        QVERIFY(back.ok());
        QCOMPARE(back.bytes, all);
        QCOMPARE(codepage::Decode("\xCF\xF0\xE8\xE2\xE5\xF2\xA8\xB9\x88"), u"ПриветЁ№€"_s);
    }

    void unrepresentableCharacterIsRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("code");
        QTest::addColumn<int>("line");
        QTest::newRow("first line") << u"mov ax, 1 ; ✓"_s << 0x2713u << 1;
        QTest::newRow("third line, CR LF") << u"a\r\nb\r\n; ü"_s << 0xFCu << 3;
        QTest::newRow("outside the BMP") << u"\n; 😀"_s << 0x1F600u << 2;
    }
    void unrepresentableCharacterIsRefused() {
        QFETCH(QString, text);
        QFETCH(uint, code);
        QFETCH(int, line);
        const codepage::Encoded encoded = codepage::Encode(text);
        QVERIFY(!encoded.ok());
        QCOMPARE(uint(encoded.unrepresentable), code);
        QVERIFY(codepage::UnrepresentableMessage(encoded).contains(u"строке %1"_s.arg(line)));
    }

    void productNames_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("asmPath");
        QTest::addColumn<QString>("basName");
        QTest::newRow("untitled") << UntitledName() << u"Новый файл.asm"_s << u"Новый файл.bas"_s;
        QTest::newRow("lower") << u"/s/d.asm"_s << u"/s/d.asm"_s << u"/s/d.bas"_s;
        QTest::newRow("mixed case") << u"/s/d.Asm"_s << u"/s/d.Asm"_s << u"/s/d.bas"_s;
        QTest::newRow("upper") << u"/s/D.ASM"_s << u"/s/D.ASM"_s << u"/s/D.bas"_s;
        QTest::newRow("other extension") << u"/s/b.inc"_s << u"/s/b.inc.asm"_s << u"/s/b.inc.bas"_s;
        QTest::newRow("shorter than .asm") << u"asm"_s << u"asm.asm"_s << u"asm.bas"_s;
        QTest::newRow("empty") << QString() << u".asm"_s << u".bas"_s;
    }
    void productNames() {
        QFETCH(QString, path);
        QFETCH(QString, asmPath);
        QFETCH(QString, basName);
        QCOMPARE(AsmPath(path), asmPath);
        QCOMPARE(TargetName(path, u"bas"_s), basName);
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
