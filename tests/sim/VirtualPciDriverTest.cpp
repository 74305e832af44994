// The virtual kernel driver, driven with records built byte by byte as a program lays them out.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "sim/boards/PlainBoard.h"
#include "sim/driver/VirtualPciDriver.h"

namespace {

using qrtsim::RegisterFileFunction;
using qrtsim::VirtualPciDriver;
using ::testing::ElementsAre;

constexpr unsigned long kAddScan = 0xC0084D01;
constexpr unsigned long kScanList = 0xC0084D02;
constexpr unsigned long kAccess = 0xC0084D03;
constexpr unsigned long kVersion = 0x80084D04;
constexpr unsigned long kLock = 0xC0084D05;
constexpr unsigned long kUnlock = 0xC0084D06;
constexpr unsigned long kInfo = 0x80084D08;
constexpr unsigned long kCacheWrite = 0x80084D09;
constexpr unsigned long kCacheClear = 0x80084D0A;
constexpr unsigned long kCacheExecute = 0x80084D0B;

struct Record {
    explicit Record(size_t size) : bytes(size, 0) {}
    void put32(size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); }
    void put64(size_t at, uint64_t v) { std::memcpy(&bytes[at], &v, 8); }
    uint32_t get32(size_t at) const {
        uint32_t v;
        std::memcpy(&v, &bytes[at], 4);
        return v;
    }
    int32_t status32(size_t at) const { return static_cast<int32_t>(get32(at)); }
    std::vector<uint8_t> bytes;
};

// A register file that also remembers the order of the writes it receives.
class LoggingFunction : public RegisterFileFunction {
  public:
    using RegisterFileFunction::RegisterFileFunction;
    void writeRegister32(uint64_t offset, uint32_t value) override {
        writes.push_back({offset, value});
        RegisterFileFunction::writeRegister32(offset, value);
    }
    uint32_t readRegister32(uint64_t offset) override {
        ++reads;
        return RegisterFileFunction::readRegister32(offset);
    }
    std::vector<std::pair<uint64_t, uint32_t>> writes;
    unsigned reads = 0;
};

class VirtualPciDriverTest : public ::testing::Test {
  protected:
    VirtualPciDriverTest()
        : switchA(0x10B5, 0x8608),
          ethernet(0x8086, 0x1563),
          switchB(0x10B5, 0x8608),
          usbSwitch(0x10B5, 0x8718) {
        settings.version = "2.0.1";
        makeDriver();
    }

    void makeDriver() {
        file.reset();  // an open file never outlives its driver
        driver = std::make_unique<VirtualPciDriver>(
            settings, [this](const std::string& line) { trace.push_back(line); });
        driver->addFunction(&switchA);
        driver->addFunction(&ethernet);
        driver->addFunction(&switchB, faultsB);
        driver->addFunction(&usbSwitch);
        file = driver->open();
    }

    int request(VirtualPciDriver::OpenFile& f, unsigned long code, Record& record) {
        return driver->request(f, code, record.bytes);
    }

    // Registers a pair; returns the driver status, with count and first.
    int32_t addScan(VirtualPciDriver::OpenFile& f, uint16_t vendor, uint16_t device, uint8_t flag,
                    int32_t* count = nullptr, int32_t* first = nullptr) {
        Record r(36);
        r.put32(0, vendor);
        r.put32(4, device);
        r.bytes[20] = flag;
        EXPECT_EQ(0, request(f, kAddScan, r));
        if (count) *count = r.status32(12);
        if (first) *first = r.status32(8);
        return r.status32(16);
    }

    void registerAll(VirtualPciDriver::OpenFile& f) {
        addScan(f, 0x8086, 0x1563, 1);
        addScan(f, 0x10B5, 0x8608, 0);
        addScan(f, 0x10B5, 0x8718, 0);
    }

