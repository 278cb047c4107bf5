#include "trial/callparams.h"

#include <algorithm>

namespace {

QString Refused(int index, const QString &field, const QString &reason) {
    return QStringLiteral("Параметр P%1 («%2»): %3").arg(index + 1).arg(field, reason);
}

QString Forms() {
    return QStringLiteral(
        "ожидается число (десятичное, &H1F или 0x1F), buf:N (N нулевых байт) или hex:0102FF (эти байты).");
}

bool IsDigits(QStringView digits, bool hex) {
    if (digits.isEmpty()) return false;
    for (QChar c : digits) {
        const char16_t u = c.unicode() | 0x20;  // lower case for letters
        if (!(c >= u'0' && c <= u'9') && !(hex && u >= u'a' && u <= u'f')) return false;
    }
    return true;
}

// Leading zeros do not make a number longer; one digit is kept.
QStringView WithoutLeadingZeros(QStringView digits) {
    while (digits.size() > 1 && digits.front() == u'0') digits = digits.mid(1);
    return digits;
}

}  // namespace

ParsedCallParams ParseCallParam(const QString &field, int index) {
    const QString text = field.trimmed();
    const auto number = [](quint32 value) {
        return ParsedCallParams{{CallParam{CallParam::Kind::Number, value, {}}}, {}};
    };
    const auto refused = [&](const QString &reason) { return ParsedCallParams{{}, Refused(index, text, reason)}; };
    if (text.isEmpty()) return number(0);

    if (text.startsWith(u"buf:", Qt::CaseInsensitive)) {
        const QStringView count = WithoutLeadingZeros(QStringView(text).mid(4).trimmed());
        bool ok = false;
        const qlonglong n = IsDigits(count, false) && count.size() <= 8 ? count.toLongLong(&ok) : 0;
        if (!ok || n < 1 || n > kMaxCallBuffer)
            return refused(QStringLiteral("в buf:N число N должно быть от 1 до %1.").arg(kMaxCallBuffer));
        return {{CallParam{CallParam::Kind::Buffer, 0, QByteArray(n, '\0')}}, {}};
    }
    if (text.startsWith(u"hex:", Qt::CaseInsensitive)) {
        const QString digits = text.mid(4).trimmed();
        if (digits.isEmpty()) return refused(QStringLiteral("после hex: нет ни одного байта."));
        if (std::any_of(digits.begin(), digits.end(), [](QChar c) { return c.isSpace(); }))
            return refused(QStringLiteral("после hex: пробелы не допускаются — байты пишутся подряд: hex:0102FF."));
        if (digits.size() % 2) return refused(QStringLiteral("после hex: нечётное число шестнадцатеричных цифр."));
        if (digits.size() / 2 > kMaxCallBuffer)
            return refused(QStringLiteral("после hex: больше %1 байт.").arg(kMaxCallBuffer));
        if (!IsDigits(digits, true))
            return refused(QStringLiteral("после hex: допустимы только цифры 0–9 и буквы A–F."));
        return {{CallParam{CallParam::Kind::Buffer, 0, QByteArray::fromHex(digits.toLatin1())}}, {}};
    }

    QStringView hex;
    const bool prefixed = text.startsWith(u"&H", Qt::CaseInsensitive) || text.startsWith(u"0x", Qt::CaseInsensitive);
    if (text.startsWith(u"&H", Qt::CaseInsensitive)) {
        hex = QStringView(text).mid(2);
        if (hex.endsWith(u'&')) hex.chop(1);  // VB's Long suffix: &HFF&
    } else if (text.startsWith(u"0x", Qt::CaseInsensitive)) {
        hex = QStringView(text).mid(2);
    }
    if (prefixed) {
        hex = WithoutLeadingZeros(hex);
        if (!IsDigits(hex, true))
            return refused(QStringLiteral("после префикса нет шестнадцатеричного числа; ") + Forms());
        const qulonglong value = hex.size() <= 16 ? hex.toULongLong(nullptr, 16) : ~0ull;
        if (value > 0xFFFFFFFFull) return refused(QStringLiteral("число больше &HFFFFFFFF."));
        return number(quint32(value));
    }

    QStringView digits(text);
    const bool negative = digits.startsWith(u'-');
    if (negative || digits.startsWith(u'+')) digits = digits.mid(1);
    digits = WithoutLeadingZeros(digits);
    if (!IsDigits(digits, false)) return refused(Forms());
    bool ok = false;
    const qulonglong magnitude = digits.size() <= 11 ? digits.toULongLong(&ok) : 0;
    if (!ok || (negative && magnitude > 0x80000000ull) || (!negative && magnitude > 0xFFFFFFFFull))
        return refused(QStringLiteral("число вне 32-битного диапазона (от -2147483648 до 4294967295)."));
    return number(negative ? quint32(0u - quint32(magnitude)) : quint32(magnitude));
}

ParsedCallParams ParseCallParams(const QStringList &fields) {
    ParsedCallParams all;
    if (fields.size() > kCallParamCount) {
        all.error = QStringLiteral("Параметров больше четырёх (%1): функция получает только P1–P4.").arg(fields.size());
        return all;
    }
    for (int i = 0; i < kCallParamCount; ++i) {
        ParsedCallParams one = ParseCallParam(i < fields.size() ? fields[i] : QString(), i);
        if (!one) return one;
        all.params += one.params;
    }
    return all;
}

ParsedInstructionLimit ParseInstructionLimit(const QString &text) {
    bool ok = false;
    const qulonglong value = text.trimmed().toULongLong(&ok);
    if (!ok || value == 0 || value > 1'000'000'000'000ull)
        return {0,
                QStringLiteral("Неверный предел инструкций «%1»: нужно целое число от 1 до 1000000000000.").arg(text)};
    return {value, {}};
}
