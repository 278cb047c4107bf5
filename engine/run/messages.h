#pragma once

#include <QList>
#include <QString>

// The 1-based line numbers that the assembler's messages report errors on in
// the named document, in order, each once. Warnings are not counted.
QList<int> ErrorLines(const QString &messages, const QString &documentName);
