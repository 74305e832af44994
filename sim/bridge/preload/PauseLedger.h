#pragma once

// The ledger of pauses that `qrt-sim --skip-pauses` shares with the programs of its rig.
//
// The SDK never measures time: every wait is a fixed pause through usleep(). In a run with
// skipped pauses the preloaded bridge answers usleep() at once and counts the pause here
// instead: how many pauses each process image asked for and their total length. While a
// process has a second thread it sleeps its pauses for real (another thread may be waiting on
// a lock or a socket in real time); they are still counted, and their length shows as slept.
// Pauses of concurrent threads overlap, so each record also keeps the longest path: the
// pauses along the longest chain of one thread's pauses, a thread taking on its creator's at
// its start and a joiner the joined thread's at the join. That is how long the process waits.
//
// The ledger is a shared memory file of qrt-sim; programs find it through the environment
// variable QRT_SIM_PAUSES (a path they can open read-write) and map it. A process image claims
// a free record on its first pause (fork and exec make new images) by writing its process id
// into it; qrt-sim gives the records of ended processes back (retire), so a rig serves any
// number of processes over its life. An image that finds no free record (more processes
// pausing at once than there are records) counts in the shared overflow record and sleeps its
// pauses for real, since nothing could tell its own pauses apart. Every count is updated with
// atomic operations, so the ledger is right whichever way a process ends, _exit and signals
// included. The skipped part is counted apart, not as requested minus slept: the rig's clock
// follows it while the programs run, and two additions could be seen half done.
//
// Header only and free of the C++ library: the preload side runs inside arbitrary programs.

#include <stdint.h>

namespace qrtsim {
namespace pauses {

constexpr const char kLedgerVariable[] = "QRT_SIM_PAUSES";
constexpr uint32_t kLedgerMagic = 0x32525450;  // "PTR2"
constexpr uint32_t kProcessRecords = 512;
constexpr uint32_t kProgramNameBytes = 32;

// The pauses of one process image. Written only with atomic operations.
struct ProcessPauses {
    int32_t pid;  // 0: the record is free
    uint32_t reserved;
    uint64_t serial;       // the order of first pauses over the rig's life (overflow: its images)
    uint64_t count;        // pauses requested
    uint64_t requestedUs;  // their total length in microseconds
    uint64_t skippedUs;    // the part not slept (the rest was slept for real)
    uint64_t pathUs;       // the longest path's pauses (see above)
    char program[kProgramNameBytes];  // the program's short name, NUL-terminated
};

struct PauseLedger {
    uint32_t magic;
    uint32_t records;  // kProcessRecords
    uint64_t claims;   // records claimed over the rig's life: the next claim's serial
    uint32_t used;  // one past the highest record ever claimed (free ones are taken lowest first)
    uint32_t reserved;
    ProcessPauses overflow;  // the process images that found no record, together
    ProcessPauses retired;   // the records given back, added up (pid and serial unused)
    ProcessPauses process[kProcessRecords];
};

}  // namespace pauses
}  // namespace qrtsim
