// One list of driver-channel cases for the two implementations of "/dev/___nk_pcimap": the
// rig's driver model (this program under qrt-sim with qemu.rig) and the kernel module in a
// virtual machine (scripts/driver-vm-test.sh, the module told to list QEMU's educational
// device 1234:11e8 as a test device). Both present two such devices (memory BAR 0 of 1 MiB),
// in the same order. The cases go through the SDK's own driver channel, scan functions and PCI
// map, and through raw records where the library would refuse to send them.

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/C_pciMap.h"
#include "core/driver/DriverRecords.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

constexpr int kEduVendor = 0x1234, kEduDevice = 0x11E8;

// Registers of the educational device.
constexpr unsigned long kIdentity = 0x00, kLiveness = 0x04, kFactorial = 0x08, kStatus = 0x20;
constexpr unsigned long kDmaSource = 0x80, kDmaDestination = 0x88;
constexpr uint32_t kEduIdentity = 0x010000ED;
constexpr uint32_t kComputing = 0x01;
constexpr unsigned long kEduBarBytes = 0x100000;

bool onRig() {
    return std::getenv("QRT_SIM_SOCKET") != nullptr;
}

uint32_t read32(C_pciMap& map, unsigned long offset, int* status = nullptr) {
    unsigned char bytes[4] = {0};
    int result = map.readRegister(offset, 4, bytes, 4);
    if (status != nullptr) *status = result;
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

int write32(C_pciMap& map, unsigned long offset, uint32_t value) {
    unsigned char bytes[4];
    std::memcpy(bytes, &value, 4);
    return map.writeRegister(offset, 4, bytes, 4);
}

int queue32(C_pciMap& map, unsigned long offset, uint32_t value, uint32_t mask, unsigned settle) {
    unsigned char data[4], second[4];
    std::memcpy(data, &value, 4);
    std::memcpy(second, &mask, 4);
    return map.cacheWriteCmds(offset, 4, data, second, 4, settle);
}

// An open file of the driver with the educational devices registered: the first at index
// `edu`, `count` of them.
struct Channel {
    Channel() {
        opened = io.open(nkpcimap::kDeviceName) == 1;
        ZEPPCIManager::addScanDevice(&io, kEduVendor, kEduDevice, &edu, &count, 1);
    }
    C_linuxDriverIO io;
    bool opened = false;
    int edu = -1;
    int count = 0;
};

class DriverCase : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(channel.opened) << "cannot open /dev/" << nkpcimap::kDeviceName;
        ASSERT_EQ(2, channel.count);
        ASSERT_EQ(0, channel.edu);
        ASSERT_EQ(0, edu.initial(&channel.io, channel.edu));
        ASSERT_EQ(0, second.initial(&channel.io, 1));
    }

    // A raw request; the driver's status field is returned through `status` when asked.
    template <typename Record>
    int raw(unsigned long code, Record& record) {
        errno = 0;
        return channel.io.ioctl(code, &record, sizeof record) == 1 ? 0 : errno;
    }

    nkpcimap::RegisterAccessRecord access(uint32_t operation, uint64_t offset, uint32_t width,
                                          uint32_t length, uint32_t index = 0) {
        // Fields in record order: offset, length, width, device index, operation.
        return nkpcimap::RegisterAccessRecord{offset, length, width, index, operation,
                                              0,      0,      {},    {}};
    }

    Channel channel;
    C_pciMap edu;
    C_pciMap second;
};

