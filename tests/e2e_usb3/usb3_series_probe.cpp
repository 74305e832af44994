// Runs inside the virtual rig without the C API library (so no detection runs at load): finds
// the PLX switches through the kit's driver and offers each one to the two USB3 card series
// only. Prints, per device, whether each series accepted it, as one JSON document.
//
//   usb3_series_probe              which series accepts each device
//   usb3_series_probe flash SN PN  then write the serial and part number to the flash of every
//                                  card a series accepted, with the kit's microcontroller
//                                  class, and read them back

#include <cstdio>

#include <nlohmann/json.hpp>

#include <cstring>
#include <string>

#include "C_visionProductFactory.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "core/controllers/w5mcu/C_w5MCUFactory.h"
#include "core/driver/C_driverIOFactory.h"
#include "core/driver/C_pciMapFactory.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

// Writes `serial` and `part` to the card's flash and reads both back.
nlohmann::json flash(I_pciMap* map, int device, const std::string& serial,
                     const std::string& part) {
    C_nkPCISwitcherFactory switches;
    C_w5MCUFactory mcus;
    I_nkPCISwitcher* pex =
        switches.create(device == 0x8718 ? C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718
                                         : C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    I_w5MCU* mcu = mcus.create(C_w5MCUFactory::NK_HWMCU_W5);
    if (pex->initial(map) != 0 || mcu->initial(pex) != 0) return {{"error", "bind"}};
    std::string sn = serial, pn = part;
    char snBack[16] = {}, pnBack[16] = {};
    nlohmann::json out;
    out["set_sn"] = mcu->setSN(&sn[0], unsigned(sn.size()));
    out["set_pn"] = mcu->setPN(&pn[0], unsigned(pn.size()));
    out["get_sn"] = mcu->getSN(snBack, sizeof snBack - 1);
    out["get_pn"] = mcu->getPN(pnBack, sizeof pnBack - 1);
    out["sn"] = std::string(snBack);
    out["pn"] = std::string(pnBack);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    bool flashing = argc == 4 && std::strcmp(argv[1], "flash") == 0;
    nlohmann::json out;
    C_driverIOFactory ioFactory;
    I_driverIO* io = ioFactory.create();
    if (io == nullptr || !io->open("___nk_pcimap")) {
        std::printf("{\"error\":\"driver not found\"}\n");
        return 1;
    }
    int devices = 0;
    const int pairs[2][2] = {{0x10B5, 0x8608}, {0x10B5, 0x8718}};
    for (const auto& pair : pairs) {
        int first = 0, count = 0;
        if (ZEPPCIManager::addScanDevice(io, pair[0], pair[1], &first, &count, 0) != 0) {
            std::printf("{\"error\":\"scan registration failed\"}\n");
            return 1;
        }
        devices += count;
    }
    C_pciMapFactory maps;
    C_visionProductFactory products;
    out["devices"] = nlohmann::json::array();
    for (int i = 0; i < devices; ++i) {
        I_pciMap* map = maps.create();
        map->initial(io, unsigned(i));
        int vendor = 0, device = 0;
        map->getDeviceInfo(&vendor, &device);
        bool w50x = products.create(C_visionProductFactory::SERIES_W50X, map) != nullptr;
        bool w51x = products.create(C_visionProductFactory::SERIES_W51X, map) != nullptr;
        out["devices"].push_back(
            {{"index", i}, {"device", device}, {"w50x", w50x}, {"w51x", w51x}});
        if (flashing && (w50x || w51x))
            out["devices"].back()["flash"] = flash(map, device, argv[2], argv[3]);
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
