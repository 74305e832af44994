/* Prints every fan's speed and PWM duty, then hands fan 0 to the card's automatic control. */
#include <stdio.h>

#include "QRT_SDK.h"

int main(void) {
    for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
        void* card = QRT_GetProductHandle(i);
        unsigned fans = 0;
        if (QRT_FanGetNums(card, &fans) != QRT_SUCCESS || fans == 0) continue;

        for (unsigned f = 0; f < fans; ++f) {
            unsigned rpm = 0;
            int duty = 0;
            QRT_FanGetSpeed(card, f, &rpm);
            QRT_FanGetPWM(card, f, &duty);
            printf("fan %u: %u rpm, PWM %d\n", f, rpm, duty);
        }
        int status = QRT_FanSetSmartFanEnable(card, 0, 1);
        printf("automatic control of fan 0: status %d\n", status);
        return status == QRT_SUCCESS ? 0 : 1;
    }
    puts("no product with a fan");
    return 0;
}
