#include "textentrybox.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

namespace {

// Shows a long text in lines; what is copied or dragged out has no breaks.
class LinedTextEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

    static QString Unbroken(QString text) {
        text.remove(QLatin1Char('\n'));
        text.remove(QChar::ParagraphSeparator);
        return text;
    }

protected:
    // Enter is the dialog's: it presses OK, as in the single-line field.
    void keyPressEvent(QKeyEvent *event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            event->ignore();
        else
            QPlainTextEdit::keyPressEvent(event);
    }
    QMimeData *createMimeDataFromSelection() const override {
        auto *data = new QMimeData;
        data->setText(Unbroken(textCursor().selectedText()));
        return data;
    }
};

QString Broken(const QString &text, qsizetype width) {
    QString lines;
    lines.reserve(text.size() + text.size() / width + 1);
    for (qsizetype at = 0; at < text.size(); at += width) {
        if (at > 0) lines += QLatin1Char('\n');
        lines += QStringView(text).mid(at, width);
    }
    return lines;
}

}  // namespace

TextEntryBox::TextEntryBox(const QString &title, const QString &prompt, const QString &text, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("textEntryBox"));
    setWindowTitle(title);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(prompt, this);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    if (text.size() <= kSingleLineLimit) {
        line_ = new QLineEdit(this);
        line_->setMaxLength(std::numeric_limits<int>::max());
        line_->setText(text);
        line_->selectAll();
        layout->addWidget(line_);
        resize(480, sizeHint().height());
    } else {
        lines_ = new LinedTextEdit(this);
        lines_->setLineWrapMode(QPlainTextEdit::NoWrap);
        lines_->setFont(QFont(QStringLiteral("Courier New"), 9));
        lines_->setPlainText(Broken(text, kLineWidth));
        lines_->selectAll();  // so that Ctrl+C copies it at once
        layout->addWidget(lines_);
        resize(620, 420);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString TextEntryBox::contents() const {
    if (line_) return line_->text();
    return LinedTextEdit::Unbroken(lines_->toPlainText());
}
