// The SDK's own driver channel, scan functions, PCI map and Linux I2C adapter, unmodified,
// against the virtual rig through the real system calls. Runs inside qrt-sim; which rig it
// runs on is told by E2E_RIG (unset: rigs/bench.rig).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/bus/C_nkDTSI2C.h"
#include "core/controllers/eeprom/C_nkAT24C02D.h"
#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/C_pciMap.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

std::string rigName() {
    const char* rig = std::getenv("E2E_RIG");
    return rig ? rig : "bench";
}

// Skips a test that needs another rig than the one it runs on, or no rig at all.
#define REQUIRE_RIG(name)                                                        \
    do {                                                                         \
        if (std::getenv("QRT_SIM_SOCKET") == nullptr)                            \
            GTEST_SKIP() << "not running inside qrt-sim";                        \
        if (rigName() != (name))                                                 \
            GTEST_SKIP() << "needs rig " << (name) << ", runs on " << rigName(); \
    } while (0)

constexpr int kPlx = 0x10B5, kIntel = 0x8086, kBench = 0x1234;

class DriverThroughBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_RIG("bench");
        ASSERT_EQ(1u, io.open("___nk_pcimap"));
    }

    // Registers the SDK's three pairs; returns the number of devices found.
    int registerScanList() {
        int total = 0;
        const int pairs[3][2] = {{kIntel, 0x1563}, {kPlx, 0x8608}, {kPlx, 0x8718}};
        for (int i = 0; i < 3; ++i) {
            int first = -5, count = -5;
            EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&io, pairs[i][0], pairs[i][1], &first, &count,
                                                      i == 0 ? 1 : 0));
            total += count;
        }
        return total;
    }

    // The device index of the n-th function with this identity, after registering it alone.
    int indexOf(int vendor, int device, int nth = 0) {
        int first = -1, count = 0;
        EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&io, vendor, device, &first, &count, 1));
        return nth < count ? first + nth : -1;
    }

    static uint32_t read32(C_pciMap& map, unsigned long offset, int* status) {
        unsigned char bytes[4] = {0};
        *status = map.readRegister(offset, 4, bytes, 4);
        uint32_t value;
        std::memcpy(&value, bytes, 4);
        return value;
    }
    static int write32(C_pciMap& map, unsigned long offset, uint32_t value) {
        unsigned char bytes[4];
        std::memcpy(bytes, &value, 4);
        return map.writeRegister(offset, 4, bytes, 4);
    }

    C_linuxDriverIO io;
};

TEST_F(DriverThroughBridge, VersionComesFromTheDriver) {
    char version[16];
    EXPECT_EQ(0, ZEPPCIManager::getVersion(&io, version, sizeof version));
    EXPECT_STREQ("bench-1.0", version);
    char small[15];
    EXPECT_EQ(-11, ZEPPCIManager::getVersion(&io, small, sizeof small));
}

TEST_F(DriverThroughBridge, ScanRegistrationsCountTheRigsFunctionsInPciOrder) {
    int first = -5, count = -5;
    EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&io, kIntel, 0x1563, &first, &count, 1));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&io, kPlx, 0x8608, &first, &count, 0));
    EXPECT_EQ(2, count);
    EXPECT_EQ(0, first);  // section a
    EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&io, kPlx, 0x8718, &first, &count, 0));
    EXPECT_EQ(1, count);
    EXPECT_EQ(3, first);  // section d

    const int expected[4][2] = {{kPlx, 0x8608}, {kIntel, 0x1563}, {kPlx, 0x8608}, {kPlx, 0x8718}};
    for (int index = 0; index < 4; ++index) {
        int vendor = 0, device = 0;
        EXPECT_EQ(0, ZEPPCIManager::getIndexDevice(&io, index, &vendor, &device));
        EXPECT_EQ(expected[index][0], vendor) << index;
        EXPECT_EQ(expected[index][1], device) << index;
    }
    int vendor = 7, device = 7;
    EXPECT_EQ(-1, ZEPPCIManager::getIndexDevice(&io, 4, &vendor, &device));  // status 1

    ZEPPCIManager::__PCIMAP_PCIIDLIST list;
    std::memset(&list, 0xFF, sizeof list);
    EXPECT_EQ(0, ZEPPCIManager::getScanDeviceList(&io, &list));
    EXPECT_EQ(3, list.count);
    EXPECT_EQ(kIntel, list.firstTable[0]);
    EXPECT_EQ(0x8718, list.secondTable[2]);

    // A pair nobody has.
    EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&io, 0xABCD, 0x0001, &first, &count, 1));
    EXPECT_EQ(0, count);
}

