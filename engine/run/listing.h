#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

class QIODevice;

// NASM's listing (-l with -Lfe): which source line made which bytes, and in
// which mode. The expanded listing (-Lfe) lists each line that reached the
// assembler a second time, as the assembler saw it (after ";;;"): only there
// do conditional assembly, %define'd words and macros never called show for
// what they are. The parser joins each such line to its source line, so that
// the rows read as the plain listing's do.

struct ListingRow {
    int line = 0;          // the line number in its own file: the document, an included file or a macro
    int level = 0;         // 0: the document itself; n: n levels of %include or macro expansion deep
    int documentLine = 0;  // the document's line that made the row (the %include or the macro call when nested)
    qint64 offset = -1;    // from the start of the output; -1 when the line made no bytes
    QByteArray bytes;      // the bytes listed (a pattern when repeat > 1; empty for resb and incbin)
    qint64 repeat = 1;     // times, align
    qint64 size = 0;       // bytes in the output
    QString text;          // the source line as listed
    QString assembled;     // the line as the assembler saw it (macros expanded, no comment); empty when it did not
    int bits = 0;          // the mode NASM assembled the row in (16, 32, 64); 0 before any: NASM's default 16
    bool output = true;    // its offset is in the output, not in absolute space (a struc's fields)

    bool operator==(const ListingRow &) const = default;
};

// Turns NASM's listing into rows a line at a time, so that a listing of any
// size can be read in slices: a row is complete once the next one begins.
class ListingParser {
public:
    // The next line of the listing, without its line break; the row it
    // completed, if any.
    std::optional<ListingRow> Take(QStringView line);
    // The last row, once the listing has ended.
    std::optional<ListingRow> Finish() { return std::exchange(pending_, std::nullopt); }

private:
    std::optional<ListingRow> pending_;
    std::optional<std::pair<int, int>> unexpanded_;  // line and level of a source line whose expanded line may follow
    int documentLine_ = 0;
    int bits_ = 0;
    bool absolute_ = false;
    int copiesLevel_ = 0;     // the deepest level whose rows are the document's own lines
    bool continued_ = false;  // the pending row's bytes go on in the next line
};

// Reads a listing file (in the 8-bit code page) in slices and hands each row
// to take, which returns false to stop the reading. False when it was stopped.
bool ReadListing(QIODevice &file, const std::function<bool(const ListingRow &)> &take);

// Rows in the listing's order; the continuation lines of a long run of bytes
// and the expanded lines are joined to their row, NASM's warning lines are
// left out.
QList<ListingRow> ParseListing(const QString &listing);

// The row that made the byte at offset, or nullptr.
const ListingRow *RowAtOffset(const QList<ListingRow> &rows, qint64 offset);

// A row as the user reads it: line, offset, bytes, source; a line break
// after each line (a long run of bytes takes lines of its own).
QString ListingRowText(const ListingRow &row);

// The whole listing so.
QString ListingText(const QList<ListingRow> &rows);

// The mode a line the assembler saw sets ([bits N], as NASM's bits, use16,
// use32 and use64 macros write it; N read as NASM reads it, as C's atoi
// does), or 0.
int ModeSetBy(QStringView assembled);
