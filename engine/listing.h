#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// NASM's listing (-l): which source line made which bytes.

struct ListingRow {
    int line = 0;          // the line number in its own file: the document, an included file or a macro
    int level = 0;         // 0: the document itself; n: n levels of %include or macro expansion deep
    int documentLine = 0;  // the document's line that made the row (the %include or the macro call when nested)
    qint64 offset = -1;    // from the start of the output; -1 when the line made no bytes
    QByteArray bytes;      // the bytes listed (a pattern when repeat > 1; empty for resb and incbin)
    qint64 repeat = 1;     // times, align
    qint64 size = 0;       // bytes in the output
    QString text;          // the source line as listed

    bool operator==(const ListingRow &) const = default;
};

// Rows in the listing's order; the continuation lines of a long run of bytes
// are joined to their row, NASM's warning lines are left out.
QList<ListingRow> ParseListing(const QString &listing);

// The row that made the byte at offset, or nullptr.
const ListingRow *RowAtOffset(const QList<ListingRow> &rows, qint64 offset);

// The listing as the user reads it: line, offset, bytes, source.
QString ListingText(const QList<ListingRow> &rows);
