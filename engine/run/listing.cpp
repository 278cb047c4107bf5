#include "run/listing.h"

#include "system/codepage.h"

#include <QIODevice>

#include <QRegularExpression>
#include <QStringList>

namespace {

// NASM writes "%6d " for the line, then "%08X " and the bytes padded to 18
// columns (or 27 blanks), then the nesting level "<n>" right-aligned in 5
// columns (or blanks; a "-" that continues the bytes takes its first), a
// blank and the source. Longer runs of bytes go on in the next lines.
constexpr int kLevelColumn = 27;  // after the line number's field
constexpr int kLevelWidth = 5;

const QRegularExpression &RowPattern() {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^ *(\d+) (?:([0-9A-F]{8}) ([0-9A-F]*)(\?*)(?:<(rep|res|bin) ([0-9A-F]+)h>)?(-?)| {27})(.*)$)"));
    return pattern;
}

}  // namespace

std::optional<ListingRow> ListingParser::Take(QStringView raw) {
    const QStringView line = raw.endsWith(u'\r') ? raw.chopped(1) : raw;
    const QRegularExpressionMatch m = RowPattern().match(line);
    if (!m.hasMatch()) return std::nullopt;  // NASM's warnings and anything unforeseen

    const QStringView hex = m.capturedView(3);
    const QStringView marker = m.capturedView(5);
    const qint64 count = m.capturedLength(6) ? m.capturedView(6).toLongLong(nullptr, 16) : 1;
    if (continued_ && pending_) {
        ListingRow &row = *pending_;
        row.bytes += QByteArray::fromHex(hex.toLatin1());
        row.repeat = marker == u"rep" ? count : 1;
        row.size = row.bytes.size() * row.repeat;
        continued_ = !m.capturedView(7).isEmpty();
        return std::nullopt;
    }

    ListingRow row;
    row.line = m.capturedView(1).toInt();
    bool continues = false;
    if (m.capturedLength(2)) {
        row.offset = m.capturedView(2).toLongLong(nullptr, 16);
        row.bytes = QByteArray::fromHex(hex.toLatin1());
        if (marker == u"rep") {
            row.repeat = count;
            row.size = row.bytes.size() * count;
        } else if (!marker.isEmpty()) {  // resb and incbin: the size only
            row.size = count;
        } else {
            row.size = row.bytes.size() + m.capturedLength(4) / 2;  // "??" is a reserved byte
        }
        continues = !m.capturedView(7).isEmpty();
    }
    const qsizetype levelColumn = m.capturedEnd(1) + 1 + kLevelColumn;
    static const QRegularExpression level(QStringLiteral(R"(<(\d+)>)"));
    const QRegularExpressionMatch lm = level.match(line.mid(levelColumn, kLevelWidth));
    row.level = lm.hasMatch() ? lm.capturedView(1).toInt() : 0;
    row.text = line.mid(levelColumn + kLevelWidth + 1).toString();

    // A line the assembler saw comes right after its source line, as ";;; " and what the preprocessor made of it;
    // it carries the bytes. A source line that merely starts so is told apart by having no source line before it.
    constexpr QStringView kExpanded = u" ;;; ";
    const bool expanded =
        unexpanded_ && *unexpanded_ == std::pair(row.line, row.level) && row.text.startsWith(kExpanded);
    if (expanded) {
        unexpanded_.reset();
        const QStringView assembled = QStringView(row.text).sliced(kExpanded.size());
        if (const int bits = ModeSetBy(assembled)) bits_ = bits;
        static const QRegularExpression space(QStringLiteral(R"(^\s*\[\s*(absolute|section|segment)\b)"),
                                              QRegularExpression::CaseInsensitiveOption);
        if (const QRegularExpressionMatch m = space.match(assembled); m.hasMatch())
            absolute_ = m.capturedView(1).compare(u"absolute", Qt::CaseInsensitive) == 0;
        row.bits = bits_;
        row.output = !absolute_;
        row.assembled = assembled.toString();
        // The mode and the bytes go to the row that shows the line: its own source line, or for NASM's own
        // macros (which the listing leaves out) the line that called them.
        if (pending_ && pending_->offset < 0) {
            pending_->bits = bits_;
            if (pending_->assembled.isEmpty()) pending_->assembled = row.assembled;
            if (row.offset < 0) return std::nullopt;
            pending_->offset = row.offset;
            pending_->output = row.output;
            pending_->bytes = std::move(row.bytes);
            pending_->repeat = row.repeat;
            pending_->size = row.size;
            continued_ = continues;
            return std::nullopt;
        }
        if (row.offset < 0) return std::nullopt;
        row.text = assembled.toString();
    } else {
        // A comment, a blank line or a preprocessor directive (%define, %if…; not %1, a macro's parameter)
        // reaches the assembler as nothing: no expanded line follows it.
        const QStringView code = QStringView(row.text).trimmed();
        if (code.isEmpty() || code.startsWith(u';') || (code.size() > 1 && code[0] == u'%' && code[1].isLetter()))
            unexpanded_.reset();
        else
            unexpanded_ = std::pair(row.line, row.level);
        row.bits = bits_;
        // NASM's own macros (bits, align, section…) are numbered line 0; a plain listing leaves them out.
        if (row.line == 0 && row.level > 0) return continued_ = false, std::nullopt;
    }
    continued_ = continues;
    // A %rep block is listed at its %endrep; its copies (and those of a %rep in them) carry the document's
    // own line numbers, and what a copy's line expands to comes from that line.
    if (row.level <= copiesLevel_) {
        documentLine_ = row.line;
        copiesLevel_ = row.level + (row.text.trimmed().startsWith(u"%endrep", Qt::CaseInsensitive) ? 1 : 0);
    }
    row.documentLine = documentLine_;
    return std::exchange(pending_, std::move(row));
}

