// Finding a local adapter's IPv4 address by its MAC address.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/common/I_CommonDef.h"

namespace {

// A locally administered unicast address that no adapter carries.
const unsigned char kUnknownMac[6] = {0x0E, 0x51, 0x52, 0x54, 0xFE, 0xED};
const unsigned char kFirstMac[6] = {0x02, 0x51, 0x52, 0x54, 0x00, 0x07};
const unsigned char kSecondMac[6] = {0x02, 0x51, 0x52, 0x54, 0x00, 0x08};
constexpr int kSkipExit = 77;

struct Findings {
    int first, second, unknown, exactFit, tooShort;
    char firstIp[32], secondIp[32], exactFitIp[10];
};

// In a forked child: a private network namespace with a veth pair whose ends carry chosen MAC
// and IPv4 addresses. Reports what the lookups found through `reportFd`.
[[noreturn]] void lookUpInPrivateNamespace(int reportFd) {
    if (unshare(CLONE_NEWNET) != 0) _exit(kSkipExit);
    if (std::system("(ip link add qrt0 type veth peer name qrt1 &&"
                    " ip link set qrt0 address 02:51:52:54:00:07 &&"
                    " ip link set qrt1 address 02:51:52:54:00:08 &&"
                    " ip addr add 10.77.0.5/24 dev qrt0 &&"
                    " ip addr add 10.77.1.16/24 dev qrt1) >/dev/null 2>&1") != 0)
        _exit(kSkipExit);
    Findings f = {};
    char ip[32], tooShort[9];
    f.first = I_CommonDef::getLocalAdpaterIPByMAC(f.firstIp, sizeof(f.firstIp), kFirstMac);
    f.second = I_CommonDef::getLocalAdpaterIPByMAC(f.secondIp, sizeof(f.secondIp), kSecondMac);
    f.unknown = I_CommonDef::getLocalAdpaterIPByMAC(ip, sizeof(ip), kUnknownMac);
    f.exactFit = I_CommonDef::getLocalAdpaterIPByMAC(f.exactFitIp, sizeof(f.exactFitIp), kFirstMac);
    f.tooShort = I_CommonDef::getLocalAdpaterIPByMAC(tooShort, sizeof(tooShort), kFirstMac);
    _exit(write(reportFd, &f, sizeof(f)) == static_cast<ssize_t>(sizeof(f)) ? 0 : 1);
}

}  // namespace

TEST(AdapterLookup, AnUnknownMacOrAMissingArgumentFindsNothing) {
    char ip[32];
    EXPECT_EQ(0, I_CommonDef::getLocalAdpaterIPByMAC(ip, sizeof(ip), kUnknownMac));
    EXPECT_EQ(0, I_CommonDef::getLocalAdpaterIPByMAC(nullptr, sizeof(ip), kUnknownMac));
    EXPECT_EQ(0, I_CommonDef::getLocalAdpaterIPByMAC(ip, 0, kUnknownMac));
    EXPECT_EQ(0, I_CommonDef::getLocalAdpaterIPByMAC(ip, sizeof(ip), nullptr));
}

TEST(AdapterLookup, FindsEachAdapterOfAPrivateNetworkNamespace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace with a veth pair";
    int report[2];
    ASSERT_EQ(0, pipe(report));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        lookUpInPrivateNamespace(report[1]);
    }
    close(report[1]);
    Findings f = {};
    const ssize_t got = read(report[0], &f, sizeof(f));
    close(report[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkipExit)
        GTEST_SKIP() << "network namespaces or the ip tool (veth links) are not available";
    ASSERT_EQ(0, WEXITSTATUS(status));
    ASSERT_EQ(static_cast<ssize_t>(sizeof(f)), got);

    EXPECT_EQ(1, f.first);
    EXPECT_STREQ("10.77.0.5", f.firstIp);
    EXPECT_EQ(1, f.second);
    EXPECT_STREQ("10.77.1.16", f.secondIp);
    EXPECT_EQ(0, f.unknown);
    // "10.77.0.5" with its terminator fills ten bytes; nine would cut the address.
    EXPECT_EQ(1, f.exactFit);
    EXPECT_STREQ("10.77.0.5", f.exactFitIp);
    EXPECT_EQ(0, f.tooShort);
}
