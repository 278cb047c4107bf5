// orvandine-convert: the products of the window, from the command line.

#include "cli_options.h"
#include "commands.h"
#include "console.h"
#include "payload_info.h"
#include "products/docpath.h"
#include "products/renderers.h"
#include "run/provisioning.h"
#include "system/codepage.h"
#include "system/files.h"
#include "system/platform.h"
#include "trial/callparams.h"
#include "trial/trialworker.h"

#include <QCoreApplication>

#include <cerrno>
#include <new>
#include <optional>
#include <stop_token>

namespace {

enum ExitCode {
    kOk = 0,
    kAssemblyFailed = 1,
    kUsage = 2,
    kCallBroken = 3,
    kCallUndecided = 4,
    kTimedOut = 124,
    kInterrupted = 130
};

QString Lines(QString text) {
    return text.replace(QLatin1StringView("\r\n"), QLatin1StringView("\n"));
}

class ConsoleNotifier : public UserNotifier {
public:
    ConsoleNotifier(Stream &out, Stream &err, std::stop_token stop) : out_(out), err_(err), stop_(stop) {}

    void ShowInformation(const QString &, const QString &text) override {
        out_.WriteText(Lines(text) + QLatin1Char('\n'), stop_);
    }
    QString ShowTextForCopy(const QString &, const QString &, const QString &text) override {
        out_.WriteText(text, stop_);
        out_.Write(QByteArrayView("\n"), stop_);
        return {};
    }
    // The hex string is made and printed a slice at a time.
    void ShowHexForCopy(const QString &, const QString &, QByteArrayView code) override {
        constexpr qsizetype kSlice = 1 << 20;
        QByteArray digits(2 * qMin(code.size(), kSlice), Qt::Uninitialized);
        for (qsizetype at = 0; at < code.size(); at += kSlice) {
            const QByteArrayView slice = code.sliced(at, qMin(kSlice, code.size() - at));
            WriteHexLatin1(slice, digits.data());
            out_.Write(QByteArrayView(digits).first(2 * slice.size()), stop_);
        }
        out_.Write(QByteArrayView("\n"), stop_);
    }
    void ShowError(const QString &title, const QString &text) override {
        err_.WriteText(title + QLatin1StringView(": ") + text + QLatin1Char('\n'), stop_);
    }

private:
    Stream &out_;
    Stream &err_;
    std::stop_token stop_;
};

int ExitCodeOf(const Outcome &outcome) {
    switch (outcome.failure) {
        case Outcome::Failure::None:
            return kOk;
        case Outcome::Failure::Cancelled:
            return kInterrupted;
        case Outcome::Failure::TimedOut:
            return kTimedOut;
        case Outcome::Failure::Assembly:
            return kAssemblyFailed;
        case Outcome::Failure::File:
        case Outcome::Failure::Encoding:
            return kUsage;
    }
    return kOk;
}

int Convert(const CliOptions &options, bool inputClosed, Stream &out, Stream &err, std::stop_source &stop,
            ForkedTrialWorker forked) {
    auto fail = [&err](const QString &message, int code) {
        err.WriteText(QStringLiteral("orvandine-convert: ") + message + QLatin1Char('\n'));
        return code;
    };
    // The trial worker loads the emulator meanwhile: while the source is read and NASM runs.
    TrialSettings settings;
    settings.instructionLimit = options.maxInstructions;
    std::optional<TrialWorker> worker;
    if (options.product == CliOptions::Product::Call)
        worker.emplace(settings, forked);
    else if (forked)
        EndForkedWorker(forked, true);
    const bool fromInput = options.file == QLatin1StringView("-");
    const ParsedCallParams params = ParseCallParams(options.parameters);
    if (!params) return fail(params.error, kUsage);
    int callCode = kOk;
    if (fromInput && inputClosed)
        return fail(QStringLiteral("Не удалось прочитать стандартный ввод: он закрыт."), kUsage);
    const FileRead read = fromInput ? ReadStandardInput(STDIN_FILENO, stop.get_token()) : ReadWholeFile(options.file);
    if (read.cancelled || stop.stop_requested()) return kInterrupted;
    if (!read.ok()) return fail(read.error, kUsage);
    const QString source = codepage::Decode(read.bytes);

    const QString appFolder = platform::AppPath();
    const ProvidedAssembler assembler = ProvideAssembler(appFolder, CopyPlace::PrivateOnly);
    if (!assembler.ok()) return fail(assembler.error, kUsage);
    // The per-run copy (when no cache folder is usable) goes on every path.
    const std::unique_ptr<const ProvidedAssembler, void (*)(const ProvidedAssembler *)> removal(
        &assembler, [](const ProvidedAssembler *provided) { RemoveAssembler(*provided); });

    const RunRequest request{assembler.program, appFolder, stop.get_token(), options.timeout};
    const QString documentPath = fromInput ? UntitledName() : options.file;
    ConsoleNotifier notifier(out, err, stop.get_token());
    Outcome outcome;
    switch (options.product) {
        case CliOptions::Product::Hex:
            outcome = CreateHex(source, notifier, request, documentPath);
            break;
        case CliOptions::Product::Bin:
            outcome = CreateBin(source, documentPath, notifier, request);
            break;
        case CliOptions::Product::Bas:
            outcome = CreateBas(source, documentPath, notifier, request);
            break;
        case CliOptions::Product::Vba7:
            outcome = CreateVba7(source, documentPath, notifier, request);
            break;
        case CliOptions::Product::List: {
            // Rows go out in slices as NASM's listing is read, never held whole.
            QByteArray pending;
            const auto flush = [&] {
                out.Write(pending, stop.get_token());
                pending.clear();
                return out.error() == 0;
            };
            outcome = ListSource(source, documentPath, request, [&](const QString &row) {
                pending += row.toUtf8();
                return pending.size() < (64 << 10) || flush();
            });
            if (outcome.ok()) flush();
            break;
        }
        case CliOptions::Product::Call: {
            TrialRun trial = TryCall(source, documentPath, params.params, request, settings, &*worker);
            outcome = std::move(trial.outcome);
            if (outcome.ok()) out.WriteText(trial.report, stop.get_token());
            // A broken stdcall rule that CallWindowProc repairs is a warning: the call works as the module makes it.
            if (trial.verdict == TrialVerdict::Crash) callCode = kCallBroken;
            if (trial.verdict == TrialVerdict::Undecided) callCode = kCallUndecided;
            break;
        }
        case CliOptions::Product::None:
            break;
    }
    if (!outcome.ok() && outcome.failure != Outcome::Failure::Cancelled &&
        (options.product == CliOptions::Product::List || options.product == CliOptions::Product::Call))
        notifier.ShowError(outcome.title, outcome.text);
    if (stop.stop_requested()) return kInterrupted;
    // Warnings of a successful run go to standard error, as NASM prints them,
    // and so do the mistakes that would crash the VB program.
    if (outcome.ok() && !outcome.messages.isEmpty())
        err.WriteText(outcome.messages + QLatin1Char('\n'), stop.get_token());
    for (const QString &warning : outcome.warnings)
        err.WriteText(QStringLiteral("orvandine-convert: предупреждение: ") + warning + QLatin1Char('\n'),
                      stop.get_token());
    if (outcome.ok() && callCode != kOk) return callCode;
    return ExitCodeOf(outcome);
}

}  // namespace

