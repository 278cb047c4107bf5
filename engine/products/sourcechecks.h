#pragma once

#include "run/listing.h"

#include <QList>
#include <QString>

// Mistakes in a source that assembles but would crash or fail in a Visual
// Basic program.
enum class SourceWarning {
    NoModeDirective,  // no bits, use16 or use32 at all: NASM made 16-bit code
    Mode64,           // bits 64 or use64: NASM made 64-bit code
    TooLongForVb,     // line 1 of the module would be longer than VB's editor loads
    NoCode,           // nothing to call
};

// The longest code whose module line 1 (Const CodeString = "…") still fits
// in the 1,023 characters VB's editor loads.
constexpr qsizetype kMaxCodeForVbLine = (1023 - 21) / 2;

// The processor mode NASM made the code in.
enum class CodeMode { Unknown, Bits16, Bits32, Bits64 };

// 16, 32, 64, or 0 for Unknown.
int ModeWidth(CodeMode mode);

// The mode of a run's code: the one width the mode directives of the source
// and of its listing name (listedModes: ModeDirectives of the listing's rows),
// 16 bits when there is none (NASM's default), and Unknown when they name
// several or one that is not a number.
CodeMode CodeModeOf(const QString &source, QList<int> listedModes);

// Warnings in the order the user reads them. codeSize is the assembled size.
// Only the source itself is searched for a mode directive, so one kept in an
// %include'd file is not seen and NoModeDirective is told wrongly; the
// overload that takes the listing of the same run sees the included and
// macro-expanded lines too.
QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize);
QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize, const QList<ListingRow> &listing);
// The same with the widths the listing's directives name (ModeDirectives of its rows).
QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize, QList<int> listedModes);

// Russian text of a warning; codeSize is told for TooLongForVb.
QString WarningText(SourceWarning warning, qsizetype codeSize);

// The processor modes the text names outside comments and strings, one
// width (16, 32, 64; 0 when not a number) for each statement bits N, [bits N],
// use16, use32 or use64, in any case. use32 after a section name is no such
// statement: the flat format ignores it.
QList<int> ModeDirectives(const QString &text);
