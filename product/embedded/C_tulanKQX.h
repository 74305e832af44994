#pragma once

#include <memory>
#include <string>
#include <vector>

#include "C_visionComponentFactory.h"
#include "core/bus/C_nkI2CFactory.h"
#include "product/embedded/A_tulanSeries.h"

class SModifyConfig;

// The TULAN-KQX embedded vision system, the computer the SDK runs on. It is recognised by its
// system file "/etc/tulankqx/system.ini", a flat file that names the I2C adapters of its PoE
// board: "MCU.I2CBUS" for the microcontroller (default 8) and "EEPROM.I2CBUS" for the
// identity EEPROM (default 1). The system numbers its PoE ports the other way round from the
// PoE controller: port p is controller port N - 1 - p.
class C_tulanKQX : public A_tulanSeries {
  public:
    static constexpr const char* kSystemFile = "/etc/tulankqx/system.ini";
    static constexpr unsigned kDefaultMcuBus = 8;
    static constexpr unsigned kDefaultEepromBus = 1;

    C_tulanKQX();
    ~C_tulanKQX() override;

    // Recognises the system, opens its buses and brings up both components. -1 when this
    // computer is not the system or a component does not come up.
    int initial() override;

    void poePortlistMapping(int* list) override;
    void poePortlistRerverseMapping(int* list) override;
    void poePortMapping(unsigned* port) override;

  protected:
    // Another system file and other component classes (a test's).
    C_tulanKQX(const char* systemFile, const C_visionComponentFactory::ComponentTable& parts);

  private:
    // Reads the system file: false when there is none, or when a bus number in it is no
    // decimal number within the adapter range.
    bool checkvaild();
    bool readBusNumber(SModifyConfig& config, const char* key, unsigned* bus);
    void reversePorts(int* list);

    const std::string m_systemFile;
    bool m_reported = false;  // a bad bus number was reported on standard error
    unsigned m_eepromBus = kDefaultEepromBus;
    unsigned m_mcuBus = kDefaultMcuBus;
    // Destroyed in reverse order: the components before the buses they use.
    C_nkI2CFactory m_i2cFactory;
    std::unique_ptr<std::vector<I_nkI2C*>> m_buses;
    C_visionComponentFactory m_componentFactory;
};
