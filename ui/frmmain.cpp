#include "frmmain.h"

#include "asmedit.h"
#include "commands.h"
#include "deferrednotifier.h"
#include "dialogs.h"
#include "documenttitle.h"
#include "geometry.h"
#include "products/docpath.h"
#include "run/messages.h"
#include "system/files.h"
#include "system/platform.h"
#include "system/sourcefile.h"
#include "trialbox.h"
#include "widgetdialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLocale>
#include <QMenuBar>
#include <QProgressDialog>
#include <QScreen>
#include <QTimer>

#include <cerrno>
#include <new>
#include <system_error>

namespace {

// Initial geometry, in twips.
constexpr int kClientWidth = 8895;
constexpr int kClientHeight = 7530;
constexpr int kTextLeft = 120;
constexpr int kTextTop = 120;
constexpr int kTextWidth = 8772;
constexpr int kTextHeight = 7332;

// The progress box appears only for runs that take longer than this.
constexpr int kProgressDelayMs = 500;

const QString kCrLf = QStringLiteral("\r\n");

QString Count(qsizetype number) {
    return QLocale().toString(qlonglong(number));
}

QString LineLimitReason(qsizetype length) {
    return QStringLiteral("длиной %1 знаков; текстовое поле показывает строки не длиннее %2 знаков")
        .arg(Count(length), Count(AsmEdit::kMaxLineLength));
}

}  // namespace

template <typename Show>
auto frmMain::Asking(Show show) {
    ++boxesOpen_;
    if (progress_) progress_->hide();
    struct Closed {
        frmMain *window;
        ~Closed() { window->BoxClosed(); }
    } closed{this};
    return show();
}

void frmMain::BoxClosed() {
    if (--boxesOpen_ > 0 || exiting_) return;
    if (waitingEnd_)
        QTimer::singleShot(0, this, std::exchange(waitingEnd_, {}));
    else if (running_ && progressDue_)
        ShowProgress();
    ReturnFocus();
}

void frmMain::ReturnFocus() {
    QWidget *back = lastFocus_ && lastFocus_->isVisible() ? lastFocus_.data() : txtAsm;
    back->window()->activateWindow();
    back->setFocus();
}

template <typename Work>
void frmMain::WithMemory(const QString &what, Work work) {
    try {
        work();
    } catch (const std::bad_alloc &) {
        Asking([&] { dialogs_.ShowError(FileErrorTitle(), FileErrorMessage(what, GetDocumentPath(), ENOMEM)); });
    }
}

frmMain::frmMain(Dialogs *dialogs, QWidget *parent)
    : QMainWindow(parent),
      ownDialogs_(dialogs ? nullptr : std::make_unique<WidgetDialogs>(this)),
      dialogs_(dialogs ? *dialogs : *ownDialogs_),
      keeper_(platform::AppPath(), CopyPlace::ProgramFolder),
      lineBreak_(kCrLf) {
    setObjectName(QStringLiteral("frmMain"));

    auto *client = new QWidget(this);
    setCentralWidget(client);
    txtAsm = new AsmEdit(client);
    txtAsm->setObjectName(QStringLiteral("txtAsm"));
    txtAsm->setGeometry(ToPixels(kTextLeft), ToPixels(kTextTop), ToPixels(kTextWidth), ToPixels(kTextHeight));
    txtAsm->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtAsm->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtAsm->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont font(QStringLiteral("Courier New"), 9, QFont::Bold);
    font.setStyleHint(QFont::TypeWriter);
    txtAsm->setFont(font);
    QPalette palette = txtAsm->palette();
    palette.setColor(QPalette::Base, QColor(255, 224, 192));
    palette.setColor(QPalette::Text, Qt::black);
    txtAsm->setPalette(palette);
    connect(txtAsm, &AsmEdit::filesDropped, this, &frmMain::DropFiles);
    connect(txtAsm, &AsmEdit::closeRequested, this, &frmMain::CloseFile);
    connect(txtAsm, &AsmEdit::lineRefused, this, [this](qsizetype length) {
        Asking([&] {
            dialogs_.ShowError(FileErrorTitle(), QStringLiteral("Текст не вставлен: получилась бы строка ") +
                                                     LineLimitReason(length) + QLatin1Char('.'));
        });
    });

    BuildMenus();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now && (now == txtAsm || (trialBox_ && trialBox_->isAncestorOf(now)))) lastFocus_ = now;
    });
    ResetDocument();
    resize(ToPixels(kClientWidth), ToPixels(kClientHeight) + menuBar()->sizeHint().height());

    // Start-up: the assembler is written out meanwhile; the first run waits for it.
    keeper_.StartProviding();
}

