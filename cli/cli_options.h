#pragma once

#include "trial/trial.h"

#include <QString>
#include <QStringList>

#include <chrono>

// The command line of orvandine-convert.
struct CliOptions {
    enum class Product { None, Hex, Bin, Bas, Vba7, Call, List };

    Product product = Product::None;
    QString file;            // "-" for standard input
    QStringList parameters;  // --call: P1 to P4 as given, missing ones left out
    std::chrono::milliseconds timeout{0};
    quint64 maxInstructions = kDefaultInstructionLimit;  // --call: the emulator's instruction limit
    bool help = false;
    bool version = false;
    QString error;  // a usage error, in Russian
};

CliOptions ParseCliOptions(const QStringList &arguments);

QString CliUsage();
