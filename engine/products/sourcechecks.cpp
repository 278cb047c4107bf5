#include "products/sourcechecks.h"

#include "run/assemblerrun.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

int ModeWidth(CodeMode mode) {
    switch (mode) {
        case CodeMode::Bits16:
            return 16;
        case CodeMode::Bits32:
            return 32;
        case CodeMode::Bits64:
            return 64;
        case CodeMode::Unknown:
            break;
    }
    return 0;
}

namespace {

// Lines the assembler sees that make no code, or data that is the same in every mode: labels alone (with
// their colon), equates, db and its kin (also under times), incbin.
bool ModeFree(QString assembled) {
    static const QRegularExpression strings(QStringLiteral(R"('[^']*'|"[^"]*"|`(?:\\.|[^`])*`)"));
    if (assembled.contains(u'\'') || assembled.contains(u'"') || assembled.contains(u'`'))
        assembled.replace(strings, QStringLiteral("''"));  // a " db" in a string is no data
    static const QRegularExpression free(
        QStringLiteral(R"(^\s*(?:[\w.$?@~#]+:\s*$|[\w.$?@~#]+:?\s+equ\b|(?:[\w.$?@~#]+:?\s+)?(?:times\s.*\s)?)"
                       R"((?:d[bwdqtoyz]|res[bwdqtoyz]|incbin)\b))"),
        QRegularExpression::CaseInsensitiveOption);
    return free.match(assembled).hasMatch();
}

// [list -] and %pragma list (or [pragma list]): what follows may be missing from the listing, or its
// expanded lines.
const QRegularExpression &Hiding() {
    static const QRegularExpression hides(
        QStringLiteral(R"(^\s*(?:\[\s*list\s+-|%pragma\s+list\b|\[\s*pragma\s+list\b).*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    return hides;
}

bool HidesRows(const QString &text) {
    return text.contains(u"list"_s, Qt::CaseInsensitive) && Hiding().match(text).hasMatch();
}

}  // namespace

void AssembledModes::Add(const ListingRow &row) {
    // A listing that does not begin with the run's own first line began with the listing off; bytes without the
    // line the assembler saw come from a listing that lacks those lines.
    if (rows_++ == 0) incomplete_ = !NamesTheSource(row);
    incomplete_ =
        incomplete_ || HidesRows(row.text) || HidesRows(row.assembled) || (row.size > 0 && row.assembled.isEmpty());
    last_ = row.bits;
    if (row.size > 0 && !ModeFree(row.assembled)) bytes_ |= Bit(row.bits);
}

CodeMode AssembledModes::Mode() const {
    unsigned modes = Modes();
    if (modes & Bit(0)) modes = (modes & ~Bit(0)) | Bit(16);  // NASM's default
    for (const CodeMode mode : {CodeMode::Bits16, CodeMode::Bits32, CodeMode::Bits64})
        if (modes == Bit(ModeWidth(mode))) return mode;
    return CodeMode::Unknown;  // several, or unread
}

AssembledModes AssembledModes::Unread() {
    AssembledModes modes;
    modes.unread_ = true;
    modes.rows_ = 1;
    return modes;
}

QString ListingWithoutGaps(QString preprocessed) {
    return preprocessed.replace(Hiding(), QString());
}

QList<SourceWarning> CheckSource(const AssembledModes &modes, qsizetype codeSize) {
    QList<SourceWarning> warnings;
    if (modes.ByDefault()) warnings << SourceWarning::NoModeDirective;
    if (modes.Has64()) warnings << SourceWarning::Mode64;
    if (codeSize > kMaxCodeForVbLine) warnings << SourceWarning::TooLongForVb;
    if (codeSize == 0) warnings << SourceWarning::NoCode;
    return warnings;
}

QList<SourceWarning> CheckSource(const QList<ListingRow> &listing, qsizetype codeSize) {
    AssembledModes modes;
    for (const ListingRow &row : listing) modes.Add(row);
    return CheckSource(modes, codeSize);
}

QString WarningText(SourceWarning warning, qsizetype codeSize) {
    switch (warning) {
        case SourceWarning::NoModeDirective:
            return QStringLiteral(
                "В исходном тексте нет директивы bits 32 (или use32): NASM собрал 16-битный код, а Visual Basic "
                "выполняет его как 32-битный — команды будут другими. Добавьте в начало строку bits 32.");
        case SourceWarning::Mode64:
            return QStringLiteral(
                "В исходном тексте есть директива bits 64 (или use64): NASM собрал 64-битный код, а Visual Basic "
                "выполняет его как 32-битный — команды будут другими. Используйте bits 32.");
        case SourceWarning::TooLongForVb:
            return QStringLiteral(
                       "Код занимает %1 байт, больше %2: первая строка модуля .bas будет длиннее 1023 символов, и "
                       "редактор Visual Basic не загрузит модуль.")
                .arg(codeSize)
                .arg(kMaxCodeForVbLine);
        case SourceWarning::NoCode:
            return QStringLiteral("Исходный текст не дал ни одного байта кода: вызывать нечего.");
    }
    return {};
}
