// Runs inside the virtual rig, one of several processes on the same Linux I2C adapter, with a
// 256-byte memory at 0x50 on it (the rig test plugin's bench board). Without the C API library:
// the SDK's own adapter bus object only. A register read there is an address write, a pause and
// a separate read, so another process's address write in between would make it read the wrong
// bytes.
//
//   adapter_worker fill ADAPTER        writes byte i to address i, for every address
//   adapter_worker read ADAPTER N      N reads of four bytes at addresses of its own choosing;
//                                      one JSON document: how many came back right, wrong,
//                                      or failed (with their status)

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "core/bus/C_nkI2CFactory.h"

namespace {

constexpr unsigned long kMemory = 0x50;
constexpr unsigned kBytes = 256;
constexpr unsigned kChunk = 8;
constexpr unsigned kReadLength = 4;

int fill(I_nkI2C* bus) {
    for (unsigned at = 0; at < kBytes; at += kChunk) {
        unsigned char bytes[kChunk];
        for (unsigned i = 0; i < kChunk; ++i) bytes[i] = static_cast<unsigned char>(at + i);
        if (bus->writeI2C(at, 1, bytes, kChunk) != 0) return 1;
    }
    return 0;
}

int readBack(I_nkI2C* bus, int rounds) {
    std::map<std::string, int> tally;
    for (int round = 0; round < rounds; ++round) {
        const unsigned at = (static_cast<unsigned>(::getpid()) * 7 + round * 13) % (kBytes - 4);
        unsigned char bytes[kReadLength] = {};
        const int status = bus->readI2C(bytes, kReadLength, at, 1);
        bool right = status == 0;
        for (unsigned i = 0; i < kReadLength; ++i) right = right && bytes[i] == at + i;
        ++tally[status != 0 ? std::to_string(status) : right ? "right" : "wrong"];
    }
    std::printf("{");
    const char* separator = "";
    for (const auto& entry : tally) {
        std::printf("%s\"%s\":%d", separator, entry.first.c_str(), entry.second);
        separator = ",";
    }
    std::printf("}\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode != "fill" && !(mode == "read" && argc == 4)) {
        std::fprintf(stderr, "usage: adapter_worker fill ADAPTER | read ADAPTER N\n");
        return 2;
    }
    C_nkI2CFactory buses;
    I_nkI2C* bus = buses.create(static_cast<unsigned>(std::atoi(argv[2])));
    if (bus == nullptr || bus->setI2CSlave(kMemory) != 0) return 1;
    return mode == "fill" ? fill(bus) : readBack(bus, std::atoi(argv[3]));
}
