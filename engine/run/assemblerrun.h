#pragma once

#include "system/outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <stop_token>

class QIODevice;
struct ListingRow;

// What an assembler run needs besides the source.
struct RunRequest {
    QString assembler;                     // the NASM executable
    QString workingFolder;                 // NASM's working folder; empty: the program's current folder
    std::stop_token stop;                  // a stop request ends the run as cancelled
    std::chrono::milliseconds timeout{0};  // zero: no limit
    QString includeFolder{};               // also searched for %include and incbin, after the working folder
    bool listing{false};                   // NASM's listing is wanted too, whole
    bool preprocessOnly{false};            // the output is NASM's preprocessed text (nasm -E), not code
    bool assembleOnly{false};              // the source is preprocessed text, assembled as it stands (nasm -a)
    // Or NASM's listing read as it lies, open, before its file goes: an
    // error, or an empty string. Listings too large to hold are read so.
    std::function<QString(QIODevice &listing)> readListing{};
};

struct AssemblerOutput {
    Outcome outcome;
    QByteArray bytes;    // the flat binary, when the outcome is ok
    QByteArray listing;  // NASM's listing, when asked for and the outcome is ok

    static AssemblerOutput Failed(Outcome outcome) {
        AssemblerOutput failed;
        failed.outcome = std::move(outcome);
        return failed;
    }
};

// The arguments that make NASM assemble one file into a flat binary.
// An include folder and a listing file are added when given.
QStringList AssemblerArguments(const QString &source, const QString &output, const QString &includeFolder = {},
                               const QString &listing = {});

// NASM's messages as the user should read them: the temporary file's name
// (and the name the source was given inside it) replaced by the document's
// name, surrounding blank space trimmed. lines is the number of lines of the
// document: NASM tells what is left open at the end of the file on the line
// after its last, and the line break the run adds must not make that a
// second one.
QString UserMessages(const QByteArray &printed, const QString &tempName, const QString &documentName,
                     qsizetype lines = -1);

// The first line of the temporary source: the lines after it are the
// document's own, under its name, so that __FILE__ (and %line-aware messages)
// say what plain NASM says for the file it was handed.
QByteArray SourceNameLine(const QString &documentName);

// The listing's row of that first line.
bool NamesTheSource(const ListingRow &row);

// Writes the source (in the 8-bit code page, after its name line and followed by CR LF) to a fresh
// temporary file, runs the assembler on it into a second temporary file, and
// reads the bytes back. Both temporary files are gone when it returns.
// documentName stands in for the temporary name in the assembler's messages.
AssemblerOutput AssemblerRun(const QString &source, const QString &documentName, const RunRequest &request);
