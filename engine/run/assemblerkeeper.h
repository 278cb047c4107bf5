#pragma once

#include "run/provisioning.h"

#include <future>
#include <mutex>

// The window's assembler for the program's lifetime: written out in the
// background at start-up (so the window need not wait for it), checked
// before every run, removed at exit. Safe to use from any thread.
class AssemblerKeeper {
public:
    AssemblerKeeper(QString appFolder, CopyPlace place);
    ~AssemblerKeeper();

    // Begins ProvideAssembler on a thread of its own.
    void StartProviding();

    // The assembler to run now: waits for the start-up copy, and writes the
    // copy again when it has vanished.
    ProvidedAssembler Acquire();

    // RemoveAssembler for what was provided.
    void Remove();

    // The program folder: where the assembler is kept, and where it runs.
    const QString &appFolder() const { return appFolder_; }

private:
    void WaitForStart();  // with mutex_ held

    const QString appFolder_;
    const CopyPlace place_;
    std::mutex mutex_;
    std::future<ProvidedAssembler> starting_;
    ProvidedAssembler current_;
};
