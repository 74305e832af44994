// Every request as the kernel driver receives it: request number, record length, each field at
// its byte offset, and where the driver's status is read back.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/driver/C_pciMap.h"
#include "core/driver/ZEPPCIManager.h"
#include "driver/FakeDriverChannel.h"

using namespace fakedriver;

namespace {

constexpr unsigned kIndex = 0x80000006;  // high bit set: widened without sign by the map
constexpr uint32_t kKey = 0xC0DE;
constexpr size_t kNoStatus = ~size_t(0);

struct Field {
    size_t offset, width;
    uint64_t value;
};

using Call = std::function<int(FakeDriverChannel&)>;

struct RequestCase {
    const char* name;
    unsigned long request;
    size_t length, statusOffset;
    std::vector<Field> fields;
    Call call;
};

unsigned char g_data[5] = {0x10, 0x11, 0x12, 0x13, 0x14};
unsigned char g_second[5] = {0x80, 0x81, 0x82, 0x83, 0x84};
unsigned char g_out[32];
int g_a, g_b;

// Runs `op` on a map bound to kIndex that holds the driver lock under kKey when `locked`.
Call onMap(std::function<int(C_pciMap&)> op, bool locked = true) {
    return [op, locked](FakeDriverChannel& d) {
        C_pciMap map;
        map.initial(&d, kIndex);
        if (locked) map.tryLock();
        return op(map);
    };
}

// clang-format off
const std::vector<RequestCase>& cases() {
    using Z = ZEPPCIManager;
    static const std::vector<RequestCase> all = {
        {"addScanDevice", kAddScanDevice, 36, 16, {{0, 4, 0x8086}, {4, 4, 0x1563}, {20, 1, 1}},
         [](auto& d) { return Z::addScanDevice(&d, 0x8086, 0x1563, &g_a, &g_b, 1); }},
        {"getScanDeviceList", kGetScanList, 280, 260, {},
         [](auto& d) { Z::__PCIMAP_PCIIDLIST l; return Z::getScanDeviceList(&d, &l); }},
        {"getIndexDevice", kDeviceInformation, 24, 16, {{0, 8, 0xFFFFFFFFFFFFFFFEull}},
         [](auto& d) { return Z::getIndexDevice(&d, -2, &g_a, &g_b); }},
        {"getVersion", kDriverVersion, 16, kNoStatus, {{0, 8, 0}, {8, 8, 0}},
         [](auto& d) { char t[16]; return Z::getVersion(&d, t, sizeof(t)); }},
        {"getDeviceInfo", kDeviceInformation, 24, 16, {{0, 8, kIndex}},
         onMap([](auto& m) { return m.getDeviceInfo(&g_a, &g_b); })},
        {"readRegister", kRegisterAccess, 80, 24,
         {{0, 8, 0x123456789Aull}, {8, 4, 6}, {12, 4, 2}, {16, 4, kIndex}, {20, 4, 1},
          {28, 4, kKey}},
         onMap([](auto& m) { return m.readRegister(0x123456789Aul, 2, g_out, 6); })},
        {"writeRegister", kRegisterAccess, 80, 24,
         {{0, 8, 0x6C}, {8, 4, 4}, {12, 4, 4}, {16, 4, kIndex}, {20, 4, 2}, {28, 4, kKey},
          {32, 4, 0x13121110}, {36, 8, 0}},
         onMap([](auto& m) { return m.writeRegister(0x6C, 4, g_data, 4); })},
        {"cacheWriteCmds", kCacheWriteCommand, 120, 116,
         {{0, 8, 0xABCDEF01234ull}, {8, 4, 5}, {12, 4, 4}, {16, 4, kIndex}, {20, 4, 2},
          {28, 4, kKey}, {32, 5, 0x1413121110ull}, {80, 5, 0x8483828180ull}, {112, 4, 0x4711}},
         onMap([](auto& m) { return m.cacheWriteCmds(0xABCDEF01234ul, 4, g_data, g_second, 5,
                                                     0x4711); })},
        {"clearCmdCache", kClearCommandCache, 4, 0, {},
         onMap([](auto& m) { return m.clearCmdCache(); })},
        {"exeCmdCache", kExecuteCommandCache, 4, 0, {},
         onMap([](auto& m) { return m.exeCmdCache(); })},
        {"tryLock", kLock, 12, 8, {{0, 4, kIndex}},
         onMap([](auto& m) { return m.tryLock(); }, false)},
        {"unLock", kUnlock, 12, 8, {{0, 4, kIndex}, {4, 4, kKey}},
         onMap([](auto& m) { return m.unLock(); })},
    };
    return all;
}
// clang-format on

// The request under test gets `status` at its status offset and 255 in every other 32-bit
// slot, so a status read from the wrong place shows; a lock taken beforehand gets kKey.
void answerWith(FakeDriverChannel& driver, const RequestCase& c, int32_t status) {
    driver.answer = [&c, status](unsigned long request, Record& r) {
        if (request == c.request) {
            for (size_t at = 0; at + 4 <= r.size; at += 4) r.put(at, 4, 255);
            if (c.statusOffset != kNoStatus) r.put(c.statusOffset, 4, uint32_t(status));
            if (request == kDriverVersion) r.put(0, 2, '1');
        } else if (request == kLock) {
            r.put(4, 4, kKey);
            r.put(8, 4, 0);
        }
    };
}

const SentRequest* firstOf(const FakeDriverChannel& driver, unsigned long request) {
    for (const auto& s : driver.sent)
        if (s.request == request) return &s;
    return nullptr;
}

}  // namespace

