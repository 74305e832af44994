// Every pause the SDK requests in this program is recorded instead of slept.
#include "support/PauseRecorder.h"