    Record access(uint32_t operation, uint32_t index, uint64_t offset, uint32_t width,
                  uint32_t length, uint32_t key = 0, std::vector<uint8_t> data = {}) {
        Record r(80);
        r.put64(0, offset);
        r.put32(8, length);
        r.put32(12, width);
        r.put32(16, index);
        r.put32(20, operation);
        r.put32(28, key);
        std::copy(data.begin(), data.end(), r.bytes.begin() + 32);
        EXPECT_EQ(0, request(*file, kAccess, r));
        return r;
    }
    int32_t write32(uint32_t index, uint64_t offset, uint32_t value, uint32_t key = 0) {
        std::vector<uint8_t> data(4);
        std::memcpy(data.data(), &value, 4);
        return access(2, index, offset, 4, 4, key, data).status32(24);
    }
    uint32_t read32(uint32_t index, uint64_t offset, int32_t* status = nullptr) {
        Record r = access(1, index, offset, 4, 4);
        if (status) *status = r.status32(24);
        return r.get32(32);
    }

    Record lockRecord(uint32_t index, uint32_t key = 0) {
        Record r(12);
        r.put32(0, index);
        r.put32(4, key);
        return r;
    }

    int32_t cacheWrite(uint32_t index, uint64_t offset, uint32_t value, uint32_t mask,
                       uint32_t settle = 0, uint32_t key = 0) {
        Record r(120);
        r.put64(0, offset);
        r.put32(8, 4);
        r.put32(12, 4);
        r.put32(16, index);
        r.put32(20, 2);
        r.put32(28, key);
        r.put32(32, value);
        r.put32(80, mask);
        r.put32(112, settle);
        EXPECT_EQ(0, request(*file, kCacheWrite, r));
        return r.status32(116);
    }

    int32_t cacheRequest(unsigned long code) {
        Record r(4);
        EXPECT_EQ(0, request(*file, code, r));
        return r.status32(0);
    }

    RegisterFileFunction switchA;
    RegisterFileFunction ethernet;
    LoggingFunction switchB;
    RegisterFileFunction usbSwitch;
    VirtualPciDriver::Settings settings;
    VirtualPciDriver::FunctionFaults faultsB;
    std::vector<std::string> trace;
    std::unique_ptr<VirtualPciDriver> driver;
    std::unique_ptr<VirtualPciDriver::OpenFile> file;
};

TEST_F(VirtualPciDriverTest, RegistrationsCountMatchesAndListThemInPciOrder) {
    int32_t count = -1, first = -2;
    EXPECT_EQ(0, addScan(*file, 0x8086, 0x1563, 1, &count, &first));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0, first);
    EXPECT_EQ(0, addScan(*file, 0x10B5, 0x8608, 0, &count, &first));
    EXPECT_EQ(2, count);
    EXPECT_EQ(0, first);  // switch A comes before the Ethernet controller on the bus
    EXPECT_EQ(0, addScan(*file, 0x10B5, 0x8718, 0, &count, &first));
    EXPECT_EQ(1, count);
    EXPECT_EQ(3, first);
    EXPECT_THAT(file->scanList(), ElementsAre(0, 1, 2, 3));

    // Device information names each listed function by its identity.
    std::vector<std::pair<int32_t, int32_t>> seen;
    for (uint64_t index = 0; index < 4; ++index) {
        Record r(24);
        r.put64(0, index);
        ASSERT_EQ(0, request(*file, kInfo, r));
        EXPECT_EQ(0, r.status32(16));
        seen.emplace_back(r.status32(8), r.status32(12));
    }
    EXPECT_THAT(seen, ElementsAre(std::make_pair(0x10B5, 0x8608), std::make_pair(0x8086, 0x1563),
                                  std::make_pair(0x10B5, 0x8608), std::make_pair(0x10B5, 0x8718)));

    Record list(280);
    ASSERT_EQ(0, request(*file, kScanList, list));
    EXPECT_EQ(3, list.status32(256));
    EXPECT_EQ(0, list.status32(260));
    EXPECT_EQ(0x8086u, list.get32(0));
    EXPECT_EQ(0x10B5u, list.get32(4));
    EXPECT_EQ(0x1563u, list.get32(128));
    EXPECT_EQ(0x8718u, list.get32(136));
}

