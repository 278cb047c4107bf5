#include "renderers.h"
#include "testsupport.h"

class TestRenderers : public QObject {
    Q_OBJECT

private slots:
    void hexOfEveryByte() {
        QByteArray all;
        QString expected;
        for (int value = 0; value < 256; ++value) {
            QCOMPARE(HexByte(value), QString::asprintf("%02X", value));
            all += char(value);
            expected += QString::asprintf("%02X", value);
        }
        QCOMPARE(HexString(all), expected);
        // Lengths around the four-byte steps of the encoder.
        for (int n = 0; n < 9; ++n) QCOMPARE(HexString(all.left(n)), expected.left(2 * n));
    }

    // The module is what Visual Basic programs load: every byte of it matters.
    void moduleTextIsExact_data() {
        QTest::addColumn<QString>("hex");
        QTest::newRow("empty output") << QString();
        QTest::newRow("ret") << u"C3"_s;
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
    }

    void longOutputStaysOnTheFirstLine() {
        constexpr int kBytes = 70000;  // far beyond any editor's line limit
        const QString module = ModuleText(HexString(QByteArray(kBytes, '\x90')));
        const QStringList lines = module.split(u"\r\n"_s);
        QCOMPARE(lines.size(), 14);  // thirteen lines, each ended by CR LF
        QCOMPARE(lines.first().size(), 2 * kBytes + 21);
        QCOMPARE(module.count(u'\n'), 13);
    }
};

QTEST_GUILESS_MAIN(TestRenderers)
#include "tst_renderers.moc"
