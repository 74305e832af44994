// Runs inside the virtual rig and dies there in the middle of a transaction on a USB3 card.
// Without the C API library (nothing is detected at load) it binds the first PLX switch the
// kit's driver reports, takes the card's access lock through the switch, writes a mailbox
// command to the card's microcontroller (the first word of the serial number) and waits out
// the answer's pause; then it reports one progress step on QRT_TEST_PROGRESS_FD and waits to be
// killed, the answer unread and the lock held.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/common/I_CommonDef.h"
#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "core/controllers/w5mcu/C_w5MCUFactory.h"
#include "core/driver/C_driverIOFactory.h"
#include "core/driver/C_pciMapFactory.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

constexpr unsigned long kSerialNumberWord0 = 0x1070;  // mailbox
constexpr W5MCU_WRITEDATA kFlashReadCommand = 0x4652FFFF;
constexpr int kAnswerPauseMs = 60;

int fail(const char* what) {
    std::fprintf(stderr, "lock_holder: %s\n", what);
    return 1;
}

}  // namespace

int main() {
    C_driverIOFactory ioFactory;
    I_driverIO* io = ioFactory.create();
    if (io == nullptr || !io->open("___nk_pcimap")) return fail("no driver");
    int devices = 0;
    for (int device : {0x8718, 0x8608}) {
        int first = 0, count = 0;
        if (ZEPPCIManager::addScanDevice(io, 0x10B5, device, &first, &count, devices == 0) != 0)
            return fail("scan registration failed");
        devices += count;
    }
    if (devices == 0) return fail("no switch");
    C_pciMapFactory maps;
    I_pciMap* map = maps.create();
    map->initial(io, 0);
    C_nkPCISwitcherFactory switches;
    I_nkPCISwitcher* pex = switches.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718);
    if (pex->initial(map) != 0) {
        pex = switches.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
        if (pex->initial(map) != 0) return fail("not a PLX switch");
    }
    C_w5MCUFactory mcus;
    I_w5MCU* mcu = mcus.create(C_w5MCUFactory::NK_HWMCU_W5);
    if (mcu->initial(static_cast<I_nkSPI*>(pex)) != 0) return fail("microcontroller not bound");

    if (pex->tryLockOpation() != 0) return fail("card lock not taken");
    W5MCU_WRITEDATA command = kFlashReadCommand;
    if (mcu->writeData(kSerialNumberWord0, &command) != 0) return fail("command not written");
    I_CommonDef::Sleep(kAnswerPauseMs);
    const char* progress = std::getenv("QRT_TEST_PROGRESS_FD");
    if (progress == nullptr || ::write(std::atoi(progress), "h", 1) != 1)
        return fail("no conductor");
    for (;;) ::pause();
}
