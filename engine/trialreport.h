#pragma once

#include "listing.h"
#include "sourcechecks.h"
#include "trial.h"

#include <QString>

// The report of a trial as the window and the command line show it. When the
// call returned, its first line is exactly "EAX = <signed> (&H<8 hex digits>)".
// A result with an error is reported as that error alone.
QString TrialReportText(const TrialResult &result, const QList<ListingRow> &listing,
                        const QList<SourceWarning> &warnings, qsizetype codeSize);

// The document's line (1-based) of the instruction a stopped call stopped on,
// to be marked in the text; 0 when it returned or the line is unknown.
int StoppingLine(const TrialResult &result, const QList<ListingRow> &listing);

// Why a 64-bit source is not tried.
QString Mode64TrialText();

// The report for a source without code: the module never makes the call.
QString EmptyTrialReportText(const QList<SourceWarning> &warnings);
