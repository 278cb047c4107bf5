#pragma once

#include "run/listing.h"

#include <QList>
#include <QString>

// Mistakes in a source that assembles but would crash or fail in a Visual
// Basic program.
enum class SourceWarning {
    NoModeDirective,  // no bits, use16 or use32 in effect: NASM made code in its default 16-bit mode
    Mode64,           // NASM made 64-bit code
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

// The modes NASM assembled a run's bytes in, gathered from the rows of its
// listing in their order. What counts is what the assembler did: a bits
// directive in a false %if, or in a macro never called, makes nothing; one
// that a %define or a macro wrote does. Data (db, dd, incbin…) is the same in
// every mode and does not count.
class AssembledModes {
public:
    void Add(const ListingRow &row);
    // The source turned its listing off ([list -], %pragma list; when it ends
    // so, NASM lists nothing at all): rows may be missing, and the modes are
    // to be read again (ListingWithoutGaps).
    bool Incomplete() const { return incomplete_ || rows_ == 0; }
    // Rows are added from the listing's first, the run's own first line.
    // Modes that could not be read: of unknown width.
    static AssembledModes Unread();
    // The one mode of the bytes (for code without bytes, the mode NASM ended
    // in); Unknown when they were assembled in several.
    CodeMode Mode() const;
    // Some bytes were assembled in NASM's default 16-bit mode, before any
    // directive; or in 64-bit mode.
    bool ByDefault() const { return Modes() & Bit(0); }
    bool Has64() const { return Modes() & Bit(64); }

private:
    static constexpr unsigned Bit(int bits) { return 1u << bits / 16; }
    unsigned Modes() const { return unread_ ? 0 : bytes_ ? bytes_ : Bit(last_); }
    unsigned bytes_ = 0;  // a bit for each mode some code was assembled in
    int last_ = 0;
    qsizetype rows_ = 0;
    bool incomplete_ = false;
    bool unread_ = false;
};

// NASM's preprocessed text (nasm -E) without what turns its listing off, to
// be assembled again as it stands (nasm -a): its listing then has every row.
QString ListingWithoutGaps(QString preprocessed);

// Warnings in the order the user reads them. codeSize is the assembled size.
QList<SourceWarning> CheckSource(const AssembledModes &modes, qsizetype codeSize);
// The same for a listing whole.
QList<SourceWarning> CheckSource(const QList<ListingRow> &listing, qsizetype codeSize);

// Russian text of a warning; codeSize is told for TooLongForVb.
QString WarningText(SourceWarning warning, qsizetype codeSize);
