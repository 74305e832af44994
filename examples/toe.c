/* Stores a GigE Vision action command (device key, group key, group mask) for port 0 of the
 * first card with trigger over Ethernet, reads it back and fires it on every port. */
#include <stdio.h>

#include "QRT_SDK.h"

int main(void) {
    for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
        void* card = QRT_GetProductHandle(i);
        unsigned n = 0;
        if (QRT_ToEGetPortNums(card, &n) != QRT_SUCCESS || n == 0) continue;

        int status = QRT_ToESetActionCommand(card, 0, 0x12345678, 0x1, 0xFFFFFFFF);
        unsigned long device = 0, group = 0, mask = 0;
        if (status == QRT_SUCCESS)
            status = QRT_ToEGetActionCommand(card, 0, &device, &group, &mask);
        printf("port 0: device key 0x%08lx, group key 0x%08lx, group mask 0x%08lx\n", device, group,
               mask);
        if (status == QRT_SUCCESS) status = QRT_ToESendActionCommand(card, -1); /* -1: all ports */
        unsigned first = 0, second = 0;
        if (status == QRT_SUCCESS) status = QRT_ToEGetTriggerCount(card, 0, &first, &second);
        printf("port 0 counters: %u %u; status %d\n", first, second, status);
        return status == QRT_SUCCESS ? 0 : 1;
    }
    puts("no product with trigger over Ethernet");
    return 0;
}