TEST_F(DriverCase, RegistrationsListTheMatchingFunctionsInPciOrder) {
    int vendor = 0, device = 0;
    EXPECT_EQ(0, ZEPPCIManager::getIndexDevice(&channel.io, 1, &vendor, &device));
    EXPECT_EQ(kEduVendor, vendor);
    EXPECT_EQ(kEduDevice, device);
    EXPECT_EQ(0, edu.getDeviceInfo(&vendor, &device));
    EXPECT_EQ(kEduDevice, device);
    EXPECT_EQ(-1, ZEPPCIManager::getIndexDevice(&channel.io, 2, &vendor, &device));
    // Each device has registers of its own.
    ASSERT_EQ(0, write32(edu, kLiveness, 0x1));
    ASSERT_EQ(0, write32(second, kLiveness, 0x2));
    EXPECT_EQ(~0x1u, read32(edu, kLiveness));

    int first = 7, count = 7;
    EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&channel.io, 0xABCD, 0x0001, &first, &count, 0));
    EXPECT_EQ(0, count);
    EXPECT_EQ(-1, first);
    // Registered again, the pair keeps its place and its functions.
    EXPECT_EQ(0,
              ZEPPCIManager::addScanDevice(&channel.io, kEduVendor, kEduDevice, &first, &count, 0));
    EXPECT_EQ(2, count);
    EXPECT_EQ(0, first);
    ZEPPCIManager::__PCIMAP_PCIIDLIST list;
    std::memset(&list, 0x5A, sizeof list);
    EXPECT_EQ(0, ZEPPCIManager::getScanDeviceList(&channel.io, &list));
    EXPECT_EQ(2, list.count);  // the pair registered twice counts once
    EXPECT_EQ(kEduVendor, list.firstTable[0]);
    EXPECT_EQ(0x0001, list.secondTable[1]);
    EXPECT_EQ(0, list.firstTable[2]);

    // Flag 1 starts a fresh list: the pair without devices alone.
    EXPECT_EQ(0, ZEPPCIManager::addScanDevice(&channel.io, 0xABCD, 0x0001, &first, &count, 1));
    EXPECT_EQ(0, count);
    EXPECT_EQ(-1, edu.getDeviceInfo(&vendor, &device));
    EXPECT_EQ(0, ZEPPCIManager::getScanDeviceList(&channel.io, &list));
    EXPECT_EQ(1, list.count);
}

TEST_F(DriverCase, RegistersAnswerAsTheChipDoes) {
    int status = -1;
    EXPECT_EQ(kEduIdentity, read32(edu, kIdentity, &status));
    EXPECT_EQ(0, status);
    for (uint32_t value : {0x00000000u, 0x12345678u, 0xFFFFFFFFu}) {
        EXPECT_EQ(0, write32(edu, kLiveness, value));
        EXPECT_EQ(~value, read32(edu, kLiveness));
    }
    EXPECT_EQ(0, write32(edu, kIdentity, 0));  // read-only
    EXPECT_EQ(kEduIdentity, read32(edu, kIdentity));

    for (uint32_t n : {5u, 12u}) {
        EXPECT_EQ(0, write32(edu, kFactorial, n));
        int polls = 0;
        while ((read32(edu, kStatus) & kComputing) != 0 && ++polls < 1000000) {
        }
        EXPECT_EQ(n == 5 ? 120u : 479001600u, read32(edu, kFactorial));
    }

    // Eight registers in one request; nothing answers at 0x0c.
    EXPECT_EQ(0, write32(edu, kLiveness, 0x0F0F0F0F));
    uint32_t block[8];
    EXPECT_EQ(0, edu.readRegister(0x0, 4, reinterpret_cast<unsigned char*>(block), 32));
    EXPECT_EQ(kEduIdentity, block[0]);
    EXPECT_EQ(0xF0F0F0F0u, block[1]);
    EXPECT_EQ(0xFFFFFFFFu, block[3]);
    unsigned char tooLong[33];
    EXPECT_EQ(-11, edu.readRegister(0x0, 4, tooLong, 33));  // refused before any request
}

