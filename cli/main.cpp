// orvandine-convert: the three products of the window, from the command line.

#include "cli_options.h"
#include "codepage.h"
#include "commands.h"
#include "docpath.h"
#include "files.h"
#include "payload_info.h"
#include "platform.h"
#include "provisioning.h"

#include <QCoreApplication>
#include <QFile>

#include <pthread.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <stop_token>
#include <thread>

namespace {

enum ExitCode { kOk = 0, kAssemblyFailed = 1, kUsage = 2, kTimedOut = 124, kInterrupted = 130 };

void Write(FILE *stream, const QString &text) {
    // Large hex strings go out in slices, so that no second full-size copy exists.
    constexpr qsizetype kSlice = 1 << 20;
    for (qsizetype at = 0; at < text.size(); at += kSlice) {
        const QByteArray bytes = QStringView(text).mid(at, kSlice).toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    }
}

QString Lines(QString text) {
    return text.replace(QLatin1StringView("\r\n"), QLatin1StringView("\n"));
}

class ConsoleNotifier : public UserNotifier {
public:
    void ShowInformation(const QString &, const QString &text) override {
        Write(stdout, Lines(text) + QLatin1Char('\n'));
    }
    QString ShowTextForCopy(const QString &, const QString &, const QString &text) override {
        Write(stdout, text);
        Write(stdout, QStringLiteral("\n"));
        return {};
    }
    void ShowError(const QString &title, const QString &text) override {
        Write(stderr, title + QLatin1StringView(": ") + text + QLatin1Char('\n'));
    }
};

int Fail(const QString &message, int code) {
    Write(stderr, QStringLiteral("orvandine-convert: ") + message + QLatin1Char('\n'));
    return code;
}

// Ctrl+C and termination stop a running assembler first, so that no temporary
// file is left behind.
void HandleStopSignals(std::stop_source stop) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread([stopSignals, stop]() mutable {
        int received = 0;
        sigwait(&stopSignals, &received);
        stop.request_stop();
        // Nothing was running to notice the request (reading standard input, say).
        sleep(2);
        _exit(kInterrupted);
    }).detach();
}

bool ReadSource(const QString &file, QString *source, QString *error) {
    if (file == QLatin1StringView("-")) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly)) {
            *error = QStringLiteral("Не удалось прочитать стандартный ввод.");
            return false;
        }
        *source = codepage::Decode(in.readAll());
        return true;
    }
    const FileRead read = ReadWholeFile(file);
    if (!read.ok()) {
        *error = read.error;
        return false;
    }
    *source = codepage::Decode(read.bytes);
    return true;
}

}  // namespace

int main(int argc, char *argv[]) {
    // A full disk or a file-size limit must fail a write, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    std::stop_source stop;
    HandleStopSignals(stop);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvandine-convert"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANDINE_VERSION));

    const CliOptions options = ParseCliOptions(app.arguments().mid(1));
    if (!options.error.isEmpty())
        return Fail(options.error + QStringLiteral("\nСправка: orvandine-convert --help"), kUsage);
    if (options.help) {
        Write(stdout, CliUsage());
        return kOk;
    }
    if (options.version) {
        Write(stdout, QStringLiteral("orvandine-convert %1 (NASM %2)\n")
                          .arg(QCoreApplication::applicationVersion(), payload::NasmVersion()));
        return kOk;
    }

    QString source;
    QString error;
    if (!ReadSource(options.file, &source, &error)) return Fail(error, kUsage);

    const QString appFolder = platform::AppPath();
    const ProvidedAssembler assembler = ProvideAssembler(appFolder, CopyPlace::PrivateOnly);
    if (!assembler.ok()) return Fail(assembler.error, kAssemblyFailed);

    const RunRequest request{assembler.program, appFolder, stop.get_token(), options.timeout};
    const QString documentPath = options.file == QLatin1StringView("-") ? UntitledName() : options.file;
    ConsoleNotifier notifier;
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
        case CliOptions::Product::None:
            break;
    }
    RemoveAssembler(assembler);
    std::fflush(stdout);

    // Warnings of a successful run go to standard error, as NASM prints them.
    if (outcome.ok() && !outcome.messages.isEmpty()) Write(stderr, outcome.messages + QLatin1Char('\n'));

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
