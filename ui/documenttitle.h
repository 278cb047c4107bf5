#pragma once

#include <QString>

// The window title names the document: a fixed prefix, then its path.

// "Orvandine Converter - ", 22 characters.
QString TitlePrefix();

// The title of the untitled document.
QString NewFileTitle();

// The title for a document path.
QString TitleFor(const QString &documentPath);

// The document path a title names: the title without its first 22 characters.
QString DocumentPathOf(const QString &title);
