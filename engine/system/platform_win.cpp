#include "system/platform.h"

#include "system/files.h"
#include "system/winerrno.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>

namespace {

// A thread made by the MinGW runtime frees its thread-local storage before it
// runs the destructors of its thread-local objects. Qt keeps the JIT stack of
// its regular expressions in such an object, so a worker thread that matched
// one (the bits check, NASM's messages, the listing) freed a stale pointer as
// it ended: a page fault in Qt6Core just after a run's report came up. Without
// the JIT Qt never creates that object. Set before main, so before the first
// pattern is compiled, in the window, the command-line program and the tests.
[[maybe_unused]] const bool kRegexJitOff = qputenv("QT_ENABLE_REGEXP_JIT", "0");

}  // namespace

namespace platform {

QByteArray EncodeName(QStringView name) {
    return QFile::encodeName(name.toString());
}

QString DecodeName(QByteArrayView bytes) {
    return QFile::decodeName(bytes.toByteArray());
}

QString ReadableName(const QString &text) {
    return text;  // names are UTF-16 here: nothing is kept as bytes
}

int FolderError(const QString &path) {
    const DWORD attributes =
        ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
    if (attributes == INVALID_FILE_ATTRIBUTES) return ErrnoOf(::GetLastError());
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? 0 : ENOTDIR;
}

QString AppPath() {
    QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!folder.endsWith(QLatin1Char('\\'))) folder += QLatin1Char('\\');
    return folder;
}

QString ProgramFileName(const QString &base) {
    return base + QLatin1StringView(".exe");
}

QString AssemblerFileName() {
    return QStringLiteral("nasmw.exe");
}

// The same name: the hidden attribute hides the program's own copy.
QString HiddenAssemblerFileName() {
    return QStringLiteral("nasmw.exe");
}

QString TempFolder(QString *error) {
    // The temp variable as the program has always read it; without it, the
    // folder Windows names (TMP, USERPROFILE or the Windows folder).
    QString folder = qEnvironmentVariable("temp");
    const bool fromVariable = !folder.isEmpty();
    if (!fromVariable) {
        wchar_t buffer[MAX_PATH + 2] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
        folder = QString::fromWCharArray(buffer, int(length));
    }
    const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(folder.utf16()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return QDir::cleanPath(QDir(QDir::fromNativeSeparators(folder)).absolutePath());
    const int reason = attributes != INVALID_FILE_ATTRIBUTES ? ENOTDIR : ErrnoOf(::GetLastError());
    *error = QStringLiteral("Временная папка «%1»%2 недоступна: %3.")
                 .arg(folder, fromVariable ? QStringLiteral(" (переменная temp)") : QString(),
                      reason == ENOTDIR ? QStringLiteral("это не папка") : ErrorReason(reason));
    return {};
}

QString CurrentFolder(QString *error) {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(length + 1, L'\0');
    const DWORD got = length ? ::GetCurrentDirectoryW(DWORD(buffer.size()), buffer.data()) : 0;
    if (got == 0 || got >= buffer.size()) {
        *error = QStringLiteral("Текущая папка программы недоступна: %1.").arg(ErrorReason(ErrnoOf(::GetLastError())));
        return {};
    }
    const QString folder = QString::fromWCharArray(buffer.data(), int(got));
    // A removed current folder still has a name here: it must still be there.
    const DWORD attributes = ::GetFileAttributesW(buffer.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = QStringLiteral("Текущая папка программы недоступна: %1.").arg(QStringLiteral("она была удалена"));
        return {};
    }
    return QDir::fromNativeSeparators(folder);
}

bool FileExists(const QString &path) {
    const DWORD attributes =
        ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
}

QByteArray FileStamp(const QString &path) {
    // Ownership is the folder's business here (the per-user folder lies in the
    // user's own profile); links and folders have no stamp.
    const HANDLE file = ::CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!known || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) return {};
    const auto wide = [](DWORD high, DWORD low) { return QByteArray::number(quint64(high) << 32 | low); };
    return QByteArray::number(quint64(info.dwVolumeSerialNumber)) + ' ' +
           wide(info.nFileIndexHigh, info.nFileIndexLow) + ' ' + wide(info.nFileSizeHigh, info.nFileSizeLow) + ' ' +
           QByteArray::number(quint64(info.dwFileAttributes), 8) + ' ' +
           wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
}

bool MakeExecutable(const QString &) {
    return true;  // an .exe runs as it is
}

int CreateExclusive(const QString &path) {
    const int fd = ::_wopen(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                            _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    return fd >= 0 ? fd : -errno;
}

bool NoExecMount(const QString &) {
    return false;
}

QString NoExecReason() {
    return QStringLiteral("файловая система не позволяет запускать программы");
}

int LastError() {
    // Qt's file calls leave the reason in the system's own error number.
    return errno != 0 ? errno : ErrnoOf(::GetLastError());
}

QString ExecutableSuffix() {
    return QStringLiteral(".exe");
}

void HideFile(const QString &path) {
    const auto native = reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16());
    const DWORD attributes = ::GetFileAttributesW(native);
    if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(native, attributes | FILE_ATTRIBUTE_HIDDEN);
}

