#pragma once

#include <QByteArray>
#include <QString>

// The 8-bit code page of source files: Windows-1251. Every byte value maps to
// one character and back, the one unassigned byte (0x98) included, so that a
// file read and written again keeps all its bytes.
namespace codepage {

QString Decode(QByteArrayView bytes);

struct Encoded {
    QByteArray bytes;
    // When the text holds a character the code page cannot represent: that
    // character (a whole code point) and its 1-based line; bytes is empty then.
    char32_t unrepresentable = 0;
    int line = 0;

    bool ok() const { return line == 0; }
};

Encoded Encode(QStringView text);

// The Russian explanation for a text that could not be encoded.
QString UnrepresentableMessage(const Encoded &failed);

}  // namespace codepage