int main(int argc, char *argv[]) {
    const bool inputClosed = OccupyIfClosed(STDIN_FILENO);
    const bool outputClosed = OccupyIfClosed(STDOUT_FILENO);
    OccupyIfClosed(STDERR_FILENO);
    // A trial's worker is forked before this program has a thread, and loads
    // the emulator while the arguments are read and NASM runs.
    ForkedTrialWorker forked;
    for (int i = 1; i < argc && !forked; ++i)
        if (QByteArrayView(argv[i]) == "--call") forked = ForkTrialWorker(DefaultUnicornLibrary());
    PrepareConsole();
    std::stop_source stop;
    Stream out(STDOUT_FILENO, outputClosed);
    Stream err(STDERR_FILENO, false);
    int code = kOk;
    try {
        HandleStopSignals(stop);
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("orvandine-convert"));
        QCoreApplication::setApplicationVersion(QStringLiteral(ORVANDINE_VERSION));

        // On POSIX a file name is bytes, which Qt's own list would lose.
        const CliOptions options = ParseCliOptions(platform::ProgramArguments(argc, argv));
        if (!options.error.isEmpty()) {
            err.WriteText(
                QStringLiteral("orvandine-convert: %1\nСправка: orvandine-convert --help\n").arg(options.error));
            return kUsage;
        }
        if (options.help) {
            out.WriteText(CliUsage());
        } else if (options.version) {
            out.WriteText(QStringLiteral("orvandine-convert %1 (NASM %2)\n")
                              .arg(QCoreApplication::applicationVersion(), payload::NasmVersion()));
        } else {
            code = Convert(options, inputClosed, out, err, stop, forked);
        }
    } catch (const std::exception &) {  // out of memory, or no thread could be started
        err.Write(
            QByteArrayView("orvandine-convert: Недостаточно памяти или других ресурсов системы; "
                           "ничего не записано.\n"));
        return kUsage;
    }
    out.Close();
    if ((code != kOk && code != kCallBroken && code != kCallUndecided) || out.error() == 0) return code;
    err.WriteText(QStringLiteral("orvandine-convert: Не удалось записать стандартный вывод: %1.\n")
                      .arg(out.error() == EBADF ? QStringLiteral("он закрыт") : platform::ErrorReason(out.error())));
    return kUsage;
}
