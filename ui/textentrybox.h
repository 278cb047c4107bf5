#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;

// A prompt, an editable field pre-filled with a text, OK and Cancel. The
// whole text is there to select and copy, however long: a long text is shown
// in lines of a fixed width (a single-line field takes seconds to lay out a
// few megabytes), and copying from it gives the text without those breaks.
class TextEntryBox : public QDialog {
    Q_OBJECT

public:
    TextEntryBox(const QString &title, const QString &prompt, const QString &text, QWidget *parent = nullptr);

    // The field's contents.
    QString contents() const;

    // Longer texts than this are shown in lines.
    static constexpr qsizetype kSingleLineLimit = 32768;
    static constexpr qsizetype kLineWidth = 64;

private:
    QLineEdit *line_ = nullptr;
    QPlainTextEdit *lines_ = nullptr;
};
