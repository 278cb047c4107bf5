#include "asmedit.h"

#include <QMimeData>
#include <QTextBlock>
#include <QUrl>

AsmEdit::AsmEdit(QWidget *parent) : QPlainTextEdit(parent) {
    setAcceptDrops(true);
    connect(this, &QPlainTextEdit::textChanged, this, &AsmEdit::clearMarks);
}

QString AsmEdit::text() const {
    // toPlainText() would turn no-break spaces into spaces; the raw text keeps
    // every character and separates blocks with U+2029.
    QString raw = document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
}

void AsmEdit::setText(const QString &text) {
    setPlainText(text);
}

void AsmEdit::markLines(const QList<int> &lines) {
    QList<QTextEdit::ExtraSelection> selections;
    for (const int line : lines) {
        const QTextBlock block = document()->findBlockByNumber(line - 1);
        if (!block.isValid()) continue;
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(block);
        selection.format.setBackground(QColor(255, 140, 140));
        selection.format.setProperty(QTextFormat::FullWidthSelection, true);
        selections << selection;
    }
    setExtraSelections(selections);
    marked_ = lines;
    if (!selections.isEmpty()) {
        setTextCursor(selections.constFirst().cursor);
        ensureCursorVisible();
    }
}

void AsmEdit::clearMarks() {
    if (marked_.isEmpty()) return;
    marked_.clear();
    setExtraSelections({});
}

void AsmEdit::dragEnterEvent(QDragEnterEvent *event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        QPlainTextEdit::dragEnterEvent(event);
}

void AsmEdit::dragMoveEvent(QDragMoveEvent *event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        QPlainTextEdit::dragMoveEvent(event);
}

void AsmEdit::dropEvent(QDropEvent *event) {
    if (!event->mimeData()->hasUrls()) {
        QPlainTextEdit::dropEvent(event);
        return;
    }
    QStringList files;
    for (const QUrl &url : event->mimeData()->urls()) files << (url.isLocalFile() ? url.toLocalFile() : url.toString());
    event->acceptProposedAction();
    emit filesDropped(files);
}