frmMain::~frmMain() {
    StopRun();
}

void frmMain::BuildMenus() {
    auto addItem = [this](QMenu *menu, QAction *&action, const char *name, const QString &caption,
                          const QKeySequence &shortcut, void (frmMain::*handler)()) {
        action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, handler);
    };

    QMenu *file = menuBar()->addMenu(QStringLiteral("Файл"));
    file->setObjectName(QStringLiteral("mnuFile"));
    addItem(file, mnuOpen, "mnuOpen", QStringLiteral("Открыть"), QKeySequence(QStringLiteral("Ctrl+O")),
            &frmMain::OpenFile);
    addItem(file, mnuSave, "mnuSave", QStringLiteral("Сохранить"), QKeySequence(QStringLiteral("Ctrl+S")),
            &frmMain::SaveFile);
    addItem(file, mnuSaveAs, "mnuSaveAs", QStringLiteral("Сохранить Как"), QKeySequence(), &frmMain::SaveFileAs);
    addItem(file, mnuClose, "mnuClose", QStringLiteral("Закрыть"), QKeySequence(QStringLiteral("Ctrl+X")),
            &frmMain::CloseFile);
    file->addSeparator()->setObjectName(QStringLiteral("mnuSeparator1"));
    mnuExit = file->addAction(QStringLiteral("Выход"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    mnuExit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);

    QMenu *project = menuBar()->addMenu(QStringLiteral("Проект"));
    project->setObjectName(QStringLiteral("mnuProject"));
    addItem(project, mnuCreateBIN, "mnuCreateBIN", QStringLiteral("Создать BIN файл"),
            QKeySequence(QStringLiteral("Shift+F5")), &frmMain::CreateBinFile);
    addItem(project, mnuCreateHEX, "mnuCreateHEX", QStringLiteral("Создать HEX строку"),
            QKeySequence(QStringLiteral("Shift+F6")), &frmMain::CreateHexString);
    addItem(project, mnuCreateBAS, "mnuCreateBAS", QStringLiteral("Создать BAS модуль"),
            QKeySequence(QStringLiteral("Shift+F7")), &frmMain::CreateBasModule);
    addItem(project, mnuCreateVBA7, "mnuCreateVBA7", QStringLiteral("Создать модуль VBA7"),
            QKeySequence(QStringLiteral("Shift+F9")), &frmMain::CreateVba7Module);
    project->addSeparator()->setObjectName(QStringLiteral("mnuSeparator2"));
    addItem(project, mnuTryCall, "mnuTryCall", QStringLiteral("Проверить вызов…"),
            QKeySequence(QStringLiteral("Shift+F8")), &frmMain::TryCallFunction);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Справка"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    addItem(help, mnuAbout, "mnuAbout", QStringLiteral("О программе"), QKeySequence(), &frmMain::ShowAbout);
}

// --- Document identity -------------------------------------------------------

QString frmMain::GetDocumentPath() const {
    return documentPath_;
}

void frmMain::SetDocumentPath(const QString &path) {
    documentPath_ = path;
    // "[*]" in a title is Qt's placeholder for a modified mark; doubled, it shows as itself.
    QString title = TitleFor(path);
    setWindowTitle(title.replace(QLatin1StringView("[*]"), QLatin1StringView("[*][*]")));
}

void frmMain::ResetDocument() {
    SetDocumentPath(UntitledName());
}

// --- File commands -----------------------------------------------------------

bool frmMain::LoadDocument(const QString &path, bool createMissing) {
    QString error;
    try {
        SourceRead read = ReadSourceFile(path, createMissing);
        if (read.ok()) {
            if (const auto line = AsmEdit::FirstTooLongLine(read.source.text)) {
                error = FileErrorMessage(
                    QStringLiteral("открыть файл"), path,
                    QStringLiteral("строка ") + Count(line->number) + QLatin1Char(' ') + LineLimitReason(line->length));
            } else {
                txtAsm->setText(read.source.text);
                lineBreak_ = read.source.lineBreak;
                loadedBytes_ = std::move(read.source.unedited);
                SetDocumentPath(path);
                return true;
            }
        } else {
            error = read.error;
        }
    } catch (const std::bad_alloc &) {
        error = FileErrorMessage(QStringLiteral("открыть файл"), path, ENOMEM);
    }
    Asking([&] { dialogs_.ShowError(FileErrorTitle(), error); });
    return false;
}