TEST_F(VirtualPciDriverTest, FlagOneStartsAFreshListAndEachOpenFileHasItsOwn) {
    registerAll(*file);
    int32_t count = -1, first = 0;
    EXPECT_EQ(0, addScan(*file, 0x10B5, 0x8718, 1, &count, &first));
    EXPECT_EQ(1, count);
    EXPECT_EQ(0, first);
    EXPECT_THAT(file->scanList(), ElementsAre(3));

    auto other = driver->open();
    EXPECT_TRUE(other->scanList().empty());
    EXPECT_EQ(0, addScan(*other, 0x1234, 0x5678, 1, &count, &first));
    EXPECT_EQ(0, count);
    EXPECT_EQ(-1, first);
    EXPECT_THAT(file->scanList(), ElementsAre(3));

    // A pair registered twice is listed once.
    EXPECT_EQ(0, addScan(*file, 0x10B5, 0x8718, 0, &count));
    EXPECT_EQ(1, count);
    EXPECT_THAT(file->scanList(), ElementsAre(3));
}

TEST_F(VirtualPciDriverTest, RegisterAccessReachesTheAddressedFunctionOnly) {
    registerAll(*file);
    for (uint64_t offset : {0x0ull, 0x260ull, 0x644ull, 0xFFCull, 0x10000ull}) {
        uint32_t value = 0xA5000000u | uint32_t(offset);
        EXPECT_EQ(0, write32(2, offset, value));
        int32_t status = -1;
        EXPECT_EQ(value, read32(2, offset, &status));
        EXPECT_EQ(0, status);
        EXPECT_EQ(value, switchB.readRegister32(offset));
        EXPECT_EQ(0u, switchA.readRegister32(offset));
    }
    // Eight 32-bit registers in one request.
    std::vector<uint8_t> block(32);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i + 1);
    EXPECT_EQ(0, access(2, 0, 0x100, 4, 32, 0, block).status32(24));
    EXPECT_EQ(0x04030201u, switchA.readRegister32(0x100));
    EXPECT_EQ(0x201F1E1Du, switchA.readRegister32(0x11C));
    Record r = access(1, 0, 0x100, 4, 32);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), r.bytes.begin() + 32));
}

TEST_F(VirtualPciDriverTest, NarrowAndWideUnitsMapOntoThirtyTwoBitRegisters) {
    registerAll(*file);
    switchA.writeRegister32(0x40, 0x11223344);
    EXPECT_EQ(0, access(2, 0, 0x42, 1, 1, 0, {0xAB}).status32(24));
    EXPECT_EQ(0x11AB3344u, switchA.readRegister32(0x40));
    EXPECT_EQ(0, access(2, 0, 0x40, 2, 2, 0, {0xCD, 0xEF}).status32(24));
    EXPECT_EQ(0x11ABEFCDu, switchA.readRegister32(0x40));
    Record byte = access(1, 0, 0x43, 1, 1);
    EXPECT_EQ(0x11, byte.bytes[32]);

    EXPECT_EQ(0, access(2, 0, 0x80, 8, 8, 0, {1, 2, 3, 4, 5, 6, 7, 8}).status32(24));
    EXPECT_EQ(0x04030201u, switchA.readRegister32(0x80));
    EXPECT_EQ(0x08070605u, switchA.readRegister32(0x84));
}

TEST_F(VirtualPciDriverTest, InvalidAccessesAreRefusedWithStatusOneAndTouchNothing) {
    registerAll(*file);
    EXPECT_EQ(1, access(1, 0, 0x0, 4, 33).status32(24));  // longer than the data block
    EXPECT_EQ(1, access(1, 0, 0x0, 4, 0).status32(24));
    EXPECT_EQ(1, access(1, 0, 0x2, 4, 4).status32(24));  // misaligned
    EXPECT_EQ(1, access(1, 0, 0x0, 3, 3).status32(24));  // no such width
    EXPECT_EQ(1, access(1, 0, 0x0, 4, 6).status32(24));  // not whole units
    EXPECT_EQ(1, access(7, 0, 0x0, 4, 4).status32(24));  // no such operation
    EXPECT_EQ(1, access(2, 4, 0x0, 4, 4).status32(24));  // beyond the scan list
    EXPECT_TRUE(switchB.writes.empty());
    EXPECT_EQ(0u, switchB.reads);

    // Nothing is listed before a registration.
    auto fresh = driver->open();
    Record r(24);
    ASSERT_EQ(0, request(*fresh, kInfo, r));
    EXPECT_EQ(1, r.status32(16));
}

