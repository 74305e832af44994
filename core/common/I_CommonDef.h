#pragma once

// Static helpers shared by the hardware-access core and the products: a millisecond sleep,
// the per-object lock (a binary POSIX semaphore taken with a bounded wait), a check of the
// CPLD's date-and-time version stamps and a lookup of a local adapter's IPv4 address by MAC.
// Truth results: 1 success, 0 failure.
class I_CommonDef {
  public:
    // Sleeps ms milliseconds (a microsecond sleep of ms * 1000). Every pause of the SDK goes
    // through here; negative values do not pause.
    static void Sleep(int ms);

    // Allocates and initialises an unshared semaphore with value 1 into `sem` (null on
    // failure). Owners usually hold it through C_ObjectSemaphore and take it through
    // C_ObjectLock (core/common/C_ObjectLock.h). A null handle is never taken.
    static int sem_init(void*& sem);
    // Takes the semaphore: up to 100 attempts, 100 ms apart. 0 when it could not be taken.
    static int sem_trywait(void* sem);
    static int sem_post(void* sem);
    // Destroys and frees it; 0 (nothing freed) when the system refuses.
    static int sem_destroy(void* sem);

    // "YYYYMMDD_hhmm" with 2016 <= year <= 9998 and plausible month, day, hour, minute.
    static int valid_TimeString(const char* text);

    // Finds the interface whose hardware address is `mac` (6 bytes) and writes its IPv4
    // address as dotted text into ip (bounded by len). 0 when no adapter has that MAC, its
    // address cannot be read, or the text does not fit in len bytes with its terminator.
    static int getLocalAdpaterIPByMAC(char* ip, unsigned len, const unsigned char* mac);
};
