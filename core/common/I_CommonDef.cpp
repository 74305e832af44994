#include "core/common/I_CommonDef.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/common/C_FairSemaphore.h"

namespace {

// SIOCGIFCONF fills at most this much of the interface table.
constexpr size_t kInterfaceTableBytes = 8192;
constexpr size_t kMacBytes = 6;

// Longest pause a single usleep() argument can carry, in milliseconds.
constexpr int64_t kLongestSinglePauseMs = UINT32_MAX / 1000;

}  // namespace

void I_CommonDef::Sleep(int ms) {
    // Every pause of the SDK comes through here as one microsecond sleep, so a test or a rig
    // can see exactly which pauses a call asks for. A negative pause is no pause; pauses too
    // long for one usleep() argument are split instead of wrapping around.
    int64_t remaining = ms > 0 ? ms : 0;
    do {
        const int64_t part = remaining < kLongestSinglePauseMs ? remaining : kLongestSinglePauseMs;
        ::usleep(static_cast<useconds_t>(part * 1000));
        remaining -= part;
    } while (remaining > 0);
}

int I_CommonDef::sem_init(void*& sem) {
    sem = new (std::nothrow) C_FairSemaphore();
    return sem != nullptr ? 1 : 0;
}

// A blocking wait with a bound instead of trying and sleeping: the waiter is woken the moment
// the lock is handed to it, and waiters take turns, so no thread is starved by one that keeps
// taking the lock again. No thread ever waits for a lock indefinitely.
int I_CommonDef::sem_trywait(void* sem) {
    if (sem == nullptr) return 0;
    return static_cast<C_FairSemaphore*>(sem)->take(std::chrono::milliseconds(kLockWaitMs)) ? 1 : 0;
}

int I_CommonDef::sem_post(void* sem) {
    if (sem == nullptr) return 0;
    return static_cast<C_FairSemaphore*>(sem)->give() ? 1 : 0;
}

int I_CommonDef::sem_destroy(void* sem) {
    if (sem == nullptr) return 0;
    C_FairSemaphore* s = static_cast<C_FairSemaphore*>(sem);
    if (s->inUse()) return 0;
    delete s;
    return 1;
}

int I_CommonDef::valid_TimeString(const char* text) {
    if (text == nullptr) return 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    std::sscanf(text, "%04d%02d%02d_%02d%02d", &year, &month, &day, &hour, &minute);
    const bool valid = year >= 2016 && year <= 9998 && month >= 1 && month <= 12 && day >= 1 &&
                       day <= 31 && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
    return valid ? 1 : 0;
}

namespace {

// Writes the IPv4 address of interface `name` as dotted text into ip. The text must fit whole:
// a cut address would name another host.
bool readInterfaceIPv4(int sock, const char* name, char* ip, unsigned len) {
    struct ifreq request;
    std::memset(&request, 0, sizeof(request));
    std::memcpy(request.ifr_name, name, IFNAMSIZ);
    if (::ioctl(sock, SIOCGIFADDR, &request) != 0) return false;
    if (request.ifr_addr.sa_family != AF_INET) return false;

    struct sockaddr_in address;
    std::memcpy(&address, &request.ifr_addr, sizeof(address));
    char text[INET_ADDRSTRLEN];
    if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text)) == nullptr) return false;
    const int written = std::snprintf(ip, len, "%s", text);
    return written >= 0 && static_cast<unsigned>(written) < len;
}

}  // namespace

int I_CommonDef::getLocalAdpaterIPByMAC(char* ip, unsigned len, const unsigned char* mac) {
    if (ip == nullptr || len == 0 || mac == nullptr) return 0;

    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return 0;

    // The kernel lists the interfaces that carry an IPv4 address into this table.
    alignas(struct ifreq) char table[kInterfaceTableBytes] = {};
    struct ifconf list;
    std::memset(&list, 0, sizeof(list));
    list.ifc_len = sizeof(table);
    list.ifc_buf = table;

    int found = 0;
    if (::ioctl(sock, SIOCGIFCONF, &list) == 0) {
        const size_t entries = static_cast<size_t>(list.ifc_len) / sizeof(struct ifreq);
        const struct ifreq* entry = reinterpret_cast<const struct ifreq*>(table);
        for (size_t i = 0; i < entries; ++i) {
            struct ifreq request;
            std::memset(&request, 0, sizeof(request));
            std::memcpy(request.ifr_name, entry[i].ifr_name, IFNAMSIZ);
            request.ifr_name[IFNAMSIZ - 1] = '\0';
            if (::ioctl(sock, SIOCGIFHWADDR, &request) != 0) break;
            if (std::memcmp(request.ifr_hwaddr.sa_data, mac, kMacBytes) != 0) continue;
            // First adapter with this MAC decides, whether or not its address can be read.
            if (readInterfaceIPv4(sock, request.ifr_name, ip, len)) found = 1;
            break;
        }
    }
    ::close(sock);
    return found;
}
