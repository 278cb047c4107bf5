#pragma once

#include <QString>
#include <QStringList>

// How a command or an assembler run ended, and what the user should be told.
struct Outcome {
    enum class Failure {
        None,
        Cancelled,  // the user stopped it; nothing to tell
        TimedOut,   // the assembler ran out of the time it was given
        Assembly,   // the assembler failed to start, crashed, or reported errors
        File,       // a file could not be read or written
        Encoding,   // the source holds a character the code page cannot represent
    };

    Failure failure = Failure::None;
    QString title;           // the box title for a failure
    QString text;            // the box text for a failure
    QString messages;        // what the assembler printed, with the document's name in it
    QStringList warnings{};  // mistakes that would crash or fail the VB program, for the command line
    QString notice{};        // the one of them the window shows too, in a box after the report

    bool ok() const { return failure == Failure::None; }

    static Outcome Failed(Failure failure, QString title, QString text, QString messages = {}) {
        return Outcome{failure, std::move(title), std::move(text), std::move(messages)};
    }
};

// Box titles.
inline QString AssemblyErrorTitle() {
    return QStringLiteral("Ошибка ассемблирования");
}
inline QString FileErrorTitle() {
    return QStringLiteral("Ошибка");
}
inline QString TrialTitle() {
    return QStringLiteral("Проверка вызова");
}
inline QString EncodingErrorTitle() {
    return QStringLiteral("Ошибка кодировки");
}
