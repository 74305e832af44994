// The PCI function of the virtual machine the kernel module is tested in, as a rig board
// (loaded with `qrt-sim --plugin`), so that one list of driver cases runs against the rig's
// driver model and the module alike:
//
// - QEMU-EDU: QEMU's educational device (1234:11e8), memory BAR 0 of 1 MiB. Registers are
//   32-bit below 0x80: 0x00 identity 0x010000ed (read-only), 0x04 liveness (reads the inverse
//   of what was written), 0x08 factorial (writing n computes n!, modulo 2^32; status bit 0 is
//   set while it computes), 0x20 status (only bit 7, interrupt on completion, is writable),
//   0x24 interrupt status, 0x60 raise and 0x64 acknowledge interrupt bits. From 0x80, the DMA
//   engine's 64-bit registers (source 0x80, destination 0x88, count 0x90, command 0x98): a
//   32-bit write at their own offset sets the whole register to the zero-extended value, a read
//   returns its low word; nothing answers at the upper halves. Unanswered reads give all ones.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "sim/boards/Board.h"
#include "sim/chips/Violations.h"

namespace {

using namespace qrtsim;

class EduFunction : public PciFunction {
  public:
    static constexpr uint64_t kBarBytes = 0x100000;

    uint16_t vendorId() const override { return 0x1234; }
    uint16_t deviceId() const override { return 0x11E8; }

    uint32_t readRegister32(uint64_t offset) override {
        if (!insideBar(offset)) return kNoAnswer;
        switch (offset) {
            case 0x00:
                return kIdentity;
            case 0x04:
                return liveness_;
            case 0x08:
                return factorial_;
            case 0x20:
                return status_;
            case 0x24:
                return interrupts_;
            default:
                break;
        }
        auto dma = dma_.find(offset);
        return dma != dma_.end() ? uint32_t(dma->second) : kNoAnswer;
    }

    void writeRegister32(uint64_t offset, uint32_t value) override {
        if (!insideBar(offset)) return;
        switch (offset) {
            case 0x04:
                liveness_ = ~value;
                return;
            case 0x08:
                // The chip computes in the background; the result is there before the status
                // can be read again.
                factorial_ = factorial(value);
                return;
            case 0x20:
                status_ = value & kStatusIrqOnFactorial;
                return;
            case 0x60:
                interrupts_ |= value;
                return;
            case 0x64:
                interrupts_ &= ~value;
                return;
            default:
                break;
        }
        auto dma = dma_.find(offset);
        if (dma == dma_.end()) return;
        // Starting a transfer would move guest memory: no driver case may do it.
        if (offset == kDmaCommand && (value & 1)) violations_.count("dma-start");
        dma->second = value;
    }

    void saveState(nlohmann::json& out) const override {
        out["liveness"] = liveness_;
        out["violations"] = violations_.toJson();
    }

  private:
    static constexpr uint32_t kIdentity = 0x010000ED;
    static constexpr uint32_t kNoAnswer = 0xFFFFFFFF;
    static constexpr uint32_t kStatusIrqOnFactorial = 0x80;
    static constexpr uint64_t kDmaCommand = 0x98;

    // n! modulo 2^32; from 34! on, 2^32 divides it.
    static uint32_t factorial(uint32_t n) {
        if (n >= 34) return 0;
        uint32_t result = 1;
        for (uint32_t i = 2; i <= n; ++i) result *= i;
        return result;
    }

    bool insideBar(uint64_t offset) {
        if (offset + 4 <= kBarBytes) return true;
        violations_.count("outside-bar", std::to_string(offset));
        return false;
    }

    uint32_t liveness_ = 0;
    uint32_t factorial_ = 0;
    uint32_t status_ = 0;
    uint32_t interrupts_ = 0;
    std::map<uint64_t, uint64_t> dma_ = {{0x80, 0}, {0x88, 0}, {0x90, 0}, {kDmaCommand, 0}};
    Violations violations_{"edu"};
};

template <typename Function>
class SingleFunctionBoard : public Board {
  public:
    std::vector<PciFunction*> pciFunctions() override { return {&function_}; }
    void saveState(nlohmann::json& out) const override { function_.saveState(out); }

  private:
    Function function_;
};

template <typename Function>
BoardType singleFunctionType(const char* model) {
    return BoardType{model, {}, [](const BoardConfig&, BoardContext&) {
                         return std::unique_ptr<Board>(new SingleFunctionBoard<Function>());
                     }};
}

const BoardRegistrar kRegistrar{singleFunctionType<EduFunction>("QEMU-EDU")};

}  // namespace
