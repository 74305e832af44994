/* Switches the power of USB port 1 of the first product that has a port power controller off
 * and on again, printing every port's state in between. */
#include <stdio.h>

#include "QRT_SDK.h"

static void printPorts(void* card, unsigned n) {
    int on[32];
    if (QRT_PowCtrlGetPortEnable(card, on, n) != QRT_SUCCESS) return;
    for (unsigned i = 0; i < n; ++i) printf("port %u: %s\n", i, on[i] ? "on" : "off");
}

int main(void) {
    for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
        void* card = QRT_GetProductHandle(i);
        unsigned n = 0;
        if (QRT_PowCtrlGetPortNums(card, &n) != QRT_SUCCESS || n < 2 || n > 32) continue;

        int on[32];
        int status = QRT_PowCtrlGetPortEnable(card, on, n);
        on[1] = 0; /* the whole list is written: read it first, change one entry */
        if (status == QRT_SUCCESS) status = QRT_PowCtrlSetPortEnable(card, on, n);
        printPorts(card, n);
        on[1] = 1;
        if (status == QRT_SUCCESS) status = QRT_PowCtrlSetPortEnable(card, on, n);
        printPorts(card, n);
        printf("product %u: status %d\n", i, status);
        return status == QRT_SUCCESS ? 0 : 1;
    }
    puts("no product with USB port power");
    return 0;
}
