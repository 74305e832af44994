#include "C_visionProductManager.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

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

// What the detection workers share: which device comes next, how many probes are under way,
// and what the ended probes found. Guarded by `mutex`.
struct C_visionProductManager::DetectionRun {
    struct Found {
        unsigned device;
        I_nkProduct* product;
        I_pciMap* map;
    };

    std::mutex mutex;
    std::condition_variable probeEnded;
    unsigned next = 0;         // the lowest device index no worker has taken
    unsigned probing = 0;      // probes under way
    bool stopped = false;      // no further device is taken (a PCI map could not be made)
    bool failed = false;       // a probe ran out of memory: detection answers with no product
    std::vector<Found> found;  // room for kMaxProducts, reserved before the workers start

    // Whether a worker may take device `next` now, or must wait for a probe under way. Device
    // `next` is probed exactly when one-by-one detection would reach it, which it does while
    // fewer than kMaxProducts products were found among the devices before it. Every device
    // before it has been taken; while the products found so far and the probes under way
    // cannot fill the table, it is certain to be reached, and once the products alone fill
    // it, it is certain not to be.
    bool finished(unsigned deviceCount) const {
        return stopped || failed || next >= deviceCount || found.size() >= kMaxProducts;
    }
    bool mayTakeNext() const { return found.size() + probing < kMaxProducts; }
};

C_visionProductManager::C_visionProductManager()
    : C_visionProductManager(nullptr, C_visionProductFactory::builtInSeries()) {}

C_visionProductManager::C_visionProductManager(I_driverIO* driverIO,
                                               const C_visionProductFactory::SeriesTable& table,
                                               unsigned detectThreads)
    : m_initialised(0),
      m_productCount(0),
      m_deviceCount(0),
      m_productFactory(new (std::nothrow) C_visionProductFactory(table)),
      m_pciMapFactory(new (std::nothrow) C_pciMapFactory()),
      m_driverIOFactory(new (std::nothrow) C_driverIOFactory()),
      m_driverIO(nullptr),
      m_products(),
      m_pciMaps(),
      m_borrowedDriverIO(driverIO),
      m_detectThreads(detectThreads != 0 ? std::min(detectThreads, kMaxProducts)
                                         : detectThreadsFromEnvironment()) {
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

    probeDevices(std::min(m_detectThreads, m_deviceCount));
    return m_productCount;
}

unsigned C_visionProductManager::detectThreadsFromEnvironment() {
    const char* text = std::getenv(kDetectThreadsVariable);
    if (text == nullptr || *text < '0' || *text > '9') return kDefaultDetectThreads;
    char* end = nullptr;
    const unsigned long threads = std::strtoul(text, &end, 10);
    if (*end != '\0' || threads == 0) return kDefaultDetectThreads;
    return static_cast<unsigned>(std::min<unsigned long>(threads, kMaxProducts));
}

void C_visionProductManager::probeDevices(unsigned workers) {
    DetectionRun run;
    run.found.reserve(kMaxProducts);
    // The loading thread is the first worker; the others are threads of their own, each
    // joined before detection ends. A thread the system refuses leaves fewer workers.
    std::vector<std::thread> helpers;
    if (workers > 1) {
        try {
            helpers.reserve(workers - 1);
            for (unsigned i = 1; i < workers; ++i)
                helpers.emplace_back(&C_visionProductManager::probeWorker, this, std::ref(run));
        } catch (...) {
        }
    }
    probeWorker(run);
    for (std::thread& helper : helpers) helper.join();

    if (run.failed) {
        m_productFactory->release();
        return;
    }
    std::sort(run.found.begin(), run.found.end(),
              [](const DetectionRun::Found& a, const DetectionRun::Found& b) {
                  return a.device < b.device;
              });
    I_nkProduct* order[kMaxProducts] = {};
    for (const DetectionRun::Found& found : run.found) {
        m_pciMaps[m_productCount] = found.map;
        order[m_productCount] = found.product;
        storeProduct(found.product);
    }
    // The factory gives its products back in the reverse of this order, as it would after
    // creating them one device after the other.
    m_productFactory->arrange(order, m_productCount);
}

void C_visionProductManager::probeWorker(DetectionRun& run) {
    // A map that no product has taken: re-bound from one device to the next.
    I_pciMap* map = nullptr;
    std::unique_lock<std::mutex> lock(run.mutex);
    for (;;) {
        run.probeEnded.wait(lock, [&] { return run.finished(m_deviceCount) || run.mayTakeNext(); });
        if (run.finished(m_deviceCount)) return;
        const unsigned device = run.next++;
        ++run.probing;
        lock.unlock();

        I_nkProduct* product = nullptr;
        bool failed = false;
        try {
            if (map == nullptr) map = m_pciMapFactory->create();
            if (map != nullptr && map->initial(m_driverIO, device) == QRT_SUCCESS)
                product = probeDevice(map);
        } catch (...) {
            failed = true;
        }

        lock.lock();
        --run.probing;
        if (failed) run.failed = true;
        if (map == nullptr) run.stopped = true;
        if (product != nullptr) {
            run.found.push_back({device, product, map});
            map = nullptr;
        }
        run.probeEnded.notify_all();
    }
}

I_nkProduct* C_visionProductManager::probeDevice(I_pciMap* map) {
    // The probe of one device is one transaction on it: no other process's traffic falls
    // between the reads that tell which board it is. A device that cannot be had for the
    // whole wait is not probed rather than misjudged from answers it never gave. The products
    // made here are not reachable by any other thread yet (each device is probed by one worker
    // alone, and the table is filled after every worker has ended), so taking their object
    // locks inside this one cannot invert the order of anybody's locks.
    C_TransactionLock probe(map->deviceAccessLock());
    if (!probe.held()) return nullptr;
    I_nkProduct* product = nullptr;
    if (m_notUsePNTable) {
        if (!scanPNProduct(map, &product)) scanNoPNProduct(map, &product);
    } else {
        scanSeries(map, &product, true);
    }
    return product;
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
