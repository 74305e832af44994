#pragma once

// Static helpers shared by the hardware-access core and the products: a millisecond sleep,
// the per-object lock (a binary semaphore taken with a bounded wait), a check of the CPLD's
// date-and-time version stamps and a lookup of a local adapter's IPv4 address by MAC.
// Truth results: 1 success, 0 failure.
class I_CommonDef {
  public:
    // Sleeps ms milliseconds (a microsecond sleep of ms * 1000). Every pause of the SDK goes
    // through here; negative values do not pause.
    static void Sleep(int ms);

    // The longest a thread waits for an object's lock before its caller answers busy.
    static constexpr int kLockWaitMs = 10000;

    // Allocates a free binary semaphore of this process into `sem` (null on failure): a
    // C_FairSemaphore, which serves its waiters in arrival order. Owners usually hold it
    // through C_ObjectSemaphore and take it through C_ObjectLock (core/common/C_ObjectLock.h).
    // A null handle is never taken.
    static int sem_init(void*& sem);
    // Takes the semaphore, waiting at most kLockWaitMs; a waiter is woken as soon as the
    // semaphore is handed to it. 0 when it could not be taken.
    static int sem_trywait(void* sem);
    // Releases it (to the longest waiter); 0 when it was not taken.
    static int sem_post(void* sem);
    // Destroys and frees it; 0 (nothing freed) while a thread holds it or waits for it.
    static int sem_destroy(void* sem);

    // "YYYYMMDD_hhmm" with 2016 <= year <= 9998 and plausible month, day, hour, minute.
    static int valid_TimeString(const char* text);

    // Finds the interface whose hardware address is `mac` (6 bytes) and writes its IPv4
    // address as dotted text into ip (bounded by len). 0 when no adapter has that MAC, its
    // address cannot be read, or the text does not fit in len bytes with its terminator.
    static int getLocalAdpaterIPByMAC(char* ip, unsigned len, const unsigned char* mac);
};
