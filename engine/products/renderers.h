#pragma once

#include <QByteArray>
#include <QString>

// Turns the assembler's output bytes into the hex string and the Visual Basic
// module that carries it.

// Two upper-case hexadecimal digits for a byte value, "00" to "FF".
QString HexByte(int value);

// Every byte as HexByte, in order, without separators.
QString HexString(QByteArrayView bytes);

// The same digits written into a buffer of 2 * bytes.size() UTF-16 units.
void WriteHexDigits(QByteArrayView bytes, char16_t *out);

// The same digits as 8-bit characters into a buffer of 2 * bytes.size().
void WriteHexLatin1(QByteArrayView bytes, char *out);

// The thirteen lines of the module, each followed by CR LF.
QString ModuleText(const QString &hexString);

// ModuleText(HexString(code)) as the bytes of the module file, built without
// any full-size intermediate copy.
QByteArray ModuleBytes(QByteArrayView code);
