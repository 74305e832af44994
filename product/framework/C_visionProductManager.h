#pragma once

#include <memory>

#include "C_visionProductFactory.h"
#include "I_nkProduct.h"

class C_driverIOFactory;
class C_pciMapFactory;
class I_driverIO;
class I_pciMap;

// Finds every supported product once, at construction, and keeps them in a fixed table for
// its whole life. Detection first looks for a stand-alone system (the SDK running on the
// embedded vision system); only when there is none does it ask the kit's kernel driver for
// the PCI functions of the supported cards and offer each one to the card series in turn.
//
// The cards are probed at once, each by a worker of its own (up to one per device, at most
// kMaxProducts): most of a probe is waiting out the pauses of the card's protocols, so loading
// takes about as long as the slowest card instead of the sum of all of them. Each probe is one
// transaction on its device, as before; the products are stored in device order, so the table
// is exactly the one a probe of one device after the other gives. The environment variable
// QRT_DETECT_THREADS caps the workers (1: one device after the other, on the loading thread).
// Every worker has ended before the constructor returns.
//
// The table is read-only after construction, so the manager takes no locks afterwards.
class C_visionProductManager {
  public:
    static constexpr unsigned kMaxProducts = 32;
    // The environment variable that caps the detection workers, and the cap without it.
    static constexpr char kDetectThreadsVariable[] = "QRT_DETECT_THREADS";
    static constexpr unsigned kDefaultDetectThreads = kMaxProducts;

    C_visionProductManager();
    ~C_visionProductManager();

    C_visionProductManager(const C_visionProductManager&) = delete;
    C_visionProductManager& operator=(const C_visionProductManager&) = delete;

    unsigned getProductNums() const;
    // The product at `index`, or null when index is not below the count or the manager is not
    // (or no longer) constructed.
    I_nkProduct* getProductHandle(unsigned index) const;
    // "Driver Version:<text>\r\n" when the kernel driver tells its version, else an empty
    // text; cut to len. -13 when the manager is not constructed.
    int getInfo(char* buf, unsigned len);

  protected:
    // Runs detection over another driver channel and another set of product classes: lets a
    // rig or a test stand in for the kernel driver and the boards. `driverIO` is borrowed and
    // used instead of the channel the manager would open itself. `detectThreads` caps the
    // workers that probe the devices (0: as QRT_DETECT_THREADS says).
    C_visionProductManager(I_driverIO* driverIO, const C_visionProductFactory::SeriesTable& table,
                           unsigned detectThreads = 0);

    // The cap QRT_DETECT_THREADS sets: a decimal number from 1, at most kMaxProducts; anything
    // else (unset, empty, 0, not a number) leaves kDefaultDetectThreads.
    static unsigned detectThreadsFromEnvironment();

  private:
    struct DetectionRun;

    void initialProductNotUsePNTable();
    unsigned processStandAloneProduct();
    unsigned processProduct();
    // Probes devices 0 to m_deviceCount - 1 with up to `workers` threads (the calling one
    // among them) and stores what they found in device order.
    void probeDevices(unsigned workers);
    // One worker: takes the next device while the table may still have room for it.
    void probeWorker(DetectionRun& run);
    // The product that accepts the device bound to `map`, or null.
    I_nkProduct* probeDevice(I_pciMap* map);
    int scanPNProduct(I_pciMap* map, I_nkProduct** out);
    int scanNoPNProduct(I_pciMap* map, I_nkProduct** out);
    int scanSeries(I_pciMap* map, I_nkProduct** out, bool identifiedByPartNumber);
    void storeProduct(I_nkProduct* product);

    int m_initialised;
    unsigned m_productCount;
    unsigned m_deviceCount;
    // Per card series: 1 when the series recognises its boards without a part number.
    std::unique_ptr<int[]> m_notUsePNTable;
    std::unique_ptr<C_visionProductFactory> m_productFactory;
    std::unique_ptr<C_pciMapFactory> m_pciMapFactory;
    std::unique_ptr<C_driverIOFactory> m_driverIOFactory;
    I_driverIO* m_driverIO;
    I_nkProduct* m_products[kMaxProducts];
    I_pciMap* m_pciMaps[kMaxProducts];
    I_driverIO* m_borrowedDriverIO;
    unsigned m_detectThreads;
};
