// The one place of this program that interposes the pause: every requested pause returns at
// once and is recorded; the chip models run on the recorded time (RecordedPauseClock).
#include "support/PauseRecorder.h"
