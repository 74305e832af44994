// Runs inside the virtual rig without the C API library (so no detection runs at load): finds
// the PLX switches through the kit's driver and offers each one to the two USB3 card series
// only. Prints, per device, whether each series accepted it, as one JSON document.

#include <cstdio>

#include <nlohmann/json.hpp>

#include "C_visionProductFactory.h"
#include "core/driver/C_driverIOFactory.h"
#include "core/driver/C_pciMapFactory.h"
#include "core/driver/ZEPPCIManager.h"

int main() {
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
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
