// Cases of the kernel module alone, run in its virtual machine (scripts/driver-vm-test.sh with
// tests/driver_cases/vm-init.sh) under the module configuration each suite names; the rig's
// driver model runs only the shared DriverCase list. The machine has two of QEMU's educational
// devices (1234:11e8): one on the root bus, one behind a PCIe root port with a slot.
//
// - KernelAllowlist: the module as shipped (no test identifiers): nothing of the machine is
//   found, QEMU's devices included.
// - KernelWindows: test_ids=1234:11e8:x550, the devices taken for X550 controllers: only the
//   one in a slot is listed, and only the X550's registers are reached, in its widths.
// - KernelAccess, KernelLocks, KernelPower, KernelRemoval: test_ids=1234:11e8, both devices
//   listed with all of BAR 0.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/C_pciMap.h"
#include "core/driver/DriverRecords.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

constexpr int kEduVendor = 0x1234, kEduDevice = 0x11E8;
constexpr unsigned long kIdentity = 0x00, kLiveness = 0x04;
constexpr uint32_t kEduIdentity = 0x010000ED;
const char kRefusedFile[] = "/sys/class/misc/___nk_pcimap/refused";

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return bool(out);
}

long refusedCount() {
    return std::stol(readText(kRefusedFile));
}

// The sysfs directories of the educational devices, in PCI order.
std::vector<std::string> eduDevices() {
    std::vector<std::string> found;
    DIR* dir = opendir("/sys/bus/pci/devices");
    if (dir == nullptr) return found;
    while (dirent* entry = readdir(dir)) {
        std::string path = std::string("/sys/bus/pci/devices/") + entry->d_name;
        if (readText(path + "/vendor") == "0x1234" && readText(path + "/device") == "0x11e8")
            found.push_back(path);
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

// One open file of the node, opened with `flags`, and its raw requests.
struct RawFile {
    explicit RawFile(int flags = O_RDWR) : fd(::open("/dev/___nk_pcimap", flags | O_CLOEXEC)) {}
    ~RawFile() {
        if (fd >= 0) ::close(fd);
    }
    // 0 when the request was carried out, else the errno.
    template <typename Record>
    int request(unsigned long code, Record& record) {
        return ::ioctl(fd, code, &record) == 0 ? 0 : errno;
    }
    int registerEdu(int* count = nullptr) {
        nkpcimap::AddScanDeviceRecord scan = {};
        scan.vendorId = kEduVendor;
        scan.deviceId = kEduDevice;
        scan.flag = 1;
        request(nkpcimap::kAddScanDevice, scan);
        if (count != nullptr) *count = scan.matchCount;
        return scan.firstResult;
    }
    nkpcimap::RegisterAccessRecord access(uint32_t operation, uint64_t offset, uint32_t value,
                                          uint32_t width = 4, uint32_t length = 4, uint32_t key = 0,
                                          uint32_t index = 0) {
        nkpcimap::RegisterAccessRecord record = {offset, length, width, index, operation,
                                                 -5,     key,    {},    {}};
        std::memcpy(record.data, &value, sizeof value);
        lastErrno = request(nkpcimap::kRegisterAccess, record);
        return record;
    }
    nkpcimap::LockRecord lock(uint32_t index = 0) {
        nkpcimap::LockRecord record = {index, 0, -5};
        lastErrno = request(nkpcimap::kLock, record);
        return record;
    }
    nkpcimap::LockRecord unlock(uint32_t key, uint32_t index = 0) {
        nkpcimap::LockRecord record = {index, key, -5};
        lastErrno = request(nkpcimap::kUnlock, record);
        return record;
    }
    int fd;
    int lastErrno = 0;
};

uint32_t dataWord(const nkpcimap::RegisterAccessRecord& record) {
    uint32_t value;
    std::memcpy(&value, record.data, sizeof value);
    return value;
}

// The SDK's own view: a driver channel with the educational devices listed and a map of the
// first.
struct SdkChannel {
    SdkChannel() {
        opened = io.open(nkpcimap::kDeviceName) == 1;
        int first = -1;
        ZEPPCIManager::addScanDevice(&io, kEduVendor, kEduDevice, &first, &count, 1);
        map.initial(&io, 0);
    }
    int read32(unsigned long offset, uint32_t* value = nullptr) {
        unsigned char bytes[4] = {};
        int status = map.readRegister(offset, 4, bytes, 4);
        if (value != nullptr) std::memcpy(value, bytes, 4);
        return status;
    }
    int queue32(unsigned long offset, uint32_t value, unsigned settle) {
        unsigned char data[4], mask[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(data, &value, 4);
        return map.cacheWriteCmds(offset, 4, data, mask, 4, settle);
    }
    C_linuxDriverIO io;
    bool opened = false;
    int count = 0;
    C_pciMap map;
};

// A child process that runs `body` and reports its result as exit status; a pipe tells the
// parent when the child is ready and the child when to go on.
struct Child {
    template <typename Body>
    explicit Child(Body body) {
        if (pipe(ready) != 0 || pipe(proceed) != 0) return;
        pid = fork();
        if (pid == 0) {
            auto signalReady = [this] { (void)!write(ready[1], "r", 1); };
            auto awaitGo = [this] {
                char c;
                (void)!read(proceed[0], &c, 1);
            };
            _exit(body(signalReady, awaitGo));
        }
    }
    bool awaitReady() {
        char c;
        return read(ready[0], &c, 1) == 1;
    }
    void go() { (void)!write(proceed[1], "g", 1); }
    int exitStatus() {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t pid = -1;
    int ready[2] = {-1, -1};
    int proceed[2] = {-1, -1};
};

TEST(KernelAllowlist, NothingOutsideTheKitsChipsIsFound) {
    RawFile file;
    ASSERT_GE(file.fd, 0);
    const struct {
        int vendor, device;
    } pairs[] = {
        {kEduVendor, kEduDevice}, {0x8086, 0x29C0},  // QEMU's devices, its q35 host bridge
        {0x1B36, 0x000C},                            // its PCIe root port
        {0x10B5, 0x8608},         {0x10B5, 0x8718}, {0x8086, 0x1563},  // the kit's, absent
    };
    for (const auto& pair : pairs) {
        nkpcimap::AddScanDeviceRecord scan = {};
        scan.vendorId = pair.vendor;
        scan.deviceId = pair.device;
        ASSERT_EQ(0, file.request(nkpcimap::kAddScanDevice, scan));
        EXPECT_EQ(0, scan.status);
        EXPECT_EQ(0, scan.matchCount) << std::hex << pair.vendor << ":" << pair.device;
        EXPECT_EQ(-1, scan.firstResult);
    }
    auto record = file.access(nkpcimap::kOperationRead, kIdentity, 0);
    EXPECT_EQ(nkpcimap::kStatusFailed, record.status);
}

// The X550's registers as the SDK uses them: the status register read-only, the pin control
// and both I2C registers read and written, 32 bits at a time.
TEST(KernelWindows, AChipReachesOnlyTheRegistersTheSdkDrivesInItsWidths) {
    RawFile file;
    ASSERT_GE(file.fd, 0);
    int count = 0;
    EXPECT_EQ(0, file.registerEdu(&count));
    EXPECT_EQ(1, count) << "only the device in a slot sits on a card";

    const long before = refusedCount();
    const struct {
        uint32_t operation;
        uint64_t offset;
        uint32_t width, length;
        bool reached;
    } accesses[] = {
        {1, 0x00008, 4, 4, true},     {2, 0x00008, 4, 4, false},  // status: read only
        {1, 0x00020, 4, 4, true},     {2, 0x00020, 4, 4, true},   // pin control
        {1, 0x15F58, 4, 4, true},     {2, 0x15F58, 4, 4, true},   // I2C command
        {1, 0x15F5C, 4, 4, true},     {2, 0x15F5C, 4, 4, true},   // I2C parameters
        {1, 0x15F58, 4, 8, true},                                 // both in one request
        {1, 0x00000, 4, 4, false},    {1, 0x00004, 4, 4, false},   {2, 0x00024, 4, 4, false},
        {1, 0x15F54, 4, 4, false},    {2, 0x15F60, 4, 4, false},   {1, 0x15F5C, 4, 8, false},
        {1, 0x00004, 4, 8, false},  // starts outside, ends inside
        {2, 0x00020, 1, 1, false},    {2, 0x00022, 2, 2, false},   {1, 0x15F58, 8, 8, false},
        {1, 1ull << 63, 4, 4, false}, {1, ~0ull - 3, 4, 4, false},
    };
    int refused = 0;
    for (const auto& a : accesses) {
        auto record = file.access(a.operation, a.offset, 0, a.width, a.length);
        EXPECT_EQ(0, file.lastErrno);
        EXPECT_EQ(a.reached ? nkpcimap::kStatusOk : nkpcimap::kStatusFailed, record.status)
            << "operation " << a.operation << " at 0x" << std::hex << a.offset << " width "
            << a.width << " length " << a.length;
        refused += !a.reached;
    }
    EXPECT_EQ(before + refused, refusedCount());

    // A queued write reads its register first: only windows that take both are queued.
    C_linuxDriverIO io;
    ASSERT_EQ(1u, io.open(nkpcimap::kDeviceName));
    int first = -1;
    ASSERT_EQ(0, ZEPPCIManager::addScanDevice(&io, kEduVendor, kEduDevice, &first, &count, 1));
    C_pciMap map;
    map.initial(&io, 0);
    unsigned char value[4] = {1, 0, 0, 0}, mask[4] = {1, 0, 0, 0};
    EXPECT_EQ(0, map.cacheWriteCmds(0x20, 4, value, mask, 4, 10));
    EXPECT_EQ(-1, map.cacheWriteCmds(0x08, 4, value, mask, 4, 0));
    EXPECT_EQ(-1, map.cacheWriteCmds(0x24, 4, value, mask, 4, 0));
    EXPECT_EQ(0, map.exeCmdCache());
    EXPECT_EQ(before + refused + 2, refusedCount());
}

TEST(KernelAccess, AReadOnlyFileReadsButNeverWrites) {
    SdkChannel writer;
    ASSERT_TRUE(writer.opened);
    ASSERT_EQ(0, writer.queue32(kLiveness, 0x12345678, 0));
    ASSERT_EQ(0, writer.map.exeCmdCache());

    RawFile reader(O_RDONLY);
    ASSERT_GE(reader.fd, 0);
    ASSERT_EQ(0, reader.registerEdu());
    auto read = reader.access(nkpcimap::kOperationRead, kLiveness, 0);
    EXPECT_EQ(0, reader.lastErrno);
    EXPECT_EQ(0, read.status);
    EXPECT_EQ(~0x12345678u, dataWord(read));

    reader.access(nkpcimap::kOperationWrite, kLiveness, 0);
    EXPECT_EQ(EBADF, reader.lastErrno);
    reader.lock();
    EXPECT_EQ(EBADF, reader.lastErrno);
    nkpcimap::CacheWriteCommandRecord cached = {};
    cached.offset = kLiveness;
    cached.length = cached.width = 4;
    cached.operation = nkpcimap::kOperationWrite;
    std::memset(cached.secondData, 0xFF, 4);
    EXPECT_EQ(EBADF, reader.request(nkpcimap::kCacheWriteCommand, cached));
    nkpcimap::CommandCacheRecord execute = {};
    EXPECT_EQ(0, reader.request(nkpcimap::kExecuteCommandCache, execute));  // nothing queued

    uint32_t value = 0;
    EXPECT_EQ(0, writer.read32(kLiveness, &value));
    EXPECT_EQ(~0x12345678u, value);
}

// The SDK pauses 0 or 10 microseconds after a pin step; a queued command may ask for at most a
// millisecond, so that nobody waits on another file's queue for long.
TEST(KernelAccess, SettleTimesAboveAMillisecondAreRefused) {
    SdkChannel channel;
    ASSERT_TRUE(channel.opened);
    for (unsigned settle : {0u, 10u, 1000u}) EXPECT_EQ(0, channel.queue32(kLiveness, 1, settle));
    for (unsigned settle : {1001u, 4000000u, 0xFFFFFFFFu})
        EXPECT_EQ(-1, channel.queue32(kLiveness, 2, settle)) << settle;
    EXPECT_EQ(0, channel.map.exeCmdCache());
    uint32_t value = 0;
    EXPECT_EQ(0, channel.read32(kLiveness, &value));
    EXPECT_EQ(~1u, value);
}

// Neither guessing nor knowing the holder's key gets another file anywhere.
TEST(KernelLocks, KeysCannotBeGuessedNorUsedByAnotherFile) {
    RawFile holder, other;
    ASSERT_EQ(0, holder.registerEdu());
    ASSERT_EQ(0, other.registerEdu());

    std::vector<uint32_t> keys;
    for (int round = 0; round < 8; ++round) {
        auto taken = holder.lock();
        ASSERT_EQ(0, taken.status);
        keys.push_back(taken.lockKey);
        ASSERT_EQ(0, holder.unlock(taken.lockKey).status);
    }
    for (size_t i = 1; i < keys.size(); ++i) EXPECT_NE(keys[i - 1] + 1, keys[i]);

    auto held = holder.lock();
    ASSERT_EQ(0, held.status);
    const uint32_t key = held.lockKey;
    EXPECT_EQ(nkpcimap::kStatusBusy,
              other.access(nkpcimap::kOperationWrite, kLiveness, 0, 4, 4, key).status);
    EXPECT_EQ(nkpcimap::kStatusFailed, other.unlock(key).status);
    std::mt19937 random(7);
    int released = 0;
    for (uint32_t guess = 1; guess < 4000; ++guess) {
        released += other.unlock(key + guess).status == 0;
        released += other.unlock(key - guess).status == 0;
        released += other.unlock(uint32_t(random())).status == 0;
    }
    EXPECT_EQ(0, released);
    EXPECT_EQ(0, holder.access(nkpcimap::kOperationWrite, kLiveness, 0, 4, 4, key).status);
    EXPECT_EQ(0, holder.unlock(key).status);
}

TEST(KernelLocks, AKilledHolderLosesItsLock) {
    Child holder([](auto ready, auto) {
        SdkChannel mine;
        if (mine.map.tryLock() != 0) return 1;
        ready();
        pause();
        return 0;
    });
    ASSERT_TRUE(holder.awaitReady());
    SdkChannel waiter;
    EXPECT_EQ(-100, waiter.map.tryLock());
    kill(holder.pid, SIGKILL);
    EXPECT_EQ(128 + SIGKILL, holder.exitStatus());
    EXPECT_EQ(0, waiter.map.tryLock());
    EXPECT_EQ(0, waiter.map.unLock());
}

// Two processes take the device in turns, each until it has had it 50 times (polling every
// millisecond while the other holds it, as the SDK does): each holder reads back what it
// wrote, and nothing answers but done or busy.
TEST(KernelLocks, TwoProcessesLockingOneDeviceTakeTurns) {
    auto contend = [](uint32_t id) {
        return [id](auto ready, auto go) {
            SdkChannel mine;
            ready();
            go();
            int taken = 0;
            for (uint32_t round = 0; round < 5000 && taken < 50; ++round) {
                int result = mine.map.tryLock();
                if (result == -100) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                if (result != 0) return 2;
                ++taken;
                unsigned char bytes[4];
                uint32_t value = id << 16 | round, back = 0;
                std::memcpy(bytes, &value, 4);
                if (mine.map.writeRegister(kLiveness, 4, bytes, 4) != 0 ||
                    mine.read32(kLiveness, &back) != 0 || back != ~value || mine.map.unLock() != 0)
                    return 3;
            }
            return taken == 50 ? 0 : 4;
        };
    };
    Child first(contend(1)), second(contend(2));
    ASSERT_TRUE(first.awaitReady());
    ASSERT_TRUE(second.awaitReady());
    first.go();
    second.go();
    EXPECT_EQ(0, first.exitStatus());
    EXPECT_EQ(0, second.exitStatus());
}

// A holder that keeps using its device keeps the lock; one that leaves it idle for two
// seconds loses it to the next file that asks, and can still give back its old key.
TEST(KernelLocks, AnIdleLockGoesToTheNextFileAnActiveOneStays) {
    SdkChannel holder, other;
    ASSERT_EQ(0, holder.map.tryLock());
    for (int step = 0; step < 12; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_EQ(0, holder.read32(kIdentity));
        ASSERT_EQ(-100, other.map.tryLock()) << "step " << step;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2300));
    EXPECT_EQ(0, other.map.tryLock());
    EXPECT_EQ(-100, holder.read32(kIdentity));
    EXPECT_EQ(0, holder.map.unLock());
    EXPECT_EQ(-100, holder.map.tryLock());  // the new holder keeps it
    EXPECT_EQ(0, other.read32(kIdentity));
    EXPECT_EQ(0, other.map.unLock());
}

std::string runtimeStatus(const std::string& device) {
    return readText(device + "/power/runtime_status");
}

// Waits up to two seconds for a device's runtime-PM status.
bool becomes(const std::string& device, const std::string& status) {
    for (int poll = 0; poll < 100; ++poll) {
        if (runtimeStatus(device) == status) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A device that may suspend when idle is woken while a file lists it, and may sleep again
// when the last file lets go.
TEST(KernelPower, AListedFunctionIsKeptAwake) {
    auto devices = eduDevices();
    ASSERT_EQ(2u, devices.size());
    const std::string device = devices[0];
    ASSERT_TRUE(writeText(device + "/power/control", "auto"));
    EXPECT_TRUE(becomes(device, "suspended"));
    {
        SdkChannel channel;
        EXPECT_EQ("active", runtimeStatus(device));
        uint32_t identity = 0;
        EXPECT_EQ(0, channel.read32(kIdentity, &identity));
        EXPECT_EQ(kEduIdentity, identity);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ("active", runtimeStatus(device));
    }
    EXPECT_TRUE(becomes(device, "suspended"));
    ASSERT_TRUE(writeText(device + "/power/control", "on"));
}

// The device leaves the bus while another process holds a map of it and its lock and runs a
// long queue under that lock (4096 commands of a millisecond each): the queue stops at the
// removal, the process's accesses are refused from then on, it can still let go of its lock,
// and the device found again by a rescan is a fresh one.
TEST(KernelRemoval, RemovalAndRescanWhileAProcessHoldsMapLockAndQueue) {
    auto devices = eduDevices();
    ASSERT_EQ(2u, devices.size());
    Child holder([](auto ready, auto) {
        SdkChannel mine;
        if (mine.count != 2 || mine.map.tryLock() != 0) return 1;
        for (int i = 0; i < 4096; ++i)
            if (mine.queue32(kLiveness, uint32_t(i), 1000) != 0) return 2;
        ready();
        if (mine.map.exeCmdCache() != -1) return 3;
        if (mine.read32(kIdentity) != -1) return 4;
        if (mine.map.unLock() != 0) return 5;
        return 0;
    });
    ASSERT_TRUE(holder.awaitReady());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(writeText(devices[0] + "/remove", "1"));
    EXPECT_EQ(0, holder.exitStatus());

    SdkChannel without;
    EXPECT_EQ(1, without.count);
    ASSERT_TRUE(writeText("/sys/bus/pci/rescan", "1"));
    SdkChannel again;
    EXPECT_EQ(2, again.count);
    EXPECT_EQ(0, again.map.tryLock());
    uint32_t identity = 0;
    EXPECT_EQ(0, again.read32(kIdentity, &identity));
    EXPECT_EQ(kEduIdentity, identity);
    EXPECT_EQ(0, again.map.unLock());
}

// Bound to another driver (pci-stub stands in for vfio-pci), the device is no longer reached
// through a list made before, nor listed again until that driver lets it go.
TEST(KernelRemoval, AFunctionHandedToAnotherDriverIsForgotten) {
    const std::string stub = "/sys/bus/pci/drivers/pci-stub";
    auto devices = eduDevices();
    ASSERT_EQ(2u, devices.size());
    const std::string address = devices[1].substr(devices[1].rfind('/') + 1);
    SdkChannel before;
    ASSERT_EQ(2, before.count);
    C_pciMap second;
    second.initial(&before.io, 1);
    ASSERT_TRUE(writeText(stub + "/new_id", "1234 11e8"));
    ASSERT_TRUE(writeText(stub + "/remove_id", "1234 11e8"));
    ASSERT_TRUE(writeText(stub + "/unbind", devices[0].substr(devices[0].rfind('/') + 1)));
    unsigned char bytes[4];
    EXPECT_EQ(-1, second.readRegister(kIdentity, 4, bytes, 4));
    {
        SdkChannel during;
        EXPECT_EQ(1, during.count);
    }
    ASSERT_TRUE(writeText(stub + "/unbind", address));
    SdkChannel after;
    EXPECT_EQ(2, after.count);
}

}  // namespace
