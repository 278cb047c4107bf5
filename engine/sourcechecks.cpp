#include "sourcechecks.h"

#include <QRegularExpression>
#include <QStringList>

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

bool HasModeDirective(const QString &source) {
    // bits starts a statement; use16/use32/use64 may also follow a section name.
    static const QRegularExpression directive(QStringLiteral(R"(^\s*\[?\s*bits\s+\S|\buse(16|32|64)\b)"),
                                              QRegularExpression::CaseInsensitiveOption);
    for (QStringView line : QStringView(source).split(u'\n'))
        if (directive.match(CodePart(line)).hasMatch()) return true;
    return false;
}

QList<SourceWarning> CheckSource(const QString &source, qsizetype codeSize) {
    QList<SourceWarning> warnings;
    if (!HasModeDirective(source)) warnings << SourceWarning::NoModeDirective;
    if (codeSize > kMaxCodeForVbLine) warnings << SourceWarning::TooLongForVb;
    if (codeSize == 0) warnings << SourceWarning::NoCode;
    return warnings;
}

QString WarningText(SourceWarning warning, qsizetype codeSize) {
    switch (warning) {
        case SourceWarning::NoModeDirective:
            return QStringLiteral(
                "В исходном тексте нет директивы bits 32 (или use32): NASM собрал 16-битный код, а Visual Basic "
                "выполняет его как 32-битный — команды будут другими. Добавьте в начало строку bits 32.");
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
