#include "tempfiles.h"
#include "testsupport.h"

class TestTempFiles : public QObject {
    Q_OBJECT

private slots:
    void nameShape() {
        QCOMPARE(TempName(0.0, u"/t"_s), u"/t/0.tmp"_s);
        QCOMPARE(TempName(0.5, u"/t/"_s), u"/t/4C4B40.tmp"_s);
        QCOMPARE(TempName(0.99999999, u"/t"_s), u"/t/98967F.tmp"_s);
    }

    // Whatever already has a drawn name (a file, a link to someone's file, a
    // dangling link) is left alone, and another name is drawn.
    void takenNamesAreNeverFollowedOrTouched() {
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
            QCOMPARE(QFileInfo(file.path()).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                     QFile::Permissions());
        }
        QVERIFY(!QFileInfo::exists(TempName(0.4, temp.path())));  // removed with its owner

        // The two names of one run differ even when the draw repeats.
        QList<double> same{0.5, 0.5, 0.6};
        const TempFile first = TempFile::Create(temp.path(), {}, &error, [&] { return same.takeFirst(); });
        const TempFile second = TempFile::Create(temp.path(), {}, &error, [&] { return same.takeFirst(); });
        QCOMPARE(second.path(), TempName(0.6, temp.path()));
        QCOMPARE(ReadAll(TempName(0.1, temp.path())), QByteArray("someone's"));
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(TempName(0.2, temp.path())).isSymLink());
        QVERIFY(!QFileInfo::exists(elsewhere.filePath(u"nothing"_s)));
    }
};

QTEST_GUILESS_MAIN(TestTempFiles)
#include "tst_tempfiles.moc"
