#include "run/assemblerrun.h"

#include "run/execcmd.h"
#include "run/listing.h"
#include "run/tempfiles.h"
#include "system/codepage.h"
#include "system/files.h"
#include "system/platform.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

using namespace Qt::StringLiterals;

QStringList AssemblerArguments(const QString &source, const QString &output, const QString &includeFolder,
                               const QString &listing) {
    QStringList arguments{QStringLiteral("-f"), QStringLiteral("bin"), source, QStringLiteral("-o"), output};
    // NASM puts the include folder before the file name as it stands.
    if (!includeFolder.isEmpty())
        arguments << QStringLiteral("-I") << (includeFolder.endsWith(u'/') ? includeFolder : includeFolder + u'/');
    // The expanded listing shows what the assembler was given, which tells the mode of every byte.
    if (!listing.isEmpty()) arguments << QStringLiteral("-l") << listing << QStringLiteral("-Lfe");
    return arguments;
}

namespace {

// The name in the file system's encoding, as NASM would have had it, but for
// control characters, which NASM takes in no file name of %line: those are "?".
QByteArray NameForLine(const QString &documentName) {
    QByteArray name = platform::EncodeName(documentName);
    for (char &c : name)
        if (uchar(c) < 0x20) c = '?';
    return name;
}

}  // namespace

QByteArray SourceNameLine(const QString &documentName) {
    // A backquoted string takes any other byte, with its escapes for the few that would end it.
    QByteArray line = "%line 0+1 `";
    for (const char c : NameForLine(documentName)) {
        if (c == '`' || c == '\\') line += '\\';
        line += c;
    }
    return line + "`\r\n";
}

bool NamesTheSource(const ListingRow &row) {
    return row.level == 0 && row.line == 1 && row.text.startsWith(u"%line 0+1 `"_s);
}

QString UserMessages(const QByteArray &printed, const QString &tempName, const QString &documentName, qsizetype lines) {
    // The messages quote the source, which is in the 8-bit code page; file
    // names are in the file system's encoding. So the names are found among
    // the bytes, and only the text around them is decoded.
    QList<QByteArray> names{platform::EncodeName(tempName), platform::EncodeName(documentName),
                            NameForLine(documentName)};
    names.removeAll(QByteArray());
    QString text;
    qsizetype from = 0;
    for (;;) {
        qsizetype at = -1, length = 0;
        for (const QByteArray &name : names) {
            const qsizetype found = printed.indexOf(name, from);
            if (found >= 0 && (at < 0 || found < at)) at = found, length = name.size();
        }
        if (at < 0) break;
        text += codepage::Decode(QByteArrayView(printed).sliced(from, at - from)) + documentName;
        from = at + length;
    }
    text += codepage::Decode(QByteArrayView(printed).sliced(from));
    // A line past the text's end (the line break the run adds) is told as the one after the last.
    const QString prefix = documentName + u':';
    if (lines >= 0 && text.contains(prefix)) {
        QStringList rows = text.split(u'\n');
        for (QString &row : rows) {
            const qsizetype colon = row.startsWith(prefix) ? row.indexOf(u':', prefix.size()) : -1;
            if (colon <= prefix.size()) continue;
            const QStringView number = QStringView(row).sliced(prefix.size(), colon - prefix.size());
            if (!std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); })) continue;
            if (number.toLongLong() > lines + 1) row.replace(prefix.size(), number.size(), QString::number(lines + 1));
        }
        text = rows.join(u'\n');
    }
    return text.trimmed();
}

namespace {

Outcome AssemblyFailure(const QString &what, const QString &messages) {
    QString text = what;
    if (!messages.isEmpty()) text += QLatin1StringView("\n\n") + messages;
    return Outcome::Failed(Outcome::Failure::Assembly, AssemblyErrorTitle(), text, messages);
}

Outcome FromExec(const ExecResult &exec, const QString &messages, const RunRequest &request) {
    using Status = ExecResult::Status;
    switch (exec.status) {
        case Status::Finished:
            if (exec.exitCode == 0) return Outcome{Outcome::Failure::None, {}, {}, messages};
            if (!messages.isEmpty())
                return Outcome::Failed(Outcome::Failure::Assembly, AssemblyErrorTitle(), messages, messages);
            return AssemblyFailure(
                QStringLiteral("Ассемблер завершился с кодом %1 и ничего не сообщил.").arg(exec.exitCode), messages);
        case Status::FailedToStart:
            return AssemblyFailure(
                QStringLiteral("Не удалось запустить ассемблер «%1»: %2.").arg(request.assembler, exec.error),
                messages);
        case Status::Crashed:
            return AssemblyFailure(
                QStringLiteral("Ассемблер аварийно завершился (%1).").arg(platform::CrashReason(exec.exitCode)),
                messages);
        case Status::Cancelled:
            return Outcome::Failed(Outcome::Failure::Cancelled, {}, {}, messages);
        case Status::TimedOut:
            return Outcome::Failed(
                Outcome::Failure::TimedOut, AssemblyErrorTitle(),
                QStringLiteral("Ассемблер не завершился за %1 с и был остановлен.")
                    .arg(QString::number(double(request.timeout.count()) / 1000.0).replace(u'.', u',')),
                messages);
    }
    return {};
}

}  // namespace

