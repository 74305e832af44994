#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "I_nkProduct.h"
#include "ProductCreator.h"

class I_pciMap;

// Creates and owns every product of the manager. A product is handed out only after its
// `initial` accepted the hardware; an object whose `initial` refuses is deleted at once, so the
// owned list holds exactly the accepted products. They live until release() or destruction.
//
// Several threads may create products at once (detection probes its devices concurrently):
// each product is brought up on its caller's thread, and only the owned list is shared.
class C_visionProductFactory {
  public:
    // PCIe card series, in the order a scanned PCI device is offered to them.
    enum VISION_PRODUCTSERIES : int {
        SERIES_W50X = 0,       // 4- and 8-port USB3 cards
        SERIES_W51X = 1,       // 12-port USB3 cards
        SERIES_RHX10T = 2,     // two-port 10-gigabit PoE card
        SERIES_RHX5X = 3,      // PoE cards identified by versions, standard series
        SERIES_RHX5XPRO = 4,   // the same, Pro series
        SERIES_RHX44PLUS = 5,  // PCIe-RHX44+
        SERIES_RHXGPU = 6,     // PoE card with on-board GPU
        SERIES_RHX5XP = 7,     // PoE cards identified by part number, standard series
        SERIES_RHX5XPPRO = 8,  // the same, Pro series
    };
    static constexpr unsigned kSeriesCount = 9;

    // Stand-alone systems on which the SDK itself runs.
    enum VISION_SYSTEMSERIES : int {
        SYSTEM_TULAN_KQX = 0,  // the embedded vision system
    };
    static constexpr unsigned kSystemSeriesCount = 1;

    // The class behind every selector value.
    struct SeriesTable {
        ProductCreator series[kSeriesCount];
        ProductCreator systems[kSystemSeriesCount];
    };

    // Uses the product classes built into this library.
    C_visionProductFactory();
    // Uses another set of classes (a rig or a test supplies its own models).
    explicit C_visionProductFactory(const SeriesTable& table);
    ~C_visionProductFactory();

    C_visionProductFactory(const C_visionProductFactory&) = delete;
    C_visionProductFactory& operator=(const C_visionProductFactory&) = delete;

    // Offers the PCI device behind `map` to one card series: the product when the series
    // accepts the board, null when it refuses or `series` is not a card series.
    I_nkProduct* create(VISION_PRODUCTSERIES series, I_pciMap* map);
    // Looks for a stand-alone system: the product when this computer is one, else null.
    I_nkProduct* create(VISION_SYSTEMSERIES series);
    // Deletes every product made so far.
    void release();
    // Puts the `count` products of `order` (made by this factory) first in the owned list, in
    // that order, as if they had been created so: release() deletes the newest first.
    void arrange(I_nkProduct* const* order, unsigned count);

    static const SeriesTable& builtInSeries();

  private:
    I_nkProduct* bringUp(const ProductCreator& creator, void* arg);

    SeriesTable m_table;
    std::mutex m_productsMutex;  // guards m_products
    std::vector<std::unique_ptr<I_nkProduct>> m_products;
};
