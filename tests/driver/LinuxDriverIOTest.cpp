// The Linux driver channel against real device files, and the factories that own the channel
// and the PCI maps.

#include <dirent.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/driver/C_driverIOFactory.h"
#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/C_pciMapFactory.h"
#include "driver/FakeDriverChannel.h"

namespace {

size_t openDescriptors() {
    size_t n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++n;
        closedir(dir);
    }
    return n;
}

}  // namespace

TEST(LinuxDriverIO, RequestsFailUnlessADeviceIsOpenAndAcceptsThem) {
    C_linuxDriverIO io;
    unsigned char record[80] = {};
    EXPECT_EQ(0u, io.ioctl(0xC0084D03, record, sizeof(record)));  // never opened
    EXPECT_EQ(0u, io.open("qrt-no-such-device"));
    EXPECT_EQ(0u, io.ioctl(0xC0084D03, record, sizeof(record)));
    ASSERT_EQ(1u, io.open("null"));
    EXPECT_EQ(0u, io.ioctl(0xC0084D03, record, sizeof(record)));  // /dev/null has no requests
}

TEST(LinuxDriverIO, CloseIsIdempotentAndReopeningLeaksNothing) {
    const size_t before = openDescriptors();
    {
        C_linuxDriverIO io;
        EXPECT_EQ(1u, io.close());
        ASSERT_EQ(1u, io.open("null"));
        ASSERT_EQ(1u, io.open("zero"));
        EXPECT_EQ(before + 1, openDescriptors());
        EXPECT_EQ(1u, io.close());
        EXPECT_EQ(1u, io.close());
        EXPECT_EQ(before, openDescriptors());
        ASSERT_EQ(1u, io.open("null"));
    }
    EXPECT_EQ(before, openDescriptors());  // the destructor closes it
}

TEST(LinuxDriverIO, ANameTooLongForThePathIsNotCutToAnotherDevice) {
    // "/dev/" + "./" x 123 + "null" is exactly 255 characters; one more names no device.
    std::string name;
    for (int i = 0; i < 123; ++i) name += "./";
    name += "null";
    C_linuxDriverIO io;
    ASSERT_EQ(1u, io.open(name.c_str()));
    EXPECT_EQ(0u, io.open((name + "X").c_str()));
}

TEST(DriverFactories, OneChannelManyMapsAllReleasedWithTheirFactories) {
    C_driverIOFactory ioFactory;
    I_driverIO* io = ioFactory.create();
    ASSERT_NE(nullptr, io);
    EXPECT_EQ(io, ioFactory.create());

    fakedriver::FakeDriverChannel driver;
    driver.answer = [](unsigned long request, fakedriver::Record& r) {
        if (request == fakedriver::kLock) r.put(4, 4, 0x3C);
    };
    auto mapFactory = std::make_unique<C_pciMapFactory>();
    I_pciMap* map = mapFactory->create();
    ASSERT_NE(nullptr, map);
    EXPECT_NE(map, mapFactory->create());
    EXPECT_EQ(-13, map->tryLock());
    map->initial(&driver, 2);
    ASSERT_EQ(0, map->tryLock());
    mapFactory.reset();
    EXPECT_EQ(fakedriver::kUnlock, driver.last().request);
    EXPECT_EQ(0x3Cu, driver.last().at(4, 4));
}
