#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The "Проверка вызова" box: four parameters as a VB caller passes them, and
// the report of the last trial. The fields keep their text while the window runs.
class TrialBox : public QDialog {
    Q_OBJECT

public:
    explicit TrialBox(QWidget *parent = nullptr);

    QStringList parameters() const;
    QString instructionLimit() const;
    void setParameters(const QStringList &parameters);
    void showReport(const QString &report);
    QString report() const;
    // While a trial runs, another cannot start.
    void setBusy(bool busy);

signals:
    void tryRequested(const QStringList &parameters);

private:
    QList<QLineEdit *> fields_;
    QLineEdit *limit_ = nullptr;
    QPlainTextEdit *report_ = nullptr;
    QPushButton *tryButton_ = nullptr;
};
