#pragma once

#include "trial/process.h"

#include <QDeadlineTimer>
#include <QString>

#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The watch over the CPU during a trial. Most of the time it sees only the
// start of each translated block, where it counts the block's instructions;
// the instructions that need a look of their own (the aligned SSE forms,
// ldmxcsr and fxrstor, ret n of 32 KiB or more) get a hook each, and a block
// in which the call is bound to stop (a privileged instruction, the end of
// the function's bytes, the instruction limit) is run instruction by
// instruction. A memory fault leaves the processor's position inside its
// block unknown, so the call is then run again, as fast up to that block and
// instruction by instruction in it.

// A block the emulator translated, as the watch decoded it.
struct BlockInfo {
    enum class Kind : quint8 { Function, Caller, Outside };

    quint64 start = 0;
    quint32 size = 0;
    quint64 generation = 0;  // of the function's bytes it was decoded from
    Kind kind = Kind::Function;
    bool plain = false;           // counted at its start and nothing more
    bool stepwise = false;        // run instruction by instruction: it holds a stop, or the decoding is in doubt
    std::vector<quint32> ends;    // where each instruction starts, from start, then where the last one ends
    std::vector<quint64> checks;  // the instructions that need a hook of their own

    quint32 count() const { return ends.empty() ? 0 : quint32(ends.size() - 1); }
    quint64 last() const { return start + ends[ends.size() - 2]; }
    // The instruction starting at address, or -1.
    int indexOf(quint64 address) const;
};

// Where a call is to be run stepwise when it is run again: the block, and the
// instructions counted before it.
struct StepTarget {
    quint64 start = 0;
    quint64 executed = 0;
};

struct Watch {
    // Renew: the emulator's translated code has grown with code that rewrites itself; the call goes on in a fresh
    // emulator, with the same process (ProcessMemory) and the processor's state.
    enum class Action { None, Resume, Hook, Stepwise, Renew };

    Watch(const UnicornFunctions *uc, const ProcessMemory &memory, quint64 codeSize);

    // Adds the hooks to an emulator: at the start, and again to a fresh one.
    void Arm(EmulatedCpu &cpu);
    // Runs the call until it returns, stops, or asks for a fresh emulator (action Renew); the emulator's last answer.
    uc_err Run(EmulatedCpu &cpu);

    const UnicornFunctions *uc;
    const ProcessLayout &layout;
    const quint8 *codeBytes;  // the host memory behind the function's region
    quint64 codeBase, codeEnd, codeMapped;
    quint64 limit = 0;
    QDeadlineTimer deadline;
    std::optional<StepTarget> target;  // run again: stepwise from this block on

    // What the call did.
    quint64 executed = 0;
    quint64 current = 0;  // the last instruction started in the function
    bool entered = false;
    quint64 ebpAtEntry = 0;
    std::vector<quint8> frame;  // the caller's frame above the arguments, as the function found it
    const char *privileged = nullptr;
    bool limitReached = false, timedOut = false;
    bool outside = false;  // executing outside the function's bytes, but in memory it was given
    quint64 outsideAddress = 0;
    bool memoryFault = false;
    uc_mem_type memoryType = UC_MEM_READ;
    quint64 memoryAddress = 0;
    int interrupt = -1;
    QString interruptDetail;
    bool invalid = false, unsupported = false;
    QString systemCall;  // a call into the kernel the trial cannot answer: why
    QString unmodeled;   // data the model lacks that the code read: which
    QStringList notes;
    std::vector<quint64> exits;     // instructions every processor refuses that the emulator would fail on
    std::vector<bool> tebWritten;  // the thread and process blocks' bytes the code wrote
    // A fault whose instruction is known only to be in this block: the call has to be run again to tell it.
    std::optional<StepTarget> stepAgain;

    // The watch's own state.
    bool stepwise = false;  // every instruction has the code hook
    Action action = Action::None;
    std::vector<quint64> toHook;
    bool inCaller = true;
    const BlockInfo *block = nullptr;  // the function's block being run
    quint64 countBefore = 0;           // instructions before it
    bool attention = true;             // the next block goes the slow way
    quint32 clock = 0;
    quint64 generation = 1;
    std::vector<quint32> decodedIn;  // per byte of the function's memory: the generation that decoded it
    bool ownWrite = false;           // the running block wrote its own bytes: the emulator goes back into it
    quint64 restartAt = 0;           // stepwise: an instruction the emulator runs again after it wrote its own block
    bool restarted = false;
    quint64 codeChanges = 0;  // since the emulator was fresh: its translated code that changed
    quint64 codeWrites = 0;   // the same, stepwise: every write to the function's memory
    quint64 resumeAt = 0;     // where Run goes on
    std::unordered_map<quint64, std::unique_ptr<BlockInfo>> blocks;
    std::vector<BlockInfo *> seen;  // a cache in front of blocks
    std::unordered_set<quint64> hooked;
    QList<ProcessBuffer> buffers;
    quint64 bufferStart[kCallParamCount] = {};  // in each buffer region, 0 when it holds none
    const BlockInfo *stepBlock = nullptr;       // stepwise: the translated block running, for the own-write check
    quint64 stepStart = 0, stepEnd = 0;

    static size_t SeenSlot(quint64 start) { return (start ^ (start >> 10)) & 4095; }
    // A block the quick look at its start did not count.
    void NewBlock(uc_engine *engine, quint64 address, quint32 size);
    BlockInfo *Find(quint64 start, quint32 size);
    void Decode(BlockInfo &b);
    void SlowBlock(uc_engine *engine, BlockInfo *b);
    void Enter(uc_engine *engine);
    void Stop(uc_engine *engine, Action wanted = Action::None);
    // The last instruction of the function that ran: where a call that stopped between blocks stopped.
    void StoppedBetweenBlocks();
    // An instruction of the running block stopped the call; ran: whether it counts as executed. False when the
    // block holds no instruction there.
    bool StoppedAt(quint64 address, bool ran);
    // Somewhere in the running block: the call is to be run again to tell where.
    void StoppedInBlock();
    quint64 Reg(uc_engine *engine, int reg) const;
};
