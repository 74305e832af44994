// Runs inside the virtual rig and walks every PEX 8608 card the kit's driver reports the way a
// PoE card's bring-up does, with the kit's own controller classes: the switch's pins, the CPLD
// on the switch's serial port, and behind the CPLD's I2C master the microcontroller (0x2D) and
// the identity EEPROM (0x50). Prints one JSON document.
//
//   poe_probe                        identify every card
//   poe_probe INDEX V0,V1,... [SN]   first set the PoE port enables of card INDEX (and write
//                                    the serial number field of its EEPROM)

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/controllers/cpld/C_rhxSPICPLD.h"
#include "core/controllers/eeprom/C_nkAT24C02D.h"
#include "core/controllers/pciswitch/C_nkPex8608.h"
#include "core/controllers/rhxmcu/C_rhxMCU.h"
#include "core/driver/C_linuxDriverIO.h"
#include "core/driver/C_pciMap.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

using nlohmann::json;

constexpr unsigned long kMcuAddress = 0x2D;
constexpr unsigned long kEepromAddress = 0x50;

// A pin-strap value: the pins as bits 0, 1, ...; -1 when a pin cannot be read.
int strapValue(C_nkPex8608& pex, const std::vector<unsigned>& pins, bool activeLow) {
    int value = 0;
    for (size_t bit = 0; bit < pins.size(); ++bit) {
        int level = 0;
        if (pex.getGPIO(pins[bit], &level) != 0) return -1;
        if ((level != 0) != activeLow) value |= 1 << bit;
    }
    return value;
}

// A text field up to its terminator or the first erased cell.
std::string text(const unsigned char* bytes, size_t n) {
    std::string out;
    for (size_t i = 0; i < n && bytes[i] != 0 && bytes[i] != 0xFF; ++i)
        out += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? char(bytes[i]) : '?';
    return out;
}

json eepromIdentity(C_rhxSPICPLD& cpld, C_nkAT24C02D& eeprom, unsigned ports,
                    const std::string* newSerial) {
    json out;
    unsigned char slots[32] = {}, sn[32] = {}, pn[32] = {};
    cpld.setI2CSlave(kEepromAddress);
    if (newSerial != nullptr) {
        unsigned char field[32] = {};
        newSerial->copy(reinterpret_cast<char*>(field), sizeof field - 1);
        out["sn_write_status"] = eeprom.writeData(0x40, field, sizeof field);
    }
    out["mac_status"] = eeprom.readData(0x00, slots, sizeof slots);
    out["sn_status"] = eeprom.readData(0x40, sn, sizeof sn);
    out["pn_status"] = eeprom.readData(0x60, pn, sizeof pn);
    cpld.setI2CSlave(kMcuAddress);
    out["mac"] = json::array();
    for (unsigned port = 0; port < ports; ++port) {
        const unsigned char* m = slots + 8 * port;
        char mac[18];
        std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3],
                      m[4], m[5]);
        out["mac"].push_back(mac);
    }
    out["sn"] = text(sn, sizeof sn);
    out["pn"] = text(pn, sizeof pn);
    return out;
}

json mcuState(C_rhxMCU& mcu, const std::vector<int>* enables) {
    json out;
    char version[16] = {};
    out["version_status"] = mcu.getVersion(version, sizeof version);
    out["version"] = version;
    if (enables != nullptr) {
        std::vector<int> values = *enables;
        out["set_status"] = mcu.setPoEEnable(values.data(), unsigned(values.size()));
    }
    std::vector<int> current(4, 7);
    out["enable_status"] = mcu.getPoEEnable(current.data(), unsigned(current.size()));
    out["enable"] = current;
    float temperature = -1000;
    out["temperature_status"] = mcu.getThermalTemperature(&temperature);
    out["temperature"] = temperature;
    int busy = -1;
    out["busy_status"] = mcu.isMCUBusy(&busy);
    out["busy"] = busy;
    // The PSE through the microcontroller's relay: power status, port 0's voltage.
    unsigned char power = 0, voltage[2] = {};
    int powerStatus = mcu.readPSEOneByteData(0x10, &power);
    int voltageStatus = mcu.readPSETwoByteData(0x32, voltage);
    out["pse_status"] = powerStatus != 0 ? powerStatus : voltageStatus;
    out["pse_power"] = power;
    out["port0_voltage"] = voltage[0] + 256 * voltage[1];
    return out;
}

json probeCard(C_linuxDriverIO& io, unsigned index, const std::vector<int>* enables,
               const std::string* newSerial) {
    json out;
    out["index"] = index;
    C_pciMap map;
    map.initial(&io, index);
    C_nkPex8608 pex;
    out["switch_status"] = pex.initial(&map);
    if (out["switch_status"] != 0) return out;
    out["pcb_version"] = strapValue(pex, {2, 3, 4, 5, 10}, false);
    out["card_id"] = strapValue(pex, {6, 7, 8, 9}, true);
    out["pin11"] = strapValue(pex, {11}, false);
    out["pin12"] = strapValue(pex, {12}, false);
    unsigned ports = out["pin12"] == 1 ? 2 : 4;

    C_rhxSPICPLD cpld;
    cpld.initial(static_cast<I_nkSPI*>(&pex));
    char version[32] = {};
    int older = -1;
    int versionStatus = cpld.getVersion(version, sizeof version);
    cpld.isOlderCPLD(&older);
    out["cpld"] = {{"status", versionStatus}, {"version", version}, {"older", older}};

    cpld.setI2CSlave(kMcuAddress);
    C_rhxMCU mcu;
    mcu.initial(&cpld);
    out["mcu"] = mcuState(mcu, enables);

    C_nkAT24C02D eeprom;
    eeprom.initial(&cpld);
    out["eeprom"] = eepromIdentity(cpld, eeprom, ports, newSerial);
    return out;
}

std::vector<int> parseList(const char* list) {
    std::vector<int> values;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');) values.push_back(std::atoi(item.c_str()));
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 1 && argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: poe_probe [INDEX V0,V1,... [SN]]\n");
        return 2;
    }
    int target = argc >= 3 ? std::atoi(argv[1]) : -1;
    std::vector<int> enables = argc >= 3 ? parseList(argv[2]) : std::vector<int>();
    std::string newSerial = argc == 4 ? argv[3] : "";

    C_linuxDriverIO io;
    if (!io.open("___nk_pcimap")) {
        std::printf("{\"error\":\"driver not found\"}\n");
        return 1;
    }
    int first = -1, count = 0;
    if (ZEPPCIManager::addScanDevice(&io, 0x10B5, 0x8608, &first, &count, 1) != 0) {
        std::printf("{\"error\":\"scan registration failed\"}\n");
        return 1;
    }
    json out;
    out["cards"] = json::array();
    for (int i = 0; i < count; ++i) {
        unsigned index = unsigned(first + i);
        bool chosen = int(index) == target;
        out["cards"].push_back(probeCard(io, index, chosen ? &enables : nullptr,
                                         chosen && argc == 4 ? &newSerial : nullptr));
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
