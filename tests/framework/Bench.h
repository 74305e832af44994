#pragma once

// A bench for product detection: a stand-in for the kit's kernel driver that reports a
// configurable set of PCI devices, and stand-in product classes for the nine card series and
// the stand-alone system. A board accepts a device when the bench says its series does.

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "C_visionProductFactory.h"
#include "I_nkProduct.h"
#include "core/driver/DriverRecords.h"
#include "core/driver/I_driverIO.h"
#include "core/driver/I_pciMap.h"

namespace qrttest {

struct ScanRegistration {
    int vendor;
    int device;
    int flag;
    bool operator==(const ScanRegistration& o) const {
        return vendor == o.vendor && device == o.device && flag == o.flag;
    }
};

// The kernel driver as the SDK sees it through its channel. The two values it keeps per
// scanned device are the device index and a marker, so a board can tell which device it was
// offered.
class FakeDriver : public I_driverIO {
  public:
    static constexpr int kDeviceMarker = 0x5A5A;

    bool deviceFilePresent = true;
    std::map<std::pair<int, int>, int> matchCount;    // per vendor/device pair
    std::map<std::pair<int, int>, int> driverStatus;  // per pair, 0 when absent
    const char* version = nullptr;                    // null: the version request fails

    std::vector<std::string> opened;
    std::vector<ScanRegistration> registrations;
    bool isOpen = false;

    unsigned open(const char* name) override {
        opened.push_back(name);
        isOpen = deviceFilePresent;
        return isOpen ? 1 : 0;
    }
    unsigned close() override {
        isOpen = false;
        return 1;
    }
    unsigned ioctl(unsigned long request, void* record, unsigned int) override {
        if (!isOpen) return 0;
        switch (request) {
            case nkpcimap::kAddScanDevice: {
                auto* r = static_cast<nkpcimap::AddScanDeviceRecord*>(record);
                registrations.push_back({r->vendorId, r->deviceId, r->flag});
                auto pair = std::make_pair(r->vendorId, r->deviceId);
                r->firstResult = 0;
                r->matchCount = matchCount.count(pair) ? matchCount[pair] : 0;
                r->status = driverStatus.count(pair) ? driverStatus[pair] : 0;
                return 1;
            }
            case nkpcimap::kDeviceInformation: {
                auto* r = static_cast<nkpcimap::DeviceInformationRecord*>(record);
                r->firstValue = static_cast<int>(r->deviceIndex);
                r->secondValue = kDeviceMarker;
                r->status = 0;
                return 1;
            }
            case nkpcimap::kDriverVersion: {
                if (version == nullptr) return 0;
                auto* r = static_cast<nkpcimap::DriverVersionRecord*>(record);
                std::strncpy(r->text, version, sizeof r->text - 1);
                return 1;
            }
            case nkpcimap::kLock:
            case nkpcimap::kUnlock:
                static_cast<nkpcimap::LockRecord*>(record)->status = 0;
                return 1;
        }
        return 0;
    }

    // The three scan registrations at once: X550, PEX 8608, PEX 8718.
    void reportDevices(int x550, int pex8608, int pex8718) {
        matchCount[{0x8086, 0x1563}] = x550;
        matchCount[{0x10B5, 0x8608}] = pex8608;
        matchCount[{0x10B5, 0x8718}] = pex8718;
    }
};

// What the boards saw and which series accept which device. Boards of several devices are
// probed at once, so they record under the bench's lock.
struct Bench {
    std::map<int, std::set<int>> acceptingSeries;  // device index -> series that accept it
    bool acceptAll = false;                        // every series accepts every device
    bool systemPresent = false;

    std::vector<std::pair<int, int>> probes;  // (device, series) in offering order per device
    int constructed = 0;
    int destroyed = 0;
    std::vector<int> mapStatusAtDestruction;
    std::mutex mutex;

    static Bench& current() {
        static Bench bench;
        return bench;
    }
    static void reset() {
        Bench& bench = current();
        bench.acceptingSeries.clear();
        bench.acceptAll = bench.systemPresent = false;
        bench.probes.clear();
        bench.constructed = bench.destroyed = 0;
        bench.mapStatusAtDestruction.clear();
    }
};

// A board of one series. `initial` asks the PCI map which device it is bound to and accepts
// when the bench says so; the destructor talks to the map once more, as a real card that
// releases its hardware would.
class FakeBoard : public I_nkProduct {
  public:
    explicit FakeBoard(int series) : series(series) {
        std::lock_guard<std::mutex> lock(Bench::current().mutex);
        ++Bench::current().constructed;
    }
    ~FakeBoard() override {
        int status = 0;
        if (map != nullptr) {
            int index = 0, marker = 0;
            status = map->getDeviceInfo(&index, &marker);
        }
        std::lock_guard<std::mutex> lock(Bench::current().mutex);
        if (map != nullptr) Bench::current().mapStatusAtDestruction.push_back(status);
        ++Bench::current().destroyed;
    }

    int initial(void* pciMap) {
        auto* candidate = static_cast<I_pciMap*>(pciMap);
        int index = -1, marker = 0;
        if (candidate == nullptr || candidate->getDeviceInfo(&index, &marker) != 0 ||
            marker != FakeDriver::kDeviceMarker)
            return QRT_ERR_NOT_INITIALIZED;
        Bench& bench = Bench::current();
        {
            std::lock_guard<std::mutex> lock(bench.mutex);
            bench.probes.emplace_back(index, series);
            auto accepting = bench.acceptingSeries.find(index);
            if (!bench.acceptAll &&
                (accepting == bench.acceptingSeries.end() || !accepting->second.count(series)))
                return QRT_ERR_NOT_SUPPORTED;
        }
        device = index;
        map = candidate;
        return QRT_SUCCESS;
    }

    int getInfo(char*, unsigned) override { return QRT_SUCCESS; }
    int getType(QRT_PRODUCT_TYPE*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getSN(char*, unsigned) override { return QRT_SUCCESS; }
    unsigned getFeatureList(QRT_FEATURE_TYPE*, unsigned) override { return 0; }
    void* getFeatureHandle(QRT_FEATURE_TYPE) override { return nullptr; }

    const int series;
    int device = -1;
    I_pciMap* map = nullptr;
};

template <int Series>
class FakeSeriesBoard : public FakeBoard {
  public:
    FakeSeriesBoard() : FakeBoard(Series) {}
};

// The stand-alone system: present or not, as the bench says.
class FakeSystem : public FakeBoard {
  public:
    FakeSystem() : FakeBoard(-1) {}
    int initial() { return Bench::current().systemPresent ? QRT_SUCCESS : QRT_ERR_NOT_SUPPORTED; }
};

inline C_visionProductFactory::SeriesTable benchSeries() {
    return {{makeSeries<FakeSeriesBoard<0>>(), makeSeries<FakeSeriesBoard<1>>(),
             makeSeries<FakeSeriesBoard<2>>(), makeSeries<FakeSeriesBoard<3>>(),
             makeSeries<FakeSeriesBoard<4>>(), makeSeries<FakeSeriesBoard<5>>(),
             makeSeries<FakeSeriesBoard<6>>(), makeSeries<FakeSeriesBoard<7>>(),
             makeSeries<FakeSeriesBoard<8>>()},
            {makeSystem<FakeSystem>()}};
}

}  // namespace qrttest
