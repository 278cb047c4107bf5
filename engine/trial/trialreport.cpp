#include "trial/trialreport.h"

#include <algorithm>

namespace {

QString Hex32(quint32 value) {
    return QStringLiteral("&H%1").arg(value, 8, 16, QChar(u'0')).toUpper();
}

QString Hex16(quint16 value) {
    return QStringLiteral("&H%1").arg(value, 4, 16, QChar(u'0')).toUpper();
}

QString Number(quint32 value) {
    return QStringLiteral("%1 (%2)").arg(qint32(value)).arg(Hex32(value));
}

QString Hex64(quint64 value) {
    return QStringLiteral("&H%1").arg(value, 16, 16, QChar(u'0')).toUpper();
}

// An address or a register's value as wide as the mode's.
QString Hex(const TrialResult &r, quint64 value) {
    return r.bits == 64 ? Hex64(value) : Hex32(quint32(value));
}

QString Number(const TrialResult &r, quint64 value) {
    if (r.bits != 64) return Number(quint32(value));
    return QStringLiteral("%1 (%2)").arg(qint64(value)).arg(Hex64(value));
}

QString XmmValue(quint64 high, quint64 low) {
    return QStringLiteral("&H%1%2").arg(high, 16, 16, QChar(u'0')).arg(low, 16, 16, QChar(u'0')).toUpper();
}

QString InterruptText(int number) {
    switch (number) {
        case 0:
            return QStringLiteral("деление на ноль или слишком большое частное (исключение #DE)");
        case 1:
            return QStringLiteral("отладочное прерывание (int 1)");
        case 3:
            return QStringLiteral("точка останова int 3");
        case 4:
            return QStringLiteral("переполнение (into)");
        case 5:
            return QStringLiteral("выход за границы (bound)");
        case 6:
            return QStringLiteral("недопустимая инструкция (исключение #UD)");
        case 13:
            return QStringLiteral("общая ошибка защиты (исключение #GP)");
        case 16:
            return QStringLiteral("незамаскированное исключение x87 (#MF) при fwait или следующей команде x87");
        case 19:
            return QStringLiteral("незамаскированное исключение SSE (#XM)");
        default:
            return QStringLiteral("прерывание int %1 — в программе Visual Basic его некому обработать")
                .arg(Hex32(quint32(number)));
    }
}

QString EndText(const TrialResult &r) {
    switch (r.end) {
        case TrialEnd::Returned:
            return QStringLiteral("функция вернула управление");
        case TrialEnd::MemoryFault: {
            static const char16_t *const kinds[] = {u"чтение памяти", u"запись в память", u"выполнение кода"};
            const QString what = QString::fromUtf16(kinds[int(r.faultAccess)]);
            if (r.faultAccess == MemoryAccess::Fetch)
                return QStringLiteral("%1 по адресу %2 — вне байтов функции (переход или возврат не туда)")
                    .arg(what, Hex(r, r.faultAddress));
            if (r.bits == 64 && r.faultAccess == MemoryAccess::Write && r.faultAddress >= r.codeBase &&
                r.faultAddress < r.codeBase + 0x100000)
                return QStringLiteral("%1 по адресу %2 — память кода в модуле VBA7 только для чтения и выполнения")
                    .arg(what, Hex(r, r.faultAddress));
            return QStringLiteral("%1 по адресу %2 — эта память функции не выделена").arg(what, Hex(r, r.faultAddress));
        }
        case TrialEnd::Interrupt:
            return r.detail.isEmpty() ? InterruptText(r.interrupt)
                                      : InterruptText(r.interrupt) + QStringLiteral(": ") + r.detail;
        case TrialEnd::InvalidInstruction:
            return QStringLiteral("недопустимая инструкция");
        case TrialEnd::Unsupported:
            return QStringLiteral(
                "эмулятор не умеет выполнять эту инструкцию; настоящий процессор, возможно, её "
                "выполнит");
        case TrialEnd::Privileged:
            return QStringLiteral("привилегированная инструкция %1 — в программе Windows она вызывает сбой")
                .arg(r.instruction);
        case TrialEnd::InstructionLimit:
            return QStringLiteral("вызов не завершился за %1 инструкций").arg(r.instructionLimit);
        case TrialEnd::TimeLimit:
            return QStringLiteral("вызов не завершился за отведённое эмулятору время (выполнено %1 инструкций)")
                .arg(r.instructions);
        case TrialEnd::EmulatorFailure:
            return QStringLiteral("эмулятор остановил выполнение: %1").arg(r.emulatorMessage);
        case TrialEnd::SystemCall:
        case TrialEnd::Unmodeled:
            return r.detail;
    }
    return {};
}

QString WhereText(const TrialResult &r, const QList<ListingRow> &listing) {
    if (!r.offsetKnown) return QStringLiteral("ни одна инструкция функции не выполнена");
    QString text = QStringLiteral("смещение %1").arg(Hex32(r.offset));
    if (const ListingRow *row = RowAtOffset(listing, r.offset)) {
        text += QStringLiteral(", строка %1").arg(row->documentLine);
        if (row->level > 0)
            text += QStringLiteral(" (во вложенном тексте: %1, его строка %2)")
                        .arg(row->text.trimmed(), QString::number(row->line));
        else
            text += QStringLiteral(": %1").arg(row->text.trimmed());
    }
    return text;
}

QString HexDump(const QByteArray &bytes) {
    QString text;
    for (qsizetype at = 0; at < bytes.size(); at += 16) {
        text += QStringLiteral("  +%1 ").arg(at, 4, 16, QChar(u'0')).toUpper();
        for (qsizetype i = at; i < std::min(at + 16, bytes.size()); ++i)
            text += QStringLiteral(" %1").arg(uint(quint8(bytes[i])), 2, 16, QChar(u'0')).toUpper();
        text += u'\n';
    }
    return text;
}

}  // namespace

