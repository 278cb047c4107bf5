#pragma once

#include <QList>
#include <QString>

// Mistakes in a source that assembles but would crash or fail in a Visual
// Basic program.
enum class SourceWarning {
    NoModeDirective,  // no bits, use16 or use32 at all: NASM made 16-bit code
    TooLongForVb,     // line 1 of the module would be longer than VB's editor loads
    NoCode,           // nothing to call
};

// The longest code whose module line 1 (Const CodeString = "…") still fits
// in the 1,023 characters VB's editor loads.
constexpr qsizetype kMaxCodeForVbLine = (1023 - 21) / 2;

// Warnings in the order the user reads them. codeSize is the assembled size.
QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize);

// Russian text of a warning; codeSize is told for TooLongForVb.
QString WarningText(SourceWarning warning, qsizetype codeSize);

// Whether the source names the processor mode anywhere outside comments and
// strings: bits N (also [bits N]), use16, use32 or use64, in any case.
bool HasModeDirective(const QString &source);
