#pragma once

// The CPU emulator (Unicorn 2). Its library is opened only when a trial runs,
// so that starting the programs and the three product commands never need it;
// its types and constants come from its header, its functions are found by
// name in the library.

#include <unicorn/unicorn.h>

#include <QString>

struct UnicornFunctions {
    decltype(&uc_version) version = nullptr;
    decltype(&uc_open) open = nullptr;
    decltype(&uc_close) close = nullptr;
    decltype(&uc_query) query = nullptr;
    decltype(&uc_strerror) strerror = nullptr;
    decltype(&uc_reg_write) regWrite = nullptr;
    decltype(&uc_reg_read) regRead = nullptr;
    decltype(&uc_mem_map) memMap = nullptr;
    decltype(&uc_mem_map_ptr) memMapPtr = nullptr;
    decltype(&uc_mem_write) memWrite = nullptr;
    decltype(&uc_mem_read) memRead = nullptr;
    decltype(&uc_hook_add) hookAdd = nullptr;
    decltype(&uc_emu_start) emuStart = nullptr;
    decltype(&uc_emu_stop) emuStop = nullptr;
    decltype(&uc_ctl) ctl = nullptr;
    decltype(&uc_context_alloc) contextAlloc = nullptr;
    decltype(&uc_context_save) contextSave = nullptr;
    decltype(&uc_context_restore) contextRestore = nullptr;
    decltype(&uc_context_free) contextFree = nullptr;
};

// The library the emulator is opened from unless a caller names another
// (emulator_posix.cpp, emulator_win.cpp). ORVANDINE_EMULATOR_LIBRARY names another
// one (the tests give a broken copy).
QString DefaultUnicornLibrary();

// What the user is told to do when that library cannot be loaded.
QString EmulatorAdvice();

// What the user is told to do when the library loaded but the worker running it failed.
QString EmulatorRepairAdvice();

struct LoadedEmulator {
    const UnicornFunctions *functions = nullptr;  // lives as long as the process
    QString error;                                // Russian: the library and why it cannot be used

    explicit operator bool() const { return functions != nullptr; }
};

// Opens the library (once per process and name; safe from any thread) and
// finds every function, checking that it is version 2.
LoadedEmulator LoadEmulator(const QString &library = DefaultUnicornLibrary());

// Unicorn 2.0 takes about 1 GiB for its translated code when an emulator is
// first used (on Linux address space, on Windows committed memory, counted
// against memory plus page file), and ends the whole process when it cannot.
// Says (in Russian, naming library) why an emulator cannot be used now; empty
// when there is room for one.
QString EmulatorMemoryShortage(const QString &library = DefaultUnicornLibrary());

// The same text, for a worker that Unicorn ended because it could not get
// that memory after all (another program took it in the meantime).
QString EmulatorOutOfMemory(const QString &library);

// What Unicorn prints on standard error before it ends the process that way.
inline constexpr char kUnicornOutOfMemory[] = "Could not allocate dynamic translator buffer";
