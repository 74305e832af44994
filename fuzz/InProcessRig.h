#pragma once

// The virtual rig inside the fuzzing process: every card model of the kit on the rig's kernel
// driver model, reached by the SDK's own product manager through a driver channel that hands
// each request to the driver model as the kernel would (a copy of the record in, the answer
// back). Detection runs once; the products then take the calls of every input.
//
// Pauses are not slept: usleep() is answered at once and its length put on the rig's clock (the
// pause ledger's shared record), so the chips see a program that waited exactly as asked.
// After each input the rig's violation total must be unchanged: no call, whatever its
// arguments, may make the SDK break a chip's protocol.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "C_visionProductManager.h"
#include "core/driver/I_driverIO.h"
#include "sim/bridge/preload/PauseLedger.h"
#include "sim/chips/Violations.h"
#include "sim/rig/PcapWriter.h"
#include "sim/rig/Rig.h"

namespace fuzzrig {

inline qrtsim::pauses::PauseLedger& ledger() {
    static qrtsim::pauses::PauseLedger ledger = [] {
        qrtsim::pauses::PauseLedger fresh{};
        fresh.magic = qrtsim::pauses::kLedgerMagic;
        fresh.records = qrtsim::pauses::kProcessRecords;
        return fresh;
    }();
    return ledger;
}

class DriverChannel : public I_driverIO {
  public:
    explicit DriverChannel(qrtsim::VirtualPciDriver& driver) : driver_(driver) {}
    unsigned open(const char*) override {
        file_ = driver_.open();
        return 1;
    }
    unsigned close() override {
        file_.reset();
        return 1;
    }
    unsigned ioctl(unsigned long request, void* record, unsigned length) override {
        if (!file_ || record == nullptr) return 0;
        auto* bytes = static_cast<uint8_t*>(record);
        std::vector<uint8_t> copy(bytes, bytes + length);
        if (driver_.request(*file_, request, copy) != 0) return 0;
        std::memcpy(bytes, copy.data(), std::min<size_t>(length, copy.size()));
        return 1;
    }

  private:
    qrtsim::VirtualPciDriver& driver_;
    std::unique_ptr<qrtsim::VirtualPciDriver::OpenFile> file_;
};

// Detection probes one card after the other: the rig's models serve one request at a time
// from this process's only thread, as the rig's server thread would.
class Manager : public C_visionProductManager {
  public:
    explicit Manager(I_driverIO* driverIO)
        : C_visionProductManager(driverIO, C_visionProductFactory::builtInSeries(), 1) {}
};

// Every card model of the kit, one of each.
inline qrtsim::RigDescription cards() {
    qrtsim::RigDescription rig;
    rig.file = "<fuzz rig>";
    const char* const models[] = {
        "PCIe-W504",     "PCIe-W508P",        "PCIe-W512",   "PCIe-RHX44+", "PCIe-RHX52",
        "PCIe-RHX54PRO", "PCIe-RHXGPU-P1000", "PCIe-RHX10T", "PCIe-RHX54P", "PCIe-RHX52PPRO",
    };
    int index = 0;
    for (const char* model : models) {
        qrtsim::BoardConfig board;
        board.file = rig.file;
        board.section = "card" + std::to_string(10 + index++);
        board.values["model"] = model;
        rig.boards.push_back(board);
    }
    return rig;
}

struct InProcessRig {
    qrtsim::PcapWriter frames;  // not opened: frames go nowhere
    qrtsim::Rig rig{cards(), qrtsim::Rig::Trace(), frames};
    DriverChannel channel{*rig.pciDriver()};
    std::unique_ptr<Manager> manager;

    InProcessRig() {
        rig.clock().followLedger(&ledger());
        manager = std::make_unique<Manager>(&channel);
    }

    uint64_t violations() const {
        nlohmann::json state;
        rig.saveState(state);
        return state.value("violations", uint64_t(0));
    }
    // Aborts (a finding) when the rig counted violations since the last check.
    void checkViolations() {
        const uint64_t now = violations();
        if (now == seen_) return;
        nlohmann::json state;
        rig.saveState(state);
        std::fprintf(stderr, "rig protocol violations:\n%s\n",
                     qrtsim::Violations::describe(state).c_str());
        std::abort();
    }

    static InProcessRig& instance() {
        static InProcessRig rig;
        return rig;
    }

  private:
    uint64_t seen_ = 0;
};

}  // namespace fuzzrig

// The SDK's pauses, answered at once and put on the rig's clock.
extern "C" int usleep(useconds_t us) {
    __atomic_add_fetch(&fuzzrig::ledger().overflow.requestedUs, us, __ATOMIC_RELAXED);
    __atomic_add_fetch(&fuzzrig::ledger().overflow.skippedUs, us, __ATOMIC_RELAXED);
    __atomic_add_fetch(&fuzzrig::ledger().overflow.count, 1, __ATOMIC_RELAXED);
    return 0;
}
