#pragma once

#include "core/driver/I_driverIO.h"

// Scan functions of the kit's kernel driver: register the PCI identifier pairs the driver is
// to look for, read back its identifier tables, the two values it keeps per scanned device and
// its version. Every function returns a status code; -11 when `io` is null, -1 when the
// request itself fails, otherwise the driver's status mapped by returnZEPVal.
class ZEPPCIManager {
  public:
    // The driver's identifier tables.
    struct __PCIMAP_PCIIDLIST {
        int firstTable[32];
        int secondTable[32];
        int count;
    };

    // Copies the driver's version text into buf; len must be at least 16.
    static int getVersion(I_driverIO* io, char* buf, unsigned len);
    // Registers a vendor/device pair; `count` receives the number of matching devices and
    // `first` the driver's first result (null outputs are skipped). `flag` is 1 with the first
    // registration of a scan.
    static int addScanDevice(I_driverIO* io, int vendor, int device, int* first, int* count,
                             unsigned char flag);
    static int getScanDeviceList(I_driverIO* io, __PCIMAP_PCIIDLIST* list);
    // Reads the two values of scanned device `index`; both are written whenever the request
    // itself succeeds, whatever the driver's status.
    static int getIndexDevice(I_driverIO* io, int index, int* a, int* b);

    // Driver status to status code: 255 busy (-100), 1 and 3 failed (-1), anything else 0.
    static int returnZEPVal(int status);
};
