// The per-object lock (a binary semaphore taken with at most 100 attempts 100 ms apart, held
// for a scope by C_ObjectLock) and the SDK's pause.

#include <errno.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

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

int semaphoreValue(void* sem) {
    int value = -1;
    sem_getvalue(static_cast<sem_t*>(sem), &value);
    return value;
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
        EXPECT_EQ(0, semaphoreValue(sem.handle()));
        C_ObjectLock independent(other);  // each object has its own lock
        EXPECT_TRUE(independent.held());
    }
    EXPECT_EQ(1, semaphoreValue(sem.handle()));
    EXPECT_TRUE(C_ObjectLock(sem.handle()).held());
    EXPECT_FALSE(C_ObjectLock(static_cast<void*>(nullptr)).held());  // no semaphore: never held
    EXPECT_EQ(0, I_CommonDef::sem_destroy(nullptr));
    EXPECT_TRUE(takePauses().empty());
}

// Real time: about ten seconds.
TEST(ObjectLock, AHeldLockIsGivenUpAfterOneHundredAttemptsAHundredMillisecondsApart) {
    C_ObjectSemaphore sem;
    ASSERT_EQ(1, I_CommonDef::sem_trywait(sem.handle()));  // held elsewhere
    takePauses();
    {
        C_ObjectLock refused(sem);
        EXPECT_FALSE(refused.held());
    }
    EXPECT_EQ(std::vector<uint64_t>(100, 100000), takePauses());
    EXPECT_EQ(0, semaphoreValue(sem.handle()));  // not released by the one who did not get it
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
    const size_t attempts = takePauses().size();
    EXPECT_GE(attempts, 1u);
    EXPECT_LT(attempts, 100u);
    EXPECT_EQ(1, semaphoreValue(sem.handle()));
}

TEST(Sleep, EveryPauseIsOneMicrosecondSleepAndLongPausesAreSplitNotWrapped) {
    g_instant = true;
    takePauses();
    I_CommonDef::Sleep(250);
    I_CommonDef::Sleep(-5);
    EXPECT_EQ((std::vector<uint64_t>{250000, 0}), takePauses());
    I_CommonDef::Sleep(5000000);  // 5000 s: more than one 32-bit microsecond count
    const auto pauses = takePauses();
    g_instant = false;
    EXPECT_GE(pauses.size(), 2u);
    EXPECT_EQ(5000000000ull, std::accumulate(pauses.begin(), pauses.end(), uint64_t{0}));
}
