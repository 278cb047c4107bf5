#include "trialbox.h"

#include "trial/callparams.h"
#include "trial/trial.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TrialBox::TrialBox(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("trialBox"));
    setWindowTitle(QStringLiteral("Проверка вызова"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Параметры, как их передаёт VB: число (10, -5, &H1F, 0x1F), buf:N (буфер из N нулевых байт)\n"
                       "или hex:0102FF (буфер с этими байтами). Пустое поле — 0.")));
    auto *form = new QFormLayout;
    for (int i = 1; i <= 4; ++i) {
        auto *field = new QLineEdit;
        field->setObjectName(QStringLiteral("txtP%1").arg(i));
        field->setText(QStringLiteral("0"));
        field->setMaxLength(4 + 2 * int(kMaxCallBuffer));  // hex: and the digits of the largest buffer
        form->addRow(QStringLiteral("P%1:").arg(i), field);
        fields_ << field;
    }
    limit_ = new QLineEdit(QString::number(kDefaultInstructionLimit));
    limit_->setObjectName(QStringLiteral("txtLimit"));
    form->addRow(QStringLiteral("Предел инструкций:"), limit_);
    layout->addLayout(form);
    report_ = new QPlainTextEdit;
    report_->setObjectName(QStringLiteral("txtReport"));
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    report_->setMinimumSize(560, 320);
    layout->addWidget(report_, 1);

    auto *buttons = new QDialogButtonBox;
    tryButton_ = buttons->addButton(QStringLiteral("Проверить"), QDialogButtonBox::AcceptRole);
    tryButton_->setObjectName(QStringLiteral("cmdTry"));
    tryButton_->setDefault(true);
    QPushButton *close = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setAutoDefault(false);
    layout->addWidget(buttons);
    connect(tryButton_, &QPushButton::clicked, this, [this] { emit tryRequested(parameters()); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

QString TrialBox::instructionLimit() const {
    return limit_->text();
}

QStringList TrialBox::parameters() const {
    QStringList values;
    for (const QLineEdit *field : fields_) values << field->text().trimmed();
    return values;
}

void TrialBox::setParameters(const QStringList &parameters) {
    for (qsizetype i = 0; i < fields_.size(); ++i) fields_[i]->setText(parameters.value(i));
}

void TrialBox::showReport(const QString &report) {
    report_->setPlainText(report);
}

QString TrialBox::report() const {
    return report_->toPlainText();
}

void TrialBox::setBusy(bool busy) {
    tryButton_->setEnabled(!busy);
}
