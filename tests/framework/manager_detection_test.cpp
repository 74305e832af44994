// Product detection by the manager, on a bench driver that reports scripted PCI devices and
// bench boards that accept the devices the test assigns to their series.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "Bench.h"
#include "C_visionProductManager.h"

#include "FailingAllocations.h"

namespace {

using qrttest::Bench;
using qrttest::FakeBoard;
using qrttest::FakeDriver;
using qrttest::ScanRegistration;

class ManagerOnBench : public C_visionProductManager {
  public:
    ManagerOnBench(I_driverIO* driver, unsigned threads)
        : C_visionProductManager(driver, qrttest::benchSeries(), threads) {}
};

// Every case runs with one device probed after the other and with the devices probed at once:
// the outcome must be the same.
class ManagerDetection : public ::testing::TestWithParam<unsigned> {
  protected:
    void SetUp() override { Bench::reset(); }

    std::unique_ptr<ManagerOnBench> detect() {
        return std::make_unique<ManagerOnBench>(&driver, GetParam());
    }

    // (device, series) of each stored product, in table order.
    static std::vector<std::pair<int, int>> table(const C_visionProductManager& manager) {
        std::vector<std::pair<int, int>> entries;
        for (unsigned i = 0; i < manager.getProductNums(); ++i) {
            auto* board = dynamic_cast<FakeBoard*>(manager.getProductHandle(i));
            entries.emplace_back(board ? board->device : -2, board ? board->series : -2);
        }
        return entries;
    }

    static std::vector<int> seriesOffered(int device) {
        std::vector<int> series;
        for (auto& probe : Bench::current().probes)
            if (probe.first == device) series.push_back(probe.second);
        return series;
    }

    FakeDriver driver;
};

TEST_P(ManagerDetection, RegistersTheX550AndBothPLXSwitchesWithTheKitsDriver) {
    auto manager = detect();
    EXPECT_EQ(driver.opened, std::vector<std::string>{"___nk_pcimap"});
    EXPECT_EQ(driver.registrations,
              (std::vector<ScanRegistration>{
                  {0x8086, 0x1563, 1}, {0x10B5, 0x8608, 0}, {0x10B5, 0x8718, 0}}));
    EXPECT_EQ(manager->getProductNums(), 0u);
    EXPECT_EQ(manager->getProductHandle(0), nullptr);
}

TEST_P(ManagerDetection, OffersADeviceToPartNumberSeriesBeforeVersionIdentifiedOnes) {
    driver.reportDevices(0, 1, 0);
    auto manager = detect();
    EXPECT_EQ(seriesOffered(0), (std::vector<int>{0, 1, 2, 6, 7, 8, 3, 4, 5}));
    EXPECT_EQ(manager->getProductNums(), 0u);
    EXPECT_EQ(Bench::current().destroyed, Bench::current().constructed);  // refused, deleted
}

TEST_P(ManagerDetection, StoresAcceptedBoardsInDeviceOrderWithoutGaps) {
    driver.reportDevices(1, 2, 1);  // devices 0 to 3, counted over all three registrations
    Bench& bench = Bench::current();
    bench.acceptingSeries[0] = {3};
    bench.acceptingSeries[1] = {};      // nobody's board
    bench.acceptingSeries[2] = {4, 0};  // the lower series wins
    bench.acceptingSeries[3] = {3, 6};  // a part-number series wins over a version series
    auto manager = detect();
    EXPECT_EQ(table(*manager), (std::vector<std::pair<int, int>>{{0, 3}, {2, 0}, {3, 6}}));
    EXPECT_EQ(manager->getProductHandle(3), nullptr);
    EXPECT_EQ(seriesOffered(2), (std::vector<int>{0}));  // the first acceptance ends the offer
}

TEST_P(ManagerDetection, KeepsAtMostThirtyTwoProductsAndProbesNoFurther) {
    driver.reportDevices(0, 20, 20);
    Bench::current().acceptAll = true;
    auto manager = detect();
    EXPECT_EQ(manager->getProductNums(), 32u);
    EXPECT_NE(manager->getProductHandle(31), nullptr);
    EXPECT_EQ(manager->getProductHandle(32), nullptr);
    EXPECT_TRUE(seriesOffered(32).empty());
    EXPECT_EQ(Bench::current().probes.size(), 32u);
}

TEST_P(ManagerDetection, AFailedRegistrationAbortsTheWholePCIScan) {
    driver.reportDevices(1, 1, 1);
    driver.driverStatus[{0x10B5, 0x8608}] = 255;  // driver busy
    auto manager = detect();
    EXPECT_EQ(driver.registrations.size(), 2u);
    EXPECT_EQ(manager->getProductNums(), 0u);
    EXPECT_TRUE(Bench::current().probes.empty());
}

TEST_P(ManagerDetection, IgnoresANegativeDeviceCount) {
    driver.reportDevices(-5, 2, 0);
    Bench::current().acceptAll = true;
    auto manager = detect();
    EXPECT_EQ(table(*manager), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}}));
}

