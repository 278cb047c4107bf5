#include "payload_info.h"
#include "run/provisioning.h"
#include "system/platform.h"
#include "testsupport.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(CopyPlace)

namespace {

QByteArray Payload() {
    return ReadAll(QString::fromLatin1(payload::kResourcePath));
}

// Which file lies at path: a file written again in place keeps it, a new one renamed there does not.
quint64 Inode(const QString &path) {
#ifdef Q_OS_WIN
    const HANDLE file =
        ::CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return known ? quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow : 0;
#else
    struct stat info {};
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
#endif
}

}  // namespace

class TestProvisioning : public QObject {
    Q_OBJECT

private slots:
    // Where the assembler comes from. A copy is only ever written whole, through a new file and a
    // rename, so that a copy that is running never changes under it; a whole private copy is reused as
    // it is; a copy another instance removed is written again. In the paths, "file" is a regular file
    // (no folder can be made under it, not even by root), "$" the temp folder, "ID" the payload's,
    // "HIDDEN" and "PLAIN" the names of the program's own hidden copy and of a user's copy beside it.
    void copies_data() {
        QTest::addColumn<QString>("app");  // the program folder
        QTest::addColumn<CopyPlace>("place");
        QTest::addColumn<QString>("cache");        // the private folder
        QTest::addColumn<QByteArray>("existing");  // at the program's path before: "" none, "old", "same size", "whole"
        QTest::addColumn<QString>("program");      // where the assembler that runs lies
        QTest::addColumn<bool>("kept");            // after the process's clean-up
        const CopyPlace shared = CopyPlace::ProgramFolder, own = CopyPlace::PrivateOnly;
        QTest::newRow("hidden, replacing an older")
            << u"app/"_s << shared << u"c"_s << "old"_ba << u"app/HIDDEN"_s << false;
        QTest::newRow("private, replacing a damaged")
            << u"app/"_s << own << u"c"_s << "old"_ba << u"c/nasmw-ID"_s << true;
        QTest::newRow("private, same size, damaged")
            << u"app/"_s << own << u"c"_s << "same size"_ba << u"c/nasmw-ID"_s << true;
        QTest::newRow("private, a planted link") << u"app/"_s << own << u"c"_s << "link"_ba << u"c/nasmw-ID"_s << true;
        QTest::newRow("private, whole: reused") << u"app/"_s << own << u"c"_s << "whole"_ba << u"c/nasmw-ID"_s << true;
#ifndef Q_OS_WIN
        QTest::newRow("private, whole, a FIFO for its stamp: never waited on, replaced")
            << u"app/"_s << own << u"c"_s << "whole, FIFO"_ba << u"c/nasmw-ID"_s << true;
#endif
        QTest::newRow("private, stamped, then patched in place")
            << u"app/"_s << own << u"c"_s << "patched"_ba << u"c/nasmw-ID"_s << true;
        QTest::newRow("the user's own") << u"app/"_s << shared << u"c"_s << "#!/bin/sh\n"_ba << u"app/PLAIN"_s << true;
        QTest::newRow("unwritable program folder")
            << u"file/"_s << shared << u"c"_s << ""_ba << u"c/nasmw-ID"_s << true;
        QTest::newRow("only the temp folder") << u"file/"_s << shared << u"file/c"_s << ""_ba << u"$/"_s << false;
    }
    void copies() {
        QFETCH(QString, app);
        QFETCH(CopyPlace, place);
        QFETCH(QString, cache);
        QFETCH(QByteArray, existing);
        QFETCH(QString, program);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        ScopedTempFolder temp;
        const auto at = [&](const QString &path) {
            return QDir(dir.path())
                .filePath(QString(path)
                              .replace(u"$"_s, temp.path())
                              .replace(u"HIDDEN"_s, platform::HiddenAssemblerFileName())
                              .replace(u"PLAIN"_s, platform::AssemblerFileName())
                              .replace(u"ID"_s, payload::Id() + platform::ExecutableSuffix()));
        };
        QVERIFY(QDir().mkpath(at(u"app"_s)));
        WriteAll(at(u"file"_s), "a file, not a folder");
        if (!existing.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(at(program)).path()));
            QByteArray damaged = Payload();
            damaged[damaged.size() / 2] = char(~damaged[damaged.size() / 2]);
            WriteAll(at(program), existing == "old" ? QByteArray(Payload().size() + 5000, 'x')  // longer: not patched
                                  : existing == "same size"                               ? damaged
                                  : existing == "link"                                    ? "victim"
                                  : existing.startsWith("whole") || existing == "patched" ? Payload()
                                                                                          : existing);
            QVERIFY(QFile::setPermissions(at(program), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            if (program.endsWith(u"HIDDEN"_s)) platform::HideFile(at(program));  // an older copy of ours
        }
        if (existing == "link") {  // the program's copy is its own file: the link is replaced, not followed
            QVERIFY(QFile::rename(at(program), at(u"victim"_s)) && QFile::link(at(u"victim"_s), at(program)));
        }
        if (existing == "patched") {  // the stamp says whole; a write since then must still be seen
            QVERIFY(ProvideAssembler(at(app), place, at(cache)).ok());
            QFile copy(at(program));
            QVERIFY(copy.open(QIODevice::ReadWrite) && copy.seek(copy.size() / 2) && copy.write("\xF4", 1) == 1);
        }
#ifndef Q_OS_WIN
        if (existing == "whole, FIFO") QCOMPARE(::mkfifo(QFile::encodeName(at(program) + u".stamp"_s), 0600), 0);
#endif
        const quint64 before = Inode(at(program));

        ProvidedAssembler provided = ProvideAssembler(at(app), place, at(cache));
        QVERIFY2(provided.program.startsWith(at(program)), qPrintable(provided.program));
        QCOMPARE(Inode(provided.program) != before, !existing.startsWith("whole") && !existing.startsWith("#!"));
        QVERIFY(existing != "whole, FIFO" || QFileInfo(provided.program + u".stamp"_s).isFile());
        QCOMPARE(QFileInfo(provided.program).isHidden(), program.endsWith(u"HIDDEN"_s));
        QVERIFY(existing != "link" || ReadAll(at(u"victim"_s)) == "victim");
        if (existing.startsWith("#!")) {  // used as it is, and no copy written beside it
            RemoveAssembler(provided);
            QCOMPARE(ReadAll(provided.program), existing);
            QCOMPARE(QDir(at(app)).entryList(QDir::Files | QDir::Hidden), QStringList{platform::AssemblerFileName()});
            return;
        }
        QCOMPARE(ReadAll(provided.program), Payload());
        QProcess nasm;
        nasm.start(provided.program, {u"-v"_s});
        QVERIFY(nasm.waitForFinished());
        QVERIFY(nasm.readAll().contains(payload::NasmVersion().toLatin1()));
        RemoveAssembler(provided);  // as another instance does at its exit; the private copy, by hand
        QFile::remove(provided.program);
        provided = EnsureAssembler(provided, at(app), place, at(cache));
        QCOMPARE(ReadAll(provided.program), Payload());
        RemoveAssembler(provided);
        QCOMPARE(QFileInfo::exists(provided.program), kept);
        QCOMPARE(QDir(at(app)).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(temp.entries(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestProvisioning)
#include "tst_provisioning.moc"
