#include "C_visionProductFactory.h"

#include <algorithm>

#include "QRT_Types.h"
#include "product/embedded/C_tulanKQX.h"
#include "product/poe/C_GPUPX000.h"
#include "product/poe/C_rhx10T.h"
#include "product/poe/C_rhx44Plus.h"
#include "product/poe/C_rhx5x.h"
#include "product/poe/C_rhx5xPro.h"
#include "product/poe/C_rhx5xp.h"
#include "product/poe/C_rhx5xpPro.h"
#include "product/usb3/C_w50X.h"
#include "product/usb3/C_w51X.h"

// The classes behind the selector values, in selector order.
const C_visionProductFactory::SeriesTable& C_visionProductFactory::builtInSeries() {
    static const SeriesTable table = {
        {
            /* SERIES_W50X      : C_w50X      */ makeSeries<C_w50X>(),
            /* SERIES_W51X      : C_w51X      */ makeSeries<C_w51X>(),
            /* SERIES_RHX10T    : C_rhx10T    */ makeSeries<C_rhx10T>(),
            /* SERIES_RHX5X     : C_rhx5x     */ makeSeries<C_rhx5x>(),
            /* SERIES_RHX5XPRO  : C_rhx5xPro  */ makeSeries<C_rhx5xPro>(),
            /* SERIES_RHX44PLUS : C_rhx44Plus */ makeSeries<C_rhx44Plus>(),
            /* SERIES_RHXGPU    : C_GPUPX000  */ makeSeries<C_GPUPX000>(),
            /* SERIES_RHX5XP    : C_rhx5xp    */ makeSeries<C_rhx5xp>(),
            /* SERIES_RHX5XPPRO : C_rhx5xpPro */ makeSeries<C_rhx5xpPro>(),
        },
        {
            /* SYSTEM_TULAN_KQX : C_tulanKQX  */ makeSystem<C_tulanKQX>(),
        },
    };
    return table;
}

C_visionProductFactory::C_visionProductFactory() : C_visionProductFactory(builtInSeries()) {}

C_visionProductFactory::C_visionProductFactory(const SeriesTable& table) : m_table(table) {}

C_visionProductFactory::~C_visionProductFactory() {
    release();
}

I_nkProduct* C_visionProductFactory::create(VISION_PRODUCTSERIES series, I_pciMap* map) {
    // Unsigned, so that a negative selector is refused too instead of indexing before the table.
    if (static_cast<unsigned>(series) >= kSeriesCount) return nullptr;
    return bringUp(m_table.series[series], map);
}

I_nkProduct* C_visionProductFactory::create(VISION_SYSTEMSERIES series) {
    if (static_cast<unsigned>(series) >= kSystemSeriesCount) return nullptr;
    return bringUp(m_table.systems[series], nullptr);
}

void C_visionProductFactory::release() {
    // Newest first: nothing made later outlives what was made before it. Each product is
    // deleted outside the lock: its destructor may take time on its hardware.
    for (;;) {
        std::unique_ptr<I_nkProduct> newest;
        {
            std::lock_guard<std::mutex> guard(m_productsMutex);
            if (m_products.empty()) return;
            newest = std::move(m_products.back());
            m_products.pop_back();
        }
    }
}

void C_visionProductFactory::arrange(I_nkProduct* const* order, unsigned count) {
    std::lock_guard<std::mutex> guard(m_productsMutex);
    auto next = m_products.begin();
    for (unsigned i = 0; i < count; ++i) {
        auto found = std::find_if(next, m_products.end(),
                                  [&](const auto& p) { return p.get() == order[i]; });
        if (found == m_products.end()) continue;  // not one of ours
        std::rotate(next, found, found + 1);
        ++next;
    }
}

I_nkProduct* C_visionProductFactory::bringUp(const ProductCreator& creator, void* arg) {
    std::unique_ptr<I_nkProduct> product(creator.construct());
    if (!product) return nullptr;
    // A series that does not recognise the board refuses it in `initial`; the object goes
    // away here and leaves nothing behind in the owned list.
    if (creator.initial != nullptr && creator.initial(product.get(), arg) != QRT_SUCCESS)
        return nullptr;
    I_nkProduct* made = product.get();
    std::lock_guard<std::mutex> guard(m_productsMutex);
    m_products.push_back(std::move(product));
    return made;
}