TEST_P(ManagerDetection, WithoutTheDriverDeviceFindsNoCardAndNoDriverLine) {
    driver.deviceFilePresent = false;
    driver.version = "1.0.3";
    auto manager = detect();
    EXPECT_TRUE(driver.registrations.empty());
    EXPECT_EQ(manager->getProductNums(), 0u);
    char text[64];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(manager->getInfo(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "");
}

TEST_P(ManagerDetection, TheStandAloneSystemTakesPrecedenceOverThePCIScan) {
    Bench::current().systemPresent = true;
    driver.reportDevices(0, 3, 0);
    driver.version = "1.0.3";
    auto manager = detect();
    EXPECT_TRUE(driver.opened.empty());
    EXPECT_EQ(table(*manager), (std::vector<std::pair<int, int>>{{-1, -1}}));
    char text[64];
    EXPECT_EQ(manager->getInfo(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "");
}

TEST_P(ManagerDetection, InformationCarriesTheDriverVersionCutToTheBuffer) {
    driver.version = "2.4.1.0115";
    auto manager = detect();
    char text[64];
    EXPECT_EQ(manager->getInfo(text, sizeof text), QRT_SUCCESS);
    EXPECT_STREQ(text, "Driver Version:2.4.1.0115\r\n");
    EXPECT_EQ(manager->getInfo(text, 10), QRT_SUCCESS);
    EXPECT_STREQ(text, "Driver Ve");
    EXPECT_EQ(manager->getInfo(nullptr, 0), QRT_SUCCESS);
    EXPECT_EQ(manager->getInfo(nullptr, 8), QRT_ERR_INVALID_PARAM);
}

// Products go first at teardown: a card releasing its hardware still finds its PCI map and the
// driver channel behind it working.
TEST_P(ManagerDetection, DestroysProductsWhileTheirPCIMapsStillWork) {
    driver.reportDevices(1, 1, 1);
    Bench::current().acceptAll = true;
    detect().reset();
    Bench& bench = Bench::current();
    EXPECT_EQ(bench.destroyed, bench.constructed);
    EXPECT_EQ(bench.mapStatusAtDestruction, (std::vector<int>{0, 0, 0}));
}

// A driver that claims INT_MAX devices for every pair gets no more indexes probed than a PCI
// segment has functions, instead of about 2^31 at library load.
TEST_P(ManagerDetection, BoundsTheDeviceCountTheDriverReports) {
    driver.reportDevices(INT_MAX, INT_MAX, INT_MAX);
    auto manager = detect();
    EXPECT_EQ(manager->getProductNums(), 0u);
    int highest = -1;
    for (const auto& probe : Bench::current().probes) highest = std::max(highest, probe.first);
    EXPECT_EQ(highest, 256 * 32 * 8 - 1);
}

// Memory running out at any point of detection leaves no exception to escape the library's
// static initialiser. (The allocation counter is one thread's: the probes run one by one.)
TEST(ManagerDetectionOneByOne, MemoryRunningOutAnswersWithNoProduct) {
    FakeDriver driver;
    driver.reportDevices(1, 2, 1);
    for (long failing = 0;; ++failing) {
        Bench::reset();
        Bench::current().acceptAll = true;
        std::optional<ManagerOnBench> manager;
        g_allocationsBeforeFailure = failing;
        EXPECT_NO_THROW(manager.emplace(&driver, 1u)) << failing;
        const bool failed = g_allocationsBeforeFailure == -1;
        g_allocationsBeforeFailure = -1;
        ASSERT_TRUE(manager.has_value()) << failing;
        if (!failed) {  // detection ran to the end
            EXPECT_EQ(manager->getProductNums(), 4u);
            break;
        }
        // A table without gaps: what an exception broke off answers with no product; what a
        // nothrow allocation could not get (a product, a PCI map) is done without.
        const unsigned products = manager->getProductNums();
        EXPECT_LE(products, 4u) << failing;
        for (unsigned i = 0; i < products; ++i) EXPECT_NE(manager->getProductHandle(i), nullptr);
        EXPECT_EQ(manager->getProductHandle(products), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(OneByOneAndAtOnce, ManagerDetection,
                         ::testing::Values(1u, C_visionProductManager::kMaxProducts),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return info.param == 1 ? std::string("OneByOne")
                                                    : std::string("AtOnce");
                         });

}  // namespace
