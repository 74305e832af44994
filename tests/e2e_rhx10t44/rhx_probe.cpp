// Runs inside the virtual rig: loads the C API library (which detects the rig's products) and
// answers one request per run as a JSON document on standard output. INDEX is a product index.
//
//   rhx_probe list                           every product: identity, features, readings
//   rhx_probe enable INDEX V0,V1,...         set the PoE port enables, then read them back
//   rhx_probe current INDEX PORT             the PSE current of a port
//   rhx_probe toe INDEX PORT DEV GROUP MASK  store an action command, read it back
//   rhx_probe send INDEX PORT                fire the stored action command(s)
//   rhx_probe count INDEX PORT               the port's two trigger counters
//   rhx_probe range INDEX PROTECT RECOVER    set the protection temperatures, read them back

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace {

using nlohmann::json;

constexpr int kUntouched = 7;  // entries the library must not write start out so

json product(unsigned index) {
    void* h = QRT_GetProductHandle(index);
    json p;
    p["type"] = QRT_GetProductType(h);
    char info[512] = {};
    p["info_status"] = QRT_GetProductInfo(h, info, sizeof info);
    p["info"] = info;
    int id = -1;
    p["card_id"] = {QRT_GetCardID(h, &id), id};
    QRT_FEATURE_TYPE features[8];
    int count = QRT_GetFeatureList(h, features, 8);
    p["features"] = json::array();
    for (int i = 0; i < count && i < 8; ++i) p["features"].push_back(int(features[i]));
    unsigned n = 0;
    p["poe_ports"] = {QRT_PoEGetPortNums(h, &n), n};
    n = 0;
    p["toe_ports"] = {QRT_ToEGetPortNums(h, &n), n};
    n = 0;
    p["supplies"] = {QRT_ExPowSupGetNums(h, &n), n};
    int state = kUntouched;
    p["supply_state"] = {QRT_ExPowSupGetState(h, &state, 1), state};
    float budget = -1;
    p["budget"] = {QRT_PoEGetProperty(h, QRT_POE_PROP_TOTAL_BUDGET, &budget), budget};
    // Every reading the PoE component offers, by its status only.
    int enables[4], mode = 0, a = 0, b = 0;
    float value = 0;
    char sn[32];
    p["read_statuses"] = {QRT_PoEGetPortEnable(h, enables, 4),
                          QRT_PoEGetPowConsumCalcModel(h, &mode),
                          QRT_PoEGetProtectTempRange(h, &a, &b),
                          QRT_PoEGetProperty(h, QRT_POE_PROP_TEMPERATURE, &value),
                          QRT_PoEGetPortProperty(h, 0, QRT_POEPORT_PROP_CURRENT, &value),
                          QRT_GetProductSN(h, sn, sizeof sn)};
    return p;
}

std::vector<int> parseList(const char* text) {
    std::vector<int> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) values.push_back(std::atoi(item.c_str()));
    return values;
}

int usage() {
    std::fprintf(stderr,
                 "usage: rhx_probe list | enable I V,... | current I P | toe I P D G M |"
                 " send I P | count I P | range I P R\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string request = argv[1];
    json out;
    out["products"] = QRT_GetProductNums();
    void* h = argc > 2 ? QRT_GetProductHandle(unsigned(std::atoi(argv[2]))) : nullptr;
    if (request == "list") {
        out["list"] = json::array();
        for (unsigned i = 0; i < QRT_GetProductNums(); ++i) out["list"].push_back(product(i));
    } else if (request == "enable" && argc == 4) {
        std::vector<int> enables = parseList(argv[3]);
        out["set_status"] = QRT_PoESetPortEnable(h, enables.data(), unsigned(enables.size()));
        out["after_set"] = enables;  // the caller's list as the library left it
        std::vector<int> got(enables.size(), kUntouched);
        out["get_status"] = QRT_PoEGetPortEnable(h, got.data(), unsigned(got.size()));
        out["get"] = got;
    } else if (request == "current" && argc == 4) {
        float amperes = -1;
        out["status"] = QRT_PoEGetPortProperty(h, unsigned(std::atoi(argv[3])),
                                               QRT_POEPORT_PROP_CURRENT, &amperes);
        out["amperes"] = amperes;
    } else if (request == "toe" && argc == 7) {
        unsigned port = unsigned(std::atoi(argv[3]));
        out["set_status"] = QRT_ToESetActionCommand(h, port, std::strtoul(argv[4], nullptr, 0),
                                                    std::strtoul(argv[5], nullptr, 0),
                                                    std::strtoul(argv[6], nullptr, 0));
        unsigned long keys[3] = {};
        out["get_status"] = QRT_ToEGetActionCommand(h, port, &keys[0], &keys[1], &keys[2]);
        out["get"] = {keys[0], keys[1], keys[2]};
    } else if (request == "send" && argc == 4) {
        out["status"] = QRT_ToESendActionCommand(h, std::atoi(argv[3]));
    } else if (request == "count" && argc == 4) {
        unsigned a = 0, b = 0;
        out["status"] = QRT_ToEGetTriggerCount(h, unsigned(std::atoi(argv[3])), &a, &b);
        out["counts"] = {a, b};
    } else if (request == "range" && argc == 5) {
        out["set_status"] = QRT_PoESetProtectTempRange(h, std::atoi(argv[3]), std::atoi(argv[4]));
        int protect = -1, recover = -1;
        out["get_status"] = QRT_PoEGetProtectTempRange(h, &protect, &recover);
        out["get"] = {protect, recover};
    } else {
        return usage();
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
