#include "trial/watch.h"

#include "trial/x86decode.h"
#include "trial/x86length.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <span>

namespace {

// Blocks between two looks at the clock.
constexpr quint32 kClockBlocks = 1 << 14;
// Changes of the function's translated bytes after which the call goes on in a
// fresh emulator. The emulator translates every change of self-modifying code
// anew and never gives the space back (its own flush touches the whole
// gigabyte of its translation buffer); about a kilobyte goes with each change.
constexpr quint64 kRenewAfter = 100'000;
// More instructions with a hook of their own than this, and the call is run stepwise.
constexpr size_t kMaxHooked = 256;

constexpr int kRegs32[8] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                            UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
constexpr int kRegs64[16] = {UC_X86_REG_RAX, UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_RBX,
                             UC_X86_REG_RSP, UC_X86_REG_RBP, UC_X86_REG_RSI, UC_X86_REG_RDI,
                             UC_X86_REG_R8,  UC_X86_REG_R9,  UC_X86_REG_R10, UC_X86_REG_R11,
                             UC_X86_REG_R12, UC_X86_REG_R13, UC_X86_REG_R14, UC_X86_REG_R15};

// The register of number n (as the CPU encodes it) in the code's mode.
int RegisterId(const Watch *w, int n) {
    return w->layout.long64() ? kRegs64[n] : kRegs32[n & 7];
}

quint32 Room(const Watch *w, quint64 address) {
    return quint32(std::min<quint64>(15, w->codeBase + w->codeMapped - address));
}

const quint8 *BytesAt(const Watch *w, quint64 address) {
    return w->codeBytes + (address - w->codeBase);
}

// ret n with n of 32 KiB or more, which the emulator takes as negative.
bool IsLongRet(const quint8 *at, quint32 length) {
    return length == 3 && at[0] == 0xC2 && at[2] >= 0x80;
}

// next: where the instruction ends (for [rip + displacement]).
quint64 EffectiveAddress(const Watch *w, uc_engine *engine, const x86::Decoded &d, quint64 next) {
    const bool long64 = w->layout.long64();
    quint64 address = quint64(qint64(qint32(d.displacement)));
    if (d.ripRelative) address += next;
    if (d.base >= 0) address += w->Reg(engine, RegisterId(w, d.base));
    if (d.index >= 0) address += w->Reg(engine, RegisterId(w, d.index)) << d.scale;
    if (!long64 || d.address32) address = quint32(address);
    if (d.segment == w->layout.tebSegment) address += w->layout.teb;
    return long64 ? address : quint32(address);
}

QString HexAddress(const Watch *w, quint64 value) {
    return QStringLiteral("&H%1").arg(value, w->layout.long64() ? 16 : 8, 16, QChar(u'0')).toUpper();
}

void Raise(Watch *w, uc_engine *engine, int number, const QString &detail) {
    w->interrupt = number;
    w->interruptDetail = detail;
    w->Stop(engine);
}

// The faults a real CPU raises before these instructions run, which the
// emulator does not: a misaligned operand of an aligned SSE form, and
// reserved MXCSR bits loaded by ldmxcsr or fxrstor.
bool RaisesFault(Watch *w, uc_engine *engine, const x86::Decoded &d, quint64 next) {
    if (!d.memory || d.address16) return false;
    if (d.aligned16) {
        const quint64 address = EffectiveAddress(w, engine, d, next);
        if (address % 16 == 0) return false;
        Raise(w, engine, 13,
              QStringLiteral("операнд команды SSE по адресу %1 не выровнен на 16 байт, а эта форма команды требует "
                             "выравнивания")
                  .arg(HexAddress(w, address)));
        return true;
    }
    if (d.mxcsrOffset < 0) return false;
    const quint64 address = EffectiveAddress(w, engine, d, next) + quint64(d.mxcsrOffset);
    quint32 value = 0;
    if (w->uc->memRead(engine, address, &value, sizeof value) != UC_ERR_OK || (value & 0xFFFF0000) == 0) return false;
    Raise(w, engine, 13,
          QStringLiteral("в MXCSR загружается &H%1 с зарезервированными битами 16–31")
              .arg(QString::number(value, 16).rightJustified(8, u'0').toUpper()));
    return true;
}

// Carries out ret n with a large n as a real CPU does; false when the emulator faults on it itself.
bool LongRet(Watch *w, uc_engine *engine, const quint8 *at) {
    const bool long64 = w->layout.long64();
    const quint32 width = long64 ? 8 : 4;
    const quint64 esp = w->Reg(engine, w->layout.sp);
    quint64 target = 0;
    if (w->uc->memRead(engine, esp, &target, width) != UC_ERR_OK) return false;
    quint64 newEsp = esp + width + (quint32(at[1]) | quint32(at[2]) << 8);
    if (!long64) newEsp = quint32(newEsp);
    w->uc->regWrite(engine, w->layout.sp, &newEsp);
    w->uc->regWrite(engine, w->layout.pc, &target);
    return true;
}

QString Hex(quint64 value, int digits) {
    return QStringLiteral("&H") + QString::number(value, 16).rightJustified(digits, u'0').toUpper();
}

// A call into the kernel whose outcome is known in every Windows: 64-bit syscall with a service number no Windows
// has (the index is the low 12 bits, bit 12 picks the graphics table; neither has ever held this many).
bool NoSuchService(const Watch *w, uc_engine *engine, const x86::Decoded &d) {
    if (!w->layout.long64() || qstrcmp(d.systemCall, "syscall") != 0) return false;
    const quint32 number = quint32(w->Reg(engine, UC_X86_REG_EAX));
    return (number & 0xFFF) >= ((number & 0x1000) ? 0xC00u : 0x800u);
}

// Why the call stops at a call into the kernel: what it does depends on Windows.
QString SystemCallText(const Watch *w, uc_engine *engine, const x86::Decoded &d) {
    if (w->layout.long64() && qstrcmp(d.systemCall, "syscall") != 0)
        return QStringLiteral(
                   "команда %1 обращается к ядру Windows старым путём; что будет, зависит от версии Windows, а ядра "
                   "Windows в проверке нет")
            .arg(QLatin1StringView(d.systemCall));
    if (!w->layout.long64())
        return QStringLiteral(
                   "команда %1 обращается к ядру Windows: в 32-битной Windows это вызов службы ядра, а 32-битная "
                   "программа в 64-битной Windows (WOW64, где работает и 32-битный Office) так к ядру не обращается; "
                   "что будет, зависит от Windows, а ядра Windows в проверке нет")
            .arg(QLatin1StringView(d.systemCall));
    return QStringLiteral(
               "команда %1 вызывает службу ядра Windows номер %2: что она сделает, зависит от версии Windows, а ядра "
               "Windows в проверке нет")
        .arg(QLatin1StringView(d.systemCall), Hex(w->Reg(engine, UC_X86_REG_EAX) & 0xFFFFFFFF, 4));
}

// What the kernel does with a service number it does not have: STATUS_INVALID_SYSTEM_SERVICE in RAX, and syscall's
// own return address in RCX and flags in R11.
void RefuseService(Watch *w, uc_engine *engine, quint64 address, quint64 next) {
    const quint64 number = w->Reg(engine, UC_X86_REG_EAX) & 0xFFFFFFFF;
    const quint64 status = 0xC000001C, flags = w->Reg(engine, UC_X86_REG_EFLAGS);
    w->uc->regWrite(engine, UC_X86_REG_RAX, &status);
    w->uc->regWrite(engine, UC_X86_REG_RCX, &next);
    w->uc->regWrite(engine, UC_X86_REG_R11, &flags);
    w->uc->regWrite(engine, UC_X86_REG_RIP, &next);
    const QString note =
        QStringLiteral(
            "команда syscall (смещение %1) вызвала службу ядра номер %2: такой службы нет ни в одной версии Windows, и "
            "ядро вернуло STATUS_INVALID_SYSTEM_SERVICE (&HC000001C) в RAX, адрес возврата в RCX и флаги в R11")
            .arg(Hex(address - w->codeBase, 8), Hex(number, 4));
    if (!w->notes.contains(note)) w->notes << note;
    w->action = Watch::Action::Resume;
}

// Every instruction, when the call runs stepwise.
void OnCode(uc_engine *engine, uint64_t address, uint32_t size, void *data) {
    auto *w = static_cast<Watch *>(data);
    // Bytes that are no instruction come with a made-up size; the invalid-instruction hook tells of them.
    if (size > 15) size = 1;
    if (address < w->codeBase || address + size > w->codeEnd) {
        if (w->layout.isCaller(address)) return;
        w->outside = true;
        w->outsideAddress = address >= w->codeBase && address < w->codeEnd ? w->codeEnd : address;
        w->Stop(engine);
        return;
    }
    if (!w->entered) w->Enter(engine);
    if (w->restarted && address == w->restartAt) {
        // The emulator runs again an instruction that wrote its own block: it ran once.
        w->restarted = false;
        w->restartAt = 0;
        return;
    }
    // Decoded from every byte there is: the emulator's size stops short at an instruction it refuses.
    const x86::Decoded d = x86::Decode(BytesAt(w, address), Room(w, address), w->layout.long64());
    if (d.privileged) {
        w->privileged = d.privileged;
        w->current = address;
        w->Stop(engine);
        return;
    }
    const bool refused = d.systemCall && NoSuchService(w, engine, d);
    if (d.systemCall && !refused) {
        w->systemCall = SystemCallText(w, engine, d);
        w->current = address;
        w->Stop(engine);
        return;
    }
    if (w->executed == w->limit) {
        w->limitReached = true;
        w->Stop(engine);
        return;
    }
    if ((++w->clock & 0xFFFF) == 0 && w->deadline.hasExpired()) {
        w->timedOut = true;
        w->Stop(engine);
        return;
    }
    if (w->codeWrites >= kRenewAfter) {
        w->Stop(engine, Watch::Action::Renew);
        return;
    }
    w->current = address;
    if ((d.aligned16 || d.mxcsrOffset >= 0) && RaisesFault(w, engine, d, address + size)) return;
    ++w->executed;
    if (refused)
        RefuseService(w, engine, address, address + size);
    else if (IsLongRet(BytesAt(w, address), size) && LongRet(w, engine, BytesAt(w, address)))
        w->action = Watch::Action::Resume;
}

// The instructions that need a look of their own, when the call runs block by block.
void OnCheck(uc_engine *engine, uint64_t address, uint32_t size, void *data) {
    auto *w = static_cast<Watch *>(data);
    if (w->stepwise || w->inCaller || address < w->codeBase || address >= w->codeEnd) return;
    if (size > 15) return;
    const x86::Decoded d = x86::Decode(BytesAt(w, address), size, w->layout.long64());
    if ((d.aligned16 || d.mxcsrOffset >= 0) && RaisesFault(w, engine, d, address + size)) {
        w->StoppedAt(address, false);
        return;
    }
    if (IsLongRet(BytesAt(w, address), size) && LongRet(w, engine, BytesAt(w, address))) {
        w->StoppedAt(address, true);
        w->action = Watch::Action::Resume;
    }
}

// The start of every block. Most of the time the block is known and counted here, and nothing more.
void OnBlock(uc_engine *engine, uint64_t address, uint32_t size, void *data) {
    auto *w = static_cast<Watch *>(data);
    if (!w->attention) {
        BlockInfo *b = w->seen[Watch::SeenSlot(address)];
        if (b && b->start == address && b->size == size && b->generation == w->generation && b->plain) {
            const quint64 after = w->executed + b->count();
            if (after <= w->limit && --w->clock) {
                w->block = b;
                w->countBefore = w->executed;
                w->executed = after;
                w->inCaller = false;
                return;
            }
        }
    }
    w->NewBlock(engine, address, size);
}

bool OnInvalidMemory(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *data) {
    auto *w = static_cast<Watch *>(data);
    w->memoryFault = true;
    w->memoryType = type;
    w->memoryAddress = address;
    if (!w->stepwise) {
        // Code is fetched when a block is translated, before any of it runs; data, somewhere in the block.
        const bool fetch = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT || type == UC_MEM_FETCH;
        if (fetch || w->inCaller || !w->block)
            w->StoppedBetweenBlocks();
        else
            w->StoppedInBlock();
    }
    return false;
}

// An access in a buffer's region before the buffer (the region is mapped from a page boundary).
void OnBufferHead(uc_engine *engine, uc_mem_type type, uint64_t address, int, int64_t, void *data) {
    auto *w = static_cast<Watch *>(data);
    if (w->memoryFault) return;
    w->memoryFault = true;
    w->memoryType = type;
    w->memoryAddress = address;
    w->Stop(engine);
    if (w->stepwise) return;
    if (w->inCaller || !w->block)
        w->StoppedBetweenBlocks();
    else
        w->StoppedInBlock();
}

// What the model of Windows holds of the thread and process blocks and of the program's image header, by offset.
struct Field {
    quint32 from, to;
};
constexpr Field kTeb32[] = {{0x00, 0x0C}, {0x18, 0x1C}, {0x20, 0x28}, {0x30, 0x34}};
constexpr Field kTeb64[] = {{0x00, 0x18}, {0x30, 0x38}, {0x40, 0x50}, {0x60, 0x68}};
constexpr Field kPeb32[] = {{0x00, 0x03}, {0x04, 0x0C}};  // the flags but BitField, Mutant, ImageBaseAddress
constexpr Field kPeb64[] = {{0x00, 0x03}, {0x08, 0x18}};
constexpr Field kImage[] = {{0x00, 0x02}, {0x3C, 0x40}, {0x80, 0x86}};  // MZ, e_lfanew, PE and Machine

template <size_t N>
bool Within(const Field (&fields)[N], quint64 offset) {
    return std::any_of(fields, fields + N, [offset](const Field &f) { return offset >= f.from && offset < f.to; });
}

// The data at an address of the blocks or the image that the model does not hold, named in Russian; empty when it
// holds it.
QString Unmodeled(const Watch *w, quint64 address) {
    const ProcessLayout &l = w->layout;
    const bool long64 = l.long64();
    if (address >= l.imageBase && address < l.imageBase + kPage) {
        if (Within(kImage, address - l.imageBase)) return {};
        return QStringLiteral("заголовок образа программы VB (по смещению %1)").arg(Hex(address - l.imageBase, 4));
    }
    if (address < l.teb || address >= l.tebEnd || w->tebWritten[address - l.teb]) return {};
    struct Named {
        quint32 offset32, offset64;
        const char16_t *name;
    };
    static const Named kPebFields[] = {
        {0x0C, 0x18, u"поле Ldr блока процесса (списки загруженных модулей)"},
        {0x10, 0x20, u"поле ProcessParameters блока процесса"},
        {0x18, 0x30, u"поле ProcessHeap блока процесса"},
        {0x64, 0xB8, u"поле NumberOfProcessors блока процесса"},
        {0xA4, 0x118, u"поле OSMajorVersion блока процесса"},
    };
    static const Named kTebFields[] = {
        {0x2C, 0x58, u"поле ThreadLocalStoragePointer блока потока"},
        {0x34, 0x68, u"поле LastErrorValue блока потока"},
    };
    const bool inPeb = address >= l.peb;
    const quint64 offset = address - (inPeb ? l.peb : l.teb);
    if (inPeb ? (long64 ? Within(kPeb64, offset) : Within(kPeb32, offset))
              : (long64 ? Within(kTeb64, offset) : Within(kTeb32, offset)))
        return {};
    const QString where = QStringLiteral("%1+%2").arg(inPeb ? u"PEB" : u"TEB", Hex(offset, 2));
    for (const Named &n : inPeb ? std::span<const Named>(kPebFields) : std::span<const Named>(kTebFields)) {
        const quint64 at = long64 ? n.offset64 : n.offset32;
        if (offset >= at && offset < at + l.pointer)
            return QStringLiteral("%1 (%2)").arg(QString::fromUtf16(n.name), where);
    }
    return QStringLiteral("данные блока %1 по смещению %2 (%3)")
        .arg(inPeb ? u"процесса" : u"потока", Hex(offset, 2), where);
}

// A read of the thread and process blocks or of the image header.
void OnModelRead(uc_engine *engine, uc_mem_type, uint64_t address, int size, int64_t, void *data) {
    auto *w = static_cast<Watch *>(data);
    if (!w->unmodeled.isEmpty()) return;
    for (int i = 0; i < size && w->unmodeled.isEmpty(); ++i) w->unmodeled = Unmodeled(w, address + quint64(i));
    if (w->unmodeled.isEmpty()) return;
    w->unmodeled = QStringLiteral(
                       "функция читает %1, а в модели процесса Windows, на которой идёт проверка, этих данных нет "
                       "(она держит лишь поля, названные в справке)")
                       .arg(w->unmodeled);
    w->Stop(engine);
    if (!w->stepwise) w->StoppedInBlock();
}

// A write to the blocks: what the code wrote there, it may read back.
void OnModelWrite(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *data) {
    auto *w = static_cast<Watch *>(data);
    for (int i = 0; i < size; ++i)
        if (address + quint64(i) < w->layout.tebEnd) w->tebWritten[address + quint64(i) - w->layout.teb] = true;
}

// A write into the function's memory (32-bit code, whose memory is a writable byte array).
void OnCodeWrite(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *data) {
    auto *w = static_cast<Watch *>(data);
    const quint64 from = address - w->codeBase;
    const quint64 to = std::min<quint64>(from + quint64(size), w->codeMapped);
    bool decoded = false;
    for (quint64 at = from; at < to && !decoded; ++at) decoded = w->decodedIn[at] == w->generation;
    if (decoded) {
        ++w->generation;  // what was decoded from these bytes is so no more
        if (++w->codeChanges >= kRenewAfter) w->attention = true;
    }
    if (w->stepwise) {
        ++w->codeWrites;
        if (address < w->stepEnd && address + quint64(size) > w->stepStart) w->restartAt = w->current;
        return;
    }
    if (!w->inCaller && w->block && address < w->block->start + w->block->size &&
        address + quint64(size) > w->block->start)
        w->ownWrite = w->attention = true;
}

void OnInterrupt(uc_engine *engine, uint32_t number, void *data) {
    auto *w = static_cast<Watch *>(data);
    if (w->interrupt < 0) w->interrupt = int(number);
    w->Stop(engine);
    if (w->stepwise) return;
    if (w->inCaller || !w->block) {
        w->StoppedBetweenBlocks();
        return;
    }
    // A fault leaves the instruction pointer on its instruction; int n, int 3, into and int 1 after theirs.
    const quint64 pc = w->Reg(engine, w->layout.pc);
    const BlockInfo *b = w->block;
    for (quint32 i = 0; i < b->count(); ++i) {
        if (b->start + b->ends[i + 1] != pc) continue;
        const quint8 *at = BytesAt(w, b->start + b->ends[i]);
        const quint32 length = b->ends[i + 1] - b->ends[i];
        const int trap = at[0] == 0xCC                  ? 3
                         : at[0] == 0xCE                ? 4
                         : at[0] == 0xF1                ? 1
                         : at[0] == 0xCD && length == 2 ? at[1]
                                                        : -1;
        if (trap == int(number)) {
            w->StoppedAt(b->start + b->ends[i], true);
            return;
        }
    }
    w->StoppedAt(pc, true);
}

// popcnt and movbe, which every CPU a VB program runs on today has and this
// emulator lacks, are carried out here; any other instruction the emulator
// refuses is told apart from bytes no CPU runs.
bool OnInvalidInstruction(uc_engine *engine, void *data) {
    auto *w = static_cast<Watch *>(data);
    const quint64 eip = w->Reg(engine, w->layout.pc);
    if (eip < w->codeBase || eip >= w->codeEnd) {
        w->invalid = true;
        if (!w->stepwise) w->StoppedBetweenBlocks();
        return false;
    }
    const quint32 room = quint32(std::min<quint64>(15, w->codeEnd - eip));
    const bool long64 = w->layout.long64();
    const x86::Decoded d = x86::Decode(BytesAt(w, eip), room, long64);
    const bool ours = d.kind == x86::Kind::Popcnt || d.kind == x86::Kind::MovbeLoad || d.kind == x86::Kind::MovbeStore;
    if (!ours || d.length > room) {
        (d.kind == x86::Kind::Unsupported ? w->unsupported : w->invalid) = true;
        if (!w->stepwise) w->StoppedAt(eip, true);
        return false;
    }
    const quint32 bytes = d.rexW ? 8 : d.operand16 ? 2 : 4;
    const quint64 mask = bytes == 8 ? ~quint64(0) : bytes == 4 ? 0xFFFFFFFF : 0xFFFF;
    const auto swapped = [bytes](quint64 value) {
        return bytes == 8   ? qbswap(value)
               : bytes == 4 ? quint64(qbswap(quint32(value)))
                            : quint64(qbswap(quint16(value)));
    };
    const int reg = RegisterId(w, d.reg);
    quint64 source = 0;
    const quint64 address = d.memory ? EffectiveAddress(w, engine, d, eip + d.length) : 0;
    const auto fault = [&](uc_mem_type type) {
        w->memoryFault = true;
        w->memoryType = type;
        w->memoryAddress = address;
        if (!w->stepwise) w->StoppedAt(eip, true);
        return false;
    };
    if (d.kind == x86::Kind::MovbeStore) {
        const quint64 value = swapped(w->Reg(engine, reg) & mask);
        const quint64 end = address + bytes;
        const auto within = [&](quint64 from, quint64 to) { return address >= from && end <= to; };
        // The 64-bit code's memory is read-only, as VirtualProtect leaves it.
        bool writable = within(w->layout.stackBottom, w->layout.stackTop) ||
                        (!long64 && within(w->codeBase, w->codeBase + w->codeMapped)) ||
                        within(w->layout.teb, w->layout.tebEnd);
        for (int i = 0; i < kCallParamCount; ++i)
            writable =
                writable || (w->bufferStart[i] &&
                             within(w->bufferStart[i], w->layout.bufferRegions + quint64(i + 1) * kBufferRegionSize));
        if (!writable || w->uc->memWrite(engine, address, &value, bytes) != UC_ERR_OK)
            return fault(UC_MEM_WRITE_UNMAPPED);
    } else {
        if (d.memory) {
            if (w->uc->memRead(engine, address, &source, bytes) != UC_ERR_OK) return fault(UC_MEM_READ_UNMAPPED);
        } else {
            source = w->Reg(engine, RegisterId(w, d.rm)) & mask;
        }
        quint64 result = 0;
        if (d.kind == x86::Kind::Popcnt) {
            result = quint64(std::popcount(source));
            // popcnt clears every arithmetic flag but ZF, which tells a zero source.
            quint64 flags = w->Reg(engine, UC_X86_REG_EFLAGS) & ~quint64(0x8D5);
            if (source == 0) flags |= 0x40;
            w->uc->regWrite(engine, UC_X86_REG_EFLAGS, &flags);
        } else {
            result = swapped(source);
        }
        // A 16-bit result keeps the rest of the register; a 32-bit one clears the upper half in 64-bit code.
        if (bytes == 2) result = (w->Reg(engine, reg) & ~quint64(0xFFFF)) | result;
        w->uc->regWrite(engine, reg, &result);
    }
    const quint64 next = eip + d.length;
    w->uc->regWrite(engine, w->layout.pc, &next);
    if (w->stepwise)
        w->current = eip;  // counted by the code hook already
    else
        w->StoppedAt(eip, true);
    w->action = Watch::Action::Resume;
    return true;
}

}  // namespace