TEST_F(DriverCase, NarrowAndWideUnitsMapOntoThirtyTwoBitRegisters) {
    unsigned char bytes[8] = {0};
    for (unsigned at = 0; at < 4; ++at) {
        EXPECT_EQ(0, edu.readRegister(kIdentity + at, 1, bytes, 1));
        EXPECT_EQ(uint8_t(kEduIdentity >> (8 * at)), bytes[0]) << at;
    }
    EXPECT_EQ(0, edu.readRegister(kIdentity + 2, 2, bytes, 2));
    EXPECT_EQ(0x01, bytes[1]);

    EXPECT_EQ(0, write32(edu, kDmaSource, 0x11223344));
    unsigned char byte = 0xAB, half[2] = {0xEF, 0xCD};
    EXPECT_EQ(0, edu.writeRegister(kDmaSource + 1, 1, &byte, 1));
    EXPECT_EQ(0x1122AB44u, read32(edu, kDmaSource));
    EXPECT_EQ(0, edu.writeRegister(kDmaSource + 2, 2, half, 2));
    EXPECT_EQ(0xCDEFAB44u, read32(edu, kDmaSource));

    // An 8-byte unit is two registers, low word first: identity, then liveness.
    const uint64_t pair = 0x13572468FFFFFFFFull;
    std::memcpy(bytes, &pair, 8);
    EXPECT_EQ(0, edu.writeRegister(kIdentity, 8, bytes, 8));
    EXPECT_EQ(~0x13572468u, read32(edu, kLiveness));
    uint64_t both = 0;
    EXPECT_EQ(0, edu.readRegister(kIdentity, 8, reinterpret_cast<unsigned char*>(&both), 8));
    EXPECT_EQ(uint64_t(~0x13572468u) << 32 | kEduIdentity, both);
}

TEST_F(DriverCase, MalformedAccessesAreRefusedAsInvalidAndTouchNothing) {
    EXPECT_EQ(0, write32(edu, kDmaDestination, 0x600DF00D));
    const struct {
        uint32_t operation;
        uint64_t offset;
        uint32_t width, length, index;
    } invalid[] = {
        {2, kDmaDestination, 4, 33, 0},  // longer than the data block
        {2, kDmaDestination, 4, 0, 0},          {2, kDmaDestination + 2, 4, 4, 0},  // misaligned
        {2, kDmaDestination, 3, 3, 0},          {2, kDmaDestination, 16, 16, 0},    // no such width
        {2, kDmaDestination, 4, 6, 0},                                          // not whole units
        {7, kDmaDestination, 4, 4, 0},          {2, kDmaDestination, 4, 4, 2},  // beyond the list
        {1, kDmaDestination, 4, 4, 0xFFFFFFFF},
    };
    for (const auto& c : invalid) {
        auto record = access(c.operation, c.offset, c.width, c.length, c.index);
        std::memset(record.data, 0xEE, sizeof record.data);
        EXPECT_EQ(0, raw(nkpcimap::kRegisterAccess, record));
        EXPECT_EQ(nkpcimap::kStatusFailed, record.status)
            << "operation " << c.operation << " width " << c.width << " length " << c.length;
    }
    EXPECT_EQ(0x600DF00Du, read32(edu, kDmaDestination));
}

TEST_F(DriverCase, OffsetsBeyondTheRegisterSpaceAreRefused) {
    if (onRig()) GTEST_SKIP() << "the rig's driver model does not bound register offsets";
    int status = -1;
    read32(edu, kEduBarBytes - 4, &status);
    EXPECT_EQ(0, status);
    const struct {
        C_pciMap* map;
        unsigned long offset;
        unsigned width, length;
    } outside[] = {
        {&edu, kEduBarBytes, 4, 4}, {&edu, kEduBarBytes - 4, 4, 8},    {&edu, ~0ul - 3, 4, 4},
        {&edu, ~0ul - 7, 8, 16},    {&second, kEduBarBytes + 4, 4, 4},
    };
    unsigned char data[32] = {0};
    for (const auto& c : outside) {
        EXPECT_EQ(-1, c.map->readRegister(c.offset, c.width, data, c.length)) << c.offset;
        EXPECT_EQ(-1, c.map->writeRegister(c.offset, c.width, data, c.length)) << c.offset;
        EXPECT_EQ(-1, c.map->cacheWriteCmds(c.offset, c.width, data, data, c.length, 0));
    }
    EXPECT_EQ(0, edu.exeCmdCache());
}

