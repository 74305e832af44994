#pragma once

#include <new>

#include "I_nkProduct.h"

// How a factory makes one product class: construct it, then bring it up on its hardware.
// Factories keep one entry per selector value in a table, each made by one of the templates
// below.
struct ProductCreator {
    // Constructs the object; null when memory runs out.
    I_nkProduct* (*construct)();
    // Runs the class's `initial` with the factory's argument (the I_pciMap* of the probed
    // device for card series); null for classes whose owner brings them up itself.
    int (*initial)(I_nkProduct* product, void* arg);
};

// A PCIe card series: initial(void*) receives the probed device's I_pciMap*.
template <class Series>
constexpr ProductCreator makeSeries() {
    return {[]() -> I_nkProduct* { return new (std::nothrow) Series(); },
            [](I_nkProduct* product, void* pciMap) {
                return static_cast<Series*>(product)->initial(pciMap);
            }};
}

// A stand-alone system series: initial() finds its own hardware.
template <class System>
constexpr ProductCreator makeSystem() {
    return {[]() -> I_nkProduct* { return new (std::nothrow) System(); },
            [](I_nkProduct* product, void*) { return static_cast<System*>(product)->initial(); }};
}

// A component of a system: created only; the system that owns it calls its initial.
template <class Component>
constexpr ProductCreator makeComponent() {
    return {[]() -> I_nkProduct* { return new (std::nothrow) Component(); }, nullptr};
}