int BlockInfo::indexOf(quint64 address) const {
    if (address < start || ends.empty()) return -1;
    const auto it = std::lower_bound(ends.begin(), ends.end() - 1, quint32(address - start));
    if (it == ends.end() - 1 || *it != address - start) return -1;
    return int(it - ends.begin());
}

Watch::Watch(const UnicornFunctions *uc, const ProcessMemory &memory, quint64 codeSize)
    : uc(uc),
      layout(memory.layout()),
      codeBytes(memory.code()),
      codeBase(layout.codeBase),
      codeEnd(layout.codeBase + codeSize),
      codeMapped(memory.codeMapped()),
      current(layout.codeBase),
      clock(kClockBlocks),
      decodedIn(codeMapped, 0),
      seen(4096, nullptr),
      buffers(memory.buffers()) {
    resumeAt = layout.start;
    for (const ProcessBuffer &b : buffers) bufferStart[b.param] = b.address;
    tebWritten.assign(layout.tebEnd - layout.teb, false);
    for (quint64 at = 0; at < codeSize; ++at)
        if (x86::BreaksTheEmulator(codeBytes + at, quint32(std::min<quint64>(15, codeSize - at)), layout.long64()))
            exits.push_back(codeBase + at);
}

quint64 Watch::Reg(uc_engine *engine, int reg) const {
    quint64 value = 0;
    uc->regRead(engine, reg, &value);
    return value;
}

