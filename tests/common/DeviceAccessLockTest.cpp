// The device access lock handed back and forth between two busy processes. A "process" here is
// one A_deviceAccessLock; the system's side (one owner at a time, as the driver keeps one key per
// function) is a small shared record.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "QRT_Types.h"
#include "core/common/A_deviceAccessLock.h"
#include "core/common/C_TransactionLock.h"

namespace {

struct SystemLock {
    std::mutex mutex;
    int owner = 0;  // 0: free
};

class ProcessLock : public A_deviceAccessLock {
  public:
    ProcessLock(SystemLock& system, int id) : system_(system), id_(id) {}

  protected:
    int lockDevice() override {
        std::lock_guard<std::mutex> guard(system_.mutex);
        if (system_.owner != 0 && system_.owner != id_) return QRT_ERR_BUSY;
        system_.owner = id_;
        return QRT_SUCCESS;
    }
    int unlockDevice() override {
        std::lock_guard<std::mutex> guard(system_.mutex);
        system_.owner = 0;
        return QRT_SUCCESS;
    }

  private:
    SystemLock& system_;
    const int id_;
};

// Two processes each run transactions back to back, a fixed number each. The one that holds
// the device when the other starts asking lets the other in between its transactions: both
// are still taking turns when the first is done.
TEST(DeviceAccessLock, TwoBusyProcessesTakeTurns) {
    constexpr int kRounds = 30;
    SystemLock system;
    ProcessLock processes[2] = {{system, 1}, {system, 2}};
    std::atomic<bool> finished{false};
    std::atomic<int> rounds[2] = {{0}, {0}};
    int atFirstFinish[2] = {-1, -1};
    std::mutex record;
    std::vector<std::thread> threads;
    for (int p = 0; p < 2; ++p) {
        threads.emplace_back([&, p] {
            while (rounds[p] < kRounds) {
                C_TransactionLock transaction(&processes[p]);
                ASSERT_TRUE(transaction.held());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (++rounds[p] == kRounds && !finished.exchange(true)) {
                    std::lock_guard<std::mutex> guard(record);
                    atFirstFinish[0] = rounds[0];
                    atFirstFinish[1] = rounds[1];
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_GE(atFirstFinish[0], kRounds / 3);
    EXPECT_GE(atFirstFinish[1], kRounds / 3);
}

}  // namespace