TEST_F(VirtualPciDriverTest, LockKeysKeepOtherHoldersOffTheDevice) {
    registerAll(*file);
    Record lock = lockRecord(2);
    ASSERT_EQ(0, request(*file, kLock, lock));
    ASSERT_EQ(0, lock.status32(8));
    uint32_t key = lock.get32(4);
    EXPECT_NE(0u, key);

    Record again = lockRecord(2);
    ASSERT_EQ(0, request(*file, kLock, again));
    EXPECT_EQ(255, again.status32(8));  // the device is taken, whoever asks

    EXPECT_EQ(255, write32(2, 0x10, 1));  // no key
    EXPECT_EQ(255, write32(2, 0x10, 1, key + 1));
    EXPECT_EQ(0, write32(2, 0x10, 1, key));
    EXPECT_EQ(0, write32(0, 0x10, 1));  // other devices are free

    Record wrong = lockRecord(2, key + 1);
    ASSERT_EQ(0, request(*file, kUnlock, wrong));
    EXPECT_EQ(1, wrong.status32(8));
    Record unlock = lockRecord(2, key);
    ASSERT_EQ(0, request(*file, kUnlock, unlock));
    EXPECT_EQ(0, unlock.status32(8));
    EXPECT_EQ(0, write32(2, 0x10, 2));

    Record relock = lockRecord(2);
    ASSERT_EQ(0, request(*file, kLock, relock));
    EXPECT_NE(key, relock.get32(4));  // a fresh key each time
}

TEST_F(VirtualPciDriverTest, ClosingAFileDropsTheLocksItHolds) {
    auto holder = driver->open();
    registerAll(*holder);
    registerAll(*file);
    Record lock = lockRecord(1);
    ASSERT_EQ(0, request(*holder, kLock, lock));
    ASSERT_EQ(0, lock.status32(8));

    Record busy = lockRecord(1);
    ASSERT_EQ(0, request(*file, kLock, busy));
    EXPECT_EQ(255, busy.status32(8));

    holder.reset();
    Record free = lockRecord(1);
    ASSERT_EQ(0, request(*file, kLock, free));
    EXPECT_EQ(0, free.status32(8));
    EXPECT_THAT(trace, ::testing::Contains(::testing::HasSubstr("dropped with its file")));
}

TEST_F(VirtualPciDriverTest, CachedCommandsWaitForExecuteAndRunInOrderUnderTheirMasks) {
    registerAll(*file);
    switchB.writeRegister32(0x644, 0xFFFF0000);
    switchB.writes.clear();
    switchB.reads = 0;

    EXPECT_EQ(0, cacheWrite(2, 0x644, 0x00000001, 0x00000003, 10));  // drive bit 0, clear bit 1
    EXPECT_EQ(0, cacheWrite(2, 0x644, 0x00000002, 0x00000002, 0));   // then set bit 1
    EXPECT_EQ(0, cacheWrite(2, 0x648, 0x12345678, 0xFFFFFFFF, 10));  // a full write
    EXPECT_EQ(0, cacheWrite(2, 0x64C, 0xFFFFFFFF, 0x00000000, 10));  // touches nothing
    EXPECT_TRUE(switchB.writes.empty());

    EXPECT_EQ(0, cacheRequest(kCacheExecute));
    ASSERT_EQ(3u, switchB.writes.size());
    EXPECT_EQ(std::make_pair(uint64_t(0x644), uint32_t(0xFFFF0001)), switchB.writes[0]);
    EXPECT_EQ(std::make_pair(uint64_t(0x644), uint32_t(0xFFFF0003)), switchB.writes[1]);
    EXPECT_EQ(std::make_pair(uint64_t(0x648), uint32_t(0x12345678)), switchB.writes[2]);
    EXPECT_EQ(2u, switchB.reads);  // only the masked writes read first

    // Executed commands are gone; cleared ones never run.
    EXPECT_EQ(0, cacheRequest(kCacheExecute));
    EXPECT_EQ(3u, switchB.writes.size());
    EXPECT_EQ(0, cacheWrite(2, 0x644, 0, 0xFFFFFFFF));
    EXPECT_EQ(0, cacheRequest(kCacheClear));
    EXPECT_EQ(0, cacheRequest(kCacheExecute));
    EXPECT_EQ(3u, switchB.writes.size());
}