void Watch::Arm(EmulatedCpu &cpu) {
    cpu.hook(UC_HOOK_BLOCK, reinterpret_cast<void *>(&OnBlock), this);
    cpu.hook(UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(&OnInvalidMemory), this);
    cpu.hook(UC_HOOK_INTR, reinterpret_cast<void *>(&OnInterrupt), this);
    cpu.hook(UC_HOOK_INSN_INVALID, reinterpret_cast<void *>(&OnInvalidInstruction), this);
    for (quint64 address : hooked) cpu.hook(UC_HOOK_CODE, reinterpret_cast<void *>(&OnCheck), this, address, address);
    if (stepwise) cpu.hook(UC_HOOK_CODE, reinterpret_cast<void *>(&OnCode), this);
    for (const ProcessBuffer &b : buffers) {
        if (b.address > b.region)
            cpu.hook(UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(&OnBufferHead), this, b.region,
                     b.address - 1);
    }
    cpu.hook(UC_HOOK_MEM_READ, reinterpret_cast<void *>(&OnModelRead), this, layout.teb, layout.tebEnd - 1);
    cpu.hook(UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(&OnModelWrite), this, layout.teb, layout.tebEnd - 1);
    cpu.hook(UC_HOOK_MEM_READ, reinterpret_cast<void *>(&OnModelRead), this, layout.imageBase,
             layout.imageBase + kPage - 1);
    if (!exits.empty()) {
        std::vector<quint64> all = exits;
        all.push_back(layout.returnPoint);
        cpu.setExits(all);
    }
    if (!layout.long64())
        cpu.hook(UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(&OnCodeWrite), this, codeBase, codeBase + codeMapped - 1);
}