int StoppingLine(const TrialResult &result, const QList<ListingRow> &listing) {
    if (!result || result.returned() || !result.offsetKnown) return 0;
    const ListingRow *row = RowAtOffset(listing, result.offset);
    return row ? row->documentLine : 0;
}

QString EmptyTrialReportText(const QList<SourceWarning> &warnings, int bits) {
    QString text =
        bits == 64
            ? QStringLiteral(
                  "Кода нет: функция CallAsmCode модуля VBA7 на пустой код сообщает об ошибке (Err.Raise) и ничего "
                  "не вызывает.\n")
            : QStringLiteral(
                  "Кода нет: при пустой строке CodeString функция CallAsmFunction сразу возвращает 0, ничего не "
                  "вызывая.\n");
    for (SourceWarning w : warnings) text += QStringLiteral("  %1\n").arg(WarningText(w, 0));
    return text;
}

QString TrialReportText(const TrialResult &r, const QList<ListingRow> &listing, const QList<SourceWarning> &warnings,
                        qsizetype codeSize, CodeMode mode) {
    if (!r) return r.error + u'\n';
    QString text;
    const TrialVerdict verdict = r.verdict();
    const bool long64 = r.bits == 64;
    if (r.returned() && long64) text += QStringLiteral("RAX = %1\n").arg(Number(r, r.rax));
    if (r.returned()) text += QStringLiteral("EAX = %1\n").arg(Number(quint32(r.rax)));
    switch (verdict) {
        case TrialVerdict::Crash:
            text += QStringLiteral("Итог: вызов приведёт к сбою программы VB или повредит её.\n");
            break;
        case TrialVerdict::Repaired:
            text += QStringLiteral(
                "Итог: вызов работает, но функция нарушает правило stdcall (см. ниже). CallWindowProc это исправляет, "
                "а при любом другом вызове (Declare, указывающий на код, DispCallFunc, переходник, 64-битный код) "
                "программа упадёт.\n");
            break;
        case TrialVerdict::Clean:
            text += QStringLiteral("Итог: функция вернула управление и соблюла правила вызова.\n");
            break;
        case TrialVerdict::Undecided:
            text += QStringLiteral("Итог: проверка не дала ответа — %1. Это не приговор коду.\n").arg(EndText(r));
            break;
    }
    if (r.returned()) {
        text +=
            QStringLiteral("Вызов завершён: %1 (последняя инструкция: %2).\n").arg(EndText(r), WhereText(r, listing));
    } else {
        text += QStringLiteral("Вызов остановлен: %1.\n").arg(EndText(r));
        text += QStringLiteral("Место остановки: %1.\n").arg(WhereText(r, listing));
        text += QStringLiteral("%1 в момент остановки = %2\n")
                    .arg(long64 ? QStringLiteral("RAX") : QStringLiteral("EAX"), Number(r, r.rax));
    }

    text +=
        long64
            ? QStringLiteral(
                  "\nПравила вызова (64-битный код: соглашение x64, P1–P4 в RCX, RDX, R8, R9; "
                  "вызывающую сторону никто не защищает):\n")
            : QStringLiteral("\nПравила вызова (оконная процедура через CallWindowProc: stdcall, четыре аргумента):\n");
    if (!r.returned()) {
        text += QStringLiteral("  не проверены — функция не вернула управление.\n");
    } else {
        enum Weight { Repaired, Crash };
        const auto check = [&](bool kept, Weight weight, const QString &what) {
            text += (kept              ? QStringLiteral("  соблюдено: ")
                     : weight == Crash ? QStringLiteral("  СБОЙ: ")
                                       : QStringLiteral("  нарушено, CallWindowProc исправляет: ")) +
                    what + u'\n';
        };
        const qint64 removed = r.argumentBytesRemoved;
        if (long64)
            check(removed == 0, Crash,
                  removed == 0 ? QStringLiteral("функция вернулась простой командой ret")
                               : QStringLiteral("функция сняла со стека %1 байт — в 64-битном коде нужен простой ret "
                                                "(без числа), иначе стек вызывающей стороны сдвинется")
                                     .arg(removed));
        else
            check(removed == 16, Repaired,
                  removed == 16
                      ? QStringLiteral("функция сняла со стека 16 байт аргументов (ret 16)")
                      : QStringLiteral("функция сняла со стека %1 байт аргументов из 16 — нужен возврат ret 16")
                            .arg(removed));
        if (long64) {
            // Only the changed ones are named: there are eighteen.
            int changed = 0;
            for (const SavedRegister &reg : r.saved) {
                if (reg.kept()) continue;
                ++changed;
                const bool xmm = reg.name.startsWith(u"XMM");
                check(false, Crash,
                      QStringLiteral("%1 изменён: был %2, стал %3 — в 64-битном коде его нужно сохранить и "
                                     "восстановить")
                          .arg(reg.name, xmm ? XmmValue(reg.beforeHigh, reg.before) : Hex64(reg.before),
                               xmm ? XmmValue(reg.afterHigh, reg.after) : Hex64(reg.after)));
            }
            check(true, Crash,
                  changed ? QStringLiteral("остальные из RBX, RBP, RDI, RSI, R12–R15, XMM6–XMM15 сохранены")
                          : QStringLiteral("RBX, RBP, RDI, RSI, R12–R15 и XMM6–XMM15 сохранены"));
        }
        for (const SavedRegister &reg : r.saved) {
            if (long64) break;
            const bool ebp = reg.name == QLatin1StringView("EBP");
            check(reg.kept(), ebp ? Crash : Repaired,
                  reg.kept() ? QStringLiteral("%1 сохранён").arg(reg.name)
                  : ebp      ? QStringLiteral("EBP изменён: был %1, стал %2 — обёртка CallWindowProc восстанавливает по "
                                                   "нему ESP, и программа завершится сразу после возврата")
                              .arg(Hex32(quint32(reg.before)), Hex32(quint32(reg.after)))
                        : QStringLiteral("%1 изменён: был %2, стал %3 — его нужно восстановить")
                              .arg(reg.name, Hex32(quint32(reg.before)), Hex32(quint32(reg.after))));
        }
        if (long64)
            check(!r.frameWritten, Crash,
                  !r.frameWritten ? QStringLiteral("память вызывающей стороны выше теневой области не изменена")
                                  : QStringLiteral("запись выше теневой области (32 байта над адресом возврата), по "
                                                   "адресу %1: там данные вызывающей стороны — сбой после возврата")
                                        .arg(Hex64(r.frameAddress)));
        else
            check(!r.frameWritten, Crash,
                  !r.frameWritten ? QStringLiteral("кадр вызывающей стороны выше аргументов не изменён")
                                  : QStringLiteral("запись выше аргументов, по адресу %1: там обёртка CallWindowProc "
                                                   "хранит регистры и адрес возврата — сбой после возврата функции")
                                        .arg(Hex32(quint32(r.frameAddress))));
        check(r.directionClear, Crash,
              r.directionClear ? QStringLiteral("флаг направления сброшен")
                               : QStringLiteral("флаг направления установлен — перед возвратом нужна команда cld"));
        check(r.x87Depth == 0, Crash,
              r.x87Depth == 0 ? QStringLiteral("стек x87 пуст")
                              : QStringLiteral("на стеке x87 осталось значений: %1 — арифметика Double в программе "
                                               "VB пойдёт неверно; снимите их (fstp)")
                                    .arg(r.x87Depth));
        check(r.fpuControlBefore == r.fpuControlAfter, Crash,
              r.fpuControlBefore == r.fpuControlAfter
                  ? QStringLiteral("управляющее слово x87 не изменено")
                  : QStringLiteral("управляющее слово x87 изменено: было %1, стало %2 — восстановите его (fldcw)")
                        .arg(Hex16(r.fpuControlBefore), Hex16(r.fpuControlAfter)));
        check(r.mxcsrBefore == r.mxcsrAfter, Crash,
              r.mxcsrBefore == r.mxcsrAfter
                  ? QStringLiteral("управляющие биты MXCSR не изменены")
                  : QStringLiteral("управляющие биты MXCSR изменены: было %1, стало %2 — восстановите их (ldmxcsr)")
                        .arg(Hex32(r.mxcsrBefore), Hex32(r.mxcsrAfter)));
    }

    if (!r.notes.isEmpty()) {
        text += QStringLiteral("\nПо пути:\n");
        for (const QString &note : r.notes) text += QStringLiteral("  %1\n").arg(note);
    }
    if (!warnings.isEmpty()) {
        text += QStringLiteral("\nПредупреждения:\n");
        for (SourceWarning w : warnings) text += QStringLiteral("  %1\n").arg(WarningText(w, codeSize));
    }

    text += QStringLiteral("\nВыполнено инструкций: %1\n").arg(r.instructions);
    text += QStringLiteral("\nПараметры:\n");
    for (int i = 0; i < kCallParamCount; ++i) {
        const bool buffer =
            std::any_of(r.buffers.begin(), r.buffers.end(), [i](const TrialBuffer &b) { return b.param == i; });
        text += buffer ? QStringLiteral("  P%1 = адрес буфера %2\n").arg(i + 1).arg(Hex(r, r.arguments[i]))
                       : QStringLiteral("  P%1 = %2\n").arg(i + 1).arg(Number(r, r.arguments[i]));
    }
    for (const TrialBuffer &b : r.buffers) {
        text +=
            QStringLiteral("\nБуфер P%1: %2 байт по адресу %3; ").arg(b.param + 1).arg(b.size).arg(Hex(r, b.address));
        text += b.head.size() < b.size ? QStringLiteral("первые %1 байт после вызова:\n").arg(b.head.size())
                                       : QStringLiteral("его байты после вызова:\n");
        text += HexDump(b.head);
    }
    if (long64)
        text += QStringLiteral(
            "\nРежим проверки: 64-битный код (bits 64), вызванный так, как его вызывает 64-битный Office через "
            "CallWindowProcW. Подходит только модуль VBA7 («Создать модуль VBA7», --vba7): модуль BAS и VB6 "
            "64-битный код не выполняют. Память кода модуль VBA7 делает исполнимой и доступной только для чтения.\n");
    else if (mode != CodeMode::Bits32)
        text += QStringLiteral(
            "\nРежим проверки: код, вызванный как 32-битный, так, как его вызывает 32-битная программа VB через "
            "CallWindowProcA. Так его выполнит модуль BAS (VB6); модуль VBA7 его не вызовет: он вызывает только код, "
            "который NASM собрал целиком как 32-битный или целиком как 64-битный (CallAsmCode сообщит об ошибке).\n"
            "Где работает модуль BAS: его массив байт исполним только в процессе без DEP (программа VB6 или среда "
            "VB6).\n");
    else
        text += QStringLiteral(
            "\nРежим проверки: 32-битный код, вызванный так, как его вызывает 32-битная программа VB через "
            "CallWindowProcA. Подходят модуль BAS (VB6) и модуль VBA7 (32-битный Office).\n"
            "Где работает модуль: его массив байт исполним только в процессе без DEP (программа VB6 или среда VB6); "
            "в процессе с DEP, например в VBA из Office, вызов упадёт на первом же байте. Модуль VBA7 делает свою "
            "память исполнимой и работает и там.\n");
    return text;
}
