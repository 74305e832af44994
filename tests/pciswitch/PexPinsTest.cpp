// Pin caches and each chip's register layout, identity checks at initial, the access lock.

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "pciswitch/FakeSwitchMap.h"

namespace {

constexpr auto kPex8608 = C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608;
constexpr auto kPex8718 = C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718;
constexpr auto kIn = I_nkGPIO::APGPIO_INPUT;
constexpr auto kOut = I_nkGPIO::APGPIO_OUTPUT;

TEST(PexPins, Pex8608OutputWordCarriesOnlyOutputPinsThatAreHigh) {
    C_nkPCISwitcherFactory factory;
    FakeSwitchMap map(0x10B5, 0x8608);
    I_nkPCISwitcher* sw = factory.create(kPex8608);
    ASSERT_EQ(sw->initial(&map), QRT_SUCCESS);
    sw->setGPIODirection(0, kOut);
    sw->setGPIODirection(1, kOut);
    ASSERT_EQ(sw->setGPO(0, 1), QRT_SUCCESS);
    map.registers[0x644] = 0xFFFF;  // written whole, never merged with what is there
    ASSERT_EQ(sw->applyGPO(), QRT_SUCCESS);
    EXPECT_EQ(map.registers[0x644], 0x00000001u);
    sw->setGPIODirection(0, kIn);
    ASSERT_EQ(sw->applyGPO(), QRT_SUCCESS);
    EXPECT_EQ(map.registers[0x644], 0u);
    // An input has no level to set; pins end at the chip's count.
    EXPECT_EQ(sw->setGPO(3, 1), QRT_ERR_FAILED);
    EXPECT_EQ(sw->setGPO(16, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(factory.create(kPex8718)->setGPIODirection(6, kOut), QRT_ERR_INVALID_PARAM);
}

TEST(PexPins, Pex8718DirectionWriteTouchesOnlyEachPinsOutputBit) {
    C_nkPCISwitcherFactory factory;
    FakeSwitchMap map(0x10B5, 0x8718);
    I_nkPCISwitcher* sw = factory.create(kPex8718);
    ASSERT_EQ(sw->initial(&map), QRT_SUCCESS);
    for (unsigned pin = 0; pin < 6; ++pin) sw->setGPIODirection(pin, pin == 5 ? kOut : kIn);
    const uint32_t before = 0xA5A5A5A5 | (1u << 2) | (1u << 8);
    map.registers[0x600] = before;
    ASSERT_EQ(sw->applyGPIODirection(), QRT_SUCCESS);
    const uint32_t outputBits = (1u << 2) | (1u << 5) | (1u << 8) | (1u << 11) | (1u << 14);
    EXPECT_EQ(map.registers[0x600], ((before & ~outputBits) | (1u << 17)));
}

TEST(PexPins, UpdateReadsDirectionsThenLevelsFromTheRegisterOfEachDirection) {
    C_nkPCISwitcherFactory factory;
    FakeSwitchMap map(0x10B5, 0x8608);
    // Pin 0 output (bit 1); pin 1 has only its lower bit (bit 2): still an input.
    map.registers[0x62C] = (1u << 1) | (1u << 2);
    map.registers[0x63C] = 0x0002;  // input levels: pin 1 high, pin 0 low
    map.registers[0x644] = 0x0001;  // output levels: pin 0 high, pin 1 low
    I_nkPCISwitcher* sw = factory.create(kPex8608);
    ASSERT_EQ(sw->initial(&map), QRT_SUCCESS);
    I_nkGPIO::APGPIO_DIRECTION dir;
    int level0 = -1, level1 = -1;
    sw->getGPIODirection(1, &dir);
    EXPECT_EQ(dir, kIn);
    sw->getGPIO(0, &level0);
    sw->getGPIO(1, &level1);
    EXPECT_EQ(level0, 1);
    EXPECT_EQ(level1, 1);
    // The cache changes with updateGPIO only.
    map.registers[0x63C] = 0;
    sw->getGPIO(1, &level1);
    EXPECT_EQ(level1, 1);
    ASSERT_EQ(sw->updateGPIO(), QRT_SUCCESS);
    sw->getGPIO(1, &level1);
    EXPECT_EQ(level1, 0);
}

TEST(PexIdentity, InitialAcceptsOnlyItsOwnChipAndKeepsItsBindingOtherwise) {
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* sw = factory.create(kPex8608);
    FakeSwitchMap other(0x10B5, 0x8718);
    FakeSwitchMap own(0x10B5, 0x8608);
    EXPECT_EQ(sw->initial(&other), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->applyGPO(), QRT_ERR_NOT_INITIALIZED);
    EXPECT_TRUE(other.log.empty());
    ASSERT_EQ(sw->initial(&own), QRT_SUCCESS);
    EXPECT_EQ(sw->initial(&other), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->applyGPO(), QRT_SUCCESS);  // still on its own map
    EXPECT_EQ(sw->initial(nullptr), QRT_ERR_NOT_INITIALIZED);
    EXPECT_EQ(sw->applyGPO(), QRT_ERR_NOT_INITIALIZED);
    // A pin read failing during initial fails it, but the switch is bound.
    own.failures[0x63C] = QRT_ERR_BUSY;
    EXPECT_EQ(sw->initial(&own), QRT_ERR_FAILED);
    EXPECT_EQ(sw->updateGPIO(), QRT_ERR_BUSY);
    EXPECT_EQ(factory.create(static_cast<C_nkPCISwitcherFactory::NK_PCISWITCHERTYPE>(1)), nullptr);
}

TEST(PexIdentity, ChipNameHasNoTerminatorAndTheAccessLockIsTheProcesss) {
    C_nkPCISwitcherFactory factory;
    I_nkPCISwitcher* sw = factory.create(kPex8718);
    char name[9] = "########";
    ASSERT_EQ(sw->getChipName(name, 8), QRT_SUCCESS);
    EXPECT_STREQ(name, "Pex8718#");
    EXPECT_EQ(sw->tryLockOpation(), QRT_ERR_NOT_INITIALIZED);
    FakeSwitchMap map(0x10B5, 0x8718);
    ASSERT_EQ(sw->initial(&map), QRT_SUCCESS);
    const int afterInitial = map.lockCalls;
    // Taken twice (two users in one process), the driver's lock is requested once and given
    // back with the last release.
    ASSERT_EQ(sw->tryLockOpation(), QRT_SUCCESS);
    ASSERT_EQ(sw->tryLockOpation(), QRT_SUCCESS);
    EXPECT_EQ(sw->unLockOpation(), QRT_SUCCESS);
    EXPECT_TRUE(map.locked);
    EXPECT_EQ(sw->unLockOpation(), QRT_SUCCESS);
    EXPECT_FALSE(map.locked);
    EXPECT_EQ(map.lockCalls - afterInitial, 1);
    EXPECT_EQ(sw->unLockOpation(), QRT_ERR_INVALID_PARAM);
}

// Every register sequence of the switch runs under the driver's lock (no other process's
// access falls between its accesses), and the lock is given back when it ends.
TEST(PexAccessLock, EveryRegisterAccessIsMadeUnderTheDriversLock) {
    C_nkPCISwitcherFactory factory;
    FakeSwitchMap map(0x10B5, 0x8608);
    I_nkPCISwitcher* sw = factory.create(kPex8608);
    unsigned char word[4] = {1, 2, 3, 4};
    const std::vector<std::function<int()>> operations = {
        [&] { return sw->initial(&map); },          [&] { return sw->writeSPI(0x10, word, 4); },
        [&] { return sw->readSPI(0x10, word, 4); }, [&] { return sw->applyGPIODirection(); },
        [&] { return sw->updateGPIODirection(); },  [&] { return sw->applyGPO(); },
        [&] { return sw->updateGPIO(); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        map.log.clear();
        ASSERT_EQ(operations[i](), QRT_SUCCESS) << "operation " << i;
        EXPECT_FALSE(map.log.empty()) << "operation " << i;
        for (const FakeSwitchMap::Access& access : map.log)
            EXPECT_TRUE(access.locked) << "operation " << i << " offset " << access.offset;
        EXPECT_FALSE(map.locked) << "operation " << i;
    }
}

// Threads reading and writing one switch's pins at once (built with ThreadSanitizer, any race on
// the pin caches is reported).
TEST(PexAccessLock, ThreadsOnOneSwitchShareItsPinCachesSafely) {
    C_nkPCISwitcherFactory factory;
    FakeSwitchMap map(0x10B5, 0x8608);
    I_nkPCISwitcher* sw = factory.create(kPex8608);
    ASSERT_EQ(sw->initial(&map), QRT_SUCCESS);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([sw, t] {
            for (int round = 0; round < 200; ++round) {
                I_nkGPIO::APGPIO_DIRECTION dir = kIn;
                int level = 0;
                EXPECT_EQ(sw->setGPIODirection(6 + t, round % 2 ? kOut : kIn), QRT_SUCCESS);
                EXPECT_EQ(sw->applyGPIODirection(), QRT_SUCCESS);
                EXPECT_EQ(sw->updateGPIODirection(), QRT_SUCCESS);
                EXPECT_EQ(sw->getGPIODirection(6 + t, &dir), QRT_SUCCESS);
                EXPECT_EQ(sw->updateGPIO(), QRT_SUCCESS);
                EXPECT_EQ(sw->getGPIO(6 + t, &level), QRT_SUCCESS);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace
