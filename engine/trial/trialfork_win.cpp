#include "trial/trialfork.h"

ForkedTrialWorker ForkTrialWorker(const QString &) {
    return {};
}

bool SendToForkedWorker(ForkedTrialWorker &, const QByteArray &) {
    return false;
}

ForkedRead ReadFromForkedWorker(ForkedTrialWorker &, QByteArray &, int) {
    return ForkedRead::End;
}

ForkedEnd EndForkedWorker(ForkedTrialWorker &, bool) {
    return {};
}
