/* Prints the PoE card's temperature and power budget and every port's enable, voltage and
 * current, then switches port 0 off and on again. */
#include <stdio.h>

#include "QRT_SDK.h"

int main(void) {
    for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
        void* card = QRT_GetProductHandle(i);
        unsigned n = 0;
        if (QRT_PoEGetPortNums(card, &n) != QRT_SUCCESS || n == 0 || n > 8) continue;

        float celsius = 0, used = 0, total = 0;
        QRT_PoEGetProperty(card, QRT_POE_PROP_TEMPERATURE, &celsius);
        QRT_PoEGetProperty(card, QRT_POE_PROP_CONSUMED_BUDGET, &used);
        QRT_PoEGetProperty(card, QRT_POE_PROP_TOTAL_BUDGET, &total);
        printf("product %u: %.1f C, %.1f of %.1f W in use\n", i, celsius, used, total);

        int enabled[8];
        int status = QRT_PoEGetPortEnable(card, enabled, n);
        for (unsigned p = 0; status == QRT_SUCCESS && p < n; ++p) {
            float volts = 0, amperes = 0;
            QRT_PoEGetPortProperty(card, p, QRT_POEPORT_PROP_VOLTAGE, &volts);
            QRT_PoEGetPortProperty(card, p, QRT_POEPORT_PROP_CURRENT, &amperes);
            printf("port %u: %s, %.2f V, %.3f A\n", p, enabled[p] ? "on" : "off", volts, amperes);
        }
        int was = enabled[0];
        enabled[0] = 0;
        if (status == QRT_SUCCESS) status = QRT_PoESetPortEnable(card, enabled, n);
        enabled[0] = was;
        if (status == QRT_SUCCESS) status = QRT_PoESetPortEnable(card, enabled, n);
        printf("status %d\n", status);
        return status == QRT_SUCCESS ? 0 : 1;
    }
    puts("no product with PoE");
    return 0;
}
