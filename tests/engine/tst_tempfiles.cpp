#include "tempfiles.h"
#include "testsupport.h"

#include <QRegularExpression>

class TestTempFiles : public QObject {
    Q_OBJECT

private slots:
    void nameShape_data() {
        QTest::addColumn<double>("r");
        QTest::addColumn<QString>("name");
        QTest::newRow("zero") << 0.0 << "/t/0.tmp";
        QTest::newRow("small") << 0.0000001 << "/t/1.tmp";
        QTest::newRow("middle") << 0.5 << "/t/4C4B40.tmp";
        QTest::newRow("largest") << 0.99999999 << "/t/98967F.tmp";
    }
    void nameShape() {
        QFETCH(double, r);
        QFETCH(QString, name);
        QCOMPARE(TempName(r, QStringLiteral("/t")), name);
        QCOMPARE(TempName(r, QStringLiteral("/t/")), name);
    }

    void randomNamesHaveTheShapeAndDiffer() {
        ScopedTempFolder temp;
        QString error;
        const TempFile first = TempFile::Create(temp.path(), "a", &error);
        const TempFile second = TempFile::Create(temp.path(), "b", &error);
        QVERIFY2(!first.isNull() && !second.isNull(), qPrintable(error));
        QVERIFY(first.path() != second.path());
        const QRegularExpression shape(QStringLiteral("^[0-9A-F]{1,6}\\.tmp$"));
        for (const TempFile *file : {&first, &second}) {
            const QFileInfo info(file->path());
            QCOMPARE(info.absolutePath(), QDir(temp.path()).absolutePath());
            QVERIFY(shape.match(info.fileName()).hasMatch());
            QCOMPARE(info.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                     QFileDevice::Permissions());
        }
        QCOMPARE(ReadAll(first.path()), QByteArray("a"));
    }

    // Whatever already has a drawn name (a file, a link to someone's file, a
    // dangling link) is left alone, and another name is drawn.
    void takenNamesAreNeverFollowedOrTouched() {
        ScopedTempFolder temp;
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(QStringLiteral("victim"));
        WriteAll(victim, "precious");
        const QString existing = TempName(0.1, temp.path());
        const QString link = TempName(0.2, temp.path());
        const QString dangling = TempName(0.3, temp.path());
        WriteAll(existing, "someone's");
        QVERIFY(QFile::link(victim, link));
        QVERIFY(QFile::link(elsewhere.filePath(QStringLiteral("nothing")), dangling));

        QList<double> draws{0.1, 0.2, 0.3, 0.4};
        QString error;
        {
            const TempFile file = TempFile::Create(temp.path(), "mine", &error,
                                                   [&draws] { return draws.takeFirst(); });
            QCOMPARE(file.path(), TempName(0.4, temp.path()));
            QCOMPARE(ReadAll(file.path()), QByteArray("mine"));
        }
        QVERIFY(!QFileInfo::exists(TempName(0.4, temp.path())));  // removed with its owner
        QCOMPARE(ReadAll(existing), QByteArray("someone's"));
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo(dangling).isSymLink());
        QVERIFY(!QFileInfo::exists(elsewhere.filePath(QStringLiteral("nothing"))));
    }

    void unusableFolderIsReportedWithItsName() {
        const QString folder = QStringLiteral("/nonexistent-orvandine-folder");
        QString error;
        const TempFile file = TempFile::Create(folder, "x", &error);
        QVERIFY(file.isNull());
        QVERIFY2(error.contains(folder), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestTempFiles)
#include "tst_tempfiles.moc"
