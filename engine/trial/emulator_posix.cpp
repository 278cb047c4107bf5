#include "trial/emulator.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <utility>

QString DefaultUnicornLibrary() {
    return qEnvironmentVariable("ORVANDINE_EMULATOR_LIBRARY", QStringLiteral("libunicorn.so.2"));
}

QString EmulatorAdvice() {
    return QStringLiteral(
        "Проверка вызова без него невозможна; установите пакет libunicorn2. "
        "Остальные команды работают как обычно.");
}

QString EmulatorRepairAdvice() {
    return QStringLiteral("переустановите пакет libunicorn2.");
}

namespace {

// The translation buffer as Unicorn 2.0 maps it (1 GiB), with room for the call's own memory on top.
constexpr size_t kNeeded = size_t(1152) << 20;

}  // namespace

QString EmulatorMemoryShortage(const QString &library) {
    void *probe = mmap(nullptr, kNeeded, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe != MAP_FAILED) {
        munmap(probe, kNeeded);
        return {};
    }
    return EmulatorOutOfMemory(library);
}

QString EmulatorOutOfMemory(const QString &library) {
    QString limits;
    for (const auto &[resource, name] : {std::pair{RLIMIT_AS, "ulimit -v"}, std::pair{RLIMIT_DATA, "ulimit -d"}}) {
        rlimit limit{};
        if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            limits +=
                QStringLiteral("; ограничение %1: %2 КиБ").arg(QLatin1StringView(name)).arg(limit.rlim_cur / 1024);
    }
    return QStringLiteral(
               "Эмулятору процессора (библиотека %1) не хватает памяти: ему нужно около %2 МиБ свободного адресного "
               "пространства, а процессу их не выделить%3. Проверка вызова не запущена; снимите или увеличьте "
               "ограничение памяти и повторите.")
        .arg(library)
        .arg(kNeeded >> 20)
        .arg(limits);
}
