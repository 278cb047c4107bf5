#pragma once

#include "system/platform.h"

#include <QString>

// Keeps an assembler executable at hand: the NASM the program carries as its
// payload, written out where it can run.

// Where the assembler is and what the program has to clean up after it.
struct ProvidedAssembler {
    QString program;    // the executable to run; empty when none could be provided
    QString ownFile;    // a copy only this process may remove at exit
    QString ownFolder;  // a private folder made for that copy, removed with it
    QString error;      // why no assembler could be provided

    bool ok() const { return !program.isEmpty(); }
};

enum class CopyPlace {
    ProgramFolder,  // a hidden copy in the program folder, shared by the running instances
    PrivateOnly,    // never the program folder: a copy private to the user or the process
};

// True for an existing file that is neither hidden nor a folder.
bool FileExists(const QString &path);

// A user's own visible assembler in the program folder is used as it is.
// Otherwise the payload is written, whole and executable: as a hidden copy in
// the program folder (ProgramFolder only), else as a copy in the private
// folder named after the payload (kept for later runs), else as a copy in a
// fresh folder of this process's own in the temp folder.
ProvidedAssembler ProvideAssembler(const QString &appFolder, CopyPlace place,
                                   const QString &privateFolder = platform::DefaultPrivateFolder());

// Removes what ProvideAssembler wrote for this process; never a user's
// assembler, nor the private copy that other runs share.
void RemoveAssembler(const ProvidedAssembler &provided);

// Before a run: the same assembler while it is still there, else a new one
// (another instance may have removed the shared copy at its exit).
ProvidedAssembler EnsureAssembler(const ProvidedAssembler &current, const QString &appFolder, CopyPlace place,
                                  const QString &privateFolder = platform::DefaultPrivateFolder());
