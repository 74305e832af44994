// The PCIe-RHX44+ board of the rig: the PoE power chip behind the I2C bus that the host
// bit-bangs on two switch pins, driven here the way the kit's driver runs a command cache
// (masked writes of the switch's GPIO output register, each with its settling time). A correct
// transaction reaches the chip; each fault a host could make shows as one violation kind.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/boards/Rhx44PlusCard.h"

namespace {

using namespace qrtsim;

constexpr uint64_t kDirection = 0x62C;
constexpr uint64_t kOutput = 0x644;

// A host that queues pin steps and runs them as one command cache.
class PinHost {
  public:
    explicit PinHost(PciFunction& function) : fn_(function) {
        fn_.writeRegister32(kDirection, 0xA);  // pins 0 and 1 outputs (bits 1 and 3)
    }
    // -1 leaves the line alone.
    void step(int scl, int sda, unsigned settle) { steps_.push_back({scl, sda, settle}); }
    void execute() {
        for (const Step& s : steps_) {
            uint32_t value = fn_.readRegister32(kOutput);
            if (s.scl >= 0) value = (value & ~1u) | uint32_t(s.scl);
            if (s.sda >= 0) value = (value & ~2u) | uint32_t(s.sda) << 1;
            fn_.cachedWriteMask(kOutput, (s.scl >= 0 ? 1u : 0u) | (s.sda >= 0 ? 2u : 0u));
            fn_.writeRegister32(kOutput, value);
            fn_.cachedWriteSettled(s.settle);
        }
        fn_.commandCacheExecuted();
        steps_.clear();
    }

  private:
    struct Step {
        int scl, sda;
        unsigned settle;
    };
    PciFunction& fn_;
    std::vector<Step> steps_;
};

// The host's faults a case can switch on.
struct Faults {
    unsigned clockSettle = 10;  // after each clock edge of a bit
    bool dataWhileClockHigh = false;
    bool noStop = false;
    bool stopWithoutDataLow = false;
    bool dataStepDrivesClock = false;
};

void transaction(PinHost& host, const std::vector<uint8_t>& bytes, const Faults& f) {
    host.step(1, 1, 10);
    host.step(-1, 0, 0);
    host.step(0, -1, 10);
    for (uint8_t byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            if (f.dataWhileClockHigh && bit == 3) {
                host.step(1, -1, 10);
                host.step(-1, (byte >> bit) & 1, 0);
            } else {
                host.step(f.dataStepDrivesClock ? 0 : -1, (byte >> bit) & 1, 0);
                host.step(1, -1, f.clockSettle);
            }
            host.step(0, -1, f.clockSettle);
        }
        host.step(1, -1, 10);
        host.step(0, -1, 10);
    }
    if (!f.noStop) {
        if (!f.stopWithoutDataLow) host.step(-1, 0, 0);
        host.step(1, -1, 0);
        host.step(-1, 1, 0);
    }
    host.execute();
}

std::unique_ptr<Rhx44PlusCard> makeCard() {
    BoardConfig config;
    config.file = "test.rig";
    config.section = "c";
    config.values = {{"model", "PCIe-RHX44+"}};
    BoardContext context;
    return std::make_unique<Rhx44PlusCard>(config, context);
}

// What the bus and the power chip counted, by kind.
unsigned violationsOf(Rhx44PlusCard& card, const std::string& kind) {
    return card.gpioBus().violations().of(kind) + card.powerChip().violations().of(kind);
}

TEST(Rhx44PlusBus, ACleanTransactionReachesThePowerChipAtItsStop) {
    auto card = makeCard();
    PinHost host(*card->pciFunctions()[0]);
    transaction(host, {0x40, 0xCA, 0x00, 0x00, 0x00}, {});
    transaction(host, {0x40, 0x30, 0x01, 0x0D, 0x00}, {});
    EXPECT_EQ(card->powerChip().portMask(), 0x0D);
    EXPECT_EQ(card->powerChip().dcEnabled(), 0x0F);
    EXPECT_EQ(card->powerChip().acEnabled(), 0x00);
    EXPECT_EQ(card->gpioBus().transactions(), 2u);
    EXPECT_EQ(card->gpioBus().bursts(), 2u);
    EXPECT_EQ(card->gpioBus().violations().total() + card->powerChip().violations().total(), 0u);
}

TEST(Rhx44PlusBus, EachHostFaultIsAViolationOfItsKind) {
    struct Case {
        const char* kind;
        std::vector<uint8_t> bytes;
        Faults faults;
    };
    const std::vector<uint8_t> power = {0x40, 0x30, 0x01, 0x05, 0x00};
    const Case cases[] = {
        {"clock-high-too-short", power, {4, false, false}},
        {"clock-low-too-short", power, {4, false, false}},
        {"glitch", power, {10, true, false}},
        {"split-transaction", power, {10, false, true}},
        {"data-not-set", power, {10, false, false, true}},
        {"data-step-drives-clock", power, {10, false, false, false, true}},
        {"ac-before-dc", {0x40, 0x95, 0x00, 0x0F, 0x00}, {}},
        {"nack", {0x42, 0x30, 0x01, 0x05, 0x00}, {}},             // nobody at 0x21
        {"unknown-command", {0x40, 0x31, 0x01, 0x05, 0x00}, {}},  // and its nack
        {"too-short", {0x40, 0x30, 0x01}, {}},
        {"bad-value", {0x40, 0x30, 0x01, 0x15, 0x00}, {}},  // a fifth port
        {"read-request", {0x41, 0x30}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        auto card = makeCard();
        PinHost host(*card->pciFunctions()[0]);
        transaction(host, c.bytes, c.faults);
        EXPECT_GE(violationsOf(*card, c.kind), 1u);
    }
}

}  // namespace
