#include "commands.h"

#include "codepage.h"
#include "docpath.h"
#include "files.h"
#include "listing.h"
#include "platform.h"
#include "renderers.h"
#include "sourcechecks.h"
#include "trial.h"
#include "trialreport.h"

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
    // Only a relative name needs the current folder, which may be gone.
    const bool absolute = QDir::isAbsolutePath(target);
    const QString current = absolute ? QString() : platform::CurrentFolder(&error);
    if (absolute || !current.isEmpty()) {
        WriteOptions options;
        options.notSameAs = QDir(current).absoluteFilePath(documentPath);
        options.stop = request.stop;
        error = WriteFileAtomically(QDir(current).absoluteFilePath(target), bytes, options);
    }
    if (request.stop.stop_requested()) return Outcome::Failed(Outcome::Failure::Cancelled, {}, {}, outcome.messages);
    if (!error.isEmpty()) return Outcome::Failed(Outcome::Failure::File, FileErrorTitle(), error, outcome.messages);
    return outcome;
}

// The mistakes a product would carry into the VB program.
QStringList ProductWarnings(const QString &source, qsizetype codeSize, bool module) {
    QStringList texts;
    for (const SourceWarning warning : CheckSource(source, codeSize)) {
        if (warning == SourceWarning::NoModeDirective || warning == SourceWarning::Mode64 ||
            (module && warning == SourceWarning::TooLongForVb))
            texts << WarningText(warning, codeSize);
    }
    return texts;
}

// One run that keeps NASM's listing too.
AssemblerOutput AssembleWithListing(const QString &source, const QString &documentPath, const RunRequest &request) {
    RunRequest listed = RequestFor(documentPath, request);
    listed.listing = true;
    return AssemblerRun(source, documentPath, listed);
}

// The listing of the document's own lines: the line break the run adds after
// the text makes a line of its own, which the document does not have.
QList<ListingRow> DocumentListing(const QByteArray &listing, const QString &source) {
    QList<ListingRow> rows = ParseListing(codepage::Decode(listing));
    const qsizetype lines = source.count(u'\n') + (source.isEmpty() || source.endsWith(u'\n') ? 0 : 1);
    rows.removeIf([lines](const ListingRow &row) { return row.level == 0 && row.line > lines && row.size == 0; });
    return rows;
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
    run.outcome.warnings = ProductWarnings(source, run.bytes.size(), false);
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
    run.outcome.warnings = ProductWarnings(source, run.bytes.size(), false);
    notifier.ShowHexForCopy(QStringLiteral("Создание HEX строки"),
                            QStringLiteral("В текстовом поле содержатся HEX коды байт"), run.bytes);
    return run.outcome;
}

Outcome CreateBas(const QString &source, const QString &documentPath, UserNotifier &notifier,
                  const RunRequest &request) {
    AssemblerOutput run = AssemblerRun(source, documentPath, RequestFor(documentPath, request));
    if (!run.outcome.ok()) return Report(std::move(run.outcome), notifier);
    const QString target = TargetName(documentPath, QStringLiteral("bas"));
    run.outcome.warnings = ProductWarnings(source, run.bytes.size(), true);
    const QByteArray module = ModuleBytes(run.bytes);
    run.bytes = {};
    Outcome written = WriteProduct(target, documentPath, module, run.outcome, request);
    if (written.ok()) notifier.ShowInformation(QStringLiteral("Создание BAS файла"), BasReportText(target));
    return Report(std::move(written), notifier);
}

TrialRun TryCall(const QString &source, const QString &documentPath, const QList<CallParam> &params,
                 const RunRequest &request) {
    AssemblerOutput run = AssembleWithListing(source, documentPath, request);
    if (!run.outcome.ok()) return {std::move(run.outcome)};
    const TrialResult result = TrialCall(run.bytes, params);
    if (!result) return {Outcome::Failed(Outcome::Failure::File, TrialTitle(), result.error, run.outcome.messages)};
    const QList<ListingRow> listing = DocumentListing(run.listing, source);
    const QList<SourceWarning> warnings = CheckSource(source, run.bytes.size(), listing);
    return {std::move(run.outcome), TrialReportText(result, listing, warnings, run.bytes.size()),
            StoppingLine(result, listing), result.returned(), result.contractKept()};
}

ListingRun ListSource(const QString &source, const QString &documentPath, const RunRequest &request) {
    AssemblerOutput run = AssembleWithListing(source, documentPath, request);
    if (!run.outcome.ok()) return {std::move(run.outcome), {}};
    return {std::move(run.outcome), ListingText(DocumentListing(run.listing, source))};
}
