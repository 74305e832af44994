#pragma once

#include <memory>
#include <vector>

#include "I_nkProduct.h"
#include "ProductCreator.h"

// Creates and owns the parts of the embedded vision system. The parts are products in their
// own right (they answer I_nkProduct) but are never listed by the manager; the system that
// owns this factory brings each part up with the part's own `initial`.
class C_visionComponentFactory {
  public:
    enum VISION_SYSCOMPONENT : int {
        COMPONENT_VOREL_DIO = 0,  // digital I/O over the DIO driver's sysfs files
        COMPONENT_TULAN_POE = 1,  // the system's PoE ports
    };
    static constexpr unsigned kComponentCount = 2;

    struct ComponentTable {
        ProductCreator components[kComponentCount];
    };

    // Uses the component classes built into this library.
    C_visionComponentFactory();
    // Uses another set of classes (a rig or a test supplies its own).
    explicit C_visionComponentFactory(const ComponentTable& table);
    ~C_visionComponentFactory();

    C_visionComponentFactory(const C_visionComponentFactory&) = delete;
    C_visionComponentFactory& operator=(const C_visionComponentFactory&) = delete;

    // A new, not yet initialised part; null for an unknown selector.
    I_nkProduct* create(VISION_SYSCOMPONENT component);
    // Deletes every part made so far.
    void release();

    static const ComponentTable& builtInComponents();

  private:
    ComponentTable m_table;
    std::vector<std::unique_ptr<I_nkProduct>> m_components;
};
