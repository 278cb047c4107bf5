#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What a Visual Basic caller passes to the function: a 32-bit number, or the
// address of memory the emulator provides (its first bytes given).
struct CallParam {
    enum class Kind { Number, Buffer };

    Kind kind = Kind::Number;
    quint32 number = 0;  // Kind::Number
    QByteArray buffer;   // Kind::Buffer: its whole initial content, 1 byte to 1 MiB

    bool operator==(const CallParam &) const = default;
};

constexpr int kCallParamCount = 4;
constexpr qsizetype kMaxCallBuffer = 1024 * 1024;

struct ParsedCallParams {
    QList<CallParam> params;  // kCallParamCount of them when error is empty
    QString error;            // Russian, names the field (P1..P4) and the reason

    explicit operator bool() const { return error.isEmpty(); }
};

// One field: a decimal number (a sign allowed), &H1F or 0x1F (any case, up to
// &HFFFFFFFF), buf:N (N zero bytes) or hex:0102FF (those bytes). An empty
// field is 0. index is 0-based and only names the field in the message.
ParsedCallParams ParseCallParam(const QString &field, int index);

// Up to four fields; missing ones are 0.
ParsedCallParams ParseCallParams(const QStringList &fields);

struct ParsedInstructionLimit {
    quint64 value = 0;
    QString error;  // Russian, quotes the text
};

// The instruction limit of a trial: a whole number from 1 to 10^12.
ParsedInstructionLimit ParseInstructionLimit(const QString &text);
