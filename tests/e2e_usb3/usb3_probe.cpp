// Runs inside the virtual rig: loads the C API library (which detects the rig's products) and
// answers one request per run as a JSON document on standard output.
//
//   usb3_probe list                      every product: type, info, ports, features, ...
//   usb3_probe power INDEX V0,V1,...     set the port power, then read it back
//   usb3_probe getpower INDEX COUNT      read the port power into COUNT entries
//   usb3_probe supply                    every product: external supply count and state

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace {

using nlohmann::json;

// Entries the library must not touch start out with this value.
constexpr int kUntouched = 7;

json product(unsigned index) {
    void* handle = QRT_GetProductHandle(index);
    json p;
    p["index"] = index;
    p["type"] = QRT_GetProductType(handle);
    char info[512] = {};
    p["info_status"] = QRT_GetProductInfo(handle, info, sizeof info);
    p["info"] = info;
    char sn[64] = {};
    p["sn_status"] = QRT_GetProductSN(handle, sn, sizeof sn);
    p["sn"] = sn;
    int id = -1;
    p["card_id_status"] = QRT_GetCardID(handle, &id);
    p["card_id"] = id;
    QRT_FEATURE_TYPE features[8];
    int count = QRT_GetFeatureList(handle, features, 8);
    p["features"] = json::array();
    for (int i = 0; i < count && i < 8; ++i) p["features"].push_back(int(features[i]));
    QRT_FEATURE_TYPE one[1] = {QRT_FEATURE_TYPE(kUntouched)};
    p["features_capacity1"] = {{"count", QRT_GetFeatureList(handle, one, 1)},
                               {"first", int(one[0])}};
    unsigned ports = 0;
    p["ports_status"] = QRT_PowCtrlGetPortNums(handle, &ports);
    p["ports"] = ports;
    return p;
}

std::vector<int> parseList(const char* text) {
    std::vector<int> values;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) values.push_back(std::atoi(item.c_str()));
    return values;
}

json readPower(void* handle, unsigned count) {
    std::vector<int> enables(count, kUntouched);
    int status = QRT_PowCtrlGetPortEnable(handle, enables.data(), count);
    return {{"status", status}, {"values", enables}};
}

int usage() {
    std::fprintf(stderr, "usage: usb3_probe list | power I V,V,... | getpower I N | supply\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string request = argv[1];
    json out;
    out["products"] = QRT_GetProductNums();
    if (request == "list") {
        out["list"] = json::array();
        for (unsigned i = 0; i < QRT_GetProductNums(); ++i) out["list"].push_back(product(i));
    } else if (request == "power" && argc == 4) {
        void* handle = QRT_GetProductHandle(unsigned(std::atoi(argv[2])));
        std::vector<int> enables = parseList(argv[3]);
        out["set_status"] =
            QRT_PowCtrlSetPortEnable(handle, enables.data(), unsigned(enables.size()));
        out["after_set"] = enables;  // the caller's list as the library left it
        out["get"] = readPower(handle, unsigned(enables.size()));
    } else if (request == "getpower" && argc == 4) {
        void* handle = QRT_GetProductHandle(unsigned(std::atoi(argv[2])));
        out["get"] = readPower(handle, unsigned(std::atoi(argv[3])));
    } else if (request == "supply") {
        out["list"] = json::array();
        for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
            void* handle = QRT_GetProductHandle(i);
            unsigned n = 0;
            int state = kUntouched;
            int numsStatus = QRT_ExPowSupGetNums(handle, &n);
            int stateStatus = QRT_ExPowSupGetState(handle, &state, 1);
            out["list"].push_back({{"type", QRT_GetProductType(handle)},
                                   {"nums_status", numsStatus},
                                   {"nums", n},
                                   {"state_status", stateStatus},
                                   {"state", state}});
        }
    } else {
        return usage();
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
