#pragma once

#include "trial/trial.h"

#include <QByteArray>
#include <QList>

// What passes between the programs and their trial worker: the request on the
// worker's standard input, the result on its standard output.
struct TrialRequest {
    QByteArray code;
    QList<CallParam> params;
    quint64 instructionLimit = kDefaultInstructionLimit;
    int timeLimitMs = 0;
    int bits = 32;  // how the code is called: 32 or 64
    bool everyInstruction = false;
};

QByteArray EncodeTrialRequest(const TrialRequest &request);
bool DecodeTrialRequest(const QByteArray &bytes, TrialRequest *request);

QByteArray EncodeTrialResult(const TrialResult &result);
// True once bytes hold a whole result (the worker may still be ending).
bool TrialResultComplete(const QByteArray &bytes);
bool DecodeTrialResult(const QByteArray &bytes, TrialResult *result);
