#include "run/assemblerkeeper.h"

AssemblerKeeper::AssemblerKeeper(QString appFolder, CopyPlace place)
    : appFolder_(std::move(appFolder)), place_(place) {}

AssemblerKeeper::~AssemblerKeeper() {
    std::lock_guard lock(mutex_);
    WaitForStart();
}

void AssemblerKeeper::StartProviding() {
    std::lock_guard lock(mutex_);
    WaitForStart();
    starting_ = std::async(std::launch::async,
                           [folder = appFolder_, place = place_] { return ProvideAssembler(folder, place); });
}

void AssemblerKeeper::WaitForStart() {
    if (starting_.valid()) current_ = starting_.get();
}

ProvidedAssembler AssemblerKeeper::Acquire() {
    std::lock_guard lock(mutex_);
    WaitForStart();
    current_ = EnsureAssembler(current_, appFolder_, place_);
    return current_;
}

void AssemblerKeeper::Remove() {
    std::lock_guard lock(mutex_);
    WaitForStart();
    RemoveAssembler(current_);
    current_ = {};
}
