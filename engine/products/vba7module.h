#pragma once

#include "products/sourcechecks.h"

#include <QByteArray>
#include <QString>

// The module for VBA7 (Office 2010 and later, 32- and 64-bit), which loads in
// VBA6 and VB6 too: its declarations are conditional, it copies the code into
// memory of its own made executable (never writable and executable at once)
// and calls it through CallWindowProcW. The hex string is spread over lines
// and procedures small enough for the VBA editor and compiler.

// The longest code the module carries. VBA takes at most 65,534 lines of at
// most 1,023 characters in a module, so the product limit is out of reach;
// 1 MiB keeps the module at about 4,700 lines.
inline constexpr qsizetype kMaxVba7Code = qsizetype(1) << 20;

// Code bytes on one line of the module, and lines in one procedure.
inline constexpr qsizetype kVba7BytesPerLine = 256;
inline constexpr qsizetype kVba7LinesPerPart = 32;

// The function the module offers, and the routine that frees its memory.
inline constexpr QLatin1StringView kVba7CallName("CallAsmCode");
inline constexpr QLatin1StringView kVba7FreeName("FreeAsmCode");

// The module's text, every line ending in CR LF. The mode is the width the
// module checks the host against before it calls the code (16-bit and
// unknown code it never calls).
QString Vba7ModuleText(QByteArrayView code, CodeMode mode);
