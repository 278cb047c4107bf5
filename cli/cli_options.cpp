#include "cli_options.h"

#include "trial/callparams.h"

#include <cmath>

QString CliUsage() {
    return QStringLiteral(
        "Использование: orvandine-convert [--timeout СЕКУНДЫ] (--hex | --bin | --bas | --vba7 | --list) ФАЙЛ\n"
        "       orvandine-convert [--timeout СЕКУНДЫ] [--max-instructions N] --call ФАЙЛ [P1 [P2 [P3 [P4]]]]\n"
        "\n"
        "Ассемблирует ФАЙЛ (исходник NASM в кодировке Windows-1251) и выдаёт:\n"
        "  --hex            HEX строку на стандартный вывод;\n"
        "  --bin            BIN файл рядом с исходником;\n"
        "  --bas            BAS модуль Visual Basic рядом с исходником (32-битный код, VB6);\n"
        "  --vba7           модуль VBA7 (ИМЯ.vba7.bas) рядом с исходником: для Office 2010\n"
        "                   и новее, 32- и 64-битного, а также VBA6 и VB6; код до 1 МиБ;\n"
        "  --list           листинг: строка, смещение, байты, исходный текст;\n"
        "  --call           проверку вызова в эмуляторе процессора, как его вызовет VB\n"
        "                   (CallWindowProc, четыре 32-битных параметра; недостающие равны 0).\n"
        "                   Нарушение правила stdcall, которое CallWindowProc исправляет\n"
        "                   (ret без 16, EBX/ESI/EDI не сохранены), — предупреждение, код 0.\n"
        "                   Исходник с bits 64 вызывается как 64-битный код из 64-битного\n"
        "                   Office (RCX, RDX, R8, R9, без обёртки): любое нарушение — код 3.\n"
        "Параметр: число (десятичное, можно отрицательное; &H1F или 0x1F), buf:N (адрес\n"
        "буфера из N нулевых байт, N до 1 МиБ) или hex:0102FF (адрес буфера с этими байтами).\n"
        "ФАЙЛ \"-\" читается со стандартного ввода; продукты тогда пишутся в текущую папку\n"
        "под именем \"Новый файл\". ФАЙЛ должен быть обычным файлом не больше 256 МиБ\n"
        "(стандартный ввод читается до того же предела). NASM ищет %include и incbin и в\n"
        "папке ФАЙЛА.\n"
        "\n"
        "  --timeout СЕК    остановить ассемблер, если он работает дольше (код 124);\n"
        "  --max-instructions N  для --call: предел инструкций эмулятора (по умолчанию\n"
        "                   300000000); не завершившийся за N инструкций вызов — код 4;\n"
        "  --help           эта справка;\n"
        "  --version        версия программы и встроенного NASM.\n"
        "\n"
        "Коды выхода: 0 успех, 1 ошибка ассемблирования, 2 ошибка вызова, файла, параметра\n"
        "или кодировки, 3 проверяемая функция приведёт к сбою или повредит вызывающую\n"
        "программу, 4 проверка не дала ответа (вызов не завершился за N инструкций,\n"
        "эмулятор не умеет выполнять инструкцию или исход зависит от самой Windows),\n"
        "124 время истекло, 130 прервано.\n");
}

namespace {

// The value of the option at i: after its "=", else the next argument (then
// i moves on to it). False when there is none.
bool TakeValue(const QStringList &arguments, qsizetype &i, QString &value) {
    const QString &arg = arguments[i];
    if (arg.contains(QLatin1Char('='))) {
        value = arg.section(QLatin1Char('='), 1);
        return true;
    }
    if (i + 1 >= arguments.size()) return false;
    value = arguments[++i];
    return true;
}

}  // namespace

CliOptions ParseCliOptions(const QStringList &arguments) {
    CliOptions options;
    auto fail = [&options](const QString &error) {
        options.error = error;
        return options;
    };
    bool filesOnly = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        CliOptions::Product product = CliOptions::Product::None;
        if (!filesOnly && arg == QLatin1StringView("--")) {
            filesOnly = true;
            continue;
        }
        if (!filesOnly && arg == QLatin1StringView("--help")) {
            options.help = true;
        } else if (!filesOnly && arg == QLatin1StringView("--version")) {
            options.version = true;
        } else if (!filesOnly && arg == QLatin1StringView("--hex")) {
            product = CliOptions::Product::Hex;
        } else if (!filesOnly && arg == QLatin1StringView("--bin")) {
            product = CliOptions::Product::Bin;
        } else if (!filesOnly && arg == QLatin1StringView("--bas")) {
            product = CliOptions::Product::Bas;
        } else if (!filesOnly && arg == QLatin1StringView("--vba7")) {
            product = CliOptions::Product::Vba7;
        } else if (!filesOnly && arg == QLatin1StringView("--call")) {
            product = CliOptions::Product::Call;
        } else if (!filesOnly && arg == QLatin1StringView("--list")) {
            product = CliOptions::Product::List;
        } else if (!filesOnly &&
                   (arg == QLatin1StringView("--timeout") || arg.startsWith(QLatin1StringView("--timeout=")))) {
            QString value;
            if (!TakeValue(arguments, i, value)) return fail(QStringLiteral("После --timeout нужно число секунд."));
            bool ok = false;
            const double seconds = QString(value).replace(u',', u'.').toDouble(&ok);  // "0,5" as the messages write it
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 1e6)
                return fail(
                    QStringLiteral("Неверное время для --timeout: «%1» (нужно число секунд больше нуля и не больше "
                                   "1000000, например 2 или 0,5).")
                        .arg(value));
            options.timeout = std::chrono::milliseconds(qint64(std::ceil(seconds * 1000)));
        } else if (!filesOnly && (arg == QLatin1StringView("--max-instructions") ||
                                  arg.startsWith(QLatin1StringView("--max-instructions=")))) {
            QString value;
            if (!TakeValue(arguments, i, value))
                return fail(QStringLiteral("После --max-instructions нужно число инструкций."));
            const ParsedInstructionLimit limit = ParseInstructionLimit(value);
            if (!limit.error.isEmpty()) return fail(limit.error);
            options.maxInstructions = limit.value;
        } else if (!filesOnly && arg.startsWith(QLatin1StringView("--"))) {
            return fail(QStringLiteral("Неизвестный ключ «%1».").arg(arg));
        } else {
            if (options.file.isEmpty()) {
                options.file = arg;
            } else if (options.product == CliOptions::Product::Call && options.parameters.size() < 4) {
                options.parameters << arg;
            } else {
                return fail(
                    options.product == CliOptions::Product::Call
                        ? QStringLiteral("Для --call можно указать не больше четырёх параметров, а указан ещё «%1».")
                              .arg(arg)
                        : QStringLiteral("Нужен ровно один файл, а указан ещё «%1».").arg(arg));
            }
        }
        if (product != CliOptions::Product::None) {
            if (options.product != CliOptions::Product::None)
                return fail(
                    QStringLiteral("Укажите только один из ключей --hex, --bin, --bas, --vba7, --call, --list."));
            options.product = product;
        }
    }
    if (options.help || options.version) return options;
    if (options.product == CliOptions::Product::None)
        return fail(QStringLiteral("Укажите, что сделать: --hex, --bin, --bas, --vba7, --call или --list."));
    if (options.file.isEmpty())
        return fail(QStringLiteral("Укажите файл исходника (или \"-\" для стандартного ввода)."));
    return options;
}
