#include "trial/emulator.h"

#include <QCoreApplication>

#include <windows.h>

QString DefaultUnicornLibrary() {
    // Beside the program, never from the search path: another unicorn.dll
    // there may be of any version.
    return qEnvironmentVariable("ORVANDINE_EMULATOR_LIBRARY",
                                QCoreApplication::applicationDirPath() + QLatin1StringView("/unicorn.dll"));
}

QString EmulatorAdvice() {
    return QStringLiteral(
        "Эмулятор процессора не входит в эту сборку программы: проверка вызова работает, только когда в папке "
        "программы лежит библиотека unicorn.dll (Unicorn 2). Остальные команды работают как обычно.");
}

QString EmulatorRepairAdvice() {
    return QStringLiteral("замените unicorn.dll в папке программы исправной библиотекой Unicorn 2.");
}

QString EmulatorMemoryShortage(const QString &library) {
    // The translation buffer as Unicorn 2.0 maps it (1 GiB), with room for the call's own memory on top.
    constexpr size_t kNeeded = size_t(1152) << 20;
    if (void *probe = ::VirtualAlloc(nullptr, kNeeded, MEM_RESERVE, PAGE_NOACCESS)) {
        ::VirtualFree(probe, 0, MEM_RELEASE);
        return {};
    }
    return QStringLiteral(
               "Эмулятору процессора (библиотека %1) не хватает памяти: ему нужно около %2 МиБ свободного адресного "
               "пространства, а процессу их не выделить. Проверка вызова не запущена; закройте другие программы и "
               "повторите.")
        .arg(library)
        .arg(kNeeded >> 20);
}
