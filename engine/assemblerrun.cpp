#include "assemblerrun.h"

#include "codepage.h"
#include "execcmd.h"
#include "files.h"
#include "platform.h"
#include "tempfiles.h"

#include <QFileInfo>

QStringList AssemblerArguments(const QString &source, const QString &output) {
    return {QStringLiteral("-f"), QStringLiteral("bin"), source, QStringLiteral("-o"), output};
}

QString UserMessages(const QByteArray &printed, const QString &tempName, const QString &documentName) {
    QString text = QString::fromLocal8Bit(printed).trimmed();
    text.replace(tempName, documentName);
    return text;
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
            return AssemblyFailure(QStringLiteral("Ассемблер аварийно завершился."), messages);
        case Status::Cancelled:
            return Outcome::Failed(Outcome::Failure::Cancelled, {}, {}, messages);
        case Status::TimedOut:
            return Outcome::Failed(Outcome::Failure::TimedOut, AssemblyErrorTitle(),
                                   QStringLiteral("Ассемблер не завершился за %1 с и был остановлен.")
                                       .arg(double(request.timeout.count()) / 1000.0),
                                   messages);
    }
    return {};
}

}  // namespace

AssemblerOutput AssemblerRun(const QString &source, const QString &documentName, const RunRequest &request) {
    const codepage::Encoded encoded = codepage::Encode(source + QLatin1StringView("\r\n"));
    if (!encoded.ok()) {
        return {Outcome::Failed(Outcome::Failure::Encoding, EncodingErrorTitle(),
                                codepage::UnrepresentableMessage(encoded)),
                {}};
    }

    const QString folder = platform::TempFolder();
    QString error;
    const TempFile sourceFile = TempFile::Create(folder, encoded.bytes, &error);
    if (sourceFile.isNull()) return {Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error), {}};
    // The output name is reserved by creating it empty; NASM writes it in place.
    const TempFile outputFile = TempFile::Create(folder, {}, &error);
    if (outputFile.isNull()) return {Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error), {}};

    const ExecResult exec = ExecCmd(request.assembler, AssemblerArguments(sourceFile.path(), outputFile.path()),
                                    request.workingFolder, request.stop, request.timeout);
    const QString messages = UserMessages(exec.output, sourceFile.path(), documentName);
    Outcome outcome = FromExec(exec, messages, request);
    if (!outcome.ok()) return {std::move(outcome), {}};

    // NASM removes its output file when it fails; no file is no product.
    if (!QFileInfo::exists(outputFile.path()))
        return {AssemblyFailure(QStringLiteral("Ассемблер не создал выходной файл."), messages), {}};
    FileRead read = ReadWholeFile(outputFile.path());
    if (!read.ok()) return {Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), read.error), {}};
    return {std::move(outcome), std::move(read.bytes)};
}