uc_err Watch::Run(EmulatedCpu &cpu) {
    for (;;) {
        action = Action::None;
        const uc_err status = cpu.run(resumeAt, layout.returnPoint);
        resumeAt = cpu.reg(layout.pc);
        if (resumeAt == layout.returnPoint && !stepwise) StoppedBetweenBlocks();  // the function's ret
        if (status != UC_ERR_OK || resumeAt == layout.returnPoint) return status;
        if (action == Action::None && std::binary_search(exits.begin(), exits.end(), resumeAt)) {
            // Every processor refuses it (#UD); the emulator was kept from translating it.
            invalid = true;
            if (!stepwise) StoppedBetweenBlocks();
            current = resumeAt;
            ++executed;
            return status;
        }
        switch (action) {
            case Action::None:
                return status;
            case Action::Renew:
                codeChanges = 0;
                codeWrites = 0;
                return status;
            case Action::Resume:
                break;
            case Action::Hook:
                for (quint64 address : toHook) {
                    cpu.hook(UC_HOOK_CODE, reinterpret_cast<void *>(&OnCheck), this, address, address);
                    hooked.insert(address);
                    cpu.forget(address, address + 1);
                }
                toHook.clear();
                break;
            case Action::Stepwise:
                stepwise = attention = true;
                cpu.hook(UC_HOOK_CODE, reinterpret_cast<void *>(&OnCode), this);
                cpu.forget(codeBase, codeBase + codeMapped);
                break;
        }
        if (!cpu.ok()) return UC_ERR_HOOK;
    }
}