bool IsDroppablePath(const QString &path) {
    // An address (smb://server/...) is no drive-letter path, whatever its slashes become.
    if (path.contains(QLatin1StringView("://"))) return false;
    return QDir::toNativeSeparators(path).contains(QLatin1StringView(":\\"));
}

QString RefusedPrivateFolder(const QString &folder) {
    const QString action = QStringLiteral("использовать папку");
    const DWORD attributes =
        ::GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(folder).utf16()));
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileErrorMessage(action, folder, ErrnoOf(::GetLastError()));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FileErrorMessage(action, folder, QStringLiteral("это не папка, а ссылка или файл"));
    return {};
}

QString CrashReason(int code) {
    switch (DWORD(code)) {
        case 0xC0000005:  // STATUS_ACCESS_VIOLATION
        case 0xC0000006:  // STATUS_IN_PAGE_ERROR
            return QStringLiteral("обращение к недопустимой памяти");
        case 0xC0000409:  // STATUS_STACK_BUFFER_OVERRUN, also __fastfail
        case 0xC0000374:  // STATUS_HEAP_CORRUPTION
            return QStringLiteral("программа прервала себя сама");
        case 0xC00000FD:  // STATUS_STACK_OVERFLOW
            return QStringLiteral("переполнение стека");
        case 0xC0000017:  // STATUS_NO_MEMORY
            return QStringLiteral("недостаточно памяти");
        case 0xC000013A:  // STATUS_CONTROL_C_EXIT
            return QStringLiteral("прервано с клавиатуры (Ctrl+C)");
        case 0xC000008E:  // STATUS_FLOAT_DIVIDE_BY_ZERO
        case 0xC0000094:  // STATUS_INTEGER_DIVIDE_BY_ZERO
        case 0xC0000095:  // STATUS_INTEGER_OVERFLOW
            return QStringLiteral("арифметическая ошибка");
        case 0xC000001D:  // STATUS_ILLEGAL_INSTRUCTION
            return QStringLiteral("недопустимая команда процессора");
        default:
            return QStringLiteral("код исключения 0x%1")
                .arg(QString::number(uint(code), 16).toUpper().rightJustified(8, QLatin1Char('0')));
    }
}

int ErrnoOf(unsigned long error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BUFFER_OVERFLOW:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
            return ENOEXEC;
        case ERROR_OPERATION_ABORTED:
            return EINTR;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_FUNCTION:
            return EINVAL;
        default:
            return EIO;
    }
}

QString SignalName(int code) {
    // A crashed Windows program ends with its exception status.
    return QStringLiteral("0x%1, %2")
        .arg(QString::number(uint(code), 16).toUpper().rightJustified(8, QLatin1Char('0')), CrashReason(code));
}

QString SystemErrorReason(int error) {
    return QStringLiteral("системная ошибка %1 (%2)").arg(error).arg(QString::fromLocal8Bit(std::strerror(error)));
}

QString AssemblerPath(const QString &path) {
    // NASM's C library turns its wide command line into the system's code
    // page, and a letter that code page lacks becomes a "?".
    if (QString::fromLocal8Bit(path.toLocal8Bit()) == path) return path;
    const std::wstring wide = QDir::toNativeSeparators(path).toStdWString();
    const DWORD length = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (length == 0) return path;
    std::wstring buffer(length, L'\0');
    const DWORD got = ::GetShortPathNameW(wide.c_str(), buffer.data(), length);
    if (got == 0 || got >= length) return path;
    return QDir::fromNativeSeparators(QString::fromWCharArray(buffer.data(), int(got)));
}

void UseBinaryStandardStreams() {
    ::_setmode(0, _O_BINARY);
    ::_setmode(1, _O_BINARY);
}

void NoErrorDialogs() {
    // No box for a damaged or foreign DLL, a missing file, or a crash (Windows Error Reporting): each would wait
    // for a click that no one is there to give.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

QStringList ProgramArguments(int, char *[]) {
    return QCoreApplication::arguments().mid(1);  // Qt reads the wide command line
}

QString ProgramArgument(char *argv[], int index) {
    int count = 0;
    wchar_t **wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const QString argument =
        wide && index < count ? QString::fromWCharArray(wide[index]) : QString::fromLocal8Bit(argv[index]);
    ::LocalFree(wide);
    return argument;
}

QString DefaultPrivateFolder() {
    // The per-user folder for programs' local data (%LOCALAPPDATA%); without
    // it there is no private folder.
    const QString local = QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA"));
    if (!QDir::isAbsolutePath(local)) return {};
    return QDir::cleanPath(local) + QLatin1StringView("/orvandine-converter");
}

}  // namespace platform
