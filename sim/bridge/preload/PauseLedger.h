#pragma once

// The ledger of pauses that `qrt-sim --skip-pauses` shares with the programs of its rig.
//
// The SDK never measures time: every wait is a fixed pause through usleep(). In a run with
// skipped pauses the preloaded bridge answers usleep() at once and counts the pause here
// instead: how many pauses each process image asked for and their total length. A process that
// has started a second thread sleeps its pauses for real (another thread may be waiting on a
// lock or a socket in real time); they are still counted, and their length shows as slept.
//
// The ledger is a shared memory file of qrt-sim; programs find it through the environment
// variable QRT_SIM_PAUSES (a path they can open read-write) and map it. A process image claims
// a record on its first pause (fork and exec make new images); records beyond the last go to
// one shared overflow record. Every count is updated with atomic additions, so the ledger is
// right whichever way a process ends, _exit and signals included.
//
// Header only and free of the C++ library: the preload side runs inside arbitrary programs.

#include <stdint.h>

namespace qrtsim {
namespace pauses {

constexpr const char kLedgerVariable[] = "QRT_SIM_PAUSES";
constexpr uint32_t kLedgerMagic = 0x51525450;  // "PTRQ"
constexpr uint32_t kProcessRecords = 512;
constexpr uint32_t kProgramNameBytes = 32;

// The pauses of one process image. Written only with atomic operations.
struct ProcessPauses {
    int32_t pid;
    uint32_t reserved;
    uint64_t count;                   // pauses requested
    uint64_t requestedUs;             // their total length in microseconds
    uint64_t sleptUs;                 // the part slept for real (the process had a second thread)
    char program[kProgramNameBytes];  // the program's short name, NUL-terminated
};

struct PauseLedger {
    uint32_t magic;
    uint32_t records;  // kProcessRecords
    uint32_t claimed;  // records handed out; beyond `records`: overflow
    uint32_t reserved;
    ProcessPauses overflow;  // the process images that found no record, together
    ProcessPauses process[kProcessRecords];
};

}  // namespace pauses
}  // namespace qrtsim
