#include "commands.h"

#include "docpath.h"
#include "files.h"
#include "platform.h"
#include "renderers.h"

#include <QDir>
#include <QFileInfo>

namespace {

Outcome Report(Outcome outcome, UserNotifier &notifier) {
    if (outcome.failure != Outcome::Failure::None && outcome.failure != Outcome::Failure::Cancelled)
        notifier.ShowError(outcome.title, outcome.text);
    return outcome;
}

// Writes a product next to the document; the outcome carries over the
// assembler's messages (warnings) of the run that made it. Never over the
// source itself, and never anywhere but a regular file.
Outcome WriteProduct(const QString &target, const QString &documentPath, QByteArrayView bytes, Outcome outcome,
                     const RunRequest &request) {
    QString error;
    const QString current = platform::CurrentFolder(&error);
    if (!current.isEmpty()) {
        WriteOptions options;
        options.notSameAs = QDir(current).absoluteFilePath(documentPath);
        options.stop = request.stop;
        error = WriteFileAtomically(QDir(current).absoluteFilePath(target), bytes, options);
    }
    if (request.stop.stop_requested()) return Outcome::Failed(Outcome::Failure::Cancelled, {}, {}, outcome.messages);
    if (!error.isEmpty()) return Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error, outcome.messages);
    return outcome;
}

}  // namespace

RunRequest RequestFor(const QString &documentPath, RunRequest request) {
    if (documentPath != UntitledName()) request.includeFolder = QFileInfo(documentPath).absolutePath();
    return request;
}

QString BasReportText(const QString &target) {
    return QStringLiteral(
               "Файл модуля \"%1\" создан успешно\r\n"
               "Для его вызова - подключите его к проекту на VB и вызывайте, где это\r\n"
               "необходимо функцию: \"CallAsmFunction\"")
        .arg(target);
}

Outcome CreateBin(const QString &source, const QString &documentPath, UserNotifier &notifier,
                  const RunRequest &request) {
    AssemblerOutput run = AssemblerRun(source, documentPath, RequestFor(documentPath, request));
    if (!run.outcome.ok()) return Report(std::move(run.outcome), notifier);
    Outcome written =
        WriteProduct(TargetName(documentPath, QStringLiteral("bin")), documentPath, run.bytes, run.outcome, request);
    if (written.ok()) {
        notifier.ShowInformation(QStringLiteral("Создание BIN файла"),
                                 QStringLiteral("BIN файл успешно создан в папке с исходником"));
    }
    return Report(std::move(written), notifier);
}

Outcome CreateHex(const QString &source, UserNotifier &notifier, const RunRequest &request,
                  const QString &documentName) {
    AssemblerOutput run = AssemblerRun(source, documentName, RequestFor(documentName, request));
    if (!run.outcome.ok()) return Report(std::move(run.outcome), notifier);
    const QString hex = HexString(run.bytes);
    run.bytes = {};  // large outputs: keep only one copy in memory
    notifier.ShowTextForCopy(QStringLiteral("Создание HEX строки"),
                             QStringLiteral("В текстовом поле содержатся HEX коды байт"), hex);
    return run.outcome;
}

Outcome CreateBas(const QString &source, const QString &documentPath, UserNotifier &notifier,
                  const RunRequest &request) {
    AssemblerOutput run = AssemblerRun(source, documentPath, RequestFor(documentPath, request));
    if (!run.outcome.ok()) return Report(std::move(run.outcome), notifier);
    const QString target = TargetName(documentPath, QStringLiteral("bas"));
    const QByteArray module = ModuleBytes(run.bytes);
    run.bytes = {};
    Outcome written = WriteProduct(target, documentPath, module, run.outcome, request);
    if (written.ok()) notifier.ShowInformation(QStringLiteral("Создание BAS файла"), BasReportText(target));
    return Report(std::move(written), notifier);
}
