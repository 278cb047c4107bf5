#pragma once

#include <QPlainTextEdit>
#include <QSet>

#include <optional>

// The source text area: takes dropped files, and marks the lines the
// assembler reported errors on until the text is edited.
class AsmEdit : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit AsmEdit(QWidget *parent = nullptr);

    // The whole text exactly as it stands, line breaks as LF.
    QString text() const;
    void setText(const QString &text);

    // Marks these 1-based lines and puts the caret on the first.
    void markLines(const QList<int> &lines);
    void clearMarks();
    QList<int> markedLines() const { return marked_; }

    // A dropped file is opened only when it is a local .asm file given by its full path.
    static bool IsDroppable(const QStringList &files);

    // Qt lays out a line as one piece, in a time that grows with the square of
    // its length when it has no spaces: longer lines are not taken in.
    static constexpr qsizetype kMaxLineLength = 32768;
    struct Line {
        qsizetype number;  // 1-based
        qsizetype length;
    };
    static std::optional<Line> FirstTooLongLine(QStringView text);

signals:
    // Files dropped onto the text area: local paths, other addresses as they came.
    void filesDropped(const QStringList &files);
    // Ctrl+X without a selection: the window's Close.
    void closeRequested();
    // Pasted or dropped text was refused: it would have made a line this long.
    void lineRefused(qsizetype length);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void ShowVisibleMarks();

    QList<int> marked_;
    QSet<int> markedSet_;
};
