#include "trial/trialworker.h"

#include "run/execcmd.h"
#include "system/platform.h"
#include "trial/emulator.h"
#include "trial/trialwire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>
#include <cerrno>

namespace {

// How often a waiting run looks at its stop request.
constexpr int kPollMs = 25;
// Past the emulator's own time limit, the worker is taken for hung.
constexpr int kGraceMs = 10'000;
// What is kept of the worker's standard error: enough for the emulator's last words.
constexpr qsizetype kMaxWorkerErrors = 4096;
// The worker's first byte once the emulator has run a call: whatever ends the worker after it, ends it while the
// emulator runs the code tried.
constexpr char kReady = 'R';

QString Failure(const QString &library, const QString &what) {
    return QStringLiteral(
               "Вызов не проверен: %1 Эмулятор процессора (библиотека %2) мог быть повреждён; %3 "
               "Остальные команды работают как обычно.")
        .arg(what, library, EmulatorRepairAdvice());
}

bool ReadAll(int fd, QByteArray &bytes) {
    char chunk[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0) return true;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        bytes.append(chunk, got);
    }
}

bool WriteAll(int fd, const QByteArray &bytes) {
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
    }
    return true;
}

}  // namespace

int RunTrialWorker(int in, int out, const QString &library) {
    TrialSettings settings;
    settings.emulatorLibrary = library;
    // Loaded and made ready while the program that started the worker still assembles (a failure is told by
    // TrialCall); once a call returned, the program is told, so that a crash from then on is the emulator's own.
    const TrialResult first = TrialCall(QByteArray::fromHex("C21000"), {}, settings);  // ret 16
    if (first.returned() && !WriteAll(out, QByteArray(1, kReady))) return 2;

    QByteArray input;
    TrialRequest request;
    if (!ReadAll(in, input) || !DecodeTrialRequest(input, &request)) return 2;
    input = {};
    settings.instructionLimit = request.instructionLimit;
    settings.timeLimitMs = request.timeLimitMs;
    settings.bits = request.bits;
    settings.everyInstruction = request.everyInstruction;
    const TrialResult result = TrialCall(request.code, request.params, settings);
    return WriteAll(out, EncodeTrialResult(result)) ? 0 : 2;
}

QString TrialWorkerProgram() {
    if (const QString named = qEnvironmentVariable("ORVANDINE_TRIAL_WORKER"); !named.isEmpty()) return named;
    const QString name = platform::ProgramFileName(QStringLiteral("orvandine-trial"));
    const QString folder = QCoreApplication::applicationDirPath();
    const QString beside = QDir(folder).filePath(name);
    for (const QString &candidate :
         {beside, QDir::cleanPath(folder + QStringLiteral("/../libexec/orvandine-converter/") + name)}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return candidate;
    }
    return beside;
}

TrialWorker::TrialWorker(TrialSettings settings) : TrialWorker(std::move(settings), ForkedTrialWorker{}) {}

TrialWorker::TrialWorker(TrialSettings settings, ForkedTrialWorker forked)
    : settings_(std::move(settings)),
      program_(TrialWorkerProgram()),
      process_(std::make_unique<QProcess>()),
      forked_(forked) {
    if (forked_) return;
    process_->setProgram(program_);
    process_->setArguments({settings_.emulatorLibrary});
    PrepareChildProcess(*process_, {});
    process_->start();
}

TrialWorker::~TrialWorker() {
    if (forked_) EndForkedWorker(forked_, true);
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(-1);
    }
}

TrialResult TrialWorker::Run(const QByteArray &code, const QList<CallParam> &params, std::stop_token stop,
                             bool *cancelled) {
    Send(code, params, settings_.bits);
    return Receive(stop, cancelled);
}

void TrialWorker::Send(const QByteArray &code, const QList<CallParam> &params, int bits) {
    bits_ = bits;
    const QByteArray request = EncodeTrialRequest(
        {code, params, settings_.instructionLimit, settings_.timeLimitMs, bits, settings_.everyInstruction});
    if (forked_) {
        SendToForkedWorker(forked_, request);  // a worker that is gone is told of by Receive
        return;
    }
    if (!process_->waitForStarted(-1)) {
        startError_ =
            QStringLiteral(
                "Не удалось запустить программу проверки вызова %1: %2. Проверка вызова без "
                "неё невозможна; переустановите программу.")
                .arg(QDir::toNativeSeparators(program_),
                     QFileInfo::exists(program_) ? process_->errorString() : QStringLiteral("её нет на месте"));
        return;
    }
    process_->write(request);
    process_->closeWriteChannel();
}

TrialResult TrialWorker::Receive(std::stop_token stop, bool *cancelled) {
    *cancelled = false;
    TrialResult result;
    if (!startError_.isEmpty()) {
        result.error = startError_;
        return result;
    }
    const QDeadlineTimer deadline(settings_.timeLimitMs + kGraceMs);
    QByteArray output;
    QByteArray errors;  // the worker program's standard error; a forked worker's goes nowhere
    const auto keepErrors = [&] { errors += process_->readAllStandardError().left(kMaxWorkerErrors - errors.size()); };
    // The two kinds of worker: what it wrote within a while (false once it has ended), and its end.
    const auto readSome = [&] {
        if (forked_) return ReadFromForkedWorker(forked_, output, kPollMs) != ForkedRead::End;
        if (process_->state() == QProcess::NotRunning) return false;
        process_->waitForReadyRead(kPollMs);
        output += process_->readAllStandardOutput();
        keepErrors();
        return true;
    };
    const auto end = [&](bool kill) {
        if (forked_) return EndForkedWorker(forked_, kill);
        if (kill) process_->kill();
        process_->waitForFinished(-1);
        output += process_->readAllStandardOutput();
        keepErrors();
        return ForkedEnd{process_->exitStatus() == QProcess::CrashExit, process_->exitCode()};
    };
    // The answer, past the byte that tells the emulator ran its first call.
    const auto answer = [&output] { return output.startsWith(kReady) ? output.mid(1) : output; };
    while (readSome()) {
        if (TrialResultComplete(answer())) break;  // the answer is whole; the worker's end is not waited for
        if (stop.stop_requested() || deadline.hasExpired()) {
            end(true);
            if (stop.stop_requested()) {
                *cancelled = true;
                return result;
            }
            const int seconds = (settings_.timeLimitMs + kGraceMs) / 1000;
            if (output.startsWith(kReady)) {
                // It was running the code tried: the emulator's failure, no verdict.
                result.end = TrialEnd::EmulatorFailure;
                result.bits = bits_;
                result.instructionLimit = settings_.instructionLimit;
                result.emulatorMessage =
                    QStringLiteral("эмулятор процессора не закончил проверку этого кода за %1 с").arg(seconds);
                return result;
            }
            result.error =
                Failure(settings_.emulatorLibrary, QStringLiteral("эмулятор не ответил за %1 с.").arg(seconds));
            return result;
        }
    }
    if (TrialResultComplete(answer())) {
        if (forked_) EndForkedWorker(forked_, true);  // it ends as soon as the answer is out
        if (!DecodeTrialResult(answer(), &result)) {
            result = {};
            result.error =
                Failure(settings_.emulatorLibrary, QStringLiteral("программа проверки дала неверный ответ."));
        }
        return result;
    }
    const ForkedEnd ended = end(false);
    if (TrialResultComplete(answer()) && ended.code == 0 && !ended.crashed && DecodeTrialResult(answer(), &result))
        return result;
    result = {};
    // Unicorn could not get the memory the check had found (another program took it since): it said so and
    // ended the worker. That is a shortage, not a damaged library.
    if (!ended.crashed && errors.contains(kUnicornOutOfMemory)) {
        result.error = EmulatorOutOfMemory(settings_.emulatorLibrary);
        return result;
    }
    if (ended.crashed && output.startsWith(kReady)) {
        // The emulator ran its first call and broke down on this code: a failure of the emulator, no verdict.
        result.end = TrialEnd::EmulatorFailure;
        result.bits = bits_;
        result.instructionLimit = settings_.instructionLimit;
        result.emulatorMessage =
            QStringLiteral("эмулятор процессора аварийно завершился на этом коде (%1): это его собственный сбой")
                .arg(platform::SignalName(ended.code));
        return result;
    }
    if (ended.crashed) {
        result.error = Failure(
            settings_.emulatorLibrary,
            QStringLiteral("программа проверки аварийно завершилась (%1).").arg(platform::SignalName(ended.code)));
        return result;
    }
    result.error = Failure(settings_.emulatorLibrary,
                           QStringLiteral("программа проверки завершилась с кодом %1, не дав ответа.").arg(ended.code));
    return result;
}
