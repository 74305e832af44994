#include "C_visionProductManager.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "QRT_Types.h"
#include "core/common/C_TransactionLock.h"
#include "core/driver/C_driverIOFactory.h"
#include "core/driver/C_pciMapFactory.h"
#include "core/driver/I_driverIO.h"
#include "core/driver/I_pciMap.h"
#include "core/driver/ZEPPCIManager.h"

namespace {

// The kit's kernel driver, opened as /dev/___nk_pcimap.
constexpr char kDriverDeviceName[] = "___nk_pcimap";

// PCI functions the driver is asked to scan for, in registration order. The flag byte is
// interpreted by the driver; the Ethernet controller's registration carries 1.
struct ScanDevice {
    int vendor;
    int device;
    unsigned char flag;
};
constexpr ScanDevice kScanList[] = {
    {0x8086, 0x1563, 1},  // Intel X550 10-gigabit Ethernet controller
    {0x10B5, 0x8608, 0},  // PLX PEX 8608 PCIe switch
    {0x10B5, 0x8718, 0},  // PLX PEX 8718 PCIe switch
};

// 256 buses of 32 devices of 8 functions: every PCI function one segment can hold.
constexpr unsigned kMaxPciFunctions = 256 * 32 * 8;

// Series that recognise their boards by controller and PCB versions instead of a part number.
// They accept any board whose versions happen to match, so they are tried last.
constexpr C_visionProductFactory::VISION_PRODUCTSERIES kSeriesWithoutPartNumber[] = {
    C_visionProductFactory::SERIES_RHX5X,
    C_visionProductFactory::SERIES_RHX5XPRO,
    C_visionProductFactory::SERIES_RHX44PLUS,
};

}  // namespace

C_visionProductManager::C_visionProductManager()
    : C_visionProductManager(nullptr, C_visionProductFactory::builtInSeries()) {}

C_visionProductManager::C_visionProductManager(I_driverIO* driverIO,
                                               const C_visionProductFactory::SeriesTable& table)
    : m_initialised(0),
      m_productCount(0),
      m_deviceCount(0),
      m_productFactory(new (std::nothrow) C_visionProductFactory(table)),
      m_pciMapFactory(new (std::nothrow) C_pciMapFactory()),
      m_driverIOFactory(new (std::nothrow) C_driverIOFactory()),
      m_driverIO(nullptr),
      m_products(),
      m_pciMaps(),
      m_borrowedDriverIO(driverIO) {
    // Detection runs in the library's static initialiser, where an exception would end the
    // process: memory running out while the boards are brought up answers with no product.
    try {
        initialProductNotUsePNTable();
        if (m_productFactory && m_pciMapFactory && m_driverIOFactory &&
            processStandAloneProduct() == 0)
            processProduct();
    } catch (...) {
        m_productCount = 0;
        if (m_productFactory) m_productFactory->release();
    }
    m_initialised = 1;
}

C_visionProductManager::~C_visionProductManager() {
    m_initialised = 0;
    m_productCount = 0;
    m_notUsePNTable.reset();
    // Products first: on their way out they may still reach their boards through the PCI maps,
    // and the maps may still release a driver-side lock through the driver channel. Deleting
    // the channel last closes the driver's device.
    m_productFactory.reset();
    m_pciMapFactory.reset();
    m_driverIOFactory.reset();
    m_driverIO = nullptr;
}

unsigned C_visionProductManager::getProductNums() const {
    return m_productCount;
}

I_nkProduct* C_visionProductManager::getProductHandle(unsigned index) const {
    if (!m_initialised || index >= m_productCount) return nullptr;
    return m_products[index];
}

int C_visionProductManager::getInfo(char* buf, unsigned len) {
    if (!m_initialised) return QRT_ERR_NOT_INITIALIZED;
    if (buf == nullptr && len != 0) return QRT_ERR_INVALID_PARAM;
    char version[256] = {};
    if (ZEPPCIManager::getVersion(m_driverIO, version, sizeof version) == QRT_SUCCESS)
        std::snprintf(buf, len, "Driver Version:%s\r\n", version);
    else if (len != 0)
        buf[0] = '\0';
    return QRT_SUCCESS;
}

