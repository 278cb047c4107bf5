#include "trialworker.h"

#include "execcmd.h"
#include "platform.h"
#include "trialwire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

// How often a waiting run looks at its stop request.
constexpr int kPollMs = 25;
// Past the emulator's own time limit, the worker is taken for hung.
constexpr int kGraceMs = 10'000;

QString Failure(const QString &library, const QString &what) {
    return QStringLiteral(
               "Вызов не проверен: %1 Эмулятор процессора (библиотека %2) мог быть повреждён; "
               "переустановите пакет libunicorn2. Остальные команды работают как обычно.")
        .arg(what, library);
}

}  // namespace

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

TrialWorker::TrialWorker(TrialSettings settings)
    : settings_(std::move(settings)), program_(TrialWorkerProgram()), process_(std::make_unique<QProcess>()) {
    process_->setProgram(program_);
    process_->setArguments({settings_.emulatorLibrary});
    process_->setStandardErrorFile(QProcess::nullDevice());
    PrepareChildProcess(*process_);
    process_->start();
}

TrialWorker::~TrialWorker() {
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
    if (!process_->waitForStarted(-1)) {
        startError_ =
            QStringLiteral(
                "Не удалось запустить программу проверки вызова %1: %2. Проверка вызова без "
                "неё невозможна; переустановите программу.")
                .arg(QDir::toNativeSeparators(program_),
                     QFileInfo::exists(program_) ? process_->errorString() : QStringLiteral("её нет на месте"));
        return;
    }
    process_->write(EncodeTrialRequest({code, params, settings_.instructionLimit, settings_.timeLimitMs, bits}));
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
    while (process_->state() != QProcess::NotRunning) {
        process_->waitForReadyRead(kPollMs);
        output += process_->readAllStandardOutput();
        if (TrialResultComplete(output)) break;  // the answer is whole; the worker's end is not waited for
        if (stop.stop_requested() || deadline.hasExpired()) {
            process_->kill();
            process_->waitForFinished(-1);
            if (stop.stop_requested()) {
                *cancelled = true;
                return result;
            }
            result.error =
                Failure(settings_.emulatorLibrary,
                        QStringLiteral("эмулятор не ответил за %1 с.").arg((settings_.timeLimitMs + kGraceMs) / 1000));
            return result;
        }
    }
    output += process_->readAllStandardOutput();
    if (TrialResultComplete(output)) {
        if (!DecodeTrialResult(output, &result)) {
            result = {};
            result.error =
                Failure(settings_.emulatorLibrary, QStringLiteral("программа проверки дала неверный ответ."));
        }
        return result;
    }
    if (process_->exitStatus() == QProcess::CrashExit) {
        const int signal = process_->exitCode();
        result.error =
            Failure(settings_.emulatorLibrary,
                    QStringLiteral("программа проверки аварийно завершилась (%1).").arg(platform::SignalName(signal)));
        return result;
    }
    if (process_->exitCode() != 0 || !DecodeTrialResult(output, &result)) {
        result = {};
        result.error = Failure(
            settings_.emulatorLibrary,
            QStringLiteral("программа проверки завершилась с кодом %1, не дав ответа.").arg(process_->exitCode()));
    }
    return result;
}
