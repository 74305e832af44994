// A PCI map's own rules: nothing before it is bound, transfers of at most 32 bytes, and the
// life of the driver lock key.

#include <gtest/gtest.h>

#include <vector>

#include "core/driver/C_pciMap.h"
#include "driver/FakeDriverChannel.h"

using namespace fakedriver;

namespace {

// Grants the driver lock with `key`; the unlock request reports `unlockStatus`.
void driverLocks(FakeDriverChannel& driver, uint32_t key, const int32_t* unlockStatus = nullptr) {
    driver.answer = [key, unlockStatus](unsigned long request, Record& r) {
        if (request == kLock) r.put(4, 4, key);
        if (request == kUnlock && unlockStatus) r.put(8, 4, uint32_t(*unlockStatus));
    };
}

}  // namespace

TEST(PciMap, AnUnboundMapAnswersNotInitialised) {
    C_pciMap map;
    unsigned char data[4] = {};
    int a, b;
    EXPECT_EQ(-13, map.getDeviceInfo(&a, &b));
    EXPECT_EQ(-13, map.readRegister(0, 4, data, 4));
    EXPECT_EQ(-13, map.writeRegister(0, 4, data, 4));
    EXPECT_EQ(-13, map.cacheWriteCmds(0, 4, data, data, 4, 0));
    EXPECT_EQ(-13, map.clearCmdCache());
    EXPECT_EQ(-13, map.exeCmdCache());
    EXPECT_EQ(-13, map.tryLock());
    EXPECT_EQ(-13, map.unLock());
}

TEST(PciMap, TransfersAreLimitedToThirtyTwoBytesAndNeedABuffer) {
    FakeDriverChannel driver;
    C_pciMap map;
    map.initial(&driver, 0);
    std::vector<uint8_t> data(33, 0x5A);
    EXPECT_EQ(-11, map.readRegister(0, 4, data.data(), 33));
    EXPECT_EQ(-11, map.writeRegister(0, 4, data.data(), 33));
    EXPECT_EQ(-11, map.cacheWriteCmds(0, 4, data.data(), data.data(), 33, 0));
    EXPECT_EQ(-11, map.writeRegister(0, 4, nullptr, 4));
    EXPECT_EQ(-11, map.cacheWriteCmds(0, 4, data.data(), nullptr, 4, 0));
    EXPECT_TRUE(driver.sent.empty());

    EXPECT_EQ(0, map.writeRegister(0, 4, data.data(), 32));
    EXPECT_EQ(0x5A5A5A5A5A5A5A5Aull, driver.last().at(56, 8));  // last 8 of the 32 data bytes
    EXPECT_EQ(0, map.readRegister(0, 4, data.data(), 32));
    EXPECT_EQ(0, map.cacheWriteCmds(0, 4, data.data(), data.data(), 32, 0));
    EXPECT_EQ(3u, driver.sent.size());
}

TEST(PciMap, TheLockKeyIsHeldOnceAndReleasedOnceAtTheLatestWithTheMap) {
    FakeDriverChannel driver;
    driverLocks(driver, 0x1234);
    {
        C_pciMap map;
        map.initial(&driver, 4);
        EXPECT_EQ(0, map.unLock());  // nothing held: nothing asked
        EXPECT_TRUE(driver.sent.empty());
        EXPECT_EQ(0, map.tryLock());
        EXPECT_EQ(-11, map.tryLock());  // already held: not asked again
        EXPECT_EQ(0, map.unLock());
        EXPECT_EQ(0, map.unLock());
        EXPECT_EQ(2u, driver.sent.size());
        unsigned char data[4];
        map.readRegister(0, 4, data, 4);
        EXPECT_EQ(0u, driver.last().at(28, 4));  // accesses no longer carry the key
        EXPECT_EQ(0, map.tryLock());
    }
    EXPECT_EQ(kUnlock, driver.last().request);  // released by the destructor
    EXPECT_EQ(4u, driver.last().at(0, 4));
    EXPECT_EQ(0x1234u, driver.last().at(4, 4));
}

TEST(PciMap, ARefusedLockIsNotKeptAndAnUnreleasedKeyIsOfferedAgain) {
    FakeDriverChannel driver;
    driver.answer = [](unsigned long, Record& r) { r.put(8, 4, 255); };
    C_pciMap map;
    map.initial(&driver, 0);
    EXPECT_EQ(-100, map.tryLock());
    EXPECT_EQ(-100, map.tryLock());  // asked again, not "already held"

    int32_t unlockStatus = 1;
    driverLocks(driver, 0x55, &unlockStatus);
    ASSERT_EQ(0, map.tryLock());
    EXPECT_EQ(-1, map.unLock());
    unlockStatus = 0;
    EXPECT_EQ(0, map.unLock());
    EXPECT_EQ(0x55u, driver.last().at(4, 4));
}

TEST(PciMap, RebindingReleasesThePreviousDevicesLockFirstAndNeverCarriesItOver) {
    FakeDriverChannel first, second;
    const int32_t refused = 3;
    driverLocks(first, 0x77);
    driverLocks(second, 0x31, &refused);
    C_pciMap map;
    map.initial(&first, 5);
    ASSERT_EQ(0, map.tryLock());

    EXPECT_EQ(0, map.initial(&second, 6));
    EXPECT_EQ(kUnlock, first.last().request);
    EXPECT_EQ(5u, first.last().at(0, 4));
    EXPECT_EQ(0x77u, first.last().at(4, 4));
    unsigned char data[4];
    map.readRegister(0, 4, data, 4);
    EXPECT_EQ(6u, second.last().at(16, 4));
    EXPECT_EQ(0u, second.last().at(28, 4));

    // A key the driver would not release belongs to its device and is dropped on rebinding.
    ASSERT_EQ(0, map.tryLock());
    map.initial(&second, 7);
    EXPECT_EQ(0, map.tryLock());  // not "already held"
    EXPECT_EQ(7u, second.last().at(0, 4));
}
