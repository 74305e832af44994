// Pin caches and their register layouts on both switch chips, identity checks at initial, the
// device access lock pair and the factory.

#include <gtest/gtest.h>

#include <cstring>

#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "pciswitch/FakeSwitchMap.h"

namespace {

using Dir = I_nkGPIO::APGPIO_DIRECTION;

struct BoundSwitch {
    explicit BoundSwitch(C_nkPCISwitcherFactory::NK_PCISWITCHERTYPE type, int device)
        : map(0x10B5, device), sw(factory.create(type)) {}
    int bind() { return sw->initial(&map); }

    FakeSwitchMap map;
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* sw;
};

TEST(PexPins, Pex8608OutputWordCarriesOnlyOutputPinsThatAreHigh) {
    BoundSwitch s(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    ASSERT_EQ(s.bind(), QRT_SUCCESS);
    ASSERT_EQ(s.sw->setGPIODirection(0, I_nkGPIO::APGPIO_OUTPUT), QRT_SUCCESS);
    ASSERT_EQ(s.sw->setGPIODirection(1, I_nkGPIO::APGPIO_OUTPUT), QRT_SUCCESS);
    ASSERT_EQ(s.sw->setGPO(0, 1), QRT_SUCCESS);
    s.map.registers[0x644] = 0xFFFF;  // applyGPO must not merge with what is there
    s.map.log.clear();
    ASSERT_EQ(s.sw->applyGPO(), QRT_SUCCESS);
    ASSERT_EQ(s.map.writes().size(), 1u);
    EXPECT_EQ(s.map.writes()[0].offset, 0x644u);
    EXPECT_EQ(s.map.writes()[0].value, 0x00000001u);

    // Pin 0 turned back into an input: its cached high level no longer reaches the chip.
    ASSERT_EQ(s.sw->setGPIODirection(0, I_nkGPIO::APGPIO_INPUT), QRT_SUCCESS);
    ASSERT_EQ(s.sw->applyGPO(), QRT_SUCCESS);
    EXPECT_EQ(s.map.registers[0x644], 0u);
}

TEST(PexPins, SetGPOOnAnInputPinIsRefusedAndNotCached) {
    BoundSwitch s(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    ASSERT_EQ(s.bind(), QRT_SUCCESS);
    EXPECT_EQ(s.sw->setGPO(3, 1), QRT_ERR_FAILED);
    int value = -1;
    ASSERT_EQ(s.sw->getGPIO(3, &value), QRT_SUCCESS);
    EXPECT_EQ(value, 0);
}

TEST(PexPins, Pex8718DirectionWriteTouchesOnlyEachPinsOutputBit) {
    BoundSwitch s(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718, 0x8718);
    ASSERT_EQ(s.bind(), QRT_SUCCESS);
    for (unsigned pin = 0; pin < 6; ++pin)
        ASSERT_EQ(s.sw->setGPIODirection(
                      pin, pin == 5 ? I_nkGPIO::APGPIO_OUTPUT : I_nkGPIO::APGPIO_INPUT),
                  QRT_SUCCESS);
    const uint32_t before = 0xA5A5A5A5 | (1u << 2) | (1u << 8);
    s.map.registers[0x600] = before;
    ASSERT_EQ(s.sw->applyGPIODirection(), QRT_SUCCESS);
    const uint32_t outputBits = (1u << 2) | (1u << 5) | (1u << 8) | (1u << 11) | (1u << 14);
    EXPECT_EQ(s.map.registers[0x600], ((before & ~outputBits) | (1u << 17)));
}

TEST(PexPins, Pex8608DirectionReadUsesTheUpperBitOfEachPair) {
    BoundSwitch s(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, 0x8608);
    // Pin 0 output (bit 1), pin 1 only its lower bit set (bit 2: still input), pin 15 output.
    s.map.registers[0x62C] = (1u << 1) | (1u << 2) | (1u << 31);
    ASSERT_EQ(s.bind(), QRT_SUCCESS);
    Dir dir;
    ASSERT_EQ(s.sw->getGPIODirection(0, &dir), QRT_SUCCESS);
    EXPECT_EQ(dir, I_nkGPIO::APGPIO_OUTPUT);
    ASSERT_EQ(s.sw->getGPIODirection(1, &dir), QRT_SUCCESS);
    EXPECT_EQ(dir, I_nkGPIO::APGPIO_INPUT);
    ASSERT_EQ(s.sw->getGPIODirection(15, &dir), QRT_SUCCESS);
    EXPECT_EQ(dir, I_nkGPIO::APGPIO_OUTPUT);
}

TEST(PexPins, PinLevelsComeFromTheOutputRegisterForOutputsAndTheInputRegisterForInputs) {
    BoundSwitch s(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718, 0x8718);
    s.map.registers[0x600] = 1u << (3 * 4 + 2);  // pin 4 output
    s.map.registers[0x61C] = 0x02;               // inputs: pin 1 high, pin 4 low
    s.map.registers[0x624] = 0x10;               // outputs: pin 4 high, pin 1 low
    ASSERT_EQ(s.bind(), QRT_SUCCESS);
    int level = -1;
    ASSERT_EQ(s.sw->getGPIO(1, &level), QRT_SUCCESS);
    EXPECT_EQ(level, 1);
    ASSERT_EQ(s.sw->getGPIO(4, &level), QRT_SUCCESS);
    EXPECT_EQ(level, 1);
    ASSERT_EQ(s.sw->getGPIO(0, &level), QRT_SUCCESS);
    EXPECT_EQ(level, 0);

    // A later change of the board's levels shows after updateGPIO only.
    s.map.registers[0x61C] = 0x01;
    ASSERT_EQ(s.sw->getGPIO(0, &level), QRT_SUCCESS);
    EXPECT_EQ(level, 0);
    ASSERT_EQ(s.sw->updateGPIO(), QRT_SUCCESS);
    ASSERT_EQ(s.sw->getGPIO(0, &level), QRT_SUCCESS);
    EXPECT_EQ(level, 1);
}

TEST(PexPins, PinNumbersBeyondTheChipAreRefused) {
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* pex8718 = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718);
    I_nkPCISwitcher* pex8608 = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    Dir dir;
    int value;
    EXPECT_EQ(pex8718->setGPIODirection(6, I_nkGPIO::APGPIO_OUTPUT), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(pex8718->getGPIODirection(6, &dir), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(pex8718->getGPIO(6, &value), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(pex8608->setGPIODirection(15, I_nkGPIO::APGPIO_OUTPUT), QRT_SUCCESS);
    EXPECT_EQ(pex8608->setGPO(16, 1), QRT_ERR_INVALID_PARAM);
    unsigned count = 0;
    ASSERT_EQ(pex8718->getGPIONums(&count), QRT_SUCCESS);
    EXPECT_EQ(count, 6u);
    ASSERT_EQ(pex8608->getGPIONums(&count), QRT_SUCCESS);
    EXPECT_EQ(count, 16u);
}

TEST(PexIdentity, InitialAcceptsOnlyItsOwnChipAndKeepsItsBindingOtherwise) {
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* sw = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    FakeSwitchMap other(0x10B5, 0x8718);
    FakeSwitchMap foreignVendor(0x8086, 0x8608);
    EXPECT_EQ(sw->initial(&other), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->initial(&foreignVendor), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->initial(nullptr), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->applyGPO(), QRT_ERR_NOT_INITIALIZED);
    EXPECT_TRUE(other.log.empty());

    FakeSwitchMap own(0x10B5, 0x8608);
    ASSERT_EQ(sw->initial(&own), QRT_SUCCESS);
    // A failed identity query or a wrong chip leaves the switch on its map.
    own.log.clear();
    EXPECT_EQ(sw->initial(&other), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->applyGPO(), QRT_SUCCESS);
    EXPECT_EQ(own.writes().size(), 1u);
    // A null map unbinds.
    EXPECT_EQ(sw->initial(nullptr), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->applyGPO(), QRT_ERR_NOT_INITIALIZED);
}

TEST(PexIdentity, AFailedPinReadDuringInitialFailsButLeavesTheSwitchBound) {
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* sw = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    FakeSwitchMap map(0x10B5, 0x8608);
    map.readFailures[0x63C] = QRT_ERR_BUSY;
    EXPECT_EQ(sw->initial(&map), QRT_ERR_FAILED);
    map.readFailures.clear();
    EXPECT_EQ(sw->updateGPIO(), QRT_SUCCESS);
    // The pin transfers pass the map's own failure through.
    map.writeFailures[0x644] = QRT_ERR_BUSY;
    EXPECT_EQ(sw->applyGPO(), QRT_ERR_BUSY);
}

TEST(PexIdentity, ChipNamesAreCopiedWithoutTerminator) {
    C_nkPCISwitcherFactory factory;
    char name[8];
    std::memset(name, '#', sizeof(name));
    ASSERT_EQ(factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718)->getChipName(name, 8),
              QRT_SUCCESS);
    EXPECT_EQ(std::string(name, 8), std::string("Pex8718") + '#');
    std::memset(name, '#', sizeof(name));
    ASSERT_EQ(factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608)->getChipName(name, 3),
              QRT_SUCCESS);
    EXPECT_EQ(std::string(name, 8), "Pex#####");
}

TEST(PexIdentity, OutputRegisterOffsetAndUnsupportedBuses) {
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* pex8608 = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    I_nkPCISwitcher* pex8718 = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718);
    int offset = 0;
    ASSERT_EQ(pex8608->getGPOAddr(&offset), QRT_SUCCESS);
    EXPECT_EQ(offset, 0x644);
    ASSERT_EQ(pex8718->getGPOAddr(&offset), QRT_SUCCESS);
    EXPECT_EQ(offset, 0x624);
    unsigned char byte = 0;
    EXPECT_EQ(pex8608->setI2CSlave(0x50), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(pex8608->readI2C(&byte, 1, 0, 1), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(pex8608->setSPISlave(0), QRT_ERR_NOT_SUPPORTED);
}

TEST(PexIdentity, AccessLockPairGoesToTheMapOnceBound) {
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* sw = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718);
    EXPECT_EQ(sw->tryLockOpation(), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->unLockOpation(), QRT_ERR_NOT_INITIALIZED);
    FakeSwitchMap map(0x10B5, 0x8718);
    ASSERT_EQ(sw->initial(&map), QRT_SUCCESS);
    map.lockStatus = QRT_ERR_INVALID_PARAM;  // the map already holds the driver's lock
    EXPECT_EQ(sw->tryLockOpation(), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(sw->unLockOpation(), QRT_SUCCESS);
    EXPECT_EQ(map.lockCalls, 1);
    EXPECT_EQ(map.unlockCalls, 1);
}

TEST(PexFactory, CreatesTheChipOfEachTypeAndNothingForOthers) {
    C_nkPCISwitcherFactory factory;
    EXPECT_EQ(factory.create(static_cast<C_nkPCISwitcherFactory::NK_PCISWITCHERTYPE>(1)), nullptr);
    EXPECT_EQ(factory.create(static_cast<C_nkPCISwitcherFactory::NK_PCISWITCHERTYPE>(3)), nullptr);
    I_nkPCISwitcher* a = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    I_nkPCISwitcher* b = factory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
}

}  // namespace