TEST_F(DriverCase, OnlyTheHoldersKeyReachesALockedFunction) {
    Channel otherFile;
    C_pciMap other;
    ASSERT_EQ(0, other.initial(&otherFile.io, otherFile.edu));
    ASSERT_EQ(0, edu.tryLock());
    EXPECT_EQ(-11, edu.tryLock());     // this map holds it already
    EXPECT_EQ(-100, other.tryLock());  // another file
    C_pciMap sameFile;                 // and another map of the same file
    ASSERT_EQ(0, sameFile.initial(&channel.io, channel.edu));
    EXPECT_EQ(-100, sameFile.tryLock());
    int status = 0;
    read32(other, kLiveness, &status);
    EXPECT_EQ(-100, status);
    EXPECT_EQ(-100, write32(sameFile, kLiveness, 1));
    EXPECT_EQ(0, write32(edu, kLiveness, 0x0000FFFF));
    EXPECT_EQ(0xFFFF0000u, read32(edu, kLiveness));
    read32(second, kIdentity, &status);
    EXPECT_EQ(0, status);  // other functions are free

    nkpcimap::LockRecord wrongKey = {uint32_t(channel.edu), 0x0BADC0DE, -5};
    EXPECT_EQ(0, raw(nkpcimap::kUnlock, wrongKey));
    EXPECT_EQ(nkpcimap::kStatusFailed, wrongKey.status);
    nkpcimap::LockRecord noIndex = {7, 0, -5};
    EXPECT_EQ(0, raw(nkpcimap::kLock, noIndex));
    EXPECT_EQ(nkpcimap::kStatusFailed, noIndex.status);

    EXPECT_EQ(0, edu.unLock());
    EXPECT_EQ(0xFFFF0000u, read32(other, kLiveness, &status));
    EXPECT_EQ(0, status);
    nkpcimap::LockRecord first = {uint32_t(channel.edu), 0, -5};
    nkpcimap::LockRecord again = {uint32_t(channel.edu), 0, -5};
    ASSERT_EQ(0, raw(nkpcimap::kLock, first));
    EXPECT_NE(0u, first.lockKey);
    nkpcimap::LockRecord release = first;
    ASSERT_EQ(0, raw(nkpcimap::kUnlock, release));
    ASSERT_EQ(0, raw(nkpcimap::kLock, again));
    EXPECT_NE(first.lockKey, again.lockKey);  // a fresh key each time
    release = again;
    EXPECT_EQ(0, raw(nkpcimap::kUnlock, release));
    EXPECT_EQ(0, release.status);
}

