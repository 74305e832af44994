/* Prints the digital inputs, sets output 0, and reports input changes through the trigger
 * callback for ten seconds (or the seconds given). The callback runs on the SDK's monitor
 * thread. */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "QRT_SDK.h"

static void onInput(unsigned int di, int state) {
    printf("DI %u is now %d\n", di, state);
    fflush(stdout);
}

int main(int argc, char** argv) {
    unsigned seconds = argc > 1 ? (unsigned)atoi(argv[1]) : 10;
    for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
        void* product = QRT_GetProductHandle(i);
        unsigned inputs = 0, outputs = 0;
        if (QRT_DIOGetDINums(product, &inputs) != QRT_SUCCESS) continue;
        QRT_DIOGetDONums(product, &outputs);

        for (unsigned di = 0; di < inputs; ++di) {
            int state = 0;
            if (QRT_DIOGetDIState(product, di, &state) == QRT_SUCCESS)
                printf("DI %u: %d\n", di, state);
        }
        if (outputs > 0) printf("DO 0 set: status %d\n", QRT_DIOSetDOState(product, 0, 1));

        int status = QRT_DIOSetDITriggerCallback(product, onInput);
        if (status != QRT_SUCCESS) return 1;
        sleep(seconds);
        return QRT_DIOSetDITriggerCallback(product, NULL) == QRT_SUCCESS ? 0 : 1;
    }
    puts("no product with digital I/O");
    return 0;
}
