#include "products/sourcechecks.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

// The line without its comment and with its strings blanked, so that words
// in them are never taken for directives.
QString CodePart(QStringView line) {
    QString code;
    QChar quote;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (!quote.isNull()) {
            if (c == u'\\' && quote == u'`')
                ++i;  // backquoted strings have escapes
            else if (c == quote)
                quote = QChar();
            code += u' ';
        } else if (c == u';') {
            break;
        } else {
            if (c == u'\'' || c == u'"' || c == u'`') quote = c;
            code += c;
        }
    }
    return code;
}

}  // namespace

QList<int> ModeDirectives(const QString &text) {
    static const QRegularExpression directive(QStringLiteral(R"(^\s*\[?\s*(?:bits\s+([^\s\]]+)|use(16|32|64)\b))"),
                                              QRegularExpression::CaseInsensitiveOption);
    QList<int> widths;
    for (QStringView line : QStringView(text).split(u'\n')) {
        const QRegularExpressionMatch m = directive.match(CodePart(line));
        if (m.hasMatch()) widths << (m.capturedView(1).isNull() ? m.capturedView(2) : m.capturedView(1)).toInt();
    }
    return widths;
}

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

CodeMode CodeModeOf(const QString &source, QList<int> listedModes) {
    QList<int> &modes = listedModes;
    modes += ModeDirectives(source);
    if (modes.isEmpty()) return CodeMode::Bits16;
    std::sort(modes.begin(), modes.end());
    if (modes.constFirst() != modes.constLast()) return CodeMode::Unknown;
    for (const CodeMode mode : {CodeMode::Bits16, CodeMode::Bits32, CodeMode::Bits64})
        if (ModeWidth(mode) == modes.constFirst()) return mode;
    return CodeMode::Unknown;
}

QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize, const QList<ListingRow> &listing) {
    QList<int> modes;
    for (const ListingRow &row : listing) modes += ModeDirectives(row.text);
    return CheckSource(source, codeSize, modes);
}

QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize, QList<int> modes) {
    modes += ModeDirectives(source);
    QList<SourceWarning> warnings;
    if (modes.isEmpty()) warnings << SourceWarning::NoModeDirective;
    if (modes.contains(64)) warnings << SourceWarning::Mode64;
    if (codeSize > kMaxCodeForVbLine) warnings << SourceWarning::TooLongForVb;
    if (codeSize == 0) warnings << SourceWarning::NoCode;
    return warnings;
}

QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize) {
    return CheckSource(source, codeSize, QList<int>());
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