bool ReadListing(QIODevice &file, const std::function<bool(const ListingRow &)> &take) {
    ListingParser parser;
    QByteArray line;
    while (!file.atEnd()) {
        line = file.readLine();
        if (line.endsWith('\n')) line.chop(1);
        if (const std::optional<ListingRow> row = parser.Take(codepage::Decode(line)); row && !take(*row)) return false;
    }
    const std::optional<ListingRow> last = parser.Finish();
    return !last || take(*last);
}

QList<ListingRow> ParseListing(const QString &listing) {
    QList<ListingRow> rows;
    ListingParser parser;
    for (QStringView line : QStringView(listing).split(u'\n'))
        if (std::optional<ListingRow> row = parser.Take(line)) rows.push_back(std::move(*row));
    if (std::optional<ListingRow> row = parser.Finish()) rows.push_back(std::move(*row));
    return rows;
}

const ListingRow *RowAtOffset(const QList<ListingRow> &rows, qint64 offset) {
    for (const ListingRow &row : rows)
        if (row.output && row.offset >= 0 && offset >= row.offset && offset < row.offset + row.size) return &row;
    return nullptr;
}

QString ListingRowText(const ListingRow &row) {
    constexpr int kBytesPerLine = 8;  // longer runs go on in lines of their own, as in NASM's listing
    QStringList bytes{QString()};
    if (row.offset >= 0 && row.bytes.size() * row.repeat != row.size) {
        bytes[0] = QStringLiteral("(%1 байт)").arg(row.size);
    } else if (row.offset >= 0) {
        const QString hex = QString::fromLatin1(row.bytes.toHex().toUpper());
        bytes = QStringList();
        for (qsizetype at = 0; at < hex.size() || bytes.isEmpty(); at += 2 * kBytesPerLine)
            bytes << hex.mid(at, 2 * kBytesPerLine);
        if (row.repeat > 1) bytes.last() += QStringLiteral(" ×%1").arg(row.repeat);
    }
    const QString where =
        row.level == 0 ? QString::number(row.line) : QStringLiteral("%1<%2>").arg(row.documentLine).arg(row.level);
    const QString offset =
        row.offset >= 0 ? QStringLiteral("%1").arg(row.offset, 8, 16, QChar(u'0')).toUpper() : QString(8, u' ');
    QString text = QStringLiteral("%1  %2  %3  %4\n").arg(where, 8).arg(offset).arg(bytes[0], -24).arg(row.text);
    for (qsizetype i = 1; i < bytes.size(); ++i) text += QString(20, u' ') + bytes[i] + u'\n';
    return text;
}

QString ListingText(const QList<ListingRow> &rows) {
    QString text;
    for (const ListingRow &row : rows) text += ListingRowText(row);
    return text;
}

int ModeSetBy(QStringView assembled) {
    static const QRegularExpression directive(QStringLiteral(R"(^\s*\[\s*bits\s+([+-]?\d+))"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = directive.match(assembled);
    const qint64 bits = m.hasMatch() ? m.capturedView(1).toLongLong() : 0;
    return bits == 16 || bits == 32 || bits == 64 ? int(bits) : 0;
}