TEST_F(DriverThroughBridge, RegistersRoundTripOnTheBoundFunctionOnly) {
    ASSERT_EQ(4, registerScanList());
    C_pciMap sectionA, sectionC;
    ASSERT_EQ(0, sectionA.initial(&io, 0));
    ASSERT_EQ(0, sectionC.initial(&io, 2));
    int status = -1;
    for (unsigned long offset : {0x0ul, 0x260ul, 0x644ul, 0xFFCul, 0x2000ul}) {
        uint32_t value = 0x5A000000u | uint32_t(offset);
        EXPECT_EQ(0, write32(sectionA, offset, value));
        EXPECT_EQ(value, read32(sectionA, offset, &status));
        EXPECT_EQ(0, status);
        EXPECT_EQ(0u, read32(sectionC, offset, &status));
    }
    unsigned char block[33] = {0};
    EXPECT_EQ(-11, sectionA.readRegister(0x0, 4, block, 33));
    EXPECT_EQ(0, sectionA.readRegister(0x0, 4, block, 32));

    int vendor = 0, device = 0;
    EXPECT_EQ(0, sectionC.getDeviceInfo(&vendor, &device));
    EXPECT_EQ(kPlx, vendor);
    EXPECT_EQ(0x8608, device);
}

TEST_F(DriverThroughBridge, TheDriverLockAdmitsOnlyItsHolder) {
    ASSERT_EQ(4, registerScanList());
    C_pciMap holder, other;
    ASSERT_EQ(0, holder.initial(&io, 3));
    ASSERT_EQ(0, other.initial(&io, 3));
    EXPECT_EQ(0, holder.tryLock());
    EXPECT_EQ(-11, holder.tryLock());  // already held by this map
    EXPECT_EQ(-100, other.tryLock());
    int status = 0;
    read32(other, 0x10, &status);
    EXPECT_EQ(-100, status);
    EXPECT_EQ(0, write32(holder, 0x10, 0x77));
    EXPECT_EQ(0, holder.unLock());
    EXPECT_EQ(0x77u, read32(other, 0x10, &status));
    EXPECT_EQ(0, status);
    EXPECT_EQ(0, other.tryLock());
    EXPECT_EQ(0, other.initial(&io, 3));  // re-binding releases the held lock first
    EXPECT_EQ(0, holder.tryLock());
    EXPECT_EQ(0, holder.unLock());
}

