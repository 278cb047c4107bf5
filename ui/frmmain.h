#pragma once

#include "run/assemblerkeeper.h"
#include "run/assemblerrun.h"
#include "system/outcome.h"
#include "usernotifier.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

class AsmEdit;
class Dialogs;
class DeferredNotifier;
class QAction;
class QProgressDialog;
class TrialBox;

Q_DECLARE_METATYPE(Outcome)

// The program's one window: the source text, its file and project commands.
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    // Boxes and dialogs go through dialogs (the window's own widgets when null).
    explicit frmMain(Dialogs *dialogs = nullptr, QWidget *parent = nullptr);
    ~frmMain() override;

    // The document path the title names, and the title rules.
    QString GetDocumentPath() const;
    void SetDocumentPath(const QString &path);
    void ResetDocument();

    // The file commands.
    void OpenFile();
    void SaveFile();
    void SaveFileAs();
    void CloseFile();
    void DropFiles(const QStringList &files);

    // The project commands: they assemble away from the window's thread.
    void CreateBinFile();
    void CreateHexString();
    void CreateBasModule();
    void CreateVba7Module();
    // The trial box: the current text's code called in the emulator.
    void TryCallFunction();
    void RunTrial(const QStringList &parameters);
    TrialBox *trialBox() const { return trialBox_; }
    bool isAssembling() const { return running_; }

    void ShowAbout();

    // A stop signal or the end of the session: the run is stopped and the
    // program's assembler copy removed, without the exit question.
    void EndWithoutAsking();

    AsmEdit *textArea() const { return txtAsm; }

    static QString AboutText();

signals:
    // A project command has ended and its reports have been shown.
    void commandFinished(Outcome outcome);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    using Command = std::function<Outcome(const QString &source, const QString &documentPath, UserNotifier &notifier,
                                          const RunRequest &request)>;

    void BuildMenus();
    void FollowWindowSize();
    bool LoadDocument(const QString &path, bool createMissing);
    void SaveTo(const QString &path);
    // after runs once the command succeeded and its reports were shown.
    void RunCommand(Command command, std::function<void()> after = {},
                    const QString &progressText = QStringLiteral("Ассемблирование…"));
    void StartWorker(Command command, const QString &source, const QString &documentPath);
    void CommandEnded(const Outcome &outcome, std::shared_ptr<const DeferredNotifier> reports,
                      const QString &documentPath);
    void SetBusy(bool busy);
    void ShowProgress();
    void StopRun();

    // Shows a box or dialog through show(). Meanwhile the progress box keeps
    // away and a run that ends waits with its reports; afterwards the keyboard
    // goes back to the text area.
    template <typename Show>
    auto Asking(Show show);
    void BoxClosed();
    // After a box: back to where the user was typing, the text area or the trial box.
    void ReturnFocus();

    // Runs work; when memory runs out, says it could not "what" (e.g. "открыть файл 'a.asm'").
    template <typename Work>
    void WithMemory(const QString &what, Work work);

    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs &dialogs_;
    AssemblerKeeper keeper_;
    QString documentPath_;
    QString lineBreak_;
    QByteArray loadedBytes_;  // the file as read or last saved

    AsmEdit *txtAsm = nullptr;
    QAction *mnuOpen = nullptr;
    QAction *mnuSave = nullptr;
    QAction *mnuSaveAs = nullptr;
    QAction *mnuClose = nullptr;
    QAction *mnuExit = nullptr;
    QAction *mnuCreateBIN = nullptr;
    QAction *mnuCreateHEX = nullptr;
    QAction *mnuCreateBAS = nullptr;
    QAction *mnuCreateVBA7 = nullptr;
    QAction *mnuTryCall = nullptr;
    QAction *mnuAbout = nullptr;
    TrialBox *trialBox_ = nullptr;
    QPointer<QWidget> lastFocus_;  // the text area or a field of the trial box
    std::function<void()> afterRun_;

    bool running_ = false;
    bool exiting_ = false;
    int runNumber_ = 0;
    bool progressDue_ = false;  // the run has taken long enough to show the progress box
    int boxesOpen_ = 0;
    std::function<void()> waitingEnd_;  // a run that ended while a box was open
    std::stop_source stop_;
    std::jthread worker_;
    QProgressDialog *progress_ = nullptr;
    QString progressText_;  // what the progress box says the run is doing
};
