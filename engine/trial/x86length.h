#pragma once

#include <QtGlobal>

namespace x86 {

// The whole length of the instruction at bytes (prefixes, opcode, ModRM,
// SIB, displacement and immediates), as the emulator's decoder takes it;
// 0 when size ends first or it is longer than 15 bytes.
quint32 InstructionLength(const quint8 *bytes, quint32 size, bool long64);

}  // namespace x86