void frmMain::OpenFile() {
    if (running_) return;
    const QString path = Asking([this] { return dialogs_.OpenFileName(); });
    if (!path.isEmpty()) LoadDocument(path, true);
}

void frmMain::SaveFile() {
    if (!running_) SaveTo(AsmPath(GetDocumentPath()));
}

void frmMain::SaveFileAs() {
    if (running_) return;
    const QString chosen = Asking([this] { return dialogs_.SaveFileName(); });
    if (!chosen.isEmpty()) SaveTo(AsmPath(chosen));
}

void frmMain::SaveTo(const QString &path) {
    if (!Asking([&] {
            return dialogs_.Question(
                QStringLiteral("Подтверждение сохранения"),
                QStringLiteral("Вы уверены, что хотите сохранить файл под именем '") + path + QLatin1Char('\''));
        }))
        return;
    SaveResult saved;
    try {
        const bool unedited = !txtAsm->document()->isModified();
        saved = SaveSourceFile(path, {txtAsm->text(), lineBreak_, unedited ? loadedBytes_ : QByteArray()});
    } catch (const std::bad_alloc &) {
        saved = {FileErrorTitle(), FileErrorMessage(QStringLiteral("сохранить файл"), path, ENOMEM), {}};
    }
    if (!saved.ok()) {
        Asking([&] { dialogs_.ShowError(saved.title, saved.text); });
        return;
    }
    loadedBytes_ = std::move(saved.written);
    txtAsm->document()->setModified(false);
    SetDocumentPath(path);
}

void frmMain::CloseFile() {
    if (running_) return;
    const QString path = AsmPath(GetDocumentPath());
    if (!Asking([&] {
            return dialogs_.Question(
                QStringLiteral("Подтверждение закрытия файла"),
                QStringLiteral("Вы уверены, что хотите закрыть файл '") + path + QStringLiteral("' ?"));
        }))
        return;
    txtAsm->clear();
    lineBreak_ = kCrLf;
    loadedBytes_.clear();
    ResetDocument();
}

void frmMain::DropFiles(const QStringList &files) {
    if (!running_ && AsmEdit::IsDroppable(files)) LoadDocument(files.constFirst(), false);
}

// --- Project commands --------------------------------------------------------

void frmMain::CreateBinFile() {
    RunCommand([](const QString &source, const QString &path, UserNotifier &notifier, const RunRequest &request) {
        return CreateBin(source, path, notifier, request);
    });
}

void frmMain::CreateHexString() {
    RunCommand([](const QString &source, const QString &path, UserNotifier &notifier, const RunRequest &request) {
        return CreateHex(source, notifier, request, path);
    });
}

void frmMain::CreateBasModule() {
    RunCommand([](const QString &source, const QString &path, UserNotifier &notifier, const RunRequest &request) {
        return CreateBas(source, path, notifier, request);
    });
}

void frmMain::CreateVba7Module() {
    RunCommand([](const QString &source, const QString &path, UserNotifier &notifier, const RunRequest &request) {
        return CreateVba7(source, path, notifier, request);
    });
}

void frmMain::TryCallFunction() {
    if (!trialBox_) {
        trialBox_ = new TrialBox(this);
        trialBox_->addAction(mnuExit);  // Ctrl+Q works there too
        connect(trialBox_, &TrialBox::tryRequested, this, &frmMain::RunTrial);
        // Beside the window where the screen has room, so that a marked line stays in sight.
        trialBox_->adjustSize();
        const QRect screen = this->screen()->availableGeometry();
        const QSize size = trialBox_->frameGeometry().size();
        for (const QPoint beside :
             {frameGeometry().topRight() + QPoint(4, 0), frameGeometry().topLeft() - QPoint(size.width() + 4, 0)}) {
            if (!screen.contains(QRect(beside, size))) continue;
            trialBox_->move(beside);
            break;
        }
    }
    trialBox_->show();
    trialBox_->raise();
    trialBox_->activateWindow();
}

