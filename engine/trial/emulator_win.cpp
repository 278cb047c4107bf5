#include "trial/emulator.h"

#include <QCoreApplication>
#include <QDir>

#include <windows.h>

QString DefaultUnicornLibrary() {
    // Beside the program, never from the search path: another unicorn.dll
    // there may be of any version.
    return qEnvironmentVariable("ORVANDINE_EMULATOR_LIBRARY",
                                QCoreApplication::applicationDirPath() + QLatin1StringView("/unicorn.dll"));
}

QString EmulatorAdvice() {
    return QStringLiteral(
        "Эмулятор процессора входит в программу: переустановите её (или распакуйте её архив заново), чтобы в папке "
        "программы снова была исправная библиотека unicorn.dll. Остальные команды работают как обычно.");
}

QString EmulatorRepairAdvice() {
    return QStringLiteral("переустановите программу (или распакуйте её архив заново), чтобы восстановить unicorn.dll.");
}

namespace {

// Unicorn 2.0 commits its whole translation buffer (1 GiB) at once on Windows
// (VirtualAlloc with MEM_COMMIT), and the call's own memory comes on top.
constexpr size_t kNeeded = size_t(1152) << 20;

}  // namespace

QString EmulatorMemoryShortage(const QString &library) {
    // Committed as Unicorn will commit it, so that this fails exactly where Unicorn's own allocation would;
    // the pages are never touched, and released at once.
    if (void *probe = ::VirtualAlloc(nullptr, kNeeded, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)) {
        ::VirtualFree(probe, 0, MEM_RELEASE);
        return {};
    }
    return EmulatorOutOfMemory(library);
}

QString EmulatorOutOfMemory(const QString &library) {
    return QStringLiteral(
               "Эмулятору процессора (библиотека %1) не хватает памяти: ему нужно выделить около %2 МиБ, а Windows "
               "их не даёт — исчерпан предел выделяемой памяти (оперативная память вместе с файлом подкачки). "
               "Проверка вызова не запущена; закройте другие программы или увеличьте файл подкачки и повторите.")
        .arg(QDir::toNativeSeparators(library))
        .arg(kNeeded >> 20);
}
