#include "commands.h"

#include "products/docpath.h"
#include "products/renderers.h"
#include "products/sourcechecks.h"
#include "products/vba7module.h"
#include "run/listing.h"
#include "system/codepage.h"
#include "system/files.h"
#include "system/platform.h"
#include "trial/trial.h"
#include "trial/trialreport.h"
#include "trial/trialworker.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

using namespace Qt::StringLiterals;

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

// How the window and the command line name the VBA7 module, for the BAS warnings that point to it.
constexpr QStringView kVba7Pointer = u"«Создать модуль VBA7», ключ --vba7";

// 64-bit code in the BAS module, which the window shows too.
QString BasMode64Warning() {
    return QStringLiteral(
               "В исходном тексте есть директива bits 64 (или use64): NASM собрал 64-битный код, а модуль BAS "
               "выполняет только 32-битный код, в VB6. Для 64-битного Office создайте модуль VBA7 (%1).")
        .arg(kVba7Pointer);
}

// The mistakes a product would carry into the VB program. The BAS module's
// warnings point to the VBA7 module where that one fits.
QStringList ProductWarnings(const QList<SourceWarning> &warnings, qsizetype codeSize, bool module) {
    QStringList texts;
    for (const SourceWarning warning : warnings) {
        if (module && warning == SourceWarning::Mode64) {
            texts << BasMode64Warning();
        } else if (module && warning == SourceWarning::TooLongForVb) {
            texts << WarningText(warning, codeSize) +
                         QStringLiteral(" У модуля VBA7 (%1) такого предела нет.").arg(kVba7Pointer);
        } else if (warning == SourceWarning::NoModeDirective || warning == SourceWarning::Mode64) {
            texts << WarningText(warning, codeSize);
        }
    }
    return texts;
}

// The mistakes the VBA7 module would refuse to call.
QStringList Vba7Warnings(CodeMode mode, qsizetype codeSize) {
    QStringList texts;
    if (mode == CodeMode::Bits16)
        texts << QStringLiteral(
            "В исходном тексте нет директивы bits 32 или bits 64: NASM собрал 16-битный код, и модуль VBA7 не "
            "станет его вызывать (CallAsmCode сообщит об ошибке). Добавьте в начало bits 32 (для 32-битного Office "
            "и VB6) или bits 64 (для 64-битного Office).");
    if (mode == CodeMode::Unknown)
        texts << QStringLiteral(
            "В исходном тексте разные директивы bits (или bits не с числом): разрядность кода неизвестна, и модуль "
            "VBA7 не станет его вызывать (CallAsmCode сообщит об ошибке). Оставьте одну директиву: bits 32 или "
            "bits 64.");
    if (codeSize == 0) texts << WarningText(SourceWarning::NoCode, codeSize);
    return texts;
}

// One run that keeps NASM's listing too.
AssemblerOutput AssembleWithListing(const QString &source, const QString &documentPath, const RunRequest &request) {
    RunRequest listed = RequestFor(documentPath, request);
    listed.listing = true;
    return AssemblerRun(source, documentPath, listed);
}

// The listing's rows that stand for the document: not the run's own first
// line that names the source, nor the line break the run adds after the text.
class DocumentRows {
public:
    explicit DocumentRows(const QString &source)
        : lines_(source.count(u'\n') + (source.isEmpty() || source.endsWith(u'\n') ? 0 : 1)) {}
    bool Keeps(const ListingRow &row) {
        if (std::exchange(first_, false) && NamesTheSource(row)) return false;
        return !(row.level == 0 && row.line > lines_ && row.size == 0);
    }

private:
    qsizetype lines_;
    bool first_ = true;
};

// The modes of a run whose listing the source turned off in places: NASM
// preprocesses the source, and assembles what it made again with nothing
// turning the listing off. Unread when either run fails.
AssembledModes ModesOfHiddenRows(const QString &source, const QString &documentPath, const RunRequest &request) {
    RunRequest preprocess = RequestFor(documentPath, request);
    preprocess.preprocessOnly = true;
    const AssemblerOutput preprocessed = AssemblerRun(source, documentPath, preprocess);
    if (!preprocessed.outcome.ok()) return AssembledModes::Unread();
    RunRequest assemble = RequestFor(documentPath, request);
    assemble.assembleOnly = true;
    AssembledModes modes;
    assemble.readListing = [&modes](QIODevice &listing) {
        ReadListing(listing, [&modes](const ListingRow &row) { return modes.Add(row), true; });
        return QString();
    };
    const AssemblerOutput run =
        AssemblerRun(ListingWithoutGaps(codepage::Decode(preprocessed.bytes)), documentPath, assemble);
    return run.outcome.ok() && !modes.Incomplete() ? modes : AssembledModes::Unread();
}