void Watch::NewBlock(uc_engine *engine, quint64 address, quint32 size) {
    if (stepwise) {
        if (restartAt) {
            restarted = address == restartAt;
            if (!restarted) restartAt = 0;
        }
        stepStart = address;
        stepEnd = address + size;
        return;
    }
    if (ownWrite) {
        // The block wrote its own bytes; the emulator goes back to the instruction that wrote them, in a block of
        // its own: what the block ran is what came before that instruction.
        ownWrite = false;
        const int i = block ? block->indexOf(address) : -1;
        if (i >= 0) executed = countBefore + quint64(i);
    }
    BlockInfo *b = Find(address, size);
    if (b->kind == BlockInfo::Kind::Caller) {
        inCaller = true;
        return;
    }
    SlowBlock(engine, b);
}

BlockInfo *Watch::Find(quint64 start, quint32 size) {
    BlockInfo *&slot = seen[SeenSlot(start)];
    if (slot && slot->start == start && slot->size == size && slot->generation == generation) return slot;
    std::unique_ptr<BlockInfo> &known = blocks[start];
    if (!known) known = std::make_unique<BlockInfo>();
    if (known->size != size || known->generation != generation || known->ends.empty()) {
        known->start = start;
        known->size = size;
        Decode(*known);
    }
    slot = known.get();
    return slot;
}