AssemblerOutput AssemblerRun(const QString &source, const QString &documentName, const RunRequest &request) {
    const codepage::Encoded encoded = codepage::Encode(source + QLatin1StringView("\r\n"));
    if (!encoded.ok()) {
        return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::Encoding, EncodingErrorTitle(),
                                                       codepage::UnrepresentableMessage(encoded)));
    }
    const qsizetype lines = source.count(u'\n') + (source.isEmpty() || source.endsWith(u'\n') ? 0 : 1);
    if (const int reason = request.workingFolder.isEmpty() ? 0 : platform::FolderError(request.workingFolder)) {
        return AssemblerOutput::Failed(
            Outcome::Failed(Outcome::Failure::File, FileErrorTitle(),
                            QStringLiteral("Папка документа «%1» недоступна: %2.")
                                .arg(request.workingFolder, reason == ENOTDIR ? QStringLiteral("это не папка")
                                                                              : platform::ErrorReason(reason))));
    }

    // A folder of the run's own, readable by the owner only: NASM reopens its
    // files by name, and no other user can put anything under those names.
    QString error;
    const QString temp = platform::TempFolder(&error);
    if (temp.isEmpty())
        return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error));
    errno = 0;
    const QTemporaryDir folder(temp + QLatin1StringView("/orvandine-run-XXXXXX"));
    if (!folder.isValid()) {
        error = FileErrorMessage(QStringLiteral("создать временную папку в"), temp, platform::LastError());
        return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error));
    }
    const TempFile sourceFile = TempFile::Create(folder.path(), SourceNameLine(documentName) + encoded.bytes, &error);
    if (sourceFile.isNull())
        return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error));
    // The output name is reserved by creating it empty; NASM writes it in place.
    const TempFile outputFile = TempFile::Create(folder.path(), {}, &error);
    if (outputFile.isNull())
        return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error));

    TempFile listingFile;
    if (request.listing || request.readListing) {
        listingFile = TempFile::Create(folder.path(), {}, &error);
        if (listingFile.isNull())
            return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error));
    }

    const auto narrow = [](const QString &path) { return path.isEmpty() ? path : platform::AssemblerPath(path); };
    const QString sourceName = narrow(sourceFile.path());
    QStringList arguments = AssemblerArguments(sourceName, narrow(outputFile.path()), narrow(request.includeFolder),
                                               narrow(listingFile.path()));
    if (request.preprocessOnly) arguments << QStringLiteral("-E");
    if (request.assembleOnly) arguments << QStringLiteral("-a");
    const ExecResult exec = ExecCmd(request.assembler, arguments, request.workingFolder, request.stop, request.timeout);
    QString messages = UserMessages(exec.output, sourceName, documentName, lines);
    if (exec.outputCut)
        messages += QStringLiteral("\n… остальные сообщения ассемблера (больше %1 МиБ) не показаны.")
                        .arg(kMaxProgramOutput / (1024 * 1024));
    Outcome outcome = FromExec(exec, messages, request);
    if (!outcome.ok()) return AssemblerOutput::Failed(std::move(outcome));

    // NASM removes its output file when it fails; no file is no product.
    if (!QFileInfo::exists(outputFile.path()))
        return AssemblerOutput::Failed(AssemblyFailure(QStringLiteral("Ассемблер не создал выходной файл."), messages));
    if (QFileInfo(outputFile.path()).size() > kMaxFileBytes) {
        return AssemblerOutput::Failed(
            AssemblyFailure(QStringLiteral("Ассемблер создал больше %1 МиБ кода; столько программа не обрабатывает.")
                                .arg(kMaxFileBytes / (1024 * 1024)),
                            messages));
    }
    FileRead read = ReadWholeFile(outputFile.path());
    if (!read.ok())
        return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), read.error));
    QByteArray listing;
    if (request.listing || request.readListing) {
        // Only a listing held whole has a limit; one read as it lies takes no more memory for its size.
        if (!request.readListing && QFileInfo(listingFile.path()).size() > kMaxFileBytes) {
            return AssemblerOutput::Failed(Outcome::Failed(
                Outcome::Failure::File, FileErrorTitle(),
                QStringLiteral("Листинг ассемблера для «%1» больше %2 МиБ; столько программа не обрабатывает.")
                    .arg(documentName)
                    .arg(kMaxFileBytes / (1024 * 1024)),
                messages));
        }
        QFile listed(listingFile.path());
        if (!listed.open(QIODevice::ReadOnly)) {
            error = FileErrorMessage(QStringLiteral("прочитать листинг ассемблера для"), documentName,
                                     platform::LastError());
        } else if (request.readListing) {
            error = request.readListing(listed);
        } else {
            listing = listed.readAll();
            if (listed.error() != QFileDevice::NoError)
                error = FileErrorMessage(QStringLiteral("прочитать листинг ассемблера для"), documentName,
                                         listed.errorString());
        }
        if (!error.isEmpty())
            return AssemblerOutput::Failed(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error, messages));
    }
    return {std::move(outcome), std::move(read.bytes), std::move(listing)};
}