void frmMain::RunTrial(const QStringList &parameters) {
    const ParsedCallParams params = ParseCallParams(parameters);
    if (!params) {
        Asking([&] { dialogs_.ShowError(TrialTitle(), params.error); });
        return;
    }
    const ParsedInstructionLimit limit = ParseInstructionLimit(trialBox_->instructionLimit());
    if (!limit.error.isEmpty()) {
        Asking([&] { dialogs_.ShowError(TrialTitle(), limit.error); });
        return;
    }
    TrialSettings settings;
    settings.instructionLimit = limit.value;
    auto trial = std::make_shared<TrialRun>();
    trialBox_->showReport({});  // no report of an earlier call stays beside a failure
    RunCommand(
        [trial, list = params.params, settings](const QString &source, const QString &path, UserNotifier &notifier,
                                                const RunRequest &request) {
            *trial = TryCall(source, path, list, request, settings);
            const Outcome &outcome = trial->outcome;
            if (!outcome.ok() && outcome.failure != Outcome::Failure::Cancelled)
                notifier.ShowError(outcome.title, outcome.text);
            return outcome;
        },
        [this, trial] {
            trialBox_->showReport(trial->report);
            if (trial->stoppingLine > 0) txtAsm->markLines({trial->stoppingLine});
        },
        QStringLiteral("Проверка вызова…"));
}

void frmMain::RunCommand(Command command, std::function<void()> after, const QString &progressText) {
    if (running_) return;
    afterRun_ = std::move(after);
    progressText_ = progressText;
    WithMemory(QStringLiteral("ассемблировать"), [&] {
        const QString source = txtAsm->text();
        const QString documentPath = GetDocumentPath();
        SetBusy(true);
        stop_ = std::stop_source();
        if (worker_.joinable()) worker_.join();
        try {
            StartWorker(std::move(command), source, documentPath);
        } catch (const std::system_error &error) {
            Asking([&] {
                dialogs_.ShowError(FileErrorTitle(), FileErrorMessage(QStringLiteral("ассемблировать"), documentPath,
                                                                      error.code().value()));
            });
        }
    });
    if (!worker_.joinable()) SetBusy(false);  // the run did not start

    QTimer::singleShot(kProgressDelayMs, this, [this, run = runNumber_] {
        if (!running_ || run != runNumber_ || stop_.stop_requested()) return;
        progressDue_ = true;
        if (boxesOpen_ == 0) ShowProgress();
    });
}

void frmMain::StartWorker(Command command, const QString &source, const QString &documentPath) {
    worker_ = std::jthread([this, command = std::move(command), source, documentPath, stop = stop_.get_token(),
                            appFolder = keeper_.appFolder()] {
        auto reports = std::make_shared<DeferredNotifier>();
        Outcome outcome;
        try {
            const ProvidedAssembler assembler = keeper_.Acquire();
            if (!assembler.ok()) {
                outcome = Outcome::Failed(Outcome::Failure::Assembly, AssemblyErrorTitle(),
                                          QStringLiteral("Ассемблер недоступен.\n") + assembler.error);
                reports->ShowError(outcome.title, outcome.text);
            } else {
                const RunRequest request{assembler.program, appFolder, stop, {}};
                outcome = command(source, documentPath, *reports, request);
            }
        } catch (const std::bad_alloc &) {
            *reports = DeferredNotifier();
            outcome = Outcome::Failed(Outcome::Failure::File, FileErrorTitle(),
                                      FileErrorMessage(QStringLiteral("ассемблировать"), documentPath, ENOMEM));
            reports->ShowError(outcome.title, outcome.text);
        }
        QMetaObject::invokeMethod(
            this, [this, outcome, reports, documentPath] { CommandEnded(outcome, reports, documentPath); },
            Qt::QueuedConnection);
    });
}

