#include "asmedit.h"

#include "system/platform.h"

#include <QDir>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QUrl>

namespace {

bool IsLineBreak(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
}

QStringList DroppedFiles(const QMimeData *data) {
    QStringList files;
    for (const QUrl &url : data->urls()) files << (url.isLocalFile() ? url.toLocalFile() : url.toString());
    return files;
}

bool IsCloseKey(const QKeyEvent *event) {
    return event->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_X);
}

}  // namespace

AsmEdit::AsmEdit(QWidget *parent) : QPlainTextEdit(parent) {
    setAcceptDrops(true);
    connect(this, &QPlainTextEdit::textChanged, this, &AsmEdit::clearMarks);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &AsmEdit::ShowVisibleMarks);
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
    marked_ = lines;
    markedSet_ = QSet<int>(lines.cbegin(), lines.cend());
    ShowVisibleMarks();
    for (const int line : lines) {  // the caret goes to the first marked line there is
        const QTextBlock block = document()->findBlockByNumber(line - 1);
        if (!block.isValid()) continue;
        setTextCursor(QTextCursor(block));
        ensureCursorVisible();
        break;
    }
}

void AsmEdit::clearMarks() {
    if (marked_.isEmpty()) return;
    marked_.clear();
    markedSet_.clear();
    setExtraSelections({});
}

// Only the marked lines in sight get a selection: laying out a selection for
// each of 100,000 reported lines would take seconds.
void AsmEdit::ShowVisibleMarks() {
    if (markedSet_.isEmpty()) return;
    QList<QTextEdit::ExtraSelection> selections;
    const qreal bottom = viewport()->height();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        if (blockBoundingGeometry(block).translated(contentOffset()).top() > bottom) break;
        if (!markedSet_.contains(block.blockNumber() + 1)) continue;
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(block);
        selection.format.setBackground(QColor(255, 140, 140));
        selection.format.setProperty(QTextFormat::FullWidthSelection, true);
        selections << selection;
    }
    setExtraSelections(selections);
}

void AsmEdit::resizeEvent(QResizeEvent *event) {
    QPlainTextEdit::resizeEvent(event);
    ShowVisibleMarks();
}

bool AsmEdit::IsDroppable(const QStringList &files) {
    return !files.isEmpty() && platform::IsDroppablePath(files.constFirst()) &&
           files.constFirst().endsWith(QLatin1StringView(".asm"));
}

std::optional<AsmEdit::Line> AsmEdit::FirstTooLongLine(QStringView text) {
    qsizetype number = 1;
    qsizetype start = 0;
    for (qsizetype at = 0; at <= text.size(); ++at) {
        if (at < text.size() && !IsLineBreak(text[at])) continue;
        if (at - start > kMaxLineLength) return Line{number, at - start};
        if (at + 1 < text.size() && text[at] == u'\r' && text[at + 1] == u'\n') ++at;
        ++number;
        start = at + 1;
    }
    return std::nullopt;
}

bool AsmEdit::event(QEvent *event) {
    // Without a selection Ctrl+X is left to the window's shortcut: Close.
    if (event->type() == QEvent::ShortcutOverride && IsCloseKey(static_cast<QKeyEvent *>(event)) &&
        !textCursor().hasSelection()) {
        event->ignore();
        return true;
    }
    return QPlainTextEdit::event(event);
}

void AsmEdit::keyPressEvent(QKeyEvent *event) {
    if (IsCloseKey(event) && !textCursor().hasSelection()) {
        emit closeRequested();  // in case no shortcut took it
        return;
    }
    // Shift+Enter would insert U+2028, which no code page holds: a line break is meant.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers().testFlag(Qt::ShiftModifier)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier, event->text());
        QPlainTextEdit::keyPressEvent(&plain);
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void AsmEdit::insertFromMimeData(const QMimeData *source) {
    if (source->hasText()) {
        // The lines the insertion makes: the pasted ones, the first and last
        // joined to what stands before and after the selection.
        const QTextCursor cursor = textCursor();
        const QTextBlock first = document()->findBlock(cursor.selectionStart());
        const QTextBlock last = document()->findBlock(cursor.selectionEnd());
        const QString joined = first.text().left(cursor.selectionStart() - first.position()) + source->text() +
                               last.text().mid(cursor.selectionEnd() - last.position());
        if (const auto line = FirstTooLongLine(joined)) {
            emit lineRefused(line->length);
            return;
        }
    }
    QPlainTextEdit::insertFromMimeData(source);
}

void AsmEdit::dragEnterEvent(QDragEnterEvent *event) {
    if (!event->mimeData()->hasUrls())
        QPlainTextEdit::dragEnterEvent(event);
    else if (IsDroppable(DroppedFiles(event->mimeData())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void AsmEdit::dragMoveEvent(QDragMoveEvent *event) {
    if (!event->mimeData()->hasUrls())
        QPlainTextEdit::dragMoveEvent(event);
    else if (IsDroppable(DroppedFiles(event->mimeData())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void AsmEdit::dropEvent(QDropEvent *event) {
    if (!event->mimeData()->hasUrls()) {
        QPlainTextEdit::dropEvent(event);
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(DroppedFiles(event->mimeData()));
}
