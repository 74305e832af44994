// Bench boards for the rig's own end-to-end tests, loaded with `qrt-sim --plugin`: a PCI
// function of any identity that can emit Ethernet frames, and an I2C adapter with a memory on
// it (and, when asked, an AT24C02D, the identity EEPROM the embedded system reaches over such
// an adapter). They keep the tests of the driver and the bridge independent of the product
// boards.

#include <memory>

#include "sim/boards/Board.h"
#include "sim/boards/PlainBoard.h"
#include "sim/chips/At24c02d.h"
#include "support/I2cMemorySlave.h"

namespace {

using namespace qrtsim;

// Writing a length (14..1514) to this register sends a frame of that length: broadcast
// destination, source 02:00:00:00:00:01, ether type 0x88B5, then bytes counting up.
constexpr uint64_t kSendFrameRegister = 0xF00;

class FrameFunction : public RegisterFileFunction {
  public:
    FrameFunction(uint16_t vendor, uint16_t device, FrameSink& frames)
        : RegisterFileFunction(vendor, device), frames_(frames) {}

    void writeRegister32(uint64_t offset, uint32_t value) override {
        RegisterFileFunction::writeRegister32(offset, value);
        if (offset != kSendFrameRegister || value < 14 || value > 1514) return;
        std::vector<uint8_t> frame(value);
        for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i);
        const uint8_t header[14] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02,
                                    0x00, 0x00, 0x00, 0x00, 0x01, 0x88, 0xB5};
        std::copy(header, header + 14, frame.begin());
        frames_.emitFrame(frame);
    }

  private:
    FrameSink& frames_;
};

class BenchPciBoard : public Board {
  public:
    BenchPciBoard(const BoardConfig& config, BoardContext& context)
        : function_(uint16_t(config.integer("vendor", 0x1234, 0, 0xFFFF)),
                    uint16_t(config.integer("device", 0x0001, 0, 0xFFFF)), *context.frames) {}
    std::vector<PciFunction*> pciFunctions() override { return {&function_}; }
    void saveState(nlohmann::json& out) const override { function_.saveState(out["registers"]); }

  private:
    FrameFunction function_;
};

class BenchI2cBoard : public Board {
  public:
    BenchI2cBoard(const BoardConfig& config, BoardContext& context)
        : adapter_(int(config.integer("adapter", 5, 0, 255))) {
        bus_.attach(uint8_t(config.integer("address", 0x50, 0x08, 0x77)), &memory_);
        if (config.has("eeprom")) {
            eeprom_.setClock(*context.clock);
            bus_.attach(uint8_t(config.integer("eeprom", 0x50, 0x08, 0x77)), &eeprom_);
        }
    }
    std::map<int, I2cBus*> i2cAdapters() override { return {{adapter_, &bus_}}; }
    void saveState(nlohmann::json& out) const override {
        out["memory_0x10"] = {memory_.memory[0x10], memory_.memory[0x11], memory_.memory[0x12]};
        eeprom_.saveState(out["eeprom"]);
    }

  private:
    int adapter_;
    I2cBus bus_;
    qrttest::I2cMemorySlave memory_;
    At24c02d eeprom_;
};

const BoardRegistrar kRegistrars[] = {
    BoardRegistrar{BoardType{"BENCH-PCI",
                             {"vendor", "device"},
                             [](const BoardConfig& config, BoardContext& context) {
                                 return std::unique_ptr<Board>(new BenchPciBoard(config, context));
                             }}},
    BoardRegistrar{BoardType{"BENCH-I2C",
                             {"adapter", "address", "eeprom"},
                             [](const BoardConfig& config, BoardContext& context) {
                                 return std::unique_ptr<Board>(new BenchI2cBoard(config, context));
                             }}},
};

}  // namespace