TEST(DriverRecords, EveryFieldGoesOutAtItsOffset) {
    for (const auto& c : cases()) {
        FakeDriverChannel driver;
        answerWith(driver, c, 0);
        EXPECT_EQ(0, c.call(driver)) << c.name;
        const SentRequest* sent = firstOf(driver, c.request);
        ASSERT_NE(nullptr, sent) << c.name;
        EXPECT_EQ(c.length, sent->bytes.size()) << c.name;
        for (const auto& f : c.fields)
            EXPECT_EQ(f.value, sent->at(f.offset, f.width)) << c.name << " offset " << f.offset;
    }
}

TEST(DriverRecords, TheDriverStatusIsReadAtItsOffsetAndMapped) {
    const std::pair<int32_t, int> mapping[] = {{0, 0},  {1, -1}, {2, 0},
                                               {3, -1}, {4, 0},  {255, -100}};
    for (const auto& c : cases()) {
        if (c.statusOffset == kNoStatus) continue;
        for (const auto& m : mapping) {
            FakeDriverChannel driver;
            answerWith(driver, c, m.first);
            EXPECT_EQ(m.second, c.call(driver)) << c.name << " status " << m.first;
        }
    }
}

TEST(DriverRecords, ARejectedRequestFailsWhateverTheStatusField) {
    for (const auto& c : cases()) {
        FakeDriverChannel driver;
        answerWith(driver, c, 0);
        driver.refusedRequest = c.request;
        EXPECT_EQ(-1, c.call(driver)) << c.name;
        EXPECT_NE(nullptr, firstOf(driver, c.request)) << c.name;
    }
}

TEST(DriverRecords, ScanAnswersReachTheCaller) {
    FakeDriverChannel driver;
    driver.answer = [](unsigned long request, Record& r) {
        if (request == kAddScanDevice) {
            r.put(8, 4, uint32_t(-7));
            r.put(12, 4, 3);
            r.put(16, 4, 1);  // even a failed registration reports its counts
        } else if (request == kGetScanList) {
            for (int i = 0; i < 32; ++i) {
                r.put(4 * i, 4, 0x100 + i);
                r.put(128 + 4 * i, 4, 0x200 + i);
            }
            r.put(256, 4, 5);
        } else if (request == kDeviceInformation) {
            r.put(8, 4, 11);
            r.put(12, 4, 22);
            r.put(16, 4, 3);  // the scan function writes both values whatever the status
        }
    };
    int first = 0, count = 0;
    EXPECT_EQ(-1, ZEPPCIManager::addScanDevice(&driver, 1, 2, &first, &count, 0));
    EXPECT_EQ(-7, first);
    EXPECT_EQ(3, count);

    ZEPPCIManager::__PCIMAP_PCIIDLIST list = {};
    EXPECT_EQ(0, ZEPPCIManager::getScanDeviceList(&driver, &list));
    EXPECT_EQ(0x100, list.firstTable[0]);
    EXPECT_EQ(0x11F, list.firstTable[31]);
    EXPECT_EQ(0x200, list.secondTable[0]);
    EXPECT_EQ(0x21F, list.secondTable[31]);
    EXPECT_EQ(5, list.count);

    int a = 0, b = 0;
    EXPECT_EQ(-1, ZEPPCIManager::getIndexDevice(&driver, 0, &a, &b));
    EXPECT_EQ(11, a);
    EXPECT_EQ(22, b);
    // The map's device information is only taken from a successful answer.
    a = b = -1;
    C_pciMap map;
    map.initial(&driver, 0);
    EXPECT_EQ(-1, map.getDeviceInfo(&a, &b));
    EXPECT_EQ(-1, a);
    EXPECT_EQ(-1, b);
}

TEST(DriverRecords, ARegisterReadReturnsExactlyTheRequestedBytes) {
    FakeDriverChannel driver;
    driver.answer = [](unsigned long, Record& r) {
        for (size_t i = 0; i < 32; ++i) r.put(32 + i, 1, 1 + i);
    };
    C_pciMap map;
    map.initial(&driver, 0);
    std::vector<uint8_t> buffer(8, 0xEE);
    EXPECT_EQ(0, map.readRegister(0, 4, buffer.data(), 6));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0xEE, 0xEE}), buffer);
}

TEST(DriverRecords, TheVersionNeedsSixteenBytesAndIsNeverReadPastTheRecord) {
    FakeDriverChannel driver;
    driver.answer = [](unsigned long, Record& r) { std::memset(r.bytes, 'v', r.size); };
    char version[64];
    EXPECT_EQ(-11, ZEPPCIManager::getVersion(&driver, version, 15));
    EXPECT_TRUE(driver.sent.empty());
    EXPECT_EQ(0, ZEPPCIManager::getVersion(&driver, version, sizeof(version)));
    EXPECT_EQ(std::string(16, 'v'), version);  // unterminated answer
    EXPECT_EQ(0, ZEPPCIManager::getVersion(&driver, version, 16));
    EXPECT_EQ(std::string(15, 'v'), version);
}

TEST(ZepScan, WithoutADriverChannelEveryScanFunctionRefusesAndWritesNothing) {
    char version[16] = "untouched";
    int first = -7, count = -7, a = -7, b = -7;
    ZEPPCIManager::__PCIMAP_PCIIDLIST list = {};
    list.count = -7;
    EXPECT_EQ(-11, ZEPPCIManager::getVersion(nullptr, version, sizeof version));
    EXPECT_EQ(-11, ZEPPCIManager::addScanDevice(nullptr, 0x10B5, 0x8608, &first, &count, 1));
    EXPECT_EQ(-11, ZEPPCIManager::getScanDeviceList(nullptr, &list));
    EXPECT_EQ(-11, ZEPPCIManager::getIndexDevice(nullptr, 0, &a, &b));
    EXPECT_STREQ(version, "untouched");
    EXPECT_EQ(first + count + a + b + list.count, -35);
}
