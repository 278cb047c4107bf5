#pragma once

#include <QString>

// Facts about the assembler carried inside the program, fixed at build time.
namespace payload {

inline constexpr auto kResourcePath = ":/ASSEMBLER/101";

// A short fingerprint of the payload's bytes; names the private copy, so that
// a different payload never reuses an older copy.
QString Id();

// The version of the embedded NASM, as "2.16.01".
QString NasmVersion();

}  // namespace payload
