// Loading libQRT_SDK runs detection; unloading it tears the products, PCI maps and driver
// channel down again. A process may do both more than once (a plug-in host, for instance).
// This program does not link the library, so that dlclose really unloads it.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(LibraryUnload, LoadsRunsAndUnloadsTwice) {
    for (int round = 0; round < 2; ++round) {
        void* library = dlopen(QRT_TEST_SDK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto getInfo = reinterpret_cast<int (*)(char*, int)>(dlsym(library, "QRT_GetSDKInfo"));
        auto getNums = reinterpret_cast<unsigned (*)()>(dlsym(library, "QRT_GetProductNums"));
        auto getHandle =
            reinterpret_cast<void* (*)(unsigned)>(dlsym(library, "QRT_GetProductHandle"));
        ASSERT_TRUE(getInfo && getNums && getHandle);

        char text[128];
        EXPECT_EQ(getInfo(text, sizeof text), 0);
        EXPECT_NE(std::strstr(text, "SDK Version:1.7.7.0130\r\n"), nullptr);
        EXPECT_LE(getNums(), 32u);
        EXPECT_EQ(getHandle(getNums()), nullptr);
        EXPECT_EQ(dlclose(library), 0) << dlerror();
    }
}

}  // namespace