// A product's run: the bytes, with the mistakes they would carry into the VB
// program in the outcome's warnings. The mode is told by what NASM did, as its
// listing shows it, with included files and expanded macros. The mode NASM
// made the code in goes to mode when given.
AssemblerOutput AssembleProduct(const QString &source, const QString &documentPath, const RunRequest &request,
                                bool module, CodeMode *mode = nullptr) {
    RunRequest listed = RequestFor(documentPath, request);
    AssembledModes modes;
    listed.readListing = [&modes](QIODevice &listing) {
        ReadListing(listing, [&modes](const ListingRow &row) { return modes.Add(row), true; });
        return QString();
    };
    AssemblerOutput run = AssemblerRun(source, documentPath, listed);
    if (!run.outcome.ok()) return run;
    if (modes.Incomplete()) modes = ModesOfHiddenRows(source, documentPath, request);
    if (mode) *mode = modes.Mode();
    run.outcome.warnings = ProductWarnings(CheckSource(modes, run.bytes.size()), run.bytes.size(), module);
    return run;
}

}  // namespace

RunRequest RequestFor(const QString &documentPath, RunRequest request) {
    request.includeFolder = request.workingFolder;
    request.workingFolder.clear();
    if (documentPath == UntitledName()) return request;
    // A relative path goes on from the current folder's true name; Qt's own would lose bytes.
    QString error;
    const QString current = QDir::isAbsolutePath(documentPath) ? QString() : platform::CurrentFolder(&error);
    request.workingFolder = QFileInfo(current.isEmpty() ? documentPath : current + u'/' + documentPath).absolutePath();
    return request;
}

QString BasReportText(const QString &target) {
    return QStringLiteral(
               "Файл модуля \"%1\" создан успешно\r\n"
               "Для его вызова - подключите его к проекту на VB и вызывайте, где это\r\n"
               "необходимо функцию: \"CallAsmFunction\"")
        .arg(target);
}

QString Vba7ReportText(const QString &target, CodeMode mode) {
    QString text = QStringLiteral(
                       "Файл модуля \"%1\" создан успешно\r\n"
                       "Для его вызова - подключите его к проекту VBA или VB и вызывайте, где это\r\n"
                       "необходимо функцию: \"%2\"")
                       .arg(target, kVba7CallName);
    if (mode == CodeMode::Bits32)
        text += QStringLiteral("\r\nКод 32-битный: он выполнится в 32-битном Office и в VB6.");
    else if (mode == CodeMode::Bits64)
        text += QStringLiteral("\r\nКод 64-битный: он выполнится в 64-битном Office.");
    return text;
}

Outcome CreateBin(const QString &source, const QString &documentPath, UserNotifier &notifier,
                  const RunRequest &request) {
    AssemblerOutput run = AssembleProduct(source, documentPath, request, false);
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
    AssemblerOutput run = AssembleProduct(source, documentName, request, false);
    if (!run.outcome.ok()) return Report(std::move(run.outcome), notifier);
    notifier.ShowHexForCopy(QStringLiteral("Создание HEX строки"),
                            QStringLiteral("В текстовом поле содержатся HEX коды байт"), run.bytes);
    return run.outcome;
}

Outcome CreateBas(const QString &source, const QString &documentPath, UserNotifier &notifier,
                  const RunRequest &request) {
    AssemblerOutput run = AssembleProduct(source, documentPath, request, true);
    if (!run.outcome.ok()) return Report(std::move(run.outcome), notifier);
    const QString target = TargetName(documentPath, QStringLiteral("bas"));
    if (run.outcome.warnings.contains(BasMode64Warning())) run.outcome.notice = BasMode64Warning();
    const QByteArray module = ModuleBytes(run.bytes);
    run.bytes = {};
    Outcome written = WriteProduct(target, documentPath, module, run.outcome, request);
    if (written.ok()) notifier.ShowInformation(QStringLiteral("Создание BAS файла"), BasReportText(target));
    return Report(std::move(written), notifier);
}

