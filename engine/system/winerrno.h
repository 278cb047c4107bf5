#pragma once

// Windows only: the error number (errno) that the shared Russian reasons of
// platform::ErrorReason know, for a Windows error code (GetLastError).
namespace platform {

int ErrnoOf(unsigned long error);

}  // namespace platform
