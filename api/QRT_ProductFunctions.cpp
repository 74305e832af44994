// The library half of the C API: the process's product manager, the SDK information and the
// product-level functions.

#include <cstdio>

#include "C_visionProductManager.h"
#include "I_nkVisionCardProduct.h"
#include "api/QRT_Boundary.h"
#include "api/QRT_SDK.h"

namespace {

constexpr char kSDKVersion[] = "1.7.7.0130";

// The one product manager of the process. It is constructed by the library's static
// initialiser, so detection is complete before the loader returns and before any QRT_ call.
// The compiler registers its destructor with the C runtime's at-exit list under this
// library's handle: it runs when the library is unloaded (dlclose or process exit) and tears
// down the products, then the PCI maps and the driver channel.
C_visionProductManager g_zepVisionManager;

I_nkProduct* productOf(void* handle) {
    return static_cast<I_nkProduct*>(handle);
}

}  // namespace

extern "C" {

int QRT_GetSDKInfo(char* buf, int len) {
    char driverLine[64];
    int status = g_zepVisionManager.getInfo(driverLine, sizeof driverLine);
    if (status != QRT_SUCCESS) return status;
    if (len < 0 || (buf == nullptr && len != 0)) return QRT_ERR_INVALID_PARAM;
    std::snprintf(buf, static_cast<size_t>(len), "%sSDK Version:%s\r\n", driverLine, kSDKVersion);
    return QRT_SUCCESS;
}

unsigned int QRT_GetProductNums(void) {
    return g_zepVisionManager.getProductNums();
}

void* QRT_GetProductHandle(unsigned int index) {
    return g_zepVisionManager.getProductHandle(index);
}

int QRT_GetProductInfo(void* handle, char* buf, unsigned int len) {
    if (handle == nullptr) return QRT_ERR_INVALID_PARAM;
    return qrtGuarded([&] { return productOf(handle)->getInfo(buf, len); });
}

int QRT_GetProductType(void* handle) {
    if (handle == nullptr) return QRT_ERR_INVALID_PARAM;
    QRT_PRODUCT_TYPE type = QRT_PRODUCT_UNKNOWN;
    // Whatever keeps the product from telling (not a product type of its own, not initialised)
    // reads as an unknown product rather than as an error code.
    if (qrtGuarded([&] { return productOf(handle)->getType(&type); }) != QRT_SUCCESS)
        return QRT_PRODUCT_UNKNOWN;
    return type;
}

int QRT_GetProductSN(void* handle, char* buf, unsigned int len) {
    if (handle == nullptr) return QRT_ERR_INVALID_PARAM;
    return qrtGuarded([&] { return productOf(handle)->getSN(buf, len); });
}

int QRT_GetFeatureList(void* handle, QRT_FEATURE_TYPE* list, unsigned int capacity) {
    if (handle == nullptr) return QRT_ERR_INVALID_PARAM;
    return qrtGuarded(
        [&] { return static_cast<int>(productOf(handle)->getFeatureList(list, capacity)); });
}

int QRT_GetCardID(void* handle, int* id) {
    if (handle == nullptr) return QRT_ERR_INVALID_PARAM;
    // Only PCIe cards carry an identifier; the embedded system is a product but not a card.
    auto* card = dynamic_cast<I_nkVisionCardProduct*>(productOf(handle));
    if (card == nullptr) return QRT_ERR_NOT_SUPPORTED;
    return qrtGuarded([&] { return card->getCardID(id); });
}

}  // extern "C"
