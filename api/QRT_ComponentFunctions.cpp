// The component half of the C API: the six lookups and the 75 forwarding functions.
//
// A component is a facet of the product object. Each function checks the handle and its one
// range-checked argument (if any), asks the product for the facet by feature number and
// forwards the call with the arguments unchanged; everything else is the product's business.

#include "I_nkProduct.h"
#include "api/QRT_Boundary.h"
#include "api/QRT_ComponentLookup.h"

#define QRT_DEFINE_COMPONENT_LOOKUP(lookup, feature, Interface)            \
    Interface* lookup(void* handle) {                                      \
        if (handle == nullptr) return nullptr;                             \
        return static_cast<Interface*>(                                    \
            static_cast<I_nkProduct*>(handle)->getFeatureHandle(feature)); \
    }

extern "C" {
QRT_COMPONENT_LOOKUPS(QRT_DEFINE_COMPONENT_LOOKUP)
}

// Range checks compare as signed 32-bit: an enumeration argument that a C caller set to a
// negative number passes here and is rejected by the product.
#define QRT_NO_RANGE_CHECK false
#define QRT_ABOVE(value, last) (static_cast<int>(value) > static_cast<int>(last))

#define QRT_COMPONENT_FUNCTION(name, lookup, operation, parameters, arguments, rejected)     \
    int name parameters {                                                                    \
        if (handle == nullptr || (rejected)) return QRT_ERR_INVALID_PARAM;                   \
        auto* component = lookup(handle);                                                    \
        if (component == nullptr) return QRT_ERR_NOT_SUPPORTED;                              \
        return qrtGuarded([&] { return static_cast<int>(component->operation arguments); }); \
    }

extern "C" {
#include "api/QRT_ComponentFunctions.def"
}
