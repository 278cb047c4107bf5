#include "payload_info.h"
#include "provisioning.h"
#include "testsupport.h"

#include <QProcess>

namespace {

QByteArray Payload() {
    return ReadAll(QString::fromLatin1(payload::kResourcePath));
}

}  // namespace

Q_DECLARE_METATYPE(CopyPlace)

class TestProvisioning : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString app_;
    QString private_;

private slots:
    void init() {
        app_ = dir_.filePath(QStringLiteral("app/"));
        private_ = dir_.filePath(QStringLiteral("private"));
        QVERIFY(QDir().mkpath(app_));
    }
    void cleanup() { QDir(dir_.path()).removeRecursively(); }

    void payloadIsARunnableNasm() {
        QVERIFY(Payload().size() > 100000);
        QVERIFY(
            Payload().startsWith("\x7F"
                                 "ELF"));
    }

    void hiddenCopyIsWrittenWholeAndRemovedAtExit() {
        // An older, longer file under the hidden name is replaced, not patched.
        WriteAll(app_ + QStringLiteral(".nasmw"), QByteArray(Payload().size() + 5000, 'x'));
        const ProvidedAssembler provided =
            ProvideAssembler(app_, CopyPlace::ProgramFolder, private_);
        QVERIFY2(provided.ok(), qPrintable(provided.error));
        QCOMPARE(provided.program, app_ + QStringLiteral(".nasmw"));
        QCOMPARE(ReadAll(provided.program), Payload());
        QVERIFY(QFileInfo(provided.program).isExecutable());
        QVERIFY(!FileExists(provided.program));  // hidden
        QCOMPARE(QDir(app_).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral(".nasmw")});

        QProcess nasm;
        nasm.start(provided.program, {QStringLiteral("-v")});
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
        const QString mine = app_ + QStringLiteral("nasmw");
        WriteAll(mine, "#!/bin/sh\n");
        QVERIFY(FileExists(mine));
        const ProvidedAssembler provided = ProvideAssembler(app_, place, private_);
        QCOMPARE(provided.program, mine);
        RemoveAssembler(provided);
        QCOMPARE(ReadAll(mine), QByteArray("#!/bin/sh\n"));
        QVERIFY(!QFileInfo::exists(app_ + QStringLiteral(".nasmw")));
    }

    // Another instance removed the shared copy at its exit: the next run writes it again.
    void vanishedCopyIsWrittenAgain() {
        const ProvidedAssembler first = ProvideAssembler(app_, CopyPlace::ProgramFolder, private_);
        QVERIFY(QFile::remove(first.program));
        const ProvidedAssembler again =
            EnsureAssembler(first, app_, CopyPlace::ProgramFolder, private_);
        QCOMPARE(again.program, first.program);
        QCOMPARE(ReadAll(again.program), Payload());
    }

    // A program folder nobody may write to: the private copy, kept for later runs.
    void unwritableProgramFolderFallsBack() {
        const QString blocked = dir_.filePath(QStringLiteral("file"));
        WriteAll(blocked, "a file, not a folder");
        const ProvidedAssembler provided =
            ProvideAssembler(blocked + QStringLiteral("/"), CopyPlace::ProgramFolder, private_);
        QVERIFY2(provided.ok(), qPrintable(provided.error));
        QVERIFY(provided.program.startsWith(private_ + QStringLiteral("/nasmw-")));
        QCOMPARE(ReadAll(provided.program), Payload());
        QVERIFY(QFileInfo(provided.program).isExecutable());
        RemoveAssembler(provided);
        QVERIFY(QFileInfo::exists(provided.program));

        const QDateTime written = QFileInfo(provided.program).lastModified();
        const ProvidedAssembler reused = ProvideAssembler(app_, CopyPlace::PrivateOnly, private_);
        QCOMPARE(reused.program, provided.program);
        QCOMPARE(QFileInfo(reused.program).lastModified(), written);
    }

    void lastResortIsACopyOfThisProcessOwn() {
        ScopedTempFolder temp;
        const QString blocked = dir_.filePath(QStringLiteral("file"));
        WriteAll(blocked, "x");
        const ProvidedAssembler provided =
            ProvideAssembler(blocked + QStringLiteral("/"), CopyPlace::ProgramFolder,
                             blocked + QStringLiteral("/p"));
        QVERIFY2(provided.ok(), qPrintable(provided.error));
        QVERIFY(provided.program.startsWith(temp.path()));
        QCOMPARE(ReadAll(provided.program), Payload());
        RemoveAssembler(provided);
        QCOMPARE(temp.entries(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestProvisioning)
#include "tst_provisioning.moc"
