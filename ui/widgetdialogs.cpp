#include "widgetdialogs.h"

#include "textentrybox.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// The texts carry CR LF line breaks; a label wants LF.
QString Shown(QString text) {
    return text.replace(QLatin1StringView("\r\n"), QLatin1StringView("\n"));
}

// A box shows this many lines at most, long ones broken at this many
// characters; the whole text is then under "Показать подробности…", in a
// scrolling field.
constexpr qsizetype kBoxLines = 20;
constexpr qsizetype kBoxLineLength = 100;

// Breaks a line at spaces into pieces of at most kBoxLineLength characters;
// only a longer word is cut. Returns whether one was.
bool Wrap(const QString &line, QStringList &shown) {
    bool cut = false;
    qsizetype at = 0;
    while (line.size() - at > kBoxLineLength && shown.size() < kBoxLines) {
        const qsizetype space = line.lastIndexOf(u' ', at + kBoxLineLength);
        const bool atSpace = space > at;
        const qsizetype end = atSpace ? space : at + kBoxLineLength;
        cut |= !atSpace;
        shown << line.mid(at, end - at);
        at = atSpace ? end + 1 : end;
    }
    if (shown.size() >= kBoxLines) return true;  // the rest is under the details
    shown << line.mid(at);
    return cut;
}

void ShowBox(QWidget *owner, QMessageBox::Icon icon, const QString &title, const QString &text) {
    const QString whole = Shown(text);
    QStringList lines = whole.split(QLatin1Char('\n'));
    if (lines.size() > 1 && lines.constLast().isEmpty()) lines.removeLast();
    QStringList shown;
    bool partial = false;  // the whole text then goes under "Показать подробности…"
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (shown.size() >= kBoxLines) {
            shown << QStringLiteral("… и ещё строк: %1").arg(lines.size() - i);
            partial = true;
            break;
        }
        partial |= Wrap(lines[i], shown);
    }
    QMessageBox box(icon, title, shown.join(QLatin1Char('\n')), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    if (partial) box.setDetailedText(whole);
    box.exec();
}

}  // namespace

void WidgetDialogs::ShowInformation(const QString &title, const QString &text) {
    ShowBox(owner_, QMessageBox::Information, title, text);
}

void WidgetDialogs::ShowError(const QString &title, const QString &text) {
    ShowBox(owner_, QMessageBox::Critical, title, text);
}

QString WidgetDialogs::ShowTextForCopy(const QString &title, const QString &prompt, const QString &text) {
    TextEntryBox box(title, Shown(prompt), text, owner_);
    return box.exec() == QDialog::Accepted ? box.contents() : QString();
}

bool WidgetDialogs::Question(const QString &title, const QString &text) {
    // Yes and No only: without an escape button the box cannot be closed otherwise.
    QMessageBox box(QMessageBox::Question, title, Shown(text), QMessageBox::Yes | QMessageBox::No, owner_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() != QMessageBox::No;
}

QString WidgetDialogs::OpenFileName() {
    return ChooseFile(false);
}

QString WidgetDialogs::SaveFileName() {
    return ChooseFile(true);
}

QString WidgetDialogs::ChooseFile(bool forSaving) {
    // No existence check, no overwrite prompt, no default extension: the
    // window asks its own question before it writes.
    QFileDialog dialog(owner_, QStringLiteral("Выберите файл"), QDir::currentPath(),
                       QStringLiteral("Assembler Programs (*.asm)"));
    dialog.setObjectName(QStringLiteral("fileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}
