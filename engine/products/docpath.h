#pragma once

#include <QString>

// How a document's path becomes the names the program writes.

// The path of the untitled document: a relative name without an extension.
QString UntitledName();

// The path itself when it ends in ".asm" (any case); otherwise the path with
// ".asm" appended.
QString AsmPath(const QString &path);

// A product's file name: AsmPath of the document path with its last three
// characters replaced by the extension ("bin" or "bas").
QString TargetName(const QString &documentPath, const QString &extension);