TEST_F(VirtualPciDriverTest, CachedCommandsRespectTheLockWhenTheyRun) {
    registerAll(*file);
    auto holder = driver->open();
    registerAll(*holder);
    EXPECT_EQ(0, cacheWrite(2, 0x644, 1, 0xFFFFFFFF));
    Record lock = lockRecord(2);
    ASSERT_EQ(0, request(*holder, kLock, lock));
    EXPECT_EQ(255, cacheRequest(kCacheExecute));
    EXPECT_TRUE(switchB.writes.empty());
    EXPECT_EQ(1, cacheWrite(2, 0x645, 1, 0xFFFFFFFF));  // misaligned: refused when queued
}

TEST_F(VirtualPciDriverTest, InjectedStatusesAreReportedWithoutTouchingTheDevice) {
    for (int status : {1, 2, 3, 4, 255}) {
        faultsB.status = status;
        makeDriver();
        registerAll(*file);
        EXPECT_EQ(status, write32(2, 0x10, 7)) << status;
        int32_t readStatus = 0;
        read32(2, 0x10, &readStatus);
        EXPECT_EQ(status, readStatus);
        Record lock = lockRecord(2);
        ASSERT_EQ(0, request(*file, kLock, lock));
        EXPECT_EQ(status, lock.status32(8));
        Record info(24);
        info.put64(0, 2);
        ASSERT_EQ(0, request(*file, kInfo, info));
        EXPECT_EQ(status, info.status32(16));
        EXPECT_EQ(status, cacheWrite(2, 0x10, 1, 0xFFFFFFFF));
        EXPECT_TRUE(switchB.writes.empty());
        EXPECT_EQ(0, write32(0, 0x10, 7));  // the other functions work
    }
}

TEST_F(VirtualPciDriverTest, InjectedFailuresFailTheSystemCall) {
    faultsB.fail = true;
    settings.failing = {"version", "register-write"};
    settings.scanStatus = 3;
    makeDriver();
    int32_t count = 5;
    EXPECT_EQ(3, addScan(*file, 0x10B5, 0x8608, 1, &count));
    EXPECT_EQ(0, count);

    settings.scanStatus = 0;
    settings.failing = {"version"};
    makeDriver();
    registerAll(*file);
    Record r(80);
    r.put32(8, 4);
    r.put32(12, 4);
    r.put32(16, 2);
    r.put32(20, 1);
    EXPECT_EQ(-EIO, request(*file, kAccess, r));
    Record version(16);
    EXPECT_EQ(-EIO, request(*file, kVersion, version));
    EXPECT_EQ(0, write32(0, 0, 1));
}

TEST_F(VirtualPciDriverTest, UnknownRequestsAndShortRecordsAreRejected) {
    Record r(80);
    EXPECT_EQ(-ENOTTY, request(*file, 0xC0084D07, r));  // number 7 is not a request
    EXPECT_EQ(-ENOTTY, request(*file, 0x80084D03, r));  // right number, wrong direction bits
    Record shortRecord(79);
    EXPECT_EQ(-EFAULT, request(*file, kAccess, shortRecord));
}

TEST_F(VirtualPciDriverTest, VersionIsATerminatedTextOfAtMostFifteenCharacters) {
    Record version(16);
    std::fill(version.bytes.begin(), version.bytes.end(), 0xEE);
    ASSERT_EQ(0, request(*file, kVersion, version));
    EXPECT_STREQ("2.0.1", reinterpret_cast<const char*>(version.bytes.data()));
    EXPECT_EQ(0, version.bytes[15]);

    settings.version = "0123456789abcdefXYZ";
    makeDriver();
    ASSERT_EQ(0, request(*file, kVersion, version));
    EXPECT_STREQ("0123456789abcde", reinterpret_cast<const char*>(version.bytes.data()));
}

TEST_F(VirtualPciDriverTest, TraceDecodesEachRequestOnOneLine) {
    registerAll(*file);
    trace.clear();
    write32(0, 0x644, 0x04030201);
    read32(0, 0x63C);
    EXPECT_THAT(trace,
                ElementsAre("pcimap register-write dev=0 off=0x644 len=4 01 02 03 04 -> status=0",
                            "pcimap register-read dev=0 off=0x63c len=4 -> 00 00 00 00 status=0"));
}

}  // namespace
