#include "emulator.h"

#include <QFileInfo>
#include <QLibrary>

#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

#include <map>
#include <mutex>

namespace {

QString MissingText(const QString &library, const QString &reason) {
    return QStringLiteral(
               "Не удалось загрузить эмулятор процессора (библиотеку %1). Причина: %2\n"
               "Проверка вызова без него невозможна; установите пакет libunicorn2. "
               "Остальные команды работают как обычно.")
        .arg(library, reason);
}

LoadedEmulator Open(const QString &library) {
    // Never unloaded: the functions are kept for the rest of the process.
    auto *lib = new QLibrary(library);
    if (!lib->load()) {
        // The loader's text is English (or in the system's language): only its cause is told. A name without a
        // folder is looked for in the system's library folders.
        const bool absent = lib->errorString().contains(QString::fromLocal8Bit(std::strerror(ENOENT))) ||
                            (library.contains(u'/') && !QFileInfo::exists(library));
        delete lib;
        return {nullptr, MissingText(library, absent ? QStringLiteral("библиотека не найдена.")
                                                     : QStringLiteral("файл не является библиотекой для этой системы "
                                                                      "или она повреждена."))};
    }
    auto *f = new UnicornFunctions;
    QString absent;
    auto find = [&](auto &slot, const char *name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(lib->resolve(name));
        if (!slot) absent = QString::fromLatin1(name);
    };
    find(f->version, "uc_version");
    find(f->open, "uc_open");
    find(f->close, "uc_close");
    find(f->query, "uc_query");
    find(f->strerror, "uc_strerror");
    find(f->regWrite, "uc_reg_write");
    find(f->regRead, "uc_reg_read");
    find(f->memMap, "uc_mem_map");
    find(f->memMapPtr, "uc_mem_map_ptr");
    find(f->memWrite, "uc_mem_write");
    find(f->memRead, "uc_mem_read");
    find(f->hookAdd, "uc_hook_add");
    find(f->emuStart, "uc_emu_start");
    find(f->emuStop, "uc_emu_stop");
    find(f->ctl, "uc_ctl");
    if (!absent.isEmpty()) {
        delete f;
        return {nullptr, MissingText(library, QStringLiteral("в ней нет функции %1.").arg(absent))};
    }
    unsigned major = 0, minor = 0;
    f->version(&major, &minor);
    if (major != UC_API_MAJOR) {
        delete f;
        return {nullptr,
                MissingText(
                    library,
                    QStringLiteral("это версия %1.%2, а нужна версия %3.").arg(major).arg(minor).arg(UC_API_MAJOR))};
    }
    return {f, {}};
}

}  // namespace

QString DefaultUnicornLibrary() {
    return qEnvironmentVariable("ORVANDINE_EMULATOR_LIBRARY", QStringLiteral("libunicorn.so.2"));
}

LoadedEmulator LoadEmulator(const QString &library) {
    static std::mutex mutex;
    static std::map<QString, LoadedEmulator> loaded;
    const std::lock_guard lock(mutex);
    if (const auto it = loaded.find(library); it != loaded.end()) return it->second;
    // A failure is not kept: the library may be installed while the window runs.
    LoadedEmulator result = Open(library);
    if (result) loaded.emplace(library, result);
    return result;
}

QString EmulatorMemoryShortage(const QString &library) {
    // The translation buffer as Unicorn 2.0 maps it (1 GiB), with room for the call's own memory on top.
    constexpr size_t kNeeded = size_t(1152) << 20;
    void *probe = mmap(nullptr, kNeeded, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (probe != MAP_FAILED) {
        munmap(probe, kNeeded);
        return {};
    }
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
