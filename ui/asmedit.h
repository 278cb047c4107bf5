#pragma once

#include <QPlainTextEdit>

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

signals:
    // Files dropped onto the text area: local paths, other addresses as they came.
    void filesDropped(const QStringList &files);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    QList<int> marked_;
};
