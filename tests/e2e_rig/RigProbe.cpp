// A small program that runs inside a rig and touches it through the SDK's own classes, one
// operation per invocation, so that tests can combine processes:
//   e2e_rig_probe write VENDOR DEVICE OFFSET VALUE   register write on the first such function
//   e2e_rig_probe read VENDOR DEVICE OFFSET          prints the register as 0x%08x
//   e2e_rig_probe ip-of MAC                          prints the IPv4 address of that interface
//   e2e_rig_probe i2c-write ADAPTER ADDRESS REG BYTE...
//   e2e_rig_probe pause MS [threaded]                one SDK pause; threaded: the pause in this
//                                                    thread and in a second one at once, then
//                                                    one more once the second has ended
// Exit status 0 on success, 1 when the operation fails, 2 for bad arguments.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/bus/C_nkDTSI2C.h"
#include "core/common/I_CommonDef.h"
#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/C_pciMap.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

unsigned long number(const char* text) {
    return std::strtoul(text, nullptr, 0);
}

// Binds `map` to the first function with this identity; false when there is none.
bool bindFirst(C_linuxDriverIO& io, C_pciMap& map, int vendor, int device) {
    if (!io.open("___nk_pcimap")) {
        std::perror("open /dev/___nk_pcimap");
        return false;
    }
    int first = -1, count = 0;
    int status = ZEPPCIManager::addScanDevice(&io, vendor, device, &first, &count, 1);
    if (status != 0 || count < 1) {
        std::fprintf(stderr, "no function %04x:%04x (status %d)\n", vendor, device, status);
        return false;
    }
    return map.initial(&io, unsigned(first)) == 0;
}

int registerAccess(int argc, char** argv, bool write) {
    if (argc != (write ? 6 : 5)) return 2;
    C_linuxDriverIO io;
    C_pciMap map;
    if (!bindFirst(io, map, int(number(argv[2])), int(number(argv[3])))) return 1;
    uint32_t value = write ? uint32_t(number(argv[5])) : 0;
    unsigned char bytes[4];
    std::memcpy(bytes, &value, 4);
    int status = write ? map.writeRegister(number(argv[4]), 4, bytes, 4)
                       : map.readRegister(number(argv[4]), 4, bytes, 4);
    if (status != 0) {
        std::fprintf(stderr, "register access: %d\n", status);
        return 1;
    }
    std::memcpy(&value, bytes, 4);
    if (!write) std::printf("0x%08x\n", value);
    return 0;
}

int ipOf(int argc, char** argv) {
    unsigned char mac[6];
    unsigned parts[6];
    if (argc != 3 || std::sscanf(argv[2], "%x:%x:%x:%x:%x:%x", &parts[0], &parts[1], &parts[2],
                                 &parts[3], &parts[4], &parts[5]) != 6)
        return 2;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<unsigned char>(parts[i]);
    char ip[32] = {0};
    if (!I_CommonDef::getLocalAdpaterIPByMAC(ip, sizeof ip, mac)) return 1;
    std::printf("%s\n", ip);
    return 0;
}

int i2cWrite(int argc, char** argv) {
    if (argc < 5) return 2;
    C_nkDTSI2C bus;
    if (bus.initial(unsigned(number(argv[2]))) != 0) return 1;
    if (bus.setI2CSlave(number(argv[3])) != 0) return 1;
    std::vector<unsigned char> data;
    for (int i = 5; i < argc; ++i) data.push_back(static_cast<unsigned char>(number(argv[i])));
    int status = bus.writeI2C(number(argv[4]), 1, data.data(), unsigned(data.size()));
    return status == 0 ? 0 : 1;
}

int pause(int argc, char** argv) {
    if (argc < 3 || argc > 4) return 2;
    const int ms = int(number(argv[2]));
    if (argc == 4) {
        std::thread second([ms] { I_CommonDef::Sleep(ms); });
        I_CommonDef::Sleep(ms);
        second.join();
    }
    I_CommonDef::Sleep(ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "write") return registerAccess(argc, argv, true);
    if (command == "read") return registerAccess(argc, argv, false);
    if (command == "ip-of") return ipOf(argc, argv);
    if (command == "i2c-write") return i2cWrite(argc, argv);
    if (command == "pause") return pause(argc, argv);
    std::fprintf(stderr, "usage: e2e_rig_probe write|read|ip-of|i2c-write|pause ...\n");
    return 2;
}
