#include "renderers.h"

#include <QtTest>

class TestRenderers : public QObject {
    Q_OBJECT

private slots:
    void hexByteCoversEveryValue() {
        for (int value = 0; value < 256; ++value)
            QCOMPARE(HexByte(value), QString::asprintf("%02X", value));
    }

    void hexString_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("hex");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("ret") << QByteArray("\xC3") << QStringLiteral("C3");
        QTest::newRow("edges") << QByteArray("\x00\x0A\x7F\x80\xFF", 5)
                               << QStringLiteral("000A7F80FF");
    }
    void hexString() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, hex);
        QCOMPARE(HexString(bytes), hex);
    }

    void hexStringOfEveryByteInOrder() {
        QByteArray all(256, Qt::Uninitialized);
        QString expected;
        for (int i = 0; i < 256; ++i) {
            all[i] = char(i);
            expected += QString::asprintf("%02X", i);
        }
        QCOMPARE(HexString(all), expected);
    }

    // The module is what Visual Basic programs load: every byte of it matters.
    void moduleTextIsExact_data() {
        QTest::addColumn<QString>("hex");
        QTest::newRow("empty output") << QString();
        QTest::newRow("ret") << QStringLiteral("C3");
    }
    void moduleTextIsExact() {
        QFETCH(QString, hex);
        const QByteArray expected =
            "Const CodeString = \"" + hex.toLatin1() + "\"\r\n" +
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
    }

    void moduleHasThirteenLinesAndTheWholeHexOnTheFirst_data() {
        QTest::addColumn<int>("byteCount");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("70000") << 70000;  // far beyond any editor's line limit
    }
    void moduleHasThirteenLinesAndTheWholeHexOnTheFirst() {
        QFETCH(int, byteCount);
        const QString module = ModuleText(HexString(QByteArray(byteCount, '\x90')));
        QVERIFY(module.endsWith(QLatin1StringView("End Function\r\n")));
        const QStringList lines = module.split(QLatin1StringView("\r\n"));
        QCOMPARE(lines.size(), 14);  // thirteen lines and nothing after the last CR LF
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines.first().size(), 2 * byteCount + 21);
        QCOMPARE(module.count(QLatin1Char('\n')), 13);  // no bare LF anywhere
    }
};

QTEST_GUILESS_MAIN(TestRenderers)
#include "tst_renderers.moc"