void Watch::Decode(BlockInfo &b) {
    b.generation = generation;
    b.ends.clear();
    b.checks.clear();
    b.stepwise = false;
    b.plain = false;
    if (layout.isCaller(b.start)) {  // never plain: it is not counted
        b.kind = BlockInfo::Kind::Caller;
        b.ends.push_back(0);
        return;
    }
    if (b.start < codeBase || b.start >= codeEnd) {
        b.kind = BlockInfo::Kind::Outside;
        b.ends.push_back(0);
        return;
    }
    b.kind = BlockInfo::Kind::Function;
    const bool long64 = layout.long64();
    quint32 at = 0;
    x86::Kind lastKind = x86::Kind::Plain;
    b.ends.push_back(0);
    while (at < b.size) {
        const quint64 pc = b.start + at;
        const quint32 room = Room(this, pc);
        const quint32 length = room ? x86::InstructionLength(BytesAt(this, pc), room, long64) : 0;
        if (length == 0) {
            b.stepwise = true;
            break;
        }
        const x86::Decoded d = x86::Decode(BytesAt(this, pc), room, long64);
        lastKind = d.kind;
        if (d.privileged || d.systemCall || pc + length > codeEnd) b.stepwise = true;  // a stop, in this block
        if (d.aligned16 || d.mxcsrOffset >= 0 || IsLongRet(BytesAt(this, pc), length)) b.checks.push_back(pc);
        at += length;
        b.ends.push_back(at);
    }
    // The emulator ends a block at an instruction it refuses, some of which it reads only in part; popcnt and movbe
    // are carried out by the watch. Any other disagreement on where instructions end is run stepwise.
    const bool refused =
        lastKind == x86::Kind::Popcnt || lastKind == x86::Kind::MovbeLoad || lastKind == x86::Kind::MovbeStore;
    if (at != b.size && !(at > b.size && refused)) b.stepwise = true;
    const quint64 from = b.start - codeBase;
    std::fill(decodedIn.begin() + qsizetype(from),
              decodedIn.begin() + qsizetype(std::min<quint64>(from + std::max(at, b.size), codeMapped)),
              quint32(generation));
}

