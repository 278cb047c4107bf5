#include "emulator.h"

#include <QLibrary>

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
        const QString reason = lib->errorString();
        delete lib;
        return {nullptr,
                MissingText(library, QStringLiteral("библиотека не найдена или не открывается (%1).").arg(reason))};
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
    find(f->memWrite, "uc_mem_write");
    find(f->memRead, "uc_mem_read");
    find(f->hookAdd, "uc_hook_add");
    find(f->emuStart, "uc_emu_start");
    find(f->emuStop, "uc_emu_stop");
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
