#pragma once

#include "products/sourcechecks.h"
#include "run/listing.h"
#include "trial/trial.h"

#include <QString>

// The report of a trial as the window and the command line show it. When the
// call returned, its first line is exactly "EAX = <signed> (&H<8 hex digits>)"
// for 32-bit code; for 64-bit code "RAX = <signed> (&H<16 hex digits>)", then
// the EAX line.
// A result with an error is reported as that error alone.
// mode: the mode NASM made the code in; 32-bit code of any other (16-bit, several) is run as VB6 runs it.
QString TrialReportText(const TrialResult &result, const QList<ListingRow> &listing,
                        const QList<SourceWarning> &warnings, qsizetype codeSize, CodeMode mode = CodeMode::Bits32);

// The document's line (1-based) of the instruction a stopped call stopped on,
// to be marked in the text; 0 when it returned or the line is unknown.
int StoppingLine(const TrialResult &result, const QList<ListingRow> &listing);

// The report for a source without code: the module never makes the call.
// bits: the mode the code would be called in (32 or 64).
QString EmptyTrialReportText(const QList<SourceWarning> &warnings, int bits = 32);
