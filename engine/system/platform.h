#pragma once

#include <QString>
#include <QStringList>

// Where the program's Windows habits meet the platform it runs on: the
// program folder, the assembler's file name, hidden files, exclusive
// creation, executable permission and the reasons behind failed file calls.
// platform_posix.cpp and platform_win.cpp implement it; the build picks one.
namespace platform {

// A file name as the system's calls take it, and back. On POSIX a name is
// bytes: it reads as UTF-8 where it is UTF-8, and every other byte (a letter of
// a Windows code page, say) becomes the lone surrogate U+DC80 + (byte - 0x80)
// and turns back into that byte, so every name the system gives opens again
// as it is. A lone U+DC80..U+DCFF from elsewhere is taken for such a byte;
// other lone surrogates become U+FFFD. On Windows names are UTF-16 as they are.
QByteArray EncodeName(QStringView name);
QString DecodeName(QByteArrayView bytes);

// A text with such names as the user reads it: a kept byte shows as \xCF.
QString ReadableName(const QString &text);

// 0 for an existing folder a program may work in; else why not (ENOTDIR for
// anything but a folder).
int FolderError(const QString &path);

// The folder of the running executable, ending in exactly one separator.
QString AppPath();

// The file name of one of the project's own programs, as base.exe on Windows.
QString ProgramFileName(const QString &base);

// The file name a user's own assembler has in the program folder.
QString AssemblerFileName();

// The file name the program's own copy has: hidden from FileExists.
QString HiddenAssemblerFileName();

// The suffix an executable file's name needs ("" or ".exe").
QString ExecutableSuffix();

// Marks the program's own copy hidden where its name alone does not hide it.
void HideFile(const QString &path);

// The folder temporary files go to: TMPDIR when it is set, else /tmp (on
// Windows the temp variable, else the system's temp folder). Empty, with the
// reason in *error, when that is not an existing folder.
QString TempFolder(QString *error);

// The program's current folder. Empty, with the reason in *error, when it can
// no longer be named (it was removed while the program ran).
QString CurrentFolder(QString *error);

// True for an existing regular file that is not hidden.
bool FileExists(const QString &path);

// What the file system knows of a regular file of this user's that does not
// change unless the file does: its identity, size, mode and change time. Any
// write, permission change or replacement gives another stamp. Empty for
// anything else (missing, a link, another user's file).
QByteArray FileStamp(const QString &path);

// Gives the owner the right to run the file; false when that failed.
bool MakeExecutable(const QString &path);

// Creates a new file for writing, readable and writable by the owner only.
// Fails with EEXIST when anything (a file, a link, a folder) already has the
// name; links are never followed. Returns the descriptor, or -errno.
int CreateExclusive(const QString &path);

// The error number of the last failed system call.
int LastError();

// True for a folder on a file system mounted without the right to run programs.
bool NoExecMount(const QString &folder);
QString NoExecReason();

// True for a folder that a dropped file's path may be opened from: an
// absolute local path (on Windows one with a drive letter, ":\\").
bool IsDroppablePath(const QString &path);

// Why the per-user folder for the assembler copy cannot be used (a Russian
// sentence naming it), or empty when it can; it is then made private.
QString RefusedPrivateFolder(const QString &folder);

// Where the user's private copies of the assembler are kept: a per-user cache
// folder; empty when there is none.
QString DefaultPrivateFolder();

// A short Russian description of an error number.
QString ErrorReason(int error);

// The same for numbers the shared table does not know.
QString SystemErrorReason(int error);

// Why a program that crashed ended (a signal, or on Windows an exception
// status), in Russian.
QString CrashReason(int code);

// Standard input and output carry bytes as they are (on Windows the C
// library would turn LF into CR LF and end input at a Ctrl+Z byte).
void UseBinaryStandardStreams();

// A crash, or a library that does not load, ends the process (or fails the
// load) without a system error dialog: the program that started it tells the
// user instead. Nothing to do where the system shows none.
void NoErrorDialogs();

// The program's arguments after its name, every letter (and byte) of them.
QStringList ProgramArguments(int argc, char *argv[]);

// The program's argument at index, whatever its letters (on Windows the
// 8-bit argv holds only those of the system's code page).
QString ProgramArgument(char *argv[], int index);

// A path to an existing file or folder as NASM, a program of 8-bit file
// names, can open it: on Windows a name with letters outside the system's
// code page becomes its short form, when the volume keeps one.
QString AssemblerPath(const QString &path);

// The same for the trial's worker, naming the signal (or exception status) too.
QString SignalName(int code);

}  // namespace platform
