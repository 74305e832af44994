// The per-object lock (a binary semaphore taken with a bounded blocking wait, waiters served
// in arrival order, held for a scope by C_ObjectLock) and the SDK's pause.

#include <errno.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "core/common/C_FairSemaphore.h"
#include "core/common/C_ObjectLock.h"
#include "core/common/I_CommonDef.h"

// Every pause of the SDK is one usleep() call. This program's own usleep, which the SDK
// libraries call too, logs each pause and then really sleeps it (lock contention needs real
// time), unless g_instant is set. Other threads here sleep through std::this_thread, so the log
// holds only the test thread's pauses.
namespace {
std::mutex g_logMutex;
std::vector<uint64_t> g_pauses;
std::atomic<bool> g_instant{false};

std::vector<uint64_t> takePauses() {
    std::lock_guard<std::mutex> guard(g_logMutex);
    return std::exchange(g_pauses, {});
}

bool taken(void* sem) {
    return static_cast<C_FairSemaphore*>(sem)->inUse();
}
}  // namespace

extern "C" int usleep(useconds_t us) {
    {
        std::lock_guard<std::mutex> guard(g_logMutex);
        g_pauses.push_back(us);
    }
    if (g_instant) return 0;
    timespec pause = {static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
    return 0;
}

TEST(ObjectLock, AFreeLockIsTakenAtOnceAndFreedAtTheEndOfTheScope) {
    C_ObjectSemaphore sem, other;
    ASSERT_NE(nullptr, sem.handle());
    ASSERT_NE(sem.handle(), other.handle());
    takePauses();
    {
        C_ObjectLock lock(sem);
        EXPECT_TRUE(lock.held());
        EXPECT_TRUE(taken(sem.handle()));
        C_ObjectLock independent(other);  // each object has its own lock
        EXPECT_TRUE(independent.held());
    }
    EXPECT_FALSE(taken(sem.handle()));
    EXPECT_EQ(0, I_CommonDef::sem_post(sem.handle()));  // nothing to release: stays free
    EXPECT_TRUE(C_ObjectLock(sem.handle()).held());
    EXPECT_FALSE(C_ObjectLock(static_cast<void*>(nullptr)).held());  // no semaphore: never held
    EXPECT_EQ(0, I_CommonDef::sem_destroy(nullptr));
    EXPECT_TRUE(takePauses().empty());
}

// Real time: about ten seconds, waited in one blocking wait rather than in pauses.
TEST(ObjectLock, AHeldLockIsGivenUpAtTheEndOfTheBoundWithoutPausing) {
    C_ObjectSemaphore sem;
    ASSERT_EQ(1, I_CommonDef::sem_trywait(sem.handle()));  // held elsewhere
    takePauses();
    {
        C_ObjectLock refused(sem);
        EXPECT_FALSE(refused.held());
    }
    EXPECT_TRUE(takePauses().empty());
    EXPECT_TRUE(taken(sem.handle()));  // not released by the one who did not get it
    EXPECT_EQ(0, I_CommonDef::sem_destroy(sem.handle()));  // never destroyed while held
    EXPECT_EQ(1, I_CommonDef::sem_post(sem.handle()));
}

TEST(ObjectLock, AWaiterGetsTheLockWhenItsHolderReleasesIt) {
    C_ObjectSemaphore sem;
    ASSERT_EQ(1, I_CommonDef::sem_trywait(sem.handle()));
    takePauses();
    std::thread holder([&sem] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        I_CommonDef::sem_post(sem.handle());
    });
    {
        C_ObjectLock lock(sem);
        EXPECT_TRUE(lock.held());
    }
    holder.join();
    EXPECT_TRUE(takePauses().empty());  // woken by the release, not by polling
    EXPECT_FALSE(taken(sem.handle()));
}

// Eight threads take and release one lock, holding it a millisecond each time, a fixed number
// of times each. Served in arrival order, every one of them is still taking turns when the
// first is done: none is starved by a thread that releases and takes again at once.
TEST(ObjectLock, WaitersTakeTurns) {
    constexpr int kThreads = 8, kRounds = 200;
    C_ObjectSemaphore sem;
    std::atomic<int> ready{0};
    bool finished = false;  // under the lock, like the counts
    std::vector<int> rounds(kThreads, 0), atFirstFinish(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            while (rounds[t] < kRounds) {
                C_ObjectLock lock(sem);
                ASSERT_TRUE(lock.held());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (++rounds[t] == kRounds && !finished) {
                    finished = true;
                    atFirstFinish = rounds;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_GE(atFirstFinish[t], kRounds / 2) << "thread " << t;
}