// Takes the lock of device 3 in a fresh process; returns that process's tryLock result.
int tryLockInChild(bool keepIt) {
    pid_t child = fork();
    if (child == 0) {
        C_linuxDriverIO io;
        if (!io.open("___nk_pcimap")) _exit(99);
        int first = 0, count = 0;
        ZEPPCIManager::addScanDevice(&io, kIntel, 0x1563, &first, &count, 1);
        ZEPPCIManager::addScanDevice(&io, kPlx, 0x8608, &first, &count, 0);
        ZEPPCIManager::addScanDevice(&io, kPlx, 0x8718, &first, &count, 0);
        C_pciMap map;
        map.initial(&io, 3);
        int result = map.tryLock();
        // Leaving without unLock: the driver must drop the lock with the process's file.
        if (keepIt) _exit(result == 0 ? 0 : 1);
        _exit(result == -100 ? 2 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(DriverThroughBridge, TheDriverLockSeparatesProcessesAndDiesWithItsHolder) {
    ASSERT_EQ(4, registerScanList());
    C_pciMap map;
    ASSERT_EQ(0, map.initial(&io, 3));
    ASSERT_EQ(0, map.tryLock());
    EXPECT_EQ(2, tryLockInChild(false));  // refused as busy
    ASSERT_EQ(0, map.unLock());
    EXPECT_EQ(0, tryLockInChild(true));  // taken, then the process ends holding it
    EXPECT_EQ(0, map.tryLock());
    EXPECT_EQ(0, map.unLock());
}

TEST_F(DriverThroughBridge, CachedCommandsRunInOrderOnExecute) {
    ASSERT_EQ(4, registerScanList());
    C_pciMap map;
    ASSERT_EQ(0, map.initial(&io, 0));
    ASSERT_EQ(0, write32(map, 0x644, 0xFFFF0000));
    auto queue = [&map](uint32_t value, uint32_t mask, unsigned settle) {
        unsigned char v[4], m[4];
        std::memcpy(v, &value, 4);
        std::memcpy(m, &mask, 4);
        return map.cacheWriteCmds(0x644, 4, v, m, 4, settle);
    };
    EXPECT_EQ(0, queue(0x1, 0x3, 10));
    EXPECT_EQ(0, queue(0x2, 0x2, 0));
    EXPECT_EQ(0, queue(0x0, 0x1, 10));
    int status = 0;
    EXPECT_EQ(0xFFFF0000u, read32(map, 0x644, &status));  // nothing until executed
    EXPECT_EQ(0, map.exeCmdCache());
    EXPECT_EQ(0xFFFF0002u, read32(map, 0x644, &status));

    EXPECT_EQ(0, queue(0xFFFFFFFF, 0xFFFFFFFF, 0));
    EXPECT_EQ(0, map.clearCmdCache());
    EXPECT_EQ(0, map.exeCmdCache());
    EXPECT_EQ(0xFFFF0002u, read32(map, 0x644, &status));
}

TEST_F(DriverThroughBridge, DriverStatusesMapAsTheLibraryPromises) {
    int first = -1, count = 0;
    ASSERT_EQ(0, ZEPPCIManager::addScanDevice(&io, kBench, 0x0001, &first, &count, 1));
    ASSERT_EQ(5, count);  // sections f1..f5: statuses 1, 2, 3, 4 and 255
    const int expected[5] = {-1, 0, -1, 0, -100};
    for (int i = 0; i < 5; ++i) {
        C_pciMap map;
        ASSERT_EQ(0, map.initial(&io, unsigned(first + i)));
        int status = 99;
        read32(map, 0x0, &status);
        EXPECT_EQ(expected[i], status) << "section f" << (i + 1);
        EXPECT_EQ(expected[i], write32(map, 0x0, 1)) << "section f" << (i + 1);
        EXPECT_EQ(expected[i], map.tryLock()) << "section f" << (i + 1);
    }
}

TEST_F(DriverThroughBridge, AFailingRequestIsMinusOneWhateverItsStatusField) {
    int index = indexOf(kBench, 0x0002);
    ASSERT_GE(index, 0);
    C_pciMap map;
    ASSERT_EQ(0, map.initial(&io, unsigned(index)));
    int status = 0;
    read32(map, 0x0, &status);
    EXPECT_EQ(-1, status);
    EXPECT_EQ(-1, map.tryLock());
    int vendor = 0, device = 0;
    EXPECT_EQ(-1, map.getDeviceInfo(&vendor, &device));
}

class I2cThroughBridge : public ::testing::Test {
  protected:
    void SetUp() override { REQUIRE_RIG("bench"); }
};

TEST_F(I2cThroughBridge, TheSdksAdapterWritesAndReadsTheBenchMemory) {
    C_nkDTSI2C bus;
    ASSERT_EQ(0, bus.initial(5));
    ASSERT_EQ(0, bus.setI2CSlave(0x50));
    unsigned char data[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(0, bus.writeI2C(0x20, 1, data, 4));
    unsigned char back[4] = {0};
    EXPECT_EQ(0, bus.readI2C(back, 4, 0x20, 1));
    EXPECT_THAT(back, ::testing::ElementsAre(0x11, 0x22, 0x33, 0x44));
    ASSERT_EQ(0, bus.setI2CSlave(0x51));
    EXPECT_EQ(-1, bus.writeI2C(0x20, 1, data, 1));  // nobody answers at 0x51
}

// The identity EEPROM as the embedded system reaches it: the kit's EEPROM class on a Linux
// adapter. Its pages take the chip's write cycle; the chip counts an address sent too soon.
TEST_F(I2cThroughBridge, TheSdksEepromWritesWholePagesAndWaitsOutEachWriteCycle) {
    C_nkDTSI2C bus;
    ASSERT_EQ(0, bus.initial(5));
    ASSERT_EQ(0, bus.setI2CSlave(0x52));
    C_nkAT24C02D eeprom;
    ASSERT_EQ(0, eeprom.initial(&bus));
    unsigned char data[20];
    for (unsigned i = 0; i < sizeof data; ++i) data[i] = static_cast<unsigned char>(0xC0 + i);
    EXPECT_EQ(0, eeprom.writeData(0x13, data, sizeof data));
    unsigned char back[20] = {0};
    EXPECT_EQ(0, eeprom.readData(0x13, back, sizeof back));
    EXPECT_EQ(0, std::memcmp(data, back, sizeof data));
}

TEST_F(I2cThroughBridge, RawI2cRdwrCarriesSeveralMessagesAndTheirData) {
    int fd = open("/dev/i2c-5", O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    // Held across the transactions, as every program of the kit holds it.
    ASSERT_EQ(0, flock(fd, LOCK_EX));
    unsigned char write1[] = {0x40, 0xA1, 0xA2};
    unsigned char write2[] = {0x42, 0xA3};
    unsigned char pointer[] = {0x40};
    unsigned char read[3] = {0};
    i2c_msg messages[] = {{0x50, 0, 3, write1},
                          {0x50, 0, 2, write2},
                          {0x50, 0, 1, pointer},
                          {0x50, I2C_M_RD, 3, read}};
    i2c_rdwr_ioctl_data transfer{messages, 4};
    EXPECT_EQ(4, ioctl(fd, I2C_RDWR, &transfer));
    EXPECT_THAT(read, ::testing::ElementsAre(0xA1, 0xA2, 0xA3));

    i2c_msg absent[] = {{0x33, 0, 1, pointer}};
    i2c_rdwr_ioctl_data nack{absent, 1};
    errno = 0;
    EXPECT_EQ(-1, ioctl(fd, I2C_RDWR, &nack));
    EXPECT_EQ(ENXIO, errno);

    unsigned long functions = 0;
    EXPECT_EQ(0, ioctl(fd, I2C_FUNCS, &functions));
    EXPECT_EQ(static_cast<unsigned long>(I2C_FUNC_I2C), functions & I2C_FUNC_I2C);

    // Plain read and write at the address chosen with I2C_SLAVE.
    EXPECT_EQ(0, ioctl(fd, I2C_SLAVE, 0x50));
    EXPECT_EQ(1, write(fd, pointer, 1));
    unsigned char plain[2] = {0};
    EXPECT_EQ(2, ::read(fd, plain, 2));
    EXPECT_THAT(plain, ::testing::ElementsAre(0xA1, 0xA2));
    EXPECT_EQ(0, close(fd));

    errno = 0;
    EXPECT_EQ(-1, open("/dev/i2c-6", O_RDWR));  // no board provides adapter 6
    EXPECT_EQ(ENOENT, errno);
}

TEST(ScanFaults, InjectedScanStatusesAndFailingRequestsReachTheCaller) {
    REQUIRE_RIG("scan-faults");
    C_linuxDriverIO io;
    ASSERT_EQ(1u, io.open("___nk_pcimap"));
    int first = 0, count = 7;
    EXPECT_EQ(-1, ZEPPCIManager::addScanDevice(&io, kPlx, 0x8608, &first, &count, 1));  // status 3
    EXPECT_EQ(0, count);
    ZEPPCIManager::__PCIMAP_PCIIDLIST list;
    EXPECT_EQ(-1, ZEPPCIManager::getScanDeviceList(&io, &list));  // the request fails
    char version[16];
    EXPECT_EQ(-1, ZEPPCIManager::getVersion(&io, version, sizeof version));
}

TEST(MissingDriverNode, OpeningFailsAndRequestsFailAtTheCaller) {
    REQUIRE_RIG("no-driver");
    C_linuxDriverIO io;
    EXPECT_EQ(0u, io.open("___nk_pcimap"));
    errno = 0;
    EXPECT_EQ(-1, open("/dev/___nk_pcimap", O_RDWR));
    EXPECT_EQ(ENOENT, errno);
    char version[16];
    EXPECT_EQ(-1, ZEPPCIManager::getVersion(&io, version, sizeof version));
    C_pciMap map;
    EXPECT_EQ(0, map.initial(&io, 0));
    unsigned char bytes[4];
    EXPECT_EQ(-1, map.readRegister(0, 4, bytes, 4));
}

}  // namespace
