// The product and component factories: selector checks, acceptance by `initial`, ownership.

#include <gtest/gtest.h>

#include "Bench.h"
#include "C_visionComponentFactory.h"
#include "C_visionProductFactory.h"
#include "core/driver/C_pciMapFactory.h"

namespace {

using qrttest::Bench;
using qrttest::FakeDriver;
using Series = C_visionProductFactory::VISION_PRODUCTSERIES;
using System = C_visionProductFactory::VISION_SYSTEMSERIES;

class ProductFactory : public ::testing::Test {
  protected:
    void SetUp() override {
        Bench::reset();
        driver.open("___nk_pcimap");
        map = maps.create();
        ASSERT_NE(map, nullptr);
        map->initial(&driver, 0);
    }

    FakeDriver driver;
    C_pciMapFactory maps;
    I_pciMap* map = nullptr;
};

TEST_F(ProductFactory, RefusesSelectorsBeyondItsTablesWithoutConstructingAnything) {
    C_visionProductFactory factory(qrttest::benchSeries());
    Bench::current().acceptAll = true;
    EXPECT_EQ(factory.create(static_cast<Series>(9), map), nullptr);
    EXPECT_EQ(factory.create(static_cast<Series>(-1), map), nullptr);
    EXPECT_EQ(factory.create(static_cast<System>(1)), nullptr);
    EXPECT_EQ(factory.create(static_cast<System>(-1)), nullptr);
    EXPECT_EQ(Bench::current().constructed, 0);
}

TEST_F(ProductFactory, DeletesABoardThatItsSeriesRefuses) {
    C_visionProductFactory factory(qrttest::benchSeries());
    EXPECT_EQ(factory.create(C_visionProductFactory::SERIES_RHXGPU, map), nullptr);
    EXPECT_EQ(Bench::current().probes, (std::vector<std::pair<int, int>>{{0, 6}}));
    EXPECT_EQ(Bench::current().constructed, 1);
    EXPECT_EQ(Bench::current().destroyed, 1);
}

TEST_F(ProductFactory, OwnsAcceptedProductsUntilReleased) {
    Bench::current().acceptAll = true;
    Bench::current().systemPresent = true;
    {
        C_visionProductFactory factory(qrttest::benchSeries());
        I_nkProduct* first = factory.create(C_visionProductFactory::SERIES_W50X, map);
        I_nkProduct* second = factory.create(C_visionProductFactory::SERIES_RHX5XPPRO, map);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        EXPECT_NE(factory.create(C_visionProductFactory::SYSTEM_TULAN_KQX), nullptr);
        EXPECT_EQ(Bench::current().destroyed, 0);

        factory.release();
        EXPECT_EQ(Bench::current().destroyed, 3);
        factory.release();
        EXPECT_NE(factory.create(C_visionProductFactory::SERIES_W51X, map), nullptr);
    }
    EXPECT_EQ(Bench::current().destroyed, 4);  // the factory deleted the last one itself
    EXPECT_EQ(Bench::current().constructed, 4);
}

TEST_F(ProductFactory, SystemIsAcceptedOnlyWhereItsInitialFindsIt) {
    C_visionProductFactory factory(qrttest::benchSeries());
    EXPECT_EQ(factory.create(C_visionProductFactory::SYSTEM_TULAN_KQX), nullptr);
    EXPECT_EQ(Bench::current().destroyed, 1);
}

// Whatever classes are plugged into the built-in table, none may accept a device it cannot
// reach: here the PCI map is bound to no driver at all.
TEST_F(ProductFactory, BuiltInSeriesRefuseADeviceTheyCannotReach) {
    C_visionProductFactory factory;
    C_pciMapFactory unboundMaps;
    I_pciMap* unbound = unboundMaps.create();
    for (unsigned s = 0; s < C_visionProductFactory::kSeriesCount; ++s)
        EXPECT_EQ(factory.create(static_cast<Series>(s), unbound), nullptr) << "series " << s;
}

// ---- Component factory -------------------------------------------------------------------

class FakePart : public qrttest::FakeBoard {
  public:
    FakePart() : FakeBoard(100) {}
    int initial(void*) {
        ++initialised;
        return QRT_SUCCESS;
    }
    static int initialised;
};
int FakePart::initialised = 0;

TEST(ComponentFactory, CreatesPartsWithoutBringingThemUpAndOwnsThem) {
    Bench::reset();
    FakePart::initialised = 0;
    C_visionComponentFactory::ComponentTable table = {
        {makeComponent<FakePart>(), makeComponent<FakePart>()}};
    {
        C_visionComponentFactory factory(table);
        I_nkProduct* dio = factory.create(C_visionComponentFactory::COMPONENT_VOREL_DIO);
        I_nkProduct* poe = factory.create(C_visionComponentFactory::COMPONENT_TULAN_POE);
        ASSERT_NE(dio, nullptr);
        ASSERT_NE(poe, nullptr);
        EXPECT_NE(dio, poe);
        EXPECT_EQ(FakePart::initialised, 0);  // the owning system runs initial itself
        factory.release();
        EXPECT_EQ(Bench::current().destroyed, 2);
        EXPECT_NE(factory.create(C_visionComponentFactory::COMPONENT_VOREL_DIO), nullptr);
    }
    EXPECT_EQ(Bench::current().destroyed, 3);
}

TEST(ComponentFactory, RefusesUnknownSelectors) {
    Bench::reset();
    C_visionComponentFactory::ComponentTable table = {
        {makeComponent<FakePart>(), makeComponent<FakePart>()}};
    C_visionComponentFactory factory(table);
    EXPECT_EQ(factory.create(static_cast<C_visionComponentFactory::VISION_SYSCOMPONENT>(2)),
              nullptr);
    EXPECT_EQ(factory.create(static_cast<C_visionComponentFactory::VISION_SYSCOMPONENT>(-1)),
              nullptr);
    EXPECT_EQ(Bench::current().constructed, 0);
}

}  // namespace
