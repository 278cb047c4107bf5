#include "trial/emulator.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <cerrno>
#include <cstring>

#include <map>
#include <mutex>

namespace {

QString MissingText(const QString &library, const QString &reason) {
    return QStringLiteral(
               "Не удалось загрузить эмулятор процессора (библиотеку %1). Причина: %2\n"
               "%3")
        .arg(QDir::toNativeSeparators(library), reason, EmulatorAdvice());
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
        if (!slot && absent.isEmpty()) absent = QString::fromLatin1(name);
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
    find(f->contextAlloc, "uc_context_alloc");
    find(f->contextSave, "uc_context_save");
    find(f->contextRestore, "uc_context_restore");
    find(f->contextFree, "uc_context_free");
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
