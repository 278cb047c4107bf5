#pragma once

#include "trial/trial.h"
#include "trial/watch.h"

// How a run becomes the result of a trial: how it ended, where, and what the
// code left behind it (the registers it had to keep, the stack, the x87 and
// SSE control state, the buffers). TrialResult::verdict() then says what the
// call means for the VB program.
void Judge(const EmulatedCpu &cpu, const Watch &watch, uc_err status, TrialResult &result);