Outcome CreateVba7(const QString &source, const QString &documentPath, UserNotifier &notifier,
                   const RunRequest &request) {
    CodeMode mode = CodeMode::Unknown;
    AssemblerOutput run = AssembleProduct(source, documentPath, request, false, &mode);
    if (!run.outcome.ok()) return Report(std::move(run.outcome), notifier);
    const QString target = TargetName(documentPath, QStringLiteral("vba7.bas"));
    if (run.bytes.size() > kMaxVba7Code) {
        return Report(Outcome::Failed(Outcome::Failure::File, FileErrorTitle(),
                                      FileErrorMessage(QStringLiteral("создать модуль"), target,
                                                       QStringLiteral("код занимает %1 байт, а модуль VBA7 несёт не "
                                                                      "больше %2 байт (1 МиБ)")
                                                           .arg(run.bytes.size())
                                                           .arg(kMaxVba7Code)),
                                      run.outcome.messages),
                      notifier);
    }
    run.outcome.warnings = Vba7Warnings(mode, run.bytes.size());
    run.outcome.notice = run.outcome.warnings.join(QStringLiteral("\r\n"));
    const codepage::Encoded module = codepage::Encode(Vba7ModuleText(run.bytes, mode));
    run.bytes = {};
    if (!module.ok())
        return Report(Outcome::Failed(Outcome::Failure::Encoding, EncodingErrorTitle(),
                                      codepage::UnrepresentableMessage(module), run.outcome.messages),
                      notifier);
    Outcome written = WriteProduct(target, documentPath, module.bytes, run.outcome, request);
    if (written.ok()) notifier.ShowInformation(QStringLiteral("Создание модуля VBA7"), Vba7ReportText(target, mode));
    return Report(std::move(written), notifier);
}

TrialRun TryCall(const QString &source, const QString &documentPath, const QList<CallParam> &params,
                 const RunRequest &request, const TrialSettings &settings, TrialWorker *started) {
    // Started first: the worker loads the emulator while NASM runs.
    std::optional<TrialWorker> own;
    TrialWorker &worker = started ? *started : own.emplace(settings);
    AssemblerOutput run = AssembleWithListing(source, documentPath, request);
    if (!run.outcome.ok()) return {std::move(run.outcome)};
    QList<ListingRow> listing = ParseListing(codepage::Decode(run.listing));
    AssembledModes modes;
    for (const ListingRow &row : listing) modes.Add(row);
    DocumentRows document(source);
    listing.removeIf([&document](const ListingRow &row) { return !document.Keeps(row); });
    if (modes.Incomplete()) modes = ModesOfHiddenRows(source, documentPath, request);
    QList<SourceWarning> warnings = CheckSource(modes, run.bytes.size());
    // 64-bit code is called as 64-bit Office calls it, and only that: code of several modes runs as VB6 runs
    // it, with the warnings about the BAS module.
    const int bits = modes.Mode() == CodeMode::Bits64 ? 64 : 32;
    if (bits == 64)
        warnings.removeIf(
            [](SourceWarning w) { return w == SourceWarning::Mode64 || w == SourceWarning::TooLongForVb; });
    if (run.bytes.isEmpty())
        return {std::move(run.outcome), EmptyTrialReportText(warnings, bits), 0, TrialVerdict::Clean};
    worker.Send(run.bytes, params, bits);
    bool cancelled = false;
    const TrialResult result = worker.Receive(request.stop, &cancelled);
    if (cancelled || request.stop.stop_requested())
        return {Outcome::Failed(Outcome::Failure::Cancelled, {}, {}, run.outcome.messages)};
    if (!result) return {Outcome::Failed(Outcome::Failure::File, TrialTitle(), result.error, run.outcome.messages)};
    return {std::move(run.outcome), TrialReportText(result, listing, warnings, run.bytes.size(), modes.Mode()),
            StoppingLine(result, listing), result.verdict()};
}

Outcome ListSource(const QString &source, const QString &documentPath, const RunRequest &request,
                   const std::function<bool(const QString &)> &print) {
    RunRequest listed = RequestFor(documentPath, request);
    listed.readListing = [&](QIODevice &listing) {
        DocumentRows document(source);
        ReadListing(listing, [&](const ListingRow &row) {
            return request.stop.stop_requested() || !document.Keeps(row) || print(ListingRowText(row));
        });
        return QString();
    };
    AssemblerOutput run = AssemblerRun(source, documentPath, listed);
    if (request.stop.stop_requested())
        return Outcome::Failed(Outcome::Failure::Cancelled, {}, {}, run.outcome.messages);
    return std::move(run.outcome);
}