void frmMain::ShowProgress() {
    if (!progress_) {
        progress_ = new QProgressDialog(progressText_, QStringLiteral("Отмена"), 0, 0, this);
        progress_->setObjectName(QStringLiteral("progressBox"));
        progress_->setWindowTitle(QStringLiteral("Ассемблирование"));
        // Not modal: the window's close button and Ctrl+Q still reach the
        // exit question (a modal box would swallow them); the commands are
        // disabled and the text is read-only while the run goes on.
        progress_->setWindowModality(Qt::NonModal);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(0);
        // Room for the title beside the frame's buttons.
        progress_->setMinimumWidth(progress_->fontMetrics().horizontalAdvance(progress_->windowTitle()) * 2 + 120);
        connect(progress_, &QProgressDialog::canceled, this, [this] { stop_.request_stop(); });
    }
    progress_->show();
}

void frmMain::CommandEnded(const Outcome &outcome, std::shared_ptr<const DeferredNotifier> reports,
                           const QString &documentPath) {
    if (exiting_) return;
    if (boxesOpen_ > 0) {  // shown once the box is answered
        waitingEnd_ = [this, outcome, reports, documentPath] { CommandEnded(outcome, reports, documentPath); };
        return;
    }
    SetBusy(false);
    if (outcome.failure == Outcome::Failure::Assembly)
        txtAsm->markLines(ErrorLines(outcome.messages, documentPath));
    else if (outcome.ok())
        txtAsm->clearMarks();
    WithMemory(QStringLiteral("показать результат для"), [&] {
        Asking([&] { reports->ReplayTo(dialogs_); });
        // The warning the product's module would fail on, after the report of its file.
        if (outcome.ok() && !outcome.notice.isEmpty())
            Asking([&] { dialogs_.ShowInformation(QStringLiteral("Предупреждение"), outcome.notice); });
    });
    if (const auto after = std::exchange(afterRun_, {}); after && outcome.ok()) after();
    emit commandFinished(outcome);
}

void frmMain::SetBusy(bool busy) {
    running_ = busy;
    ++runNumber_;
    progressDue_ = false;
    for (QAction *action :
         {mnuOpen, mnuSave, mnuSaveAs, mnuClose, mnuCreateBIN, mnuCreateHEX, mnuCreateBAS, mnuCreateVBA7, mnuTryCall})
        action->setEnabled(!busy);
    if (trialBox_) trialBox_->setBusy(busy);
    txtAsm->setReadOnly(busy);
    if (progress_) {  // gone before any report is shown
        progress_->hide();
        delete std::exchange(progress_, nullptr);
        ReturnFocus();
    }
}

void frmMain::StopRun() {
    stop_.request_stop();
    if (worker_.joinable()) worker_.join();
}

// --- Shell -------------------------------------------------------------------

QString frmMain::AboutText() {
    return QStringLiteral("Разработано: Zentaro Software") + kCrLf +
           QStringLiteral("Web Site: https://zentaro.example/orvandine");
}

void frmMain::ShowAbout() {
    Asking([this] { dialogs_.ShowInformation(QStringLiteral("О программе"), AboutText()); });
}

void frmMain::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    FollowWindowSize();
}

// The window manager frames the window after its first sizing, and tells of
// the frame later still: the outer size changes without a resize event. By
// the time the window is moved or activated the frame is known.
void frmMain::moveEvent(QMoveEvent *event) {
    QMainWindow::moveEvent(event);
    FollowWindowSize();
}

void frmMain::changeEvent(QEvent *event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) FollowWindowSize();
}

void frmMain::FollowWindowSize() {
    // The rule is stated on the outer size, frame, title and menu bar included.
    const QSize outer = frameGeometry().size();
    QRect area = txtAsm->geometry();
    if (const auto width = FollowingExtent(ToTwips(outer.width()), ToTwips(area.x()), kWidthMarginTwips))
        area.setWidth(ToPixels(*width));
    if (const auto height = FollowingExtent(ToTwips(outer.height()), ToTwips(area.y()), kHeightMarginTwips))
        area.setHeight(ToPixels(*height));
    txtAsm->setGeometry(area);
}

void frmMain::EndWithoutAsking() {
    if (exiting_) return;
    exiting_ = true;
    StopRun();
    keeper_.Remove();
}

void frmMain::closeEvent(QCloseEvent *event) {
    if (exiting_) {
        event->accept();
        return;
    }
    if (!Asking([this] {
            return dialogs_.Question(QStringLiteral("Подтверждение"),
                                     QStringLiteral("Вы уверены, что хотите завершить работу?"));
        })) {
        event->ignore();
        return;
    }
    exiting_ = true;
    StopRun();
    keeper_.Remove();
    event->accept();
}
