#include "payload_info.h"
#include "provisioning.h"
#include "testsupport.h"

#include <QProcess>

Q_DECLARE_METATYPE(CopyPlace)

class TestProvisioning : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString app_;
    QString private_;
    QString blocked_;  // a regular file: no folder can be made under it, not even by root

    static QByteArray Payload() { return ReadAll(QString::fromLatin1(payload::kResourcePath)); }

private slots:
    void init() {
        app_ = dir_.filePath(u"app/"_s);
        private_ = dir_.filePath(u"private"_s);
        blocked_ = dir_.filePath(u"file"_s);
        QVERIFY(QDir().mkpath(app_));
        WriteAll(blocked_, "a file, not a folder");
    }
    void cleanup() { QDir(dir_.path()).removeRecursively(); }

    void hiddenCopyIsWrittenWholeAndRemovedAtExit() {
        // An older, longer file under the hidden name is replaced, not patched.
        WriteAll(app_ + u".nasmw"_s, QByteArray(Payload().size() + 5000, 'x'));
        const ProvidedAssembler provided = ProvideAssembler(app_, CopyPlace::ProgramFolder, private_);
        QCOMPARE(provided.program, app_ + u".nasmw"_s);
        QCOMPARE(ReadAll(provided.program), Payload());
        QVERIFY(!FileExists(provided.program));  // hidden
        QProcess nasm;
        nasm.start(provided.program, {u"-v"_s});
        QVERIFY(nasm.waitForFinished());
        QVERIFY(nasm.readAll().contains(payload::NasmVersion().toLatin1()));

        RemoveAssembler(provided);
        QCOMPARE(QDir(app_).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void usersVisibleAssemblerIsUsedAndKept_data() {
        QTest::addColumn<CopyPlace>("place");
        QTest::newRow("program folder") << CopyPlace::ProgramFolder;
        QTest::newRow("private only") << CopyPlace::PrivateOnly;
    }
    void usersVisibleAssemblerIsUsedAndKept() {
        QFETCH(CopyPlace, place);
        WriteAll(app_ + u"nasmw"_s, "#!/bin/sh\n");
        const ProvidedAssembler provided = ProvideAssembler(app_, place, private_);
        QCOMPARE(provided.program, app_ + u"nasmw"_s);
        RemoveAssembler(provided);
        QCOMPARE(ReadAll(app_ + u"nasmw"_s), QByteArray("#!/bin/sh\n"));
        QCOMPARE(QDir(app_).entryList(QDir::Files | QDir::Hidden), QStringList{u"nasmw"_s});
    }

    // Another instance removed the shared copy at its exit: the next run writes it again.
    void vanishedCopyIsWrittenAgain() {
        const ProvidedAssembler first = ProvideAssembler(app_, CopyPlace::ProgramFolder, private_);
        QVERIFY(QFile::remove(first.program));
        const ProvidedAssembler again = EnsureAssembler(first, app_, CopyPlace::ProgramFolder, private_);
        QCOMPARE(again.program, first.program);
        QCOMPARE(ReadAll(again.program), Payload());
    }

    // A program folder that cannot be written: the private copy, kept for later runs,
    // and failing that, a copy of the process's own.
    void unwritableProgramFolderFallsBack() {
        const ProvidedAssembler provided = ProvideAssembler(blocked_ + u"/"_s, CopyPlace::ProgramFolder, private_);
        QVERIFY(provided.program.startsWith(private_ + u"/nasmw-"_s));
        QCOMPARE(ReadAll(provided.program), Payload());
        QVERIFY(QFileInfo(provided.program).isExecutable());
        RemoveAssembler(provided);
        const QDateTime written = QFileInfo(provided.program).lastModified();
        const ProvidedAssembler reused = ProvideAssembler(app_, CopyPlace::PrivateOnly, private_);
        QCOMPARE(reused.program, provided.program);
        QCOMPARE(QFileInfo(reused.program).lastModified(), written);

        ScopedTempFolder temp;
        const ProvidedAssembler own = ProvideAssembler(blocked_ + u"/"_s, CopyPlace::ProgramFolder, blocked_ + u"/p"_s);
        QVERIFY(own.program.startsWith(temp.path()));
        QCOMPARE(ReadAll(own.program), Payload());
        RemoveAssembler(own);
        QCOMPARE(temp.entries(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestProvisioning)
#include "tst_provisioning.moc"
