// The library as loaded into this process: on a machine without the kit's kernel driver and
// without the embedded system's file, detection finds nothing and the SDK information is the
// SDK line alone.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "QRT_SDK.h"

namespace {

bool productHardwarePresent() {
    return access("/dev/___nk_pcimap", F_OK) == 0 || access("/etc/tulankqx/system.ini", F_OK) == 0;
}

class LibraryWithoutProducts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (productHardwarePresent())
            GTEST_SKIP() << "a kernel driver or the embedded system is present on this machine";
    }
};

TEST_F(LibraryWithoutProducts, FindsNoProductAndHandsOutNoHandle) {
    EXPECT_EQ(QRT_GetProductNums(), 0u);
    EXPECT_EQ(QRT_GetProductHandle(0), nullptr);
    EXPECT_EQ(QRT_GetProductHandle(QRT_GetProductNums()), nullptr);
    EXPECT_EQ(QRT_GetProductHandle(0xFFFFFFFFu), nullptr);
}

TEST_F(LibraryWithoutProducts, SDKInformationIsTheSDKLineAlone) {
    char text[128];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(QRT_GetSDKInfo(text, sizeof text), QRT_SUCCESS);
    EXPECT_EQ(std::string(text), "SDK Version:1.7.7.0130\r\n");
}

TEST_F(LibraryWithoutProducts, SDKInformationIsCutToTheBuffer) {
    char text[16];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(QRT_GetSDKInfo(text, 10), QRT_SUCCESS);
    EXPECT_EQ(std::string(text), "SDK Versi");
    EXPECT_EQ(text[10], 'x');  // nothing written past the given length
}

TEST(SDKInformation, RefusesBuffersItCannotWriteSafely) {
    char text[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(QRT_GetSDKInfo(text, -1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(QRT_GetSDKInfo(nullptr, 64), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(text[0], 'a');
    // A zero length writes nothing and is not an error.
    EXPECT_EQ(QRT_GetSDKInfo(text, 0), QRT_SUCCESS);
    EXPECT_EQ(QRT_GetSDKInfo(nullptr, 0), QRT_SUCCESS);
    EXPECT_EQ(text[0], 'a');
}

}  // namespace
