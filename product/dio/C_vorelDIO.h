#pragma once

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "product/dio/A_vorelSeries.h"

// The digital inputs and outputs of the embedded vision system, driven through the files the
// DIO driver exposes in its sysfs class directory:
//   DI_<n>          the state of input n (read)
//   DI_<n>_TrigMod  the trigger polarity code of input n, where its edge can be selected
//   DO_<n>          the state of output n (written; readable only where the file allows it)
// Lines are numbered from 0 without gaps: the count is the first number without a file.
// The board's identification text is "/sys/class/norvikhw/HWID".
//
// Input changes come as kernel uevents. While a trigger callback is registered, a monitor
// thread listens on a netlink uevent socket and calls the callback, on that thread, with the
// input and its new state. A receive waits at most 3 s; a stop wakes it at once.
class C_vorelDIO : public A_vorelSeries {
  public:
    C_vorelDIO();
    ~C_vorelDIO() override;

    // Counts the lines and derives every line's capabilities from its files (the argument is
    // not used). 0 when there is at least one line; -1 when there is none.
    int initial(void* arg) override;
    // "PCBVersion:<first line of the HWID file>\r\n"; -5 when the file cannot be read.
    int getInfo(char* buf, unsigned len) override;

    int setDOState(unsigned dout, int state) override;
    int setDOStates(int* states, unsigned n) override;
    int getDOState(unsigned dout, int* state) override;
    int getDOStates(int* states, unsigned n) override;
    int getDIState(unsigned di, int* state) override;
    int getDIStates(int* states, unsigned n) override;
    // Stops the monitor, then starts it again for a non-null callback. -1 when it could not
    // be started. Concurrent calls are serialised. From inside the callback the monitor goes on
    // with the new callback (a null one ends it when the callback returns).
    int setDITriggerCallback(QRT_DITRIGGER_CALLBACK callback) override;
    int setDIEdgeTrigger(unsigned di, QRT_EDGETRIGGER_TYPE edge) override;
    int getDIEdgeTrigger(unsigned di, QRT_EDGETRIGGER_TYPE* edge) override;

  protected:
    // The driver's files under other paths (a test's directory tree); `classDirectory` ends
    // with '/'.
    C_vorelDIO(const char* classDirectory, const char* hwidPath);

  private:
    std::string linePath(const char* format, unsigned line) const;
    // The number of lines whose files of `format` exist, counted from 0 to the first gap.
    unsigned countLines(const char* format) const;

    static int sysfs_write(const char* path, const char* buf, size_t n);
    static int sysfs_read(const char* path, char* buf, size_t n);
    static int writeInt(const char* path, int value);
    static int writeUnsignedInt(const char* path, unsigned value);
    static int readInt(const char* path, int* value);

    enum class Received { kNothing, kEvent, kOverrun };

    int openNetlink();
    // kEvent and the input's index and state when one datagram of the kernel announced an
    // input change; kOverrun when the kernel dropped messages because the socket was full.
    Received readNetLinkEvent(int socket, unsigned* index, int* state);
    static void drainSocket(int socket);
    int inputLevel(unsigned di) const;
    bool edgeAnnounced(unsigned di, int level) const;
    void recordLevels();
    void reportMissedChanges();
    static void* listenNetlinkThread(void* self);
    void listenNetlinkData();
    int startMonitorThread();
    bool onMonitorThread() const;
    void stopMonitorThread();
    void closeDescriptors();

    const std::string m_classDirectory;
    const std::string m_hwidPath;
    pthread_t m_thread{};
    bool m_threadRunning = false;
    int m_socket = -1;         // the uevent socket; -1 when none is open
    int m_wake[2] = {-1, -1};  // a stop writes to [1] and wakes the monitor's wait on [0]
    int m_netlinkGroup = 1;
    std::atomic<int> m_running{0};
    std::mutex m_registration;       // one registration at a time
    std::vector<int> m_knownLevels;  // the inputs' levels as last reported (-1: unknown)
};
