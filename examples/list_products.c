/* Lists the SDK information and every product the SDK found, with its type and features. */
#include <stdio.h>

#include "QRT_SDK.h"

static const char* featureName(QRT_FEATURE_TYPE f) {
    switch (f) {
        case QRT_FEATURE_POWER_CONTROLLER:
            return "power controller";
        case QRT_FEATURE_POE:
            return "PoE";
        case QRT_FEATURE_TOE:
            return "trigger over Ethernet";
        case QRT_FEATURE_DIO:
            return "digital I/O";
        case QRT_FEATURE_EX_POWER_SUPPLY:
            return "external power supply";
        case QRT_FEATURE_FAN:
            return "fan";
    }
    return "unknown";
}

int main(void) {
    char text[1024];
    if (QRT_GetSDKInfo(text, sizeof text) == QRT_SUCCESS) fputs(text, stdout);

    unsigned count = QRT_GetProductNums();
    printf("%u products\n", count);
    for (unsigned i = 0; i < count; ++i) {
        void* product = QRT_GetProductHandle(i);
        printf("\nProduct %u (type %d)\n", i, QRT_GetProductType(product));
        if (QRT_GetProductInfo(product, text, sizeof text) == QRT_SUCCESS) fputs(text, stdout);

        QRT_FEATURE_TYPE features[8];
        int n = QRT_GetFeatureList(product, features, 8);
        for (int k = 0; k < n && k < 8; ++k)
            printf("  feature %d: %s\n", features[k], featureName(features[k]));
    }
    return 0;
}