// Takes the educational device's lock in a fresh process: its tryLock result, as exit status
// 0 (taken and left held), 1 (busy) or 2 (anything else).
int lockInChild() {
    pid_t child = fork();
    if (child == 0) {
        Channel mine;
        C_pciMap map;
        map.initial(&mine.io, mine.edu);
        int result = map.tryLock();
        _exit(result == 0 ? 0 : result == -100 ? 1 : 2);  // ends without unLock
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(DriverCase, ALockDiesWithTheProcessThatHeldIt) {
    ASSERT_EQ(0, edu.tryLock());
    EXPECT_EQ(1, lockInChild());
    ASSERT_EQ(0, edu.unLock());
    EXPECT_EQ(0, lockInChild());
    EXPECT_EQ(0, edu.tryLock());
    EXPECT_EQ(0, edu.initial(&channel.io, channel.edu));  // re-binding releases it
    EXPECT_EQ(0, lockInChild());
}

TEST_F(DriverCase, CachedMaskedWritesRunInOrderOnlyWhenExecuted) {
    ASSERT_EQ(0, write32(edu, kDmaSource, 0xFFFF0000));
    EXPECT_EQ(0, queue32(edu, kDmaSource, 0x1, 0x3, 10));              // drive bit 0, clear bit 1
    EXPECT_EQ(0, queue32(edu, kDmaSource, 0x2, 0x2, 0));               // then set bit 1
    EXPECT_EQ(0, queue32(edu, kDmaSource, 0x0, 0x1, 10));              // then clear bit 0
    EXPECT_EQ(0, queue32(edu, kLiveness, 0x00FF00FF, 0xFFFFFFFF, 0));  // written without reading
    EXPECT_EQ(0, queue32(edu, kDmaDestination, 0xFFFFFFFF, 0, 0));     // touches nothing
    EXPECT_EQ(0xFFFF0000u, read32(edu, kDmaSource));
    EXPECT_EQ(0, edu.exeCmdCache());
    EXPECT_EQ(0xFFFF0002u, read32(edu, kDmaSource));
    EXPECT_EQ(0xFF00FF00u, read32(edu, kLiveness));

    // Executed commands are gone; cleared ones never run; queues belong to their file.
    ASSERT_EQ(0, write32(edu, kDmaSource, 0));
    EXPECT_EQ(0, edu.exeCmdCache());
    EXPECT_EQ(0u, read32(edu, kDmaSource));
    EXPECT_EQ(0, queue32(edu, kDmaSource, 0xAAAA, 0xFFFFFFFF, 0));
    Channel otherFile;
    C_pciMap other;
    ASSERT_EQ(0, other.initial(&otherFile.io, otherFile.edu));
    EXPECT_EQ(0, other.exeCmdCache());
    EXPECT_EQ(0u, read32(edu, kDmaSource));
    EXPECT_EQ(0, edu.clearCmdCache());
    EXPECT_EQ(0, edu.exeCmdCache());
    EXPECT_EQ(0u, read32(edu, kDmaSource));
}

TEST_F(DriverCase, ExecutionStopsAtAFunctionLockedUnderAnotherKey) {
    Channel holderFile;
    C_pciMap holder;
    ASSERT_EQ(0, holder.initial(&holderFile.io, holderFile.edu));
    ASSERT_EQ(0, write32(edu, kDmaSource, 0x1));
    EXPECT_EQ(0, queue32(edu, kDmaSource, 0x2, 0xFFFFFFFF, 0));
    EXPECT_EQ(-1, queue32(edu, kDmaSource + 1, 0x2, 0xFFFFFFFF, 0));  // misaligned
    ASSERT_EQ(0, holder.tryLock());
    EXPECT_EQ(-100, edu.exeCmdCache());
    EXPECT_EQ(0x1u, read32(holder, kDmaSource));
    EXPECT_EQ(0, edu.exeCmdCache());  // the queue was emptied all the same
    EXPECT_EQ(0, holder.unLock());
}

TEST_F(DriverCase, UnknownRequestsAndMissingRecordsFailAtTheSystemCall) {
    nkpcimap::RegisterAccessRecord record = access(1, kIdentity, 4, 4);
    EXPECT_EQ(ENOTTY, raw(0xC0084D07ul, record));  // number 7 is not a request
    EXPECT_EQ(ENOTTY, raw(0x80084D03ul, record));  // right number, wrong direction
    EXPECT_EQ(ENOTTY, raw(0xC0084E03ul, record));  // another type letter
    EXPECT_EQ(ENOTTY, raw(0xC0084D0Cul, record));
    errno = 0;
    EXPECT_EQ(0u, channel.io.ioctl(nkpcimap::kRegisterAccess, nullptr, 0));
    EXPECT_EQ(EFAULT, errno);
}

// Records of random bytes name no listed function, width or key: every one is refused, and
// the device keeps its registers.
TEST_F(DriverCase, GarbageRecordsAreRefusedWithoutTouchingTheDevice) {
    ASSERT_EQ(0, write32(edu, kLiveness, 0x5555AAAA));
    ASSERT_EQ(0, write32(edu, kDmaSource, 0x600DCAFE));
    std::mt19937 random(20240611);
    auto fill = [&random](auto& record) {
        auto* bytes = reinterpret_cast<unsigned char*>(&record);
        for (size_t i = 0; i < sizeof record; ++i) bytes[i] = uint8_t(random());
    };
    for (int round = 0; round < 200; ++round) {
        nkpcimap::RegisterAccessRecord access;
        nkpcimap::CacheWriteCommandRecord cached;
        nkpcimap::LockRecord lock;
        nkpcimap::DeviceInformationRecord info;
        fill(access);
        fill(cached);
        fill(lock);
        fill(info);
        ASSERT_EQ(0, raw(nkpcimap::kRegisterAccess, access));
        EXPECT_EQ(nkpcimap::kStatusFailed, access.status);
        ASSERT_EQ(0, raw(nkpcimap::kCacheWriteCommand, cached));
        EXPECT_EQ(nkpcimap::kStatusFailed, cached.status);
        ASSERT_EQ(0, raw(round % 2 ? nkpcimap::kLock : nkpcimap::kUnlock, lock));
        EXPECT_EQ(nkpcimap::kStatusFailed, lock.status);
        ASSERT_EQ(0, raw(nkpcimap::kDeviceInformation, info));
        EXPECT_EQ(nkpcimap::kStatusFailed, info.status);
    }
    EXPECT_EQ(0, edu.exeCmdCache());
    EXPECT_EQ(0xAAAA5555u, read32(edu, kLiveness));
    EXPECT_EQ(0x600DCAFEu, read32(edu, kDmaSource));

    // Random pairs without the flag bit fill the file's 32 pairs; then registrations fail.
    int refused = 0;
    for (int round = 0; round < 40; ++round) {
        nkpcimap::AddScanDeviceRecord scan;
        fill(scan);
        scan.flag &= 0xFE;
        ASSERT_EQ(0, raw(nkpcimap::kAddScanDevice, scan));
        EXPECT_EQ(0, scan.matchCount);
        refused += scan.status == nkpcimap::kStatusFailed;
    }
    EXPECT_GE(refused, 40 - 31);
    ZEPPCIManager::__PCIMAP_PCIIDLIST list;
    EXPECT_EQ(0, ZEPPCIManager::getScanDeviceList(&channel.io, &list));
    EXPECT_EQ(32, list.count);
}

TEST_F(DriverCase, VersionIsTheDriversText) {
    char version[16];
    std::memset(version, 0x7F, sizeof version);
    EXPECT_EQ(0, ZEPPCIManager::getVersion(&channel.io, version, sizeof version));
    EXPECT_STREQ("1.5.0", version);
    char small[15];
    EXPECT_EQ(-11, ZEPPCIManager::getVersion(&channel.io, small, sizeof small));
}

// Threads, each with its own open file, take turns at the lock while others keep reading; a
// holder always reads back what it wrote, and no request answers anything but done or busy.
TEST_F(DriverCase, ConcurrentFilesShareTheLockSafely) {
    constexpr int kThreads = 4, kRounds = 100;
    std::atomic<int> unexpected{0}, taken{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Channel mine;
            C_pciMap map;
            if (!mine.opened || map.initial(&mine.io, mine.edu) != 0) {
                ++unexpected;
                return;
            }
            for (int round = 0; round < kRounds; ++round) {
                int result = map.tryLock();
                if (result == 0) {
                    ++taken;
                    uint32_t value = uint32_t(t << 16 | round);
                    int status = -1;
                    if (write32(map, kLiveness, value) != 0 ||
                        read32(map, kLiveness, &status) != ~value || status != 0 ||
                        map.unLock() != 0)
                        ++unexpected;
                } else if (result != -100) {
                    ++unexpected;
                }
                int status = -1;
                read32(map, kIdentity, &status);
                if (status != 0 && status != -100) ++unexpected;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, unexpected.load());
    EXPECT_GT(taken.load(), 0);
    EXPECT_EQ(0, edu.tryLock());  // nothing left held
}

}  // namespace
