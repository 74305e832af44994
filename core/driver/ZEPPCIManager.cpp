#include "core/driver/ZEPPCIManager.h"

#include <cstdio>
#include <cstring>

#include "QRT_Types.h"
#include "core/driver/DriverRecords.h"

using nkpcimap::issueRequest;

int ZEPPCIManager::returnZEPVal(int status) {
    switch (status) {
        case nkpcimap::kStatusBusy:
            return QRT_ERR_BUSY;
        case nkpcimap::kStatusFailed:
        case nkpcimap::kStatusFailedOther:
            return QRT_ERR_FAILED;
        default:
            return QRT_SUCCESS;
    }
}

int ZEPPCIManager::getVersion(I_driverIO* io, char* buf, unsigned len) {
    nkpcimap::DriverVersionRecord record = {};
    if (io == nullptr || buf == nullptr || len < sizeof(record.text)) return QRT_ERR_INVALID_PARAM;
    if (!issueRequest(io, nkpcimap::kDriverVersion, record)) return QRT_ERR_FAILED;
    // Never read past the record, even if the driver left no terminator in it.
    const int textLength = static_cast<int>(strnlen(record.text, sizeof(record.text)));
    std::snprintf(buf, len, "%.*s", textLength, record.text);
    return QRT_SUCCESS;
}

int ZEPPCIManager::addScanDevice(I_driverIO* io, int vendor, int device, int* first, int* count,
                                 unsigned char flag) {
    if (io == nullptr) return QRT_ERR_INVALID_PARAM;
    nkpcimap::AddScanDeviceRecord record = {};
    record.vendorId = vendor;
    record.deviceId = device;
    record.flag = flag;
    if (!issueRequest(io, nkpcimap::kAddScanDevice, record)) return QRT_ERR_FAILED;
    if (count != nullptr) *count = record.matchCount;
    if (first != nullptr) *first = record.firstResult;
    return returnZEPVal(record.status);
}

int ZEPPCIManager::getScanDeviceList(I_driverIO* io, __PCIMAP_PCIIDLIST* list) {
    if (io == nullptr || list == nullptr) return QRT_ERR_INVALID_PARAM;
    nkpcimap::ScanListRecord record = {};
    if (!issueRequest(io, nkpcimap::kGetScanList, record)) return QRT_ERR_FAILED;
    static_assert(sizeof(list->firstTable) == sizeof(record.firstTable), "first table");
    static_assert(sizeof(list->secondTable) == sizeof(record.secondTable), "second table");
    std::memcpy(list->firstTable, record.firstTable, sizeof(list->firstTable));
    std::memcpy(list->secondTable, record.secondTable, sizeof(list->secondTable));
    list->count = record.count;
    return returnZEPVal(record.status);
}

int ZEPPCIManager::getIndexDevice(I_driverIO* io, int index, int* a, int* b) {
    if (io == nullptr) return QRT_ERR_INVALID_PARAM;
    nkpcimap::DeviceInformationRecord record = {};
    // The scan functions carry the index as a signed number, widened with its sign.
    record.deviceIndex = static_cast<uint64_t>(static_cast<int64_t>(index));
    if (!issueRequest(io, nkpcimap::kDeviceInformation, record)) return QRT_ERR_FAILED;
    if (a != nullptr) *a = record.firstValue;
    if (b != nullptr) *b = record.secondValue;
    return returnZEPVal(record.status);
}
