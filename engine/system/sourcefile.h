#pragma once

#include "system/codepage.h"

#include <QByteArray>
#include <QString>

// Source files as the editor holds them: text with LF line breaks, and the
// line break the file uses on disk, so that a file is written back the way it
// was read.
struct SourceText {
    QString text;  // line breaks as LF
    QString lineBreak = QStringLiteral("\r\n");
    // The file's own bytes, for as long as the text is as it was read: they are
    // written back as they were, whatever mix of line breaks they hold.
    QByteArray unedited;
};

// Decodes a file's bytes. A file with CR LF (or without any line break) is
// taken as CR LF, one with bare LF as LF.
SourceText SourceFromBytes(QByteArrayView bytes);

// The bytes to save: the text with its line breaks (or the unedited bytes),
// ending in one line break unless it already ends in one. Fails on a character the code
// page cannot represent.
codepage::Encoded SourceToBytes(const SourceText &source);

struct SourceRead {
    SourceText source;
    QString error;  // empty on success

    bool ok() const { return error.isEmpty(); }
};

// Reads a source file. With createMissing, a path that does not exist is
// created as an empty file first, as opening a new name does.
SourceRead ReadSourceFile(const QString &path, bool createMissing);

// Writes the source whole, or leaves the file as it was. Returns an empty
// title on success, else the box title and text of the failure.
struct SaveResult {
    QString title;
    QString text;
    QByteArray written;  // on success

    bool ok() const { return title.isEmpty(); }
};
SaveResult SaveSourceFile(const QString &path, const SourceText &source);