void Watch::SlowBlock(uc_engine *engine, BlockInfo *b) {
    if (b->kind == BlockInfo::Kind::Outside) {
        outside = true;
        outsideAddress = b->start;
        StoppedBetweenBlocks();
        Stop(engine);
        return;
    }
    if (!entered) Enter(engine);
    attention = false;
    if (clock == 0 || --clock == 0) {  // blocks that do not come the quick way count too
        clock = kClockBlocks;
        if (deadline.hasExpired()) {
            timedOut = true;
            StoppedBetweenBlocks();
            Stop(engine);
            return;
        }
    }
    if (target) {
        if (executed >= target->executed) {  // the block where the call stopped, or where it went another way
            target.reset();
            StoppedBetweenBlocks();
            Stop(engine, Action::Stepwise);
            return;
        }
        attention = true;
    }
    if (codeChanges >= kRenewAfter) {
        Stop(engine, Action::Renew);
        return;
    }
    if (b->stepwise) {
        StoppedBetweenBlocks();
        Stop(engine, Action::Stepwise);
        return;
    }
    if (executed >= limit) {
        limitReached = true;
        StoppedBetweenBlocks();
        Stop(engine);
        return;
    }
    if (executed + b->count() > limit) {
        StoppedBetweenBlocks();
        Stop(engine, Action::Stepwise);
        return;
    }
    if (!b->plain) {
        for (quint64 address : b->checks)
            if (!hooked.contains(address)) toHook.push_back(address);
        if (!toHook.empty()) {
            const bool many = hooked.size() + toHook.size() > kMaxHooked;
            if (many) {
                toHook.clear();
                StoppedBetweenBlocks();
            }
            Stop(engine, many ? Action::Stepwise : Action::Hook);
            return;
        }
        b->plain = true;
    }
    inCaller = false;
    block = b;
    countBefore = executed;
    executed += b->count();
}

void Watch::Enter(uc_engine *engine) {
    entered = true;
    ebpAtEntry = Reg(engine, UC_X86_REG_EBP);
    frame.resize(layout.stackTop - layout.frameAt);
    uc->memRead(engine, layout.frameAt, frame.data(), frame.size());
}

void Watch::Stop(uc_engine *engine, Action wanted) {
    if (wanted != Action::None) action = wanted;
    uc->emuStop(engine);
}

void Watch::StoppedBetweenBlocks() {
    if (block) current = block->last();
}

bool Watch::StoppedAt(quint64 address, bool ran) {
    const int i = block ? block->indexOf(address) : -1;
    if (i < 0) {
        StoppedInBlock();
        return false;
    }
    current = address;
    executed = countBefore + quint64(i) + (ran ? 1 : 0);
    return true;
}

void Watch::StoppedInBlock() {
    if (!block) return;
    stepAgain = StepTarget{block->start, countBefore};
    // Until it is run again: the block's first instruction.
    current = block->start;
    executed = countBefore + 1;
}