void C_visionProductManager::initialProductNotUsePNTable() {
    if (!m_notUsePNTable)
        m_notUsePNTable.reset(new (std::nothrow) int[C_visionProductFactory::kSeriesCount]());
    if (!m_notUsePNTable) return;  // without the table every series is tried in order
    for (C_visionProductFactory::VISION_PRODUCTSERIES series : kSeriesWithoutPartNumber)
        m_notUsePNTable[series] = 1;
}

unsigned C_visionProductManager::processStandAloneProduct() {
    storeProduct(m_productFactory->create(C_visionProductFactory::SYSTEM_TULAN_KQX));
    return m_productCount;
}

unsigned C_visionProductManager::processProduct() {
    m_driverIO = m_borrowedDriverIO != nullptr ? m_borrowedDriverIO : m_driverIOFactory->create();
    if (m_driverIO == nullptr || !m_driverIO->open(kDriverDeviceName)) return 0;

    for (const ScanDevice& scan : kScanList) {
        int first = 0;
        int count = 0;
        if (ZEPPCIManager::addScanDevice(m_driverIO, scan.vendor, scan.device, &first, &count,
                                         scan.flag) != QRT_SUCCESS)
            return 0;
        // A negative count from a confused driver must not wrap the total into billions of
        // devices to probe, nor may a huge one (INT_MAX): a PCI segment holds no more functions
        // than kMaxPciFunctions.
        if (count > 0)
            m_deviceCount +=
                std::min(static_cast<unsigned>(count), kMaxPciFunctions - m_deviceCount);
    }
    if (m_deviceCount != 0) m_productFactory->release();

    for (unsigned index = 0; index < m_deviceCount && m_productCount < kMaxProducts; ++index) {
        // A device that no series accepts leaves its map at this slot, re-bound to the next
        // device, so the table has no gaps.
        I_pciMap*& map = m_pciMaps[m_productCount];
        if (map == nullptr) map = m_pciMapFactory->create();
        if (map == nullptr) break;
        if (map->initial(m_driverIO, index) != QRT_SUCCESS) continue;

        // The probe of one device is one transaction on it: no other process's traffic falls
        // between the reads that tell which board it is. A device that cannot be had for the
        // whole wait is not probed rather than misjudged from answers it never gave. The
        // products made here are not reachable by any other thread yet, so taking their object
        // locks inside this one cannot invert the order of anybody's locks.
        C_TransactionLock probe(map->deviceAccessLock());
        if (!probe.held()) continue;
        I_nkProduct* product = nullptr;
        if (m_notUsePNTable) {
            if (!scanPNProduct(map, &product)) scanNoPNProduct(map, &product);
        } else {
            scanSeries(map, &product, true);
        }
        storeProduct(product);
    }
    return m_productCount;
}

int C_visionProductManager::scanPNProduct(I_pciMap* map, I_nkProduct** out) {
    return scanSeries(map, out, true);
}

int C_visionProductManager::scanNoPNProduct(I_pciMap* map, I_nkProduct** out) {
    return scanSeries(map, out, false);
}

// Offers the device to the series of one kind (identified by part number or not) in ascending
// order; without the table every series is of both kinds.
int C_visionProductManager::scanSeries(I_pciMap* map, I_nkProduct** out,
                                       bool identifiedByPartNumber) {
    for (unsigned series = 0; series < C_visionProductFactory::kSeriesCount; ++series) {
        if (m_notUsePNTable && (m_notUsePNTable[series] == 0) != identifiedByPartNumber) continue;
        I_nkProduct* product = m_productFactory->create(
            static_cast<C_visionProductFactory::VISION_PRODUCTSERIES>(series), map);
        if (product != nullptr) {
            *out = product;
            return 1;
        }
    }
    return 0;
}

void C_visionProductManager::storeProduct(I_nkProduct* product) {
    if (product == nullptr || m_productCount >= kMaxProducts) return;
    m_products[m_productCount++] = product;
}
