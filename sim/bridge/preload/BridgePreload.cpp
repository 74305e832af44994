// Preloaded into every program of a virtual rig (LD_PRELOAD, set by qrt-sim): opens of the two
// device-node families that the kernel cannot provide for the rig, "/dev/___nk_pcimap" and
// "/dev/i2c-N", become connections to the rig server, and ioctl, read, write and close on
// those descriptors (and flock on an adapter's) are carried to it. Every other call goes straight
// to the C library, so files of the rig's mount namespace, sockets (netlink uevents included) and
// the host's network interfaces are the kernel's own. The one exception on sockets: a uevent the
// rig put on the multicast group stands for the kernel's, so recvmsg and recvfrom show its
// sender as the kernel (port id 0, credentials of pid 0, uid 0, gid 0), as a program that takes
// uevents from the kernel only (udev, the SDK's DIO monitor) requires; every other sender keeps
// its own address. In a run with skipped pauses, usleep() is counted instead of slept (see
// "pauses" below).
//
// The library keeps no state that needs constructing: the SDK opens its driver from a static
// initialiser, before a preloaded library's constructors run, so everything here starts
// lazily on the first call and lives in zero-initialised memory. Only the C library is used.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/netlink.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "sim/bridge/BridgeProtocol.h"
#include "sim/bridge/preload/PauseLedger.h"
#include "sim/driver/PcimapWire.h"

#define QRT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using qrtsim::bridge::NodeFamily;
namespace wire = qrtsim::bridge;

// Descriptors standing for rig nodes: the socket's inode plus one (0: not a rig node), so that
// a descriptor closed behind our back (fclose, close_range) and reused is recognised.
constexpr int kMaxTrackedFd = 16384;
unsigned long long g_nodeInode[kMaxTrackedFd];
unsigned char g_nodeFamily[kMaxTrackedFd];

// One request at a time per descriptor: threads share the driver's descriptor. Zero-filled
// mutexes are default mutexes in glibc (PTHREAD_MUTEX_INITIALIZER is all zeros).
constexpr int kLockStripes = 64;
pthread_mutex_t g_requestLocks[kLockStripes];

// ---- the C library's functions --------------------------------------------------------------

template <typename Function>
Function nextSymbol(Function* cache, const char* name) {
    Function function = __atomic_load_n(cache, __ATOMIC_ACQUIRE);
    if (function == nullptr) {
        function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
        __atomic_store_n(cache, function, __ATOMIC_RELEASE);
    }
    return function;
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenatFunction = int (*)(int, const char*, int, ...);
using FortifiedOpenFunction = int (*)(const char*, int);
using FortifiedOpenatFunction = int (*)(int, const char*, int);
using IoctlFunction = int (*)(int, unsigned long, ...);
using CloseFunction = int (*)(int);
using ReadFunction = ssize_t (*)(int, void*, size_t);
using WriteFunction = ssize_t (*)(int, const void*, size_t);
using FlockFunction = int (*)(int, int);
using RecvmsgFunction = ssize_t (*)(int, struct msghdr*, int);
using RecvfromFunction = ssize_t (*)(int, void*, size_t, int, struct sockaddr*, socklen_t*);

// The C library's functions behind the interposed ones, looked up on first use. g_open also
// serves the bridge's own opens (the pause ledger).
OpenFunction g_open, g_open64;
OpenatFunction g_openat, g_openat64;
FortifiedOpenFunction g___open_2, g___open64_2;
FortifiedOpenatFunction g___openat_2, g___openat64_2;
FlockFunction g_flock;
IoctlFunction g_ioctl;
CloseFunction g_close;
ReadFunction g_read;
WriteFunction g_write;
RecvmsgFunction g_recvmsg;
RecvfromFunction g_recvfrom;

bool needsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// ---- descriptor table -----------------------------------------------------------------------

unsigned long long inodeOf(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) return 0;
    return static_cast<unsigned long long>(status.st_ino) + 1;
}

NodeFamily trackedFamily(int fd) {
    if (fd < 0 || fd >= kMaxTrackedFd) return NodeFamily::kNone;
    unsigned char family = __atomic_load_n(&g_nodeFamily[fd], __ATOMIC_ACQUIRE);
    if (family == 0) return NodeFamily::kNone;
    if (inodeOf(fd) != __atomic_load_n(&g_nodeInode[fd], __ATOMIC_ACQUIRE)) {
        __atomic_store_n(&g_nodeFamily[fd], 0, __ATOMIC_RELEASE);  // reused for something else
        return NodeFamily::kNone;
    }
    return static_cast<NodeFamily>(family);
}

void track(int fd, NodeFamily family) {
    __atomic_store_n(&g_nodeInode[fd], inodeOf(fd), __ATOMIC_RELEASE);
    __atomic_store_n(&g_nodeFamily[fd], static_cast<unsigned char>(family), __ATOMIC_RELEASE);
}

void untrack(int fd) {
    if (fd >= 0 && fd < kMaxTrackedFd) __atomic_store_n(&g_nodeFamily[fd], 0, __ATOMIC_RELEASE);
}

// ---- frames ---------------------------------------------------------------------------------

bool sendAll(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = send(fd, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        at += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool receiveAll(int fd, void* data, size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = recv(fd, at, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// A request body under construction.
struct Body {
    unsigned char* data;
    size_t size;
    size_t capacity;
};

bool bodyInit(Body* body, size_t capacity, uint32_t operation) {
    body->data = static_cast<unsigned char*>(malloc(capacity + 4));
    body->size = 4;  // room for the length
    body->capacity = capacity + 4;
    if (body->data == nullptr) return false;
    memcpy(body->data + body->size, &operation, sizeof operation);
    body->size += sizeof operation;
    return true;
}

void bodyPut(Body* body, const void* data, size_t size) {
    if (size > 0) memcpy(body->data + body->size, data, size);
    body->size += size;
}

// Sends the request and waits for its answer. Returns the request's result (>= 0 or -errno)
// and, in *payload (malloc'ed, caller frees) and *payloadSize, the answer's payload.
long long roundTrip(int fd, Body* body, unsigned char** payload, size_t* payloadSize) {
    *payload = nullptr;
    *payloadSize = 0;
    uint32_t length = static_cast<uint32_t>(body->size - 4);
    memcpy(body->data, &length, sizeof length);
    pthread_mutex_t* lock = &g_requestLocks[static_cast<unsigned>(fd) % kLockStripes];
    pthread_mutex_lock(lock);
    long long result = -EIO;  // the rig is gone or answered nonsense
    uint32_t replyLength = 0;
    if (sendAll(fd, body->data, body->size) && receiveAll(fd, &replyLength, sizeof replyLength) &&
        replyLength >= sizeof(int64_t) && replyLength <= wire::kMaxBody) {
        unsigned char* reply = static_cast<unsigned char*>(malloc(replyLength));
        if (reply != nullptr && receiveAll(fd, reply, replyLength)) {
            int64_t answer = 0;
            memcpy(&answer, reply, sizeof answer);
            result = answer;
            *payloadSize = replyLength - sizeof answer;
            memmove(reply, reply + sizeof answer, *payloadSize);
            *payload = reply;
        } else {
            free(reply);
        }
    }
    pthread_mutex_unlock(lock);
    free(body->data);
    body->data = nullptr;
    return result;
}

long long finish(long long result) {
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return result;
}

// ---- open -----------------------------------------------------------------------------------

// Opens a rig node when `path` is one and a rig is running: true with *fd set (a descriptor, or
// -1 with errno). False: not the rig's business.
bool openRigNode(const char* path, int flags, int* fd) {
    NodeFamily family = wire::nodeFamily(path, nullptr);
    if (family == NodeFamily::kNone) return false;
    const char* name = getenv(wire::kSocketVariable);
    if (name == nullptr || name[0] == '\0') return false;

    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    size_t nameLength = strlen(name);
    if (nameLength >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        *fd = -1;
        return true;
    }
    memcpy(address.sun_path, name, nameLength);
    if (name[0] == '@') address.sun_path[0] = '\0';  // abstract socket
    socklen_t addressLength =
        static_cast<socklen_t>(__builtin_offsetof(sockaddr_un, sun_path) + nameLength);

    int type = SOCK_STREAM | ((flags & O_CLOEXEC) ? SOCK_CLOEXEC : 0);
    int socketFd = socket(AF_UNIX, type, 0);
    if (socketFd < 0) {
        *fd = -1;
        return true;
    }
    if (socketFd >= kMaxTrackedFd) {
        nextSymbol(&g_close, "close")(socketFd);
        errno = EMFILE;
        *fd = -1;
        return true;
    }
    if (connect(socketFd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
        nextSymbol(&g_close, "close")(socketFd);
        errno = ENODEV;  // the rig has ended
        *fd = -1;
        return true;
    }
    Body body;
    size_t pathLength = strlen(path);
    long long result = -ENOMEM;
    if (bodyInit(&body, 4 + pathLength, wire::kOpOpen)) {
        bodyPut(&body, path, pathLength);
        unsigned char* payload;
        size_t payloadSize;
        result = roundTrip(socketFd, &body, &payload, &payloadSize);
        free(payload);
    }
    if (result < 0) {
        nextSymbol(&g_close, "close")(socketFd);
        errno = static_cast<int>(-result);
        *fd = -1;
        return true;
    }
    track(socketFd, family);
    *fd = socketFd;
    return true;
}

// ---- ioctl ----------------------------------------------------------------------------------

int driverIoctl(int fd, unsigned long request, void* record) {
    uint32_t size = qrtsim::pcimap::recordSizeOf(request);
    if (size > 0 && record == nullptr) {
        errno = EFAULT;
        return -1;
    }
    Body body;
    if (!bodyInit(&body, 4 + 8 + size, wire::kOpIoctl)) {
        errno = ENOMEM;
        return -1;
    }
    uint64_t code = request;
    bodyPut(&body, &code, sizeof code);
    bodyPut(&body, record, size);
    unsigned char* payload;
    size_t payloadSize;
    long long result = roundTrip(fd, &body, &payload, &payloadSize);
    if (result >= 0 && payloadSize == size && size > 0) memcpy(record, payload, size);
    free(payload);
    return static_cast<int>(finish(result));
}

int i2cTransfer(int fd, i2c_rdwr_ioctl_data* transfer) {
    if (transfer == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (transfer->msgs == nullptr || transfer->nmsgs == 0 ||
        transfer->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) {
        errno = EINVAL;
        return -1;
    }
    size_t size = 4 + 8 + 4;
    size_t readBytes = 0;
    for (uint32_t i = 0; i < transfer->nmsgs; ++i) {
        const i2c_msg& message = transfer->msgs[i];
        if (message.len > 8192) {
            errno = EINVAL;
            return -1;
        }
        if (message.len > 0 && message.buf == nullptr) {
            errno = EFAULT;
            return -1;
        }
        size += 6;
        if (message.flags & I2C_M_RD)
            readBytes += message.len;
        else
            size += message.len;
    }
    Body body;
    if (!bodyInit(&body, size, wire::kOpIoctl)) {
        errno = ENOMEM;
        return -1;
    }
    uint64_t code = I2C_RDWR;
    bodyPut(&body, &code, sizeof code);
    uint32_t count = transfer->nmsgs;
    bodyPut(&body, &count, sizeof count);
    for (uint32_t i = 0; i < count; ++i) {
        const i2c_msg& message = transfer->msgs[i];
        uint16_t fields[3] = {message.addr, message.flags, message.len};
        bodyPut(&body, fields, sizeof fields);
        if (!(message.flags & I2C_M_RD)) bodyPut(&body, message.buf, message.len);
    }
    unsigned char* payload;
    size_t payloadSize;
    long long result = roundTrip(fd, &body, &payload, &payloadSize);
    if (result >= 0) {
        if (payloadSize != readBytes) {
            result = -EIO;
        } else {
            size_t at = 0;
            for (uint32_t i = 0; i < count; ++i) {
                i2c_msg& message = transfer->msgs[i];
                if (!(message.flags & I2C_M_RD) || message.len == 0) continue;
                memcpy(message.buf, payload + at, message.len);
                at += message.len;
            }
        }
    }
    free(payload);
    return static_cast<int>(finish(result));
}

int i2cIoctl(int fd, unsigned long request, void* argument) {
    if (request == I2C_RDWR) return i2cTransfer(fd, static_cast<i2c_rdwr_ioctl_data*>(argument));
    if (request == I2C_FUNCS && argument == nullptr) {
        errno = EFAULT;
        return -1;
    }
    Body body;
    if (!bodyInit(&body, 4 + 8 + 8, wire::kOpIoctl)) {
        errno = ENOMEM;
        return -1;
    }
    uint64_t code = request;
    bodyPut(&body, &code, sizeof code);
    if (request != I2C_FUNCS) {
        // The value requests take their argument by value.
        uint64_t value = reinterpret_cast<uintptr_t>(argument);
        bodyPut(&body, &value, sizeof value);
    }
    unsigned char* payload;
    size_t payloadSize;
    long long result = roundTrip(fd, &body, &payload, &payloadSize);
    if (result >= 0 && request == I2C_FUNCS && payloadSize == sizeof(uint64_t)) {
        uint64_t functions = 0;
        memcpy(&functions, payload, sizeof functions);
        *static_cast<unsigned long*>(argument) = static_cast<unsigned long>(functions);
    }
    free(payload);
    return static_cast<int>(finish(result));
}

ssize_t rigRead(int fd, void* buffer, size_t count) {
    Body body;
    if (!bodyInit(&body, 4 + 4, wire::kOpRead)) {
        errno = ENOMEM;
        return -1;
    }
    uint32_t wanted = count > 8192 ? 8192 : static_cast<uint32_t>(count);
    bodyPut(&body, &wanted, sizeof wanted);
    unsigned char* payload;
    size_t payloadSize;
    long long result = roundTrip(fd, &body, &payload, &payloadSize);
    if (result >= 0) {
        if (payloadSize > wanted) payloadSize = wanted;
        memcpy(buffer, payload, payloadSize);
        result = static_cast<long long>(payloadSize);
    }
    free(payload);
    return static_cast<ssize_t>(finish(result));
}

ssize_t rigWrite(int fd, const void* data, size_t count) {
    size_t size = count > 8192 ? 8192 : count;
    Body body;
    if (!bodyInit(&body, 4 + size, wire::kOpWrite)) {
        errno = ENOMEM;
        return -1;
    }
    bodyPut(&body, data, size);
    unsigned char* payload;
    size_t payloadSize;
    long long result = roundTrip(fd, &body, &payload, &payloadSize);
    free(payload);
    return static_cast<ssize_t>(finish(result));
}

// An advisory lock on an adapter node is the rig's: every process's descriptor of the adapter
// is a connection of its own, which the kernel's flock would never see contend. The rig answers
// at once; a request that may block is asked again until it is granted.
int rigFlock(int fd, int operation) {
    for (;;) {
        Body body;
        if (!bodyInit(&body, 4 + 4, wire::kOpFlock)) {
            errno = ENOMEM;
            return -1;
        }
        uint32_t op = static_cast<uint32_t>(operation | LOCK_NB);
        bodyPut(&body, &op, sizeof op);
        unsigned char* payload;
        size_t payloadSize;
        long long result = roundTrip(fd, &body, &payload, &payloadSize);
        free(payload);
        if (result != -EWOULDBLOCK || (operation & LOCK_NB))
            return static_cast<int>(finish(result));
        timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
}

// The open family differs only in whether a directory descriptor comes first and whether a
// creation mode may follow the flags; each member serves a rig node itself and hands every
// other path to the C library's function of its own name. A relative path of openat never
// names a rig node (rig nodes are absolute paths), so dirfd needs no look.
template <typename Function, typename... Arguments>
int openOrForward(Function* next, const char* name, const char* path, int flags,
                  Arguments... arguments) {
    int fd;
    if (openRigNode(path, flags, &fd)) return fd;
    return nextSymbol(next, name)(arguments...);
}

mode_t modeArgument(int flags, va_list arguments) {
    return needsMode(flags) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

// ---- pauses ---------------------------------------------------------------------------------

// In a run with skipped pauses (qrt-sim --skip-pauses) usleep() is answered at once and the
// pause is counted in the ledger qrt-sim shares (PauseLedger.h); in every other run it is the C
// library's. The SDK's only pause is usleep() (I_CommonDef::Sleep), so nanosleep and friends,
// which only the program's own code would call, keep real time.

namespace ledger = qrtsim::pauses;

using UsleepFunction = int (*)(useconds_t);
using ThreadStart = void* (*)(void*);
using ThreadCreateFunction = int (*)(pthread_t*, const pthread_attr_t*, ThreadStart, void*);
using ThreadJoinFunction = int (*)(pthread_t, void**);
using ThreadDetachFunction = int (*)(pthread_t);
UsleepFunction g_usleep;
ThreadCreateFunction g_pthreadCreate;
ThreadJoinFunction g_pthreadJoin;
ThreadDetachFunction g_pthreadDetach;

ledger::PauseLedger* g_ledger;  // null: none (yet)
int g_ledgerLookedUp;
// This process image's record: the claiming process id in the high half, the record's index
// plus one in the low half, so that a forked child sees the record is not its own.
uint64_t g_claim;

// Threads of this process besides the first, with the process id they count for (a forked
// child has one thread whatever its parent had). While there are any, pauses are slept for
// real: another thread may wait for a lock this one holds, or on a socket in real time.
uint64_t g_otherThreads;  // process id in the high half, the count in the low half

bool otherThreadsRun() {
    uint64_t threads = __atomic_load_n(&g_otherThreads, __ATOMIC_ACQUIRE);
    return threads >> 32 == static_cast<uint32_t>(getpid()) && static_cast<uint32_t>(threads) > 0;
}

void countOtherThread(int change) {
    uint64_t pid = static_cast<uint32_t>(getpid());
    uint64_t threads = __atomic_load_n(&g_otherThreads, __ATOMIC_ACQUIRE);
    for (;;) {
        uint32_t count = threads >> 32 == pid ? static_cast<uint32_t>(threads) : 0;
        count = change > 0 ? count + 1 : (count > 0 ? count - 1 : 0);
        if (__atomic_compare_exchange_n(&g_otherThreads, &threads, pid << 32 | count, false,
                                        __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
            return;
    }
}

// The pauses along this thread's path: its own, its creator's up to its start, and those of
// the threads it joined up to their end.
__thread uint64_t t_pathUs __attribute__((tls_model("initial-exec")));

ledger::PauseLedger* mapLedger() {
    const char* path = getenv(ledger::kLedgerVariable);
    if (path == nullptr || path[0] == '\0') return nullptr;
    int fd = nextSymbol(&g_open, "open")(path, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    struct stat status;
    void* memory = MAP_FAILED;
    if (fstat(fd, &status) == 0 && status.st_size >= off_t(sizeof(ledger::PauseLedger)))
        memory =
            mmap(nullptr, sizeof(ledger::PauseLedger), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    nextSymbol(&g_close, "close")(fd);
    if (memory == MAP_FAILED) return nullptr;
    auto* book = static_cast<ledger::PauseLedger*>(memory);
    if (book->magic != ledger::kLedgerMagic || book->records != ledger::kProcessRecords) {
        munmap(memory, sizeof(ledger::PauseLedger));
        return nullptr;
    }
    return book;
}

// The run's ledger, mapped on first use; null when pauses are not skipped in this run.
ledger::PauseLedger* pauseLedger() {
    ledger::PauseLedger* book = __atomic_load_n(&g_ledger, __ATOMIC_ACQUIRE);
    if (book != nullptr || __atomic_load_n(&g_ledgerLookedUp, __ATOMIC_ACQUIRE)) return book;
    book = mapLedger();
    ledger::PauseLedger* expected = nullptr;
    if (book != nullptr && !__atomic_compare_exchange_n(&g_ledger, &expected, book, false,
                                                        __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        munmap(book, sizeof(ledger::PauseLedger));  // another thread mapped it first
        book = expected;
    }
    __atomic_store_n(&g_ledgerLookedUp, 1, __ATOMIC_RELEASE);
    return book;
}

ledger::ProcessPauses* recordAt(ledger::PauseLedger* book, uint64_t claim) {
    uint32_t index = static_cast<uint32_t>(claim) - 1;
    return index < book->records ? &book->process[index] : &book->overflow;
}

// Takes the lowest free record for process `pid`; the records' count (the overflow) when none
// is free. qrt-sim frees a record, its counts zeroed, once its process has ended.
uint32_t claimFreeRecord(ledger::PauseLedger* book, int32_t pid) {
    for (uint32_t index = 0; index < book->records; ++index) {
        int32_t free = 0;
        if (__atomic_load_n(&book->process[index].pid, __ATOMIC_RELAXED) != 0 ||
            !__atomic_compare_exchange_n(&book->process[index].pid, &free, pid, false,
                                         __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
            continue;
        uint32_t used = __atomic_load_n(&book->used, __ATOMIC_RELAXED);
        while (used < index + 1 &&
               !__atomic_compare_exchange_n(&book->used, &used, index + 1, false, __ATOMIC_ACQ_REL,
                                            __ATOMIC_RELAXED)) {
        }
        return index;
    }
    return book->records;
}

// This process image's record, claimed on its first pause.
ledger::ProcessPauses* processRecord(ledger::PauseLedger* book) {
    uint64_t pid = static_cast<uint32_t>(getpid());
    uint64_t claim = __atomic_load_n(&g_claim, __ATOMIC_ACQUIRE);
    if (claim >> 32 == pid) return recordAt(book, claim);
    uint32_t index = claimFreeRecord(book, static_cast<int32_t>(pid));
    uint64_t mine = pid << 32 | (uint64_t(index) + 1);
    if (!__atomic_compare_exchange_n(&g_claim, &claim, mine, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE)) {
        // Another thread claimed first; ours goes back untouched.
        if (index < book->records) __atomic_store_n(&book->process[index].pid, 0, __ATOMIC_RELEASE);
        return recordAt(book, claim);
    }
    ledger::ProcessPauses* record = recordAt(book, mine);
    uint64_t serial = __atomic_fetch_add(&book->claims, 1, __ATOMIC_ACQ_REL);
    if (record != &book->overflow) {
        __atomic_store_n(&record->serial, serial, __ATOMIC_RELEASE);
        strncpy(record->program, program_invocation_short_name, sizeof record->program - 1);
    } else {
        __atomic_fetch_add(&record->serial, 1, __ATOMIC_RELAXED);
    }
    // A forked child's path starts afresh: its parent's pauses are the parent's.
    t_pathUs = 0;
    return record;
}

void raiseTo(uint64_t* value, uint64_t candidate) {
    uint64_t now = __atomic_load_n(value, __ATOMIC_RELAXED);
    while (now < candidate && !__atomic_compare_exchange_n(value, &now, candidate, false,
                                                           __ATOMIC_ACQ_REL, __ATOMIC_RELAXED)) {
    }
}

// A started thread: the program's start routine and what the thread hands its joiner.
struct ThreadStartRecord {
    ThreadStart start;
    void* argument;
    uint64_t pathAtStart;     // the creator's path when it created the thread
    uint64_t pathAtEnd;       // the thread's path when it ended
    pthread_t thread;         // set by the creator once the thread exists
    ThreadStartRecord* next;  // the creator's list of threads not yet joined or detached
};

pthread_mutex_t g_threadsLock;  // guards g_threads (zero-filled: a default mutex)
ThreadStartRecord* g_threads;   // threads that may still be joined
pthread_key_t g_threadEndKey;
pthread_once_t g_threadEndKeyOnce = PTHREAD_ONCE_INIT;

// Runs when a started thread ends, by return or pthread_exit.
void threadEnded(void* value) {
    auto* started = static_cast<ThreadStartRecord*>(value);
    __atomic_store_n(&started->pathAtEnd, t_pathUs, __ATOMIC_RELEASE);
    countOtherThread(-1);
}

void createThreadEndKey() {
    pthread_key_create(&g_threadEndKey, threadEnded);
}

void* startThread(void* value) {
    auto* started = static_cast<ThreadStartRecord*>(value);
    t_pathUs = started->pathAtStart;
    pthread_setspecific(g_threadEndKey, started);
    return started->start(started->argument);
}

// Takes the record of `thread` off the list; null when it is not there (not started here, or
// created detached).
ThreadStartRecord* takeThreadRecord(pthread_t thread) {
    pthread_mutex_lock(&g_threadsLock);
    ThreadStartRecord** link = &g_threads;
    while (*link != nullptr && !pthread_equal((*link)->thread, thread)) link = &(*link)->next;
    ThreadStartRecord* found = *link;
    if (found != nullptr) *link = found->next;
    pthread_mutex_unlock(&g_threadsLock);
    return found;
}

// Everything a thread may call in the bridge, looked up while the process has one thread: the
// first thread may be started from a library initialiser run by dlopen, which holds the
// dynamic loader's lock until the initialiser returns, and dlsym waits for that lock.
void resolveNextSymbols() {
    nextSymbol(&g_open, "open");
    nextSymbol(&g_open64, "open64");
    nextSymbol(&g_openat, "openat");
    nextSymbol(&g_openat64, "openat64");
    nextSymbol(&g___open_2, "__open_2");
    nextSymbol(&g___open64_2, "__open64_2");
    nextSymbol(&g___openat_2, "__openat_2");
    nextSymbol(&g___openat64_2, "__openat64_2");
    nextSymbol(&g_ioctl, "ioctl");
    nextSymbol(&g_close, "close");
    nextSymbol(&g_read, "read");
    nextSymbol(&g_write, "write");
    nextSymbol(&g_flock, "flock");
    nextSymbol(&g_recvmsg, "recvmsg");
    nextSymbol(&g_recvfrom, "recvfrom");
    nextSymbol(&g_usleep, "usleep");
    nextSymbol(&g_pthreadJoin, "pthread_join");
    nextSymbol(&g_pthreadDetach, "pthread_detach");
}

// ---- uevents of the rig ---------------------------------------------------------------------

// The port id of the rig's uevent socket; 0 outside a rig (or before qrt-sim bound it).
uint32_t rigUeventPort() {
    static uint32_t port;  // 0: not looked up yet, UINT32_MAX: none
    uint32_t known = __atomic_load_n(&port, __ATOMIC_ACQUIRE);
    if (known == 0) {
        const char* text = getenv(wire::kUeventPortVariable);
        known = UINT32_MAX;
        if (text != nullptr && *text != '\0') {
            char* end = nullptr;
            unsigned long value = strtoul(text, &end, 10);
            if (*end == '\0' && value != 0 && value < UINT32_MAX)
                known = static_cast<uint32_t>(value);
        }
        __atomic_store_n(&port, known, __ATOMIC_RELEASE);
    }
    return known == UINT32_MAX ? 0 : known;
}

// True (and the address rewritten to the kernel's) when `address` is the rig's uevent socket.
bool fromRigAsKernel(void* address, socklen_t length) {
    if (address == nullptr || length < sizeof(sockaddr_nl)) return false;
    auto* source = static_cast<sockaddr_nl*>(address);
    uint32_t rig = rigUeventPort();
    if (source->nl_family != AF_NETLINK || rig == 0 || source->nl_pid != rig) return false;
    source->nl_pid = 0;
    return true;
}

// The credentials the kernel attaches to its own messages.
void kernelCredentials(struct msghdr* message) {
    for (cmsghdr* part = CMSG_FIRSTHDR(message); part != nullptr;
         part = CMSG_NXTHDR(message, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_CREDENTIALS ||
            part->cmsg_len < CMSG_LEN(sizeof(ucred)))
            continue;
        ucred kernel{};
        memcpy(CMSG_DATA(part), &kernel, sizeof kernel);
    }
}

}  // namespace

// ---- the interposed entry points ------------------------------------------------------------

// The members of the open family, each under its own name (which its C library fallback
// shares). Parameters and arguments that come before the path: none, or a directory descriptor.
#define QRT_OPEN_WITH_MODE(symbol, Function, LEADING_PARAMETERS, LEADING_ARGUMENTS)            \
    QRT_EXPORT int symbol(LEADING_PARAMETERS const char* path, int flags, ...) {               \
        va_list arguments;                                                                     \
        va_start(arguments, flags);                                                            \
        mode_t mode = modeArgument(flags, arguments);                                          \
        va_end(arguments);                                                                     \
        return openOrForward(&g_##symbol, #symbol, path, flags, LEADING_ARGUMENTS path, flags, \
                             mode);                                                            \
    }

// The fortified variants glibc calls when a program is built with _FORTIFY_SOURCE.
#define QRT_OPEN_FORTIFIED(symbol, Function, LEADING_PARAMETERS, LEADING_ARGUMENTS)             \
    QRT_EXPORT int symbol(LEADING_PARAMETERS const char* path, int flags) {                     \
        return openOrForward(&g_##symbol, #symbol, path, flags, LEADING_ARGUMENTS path, flags); \
    }

#define QRT_NOTHING
#define QRT_DIRFD_PARAMETER int dirfd,
#define QRT_DIRFD_ARGUMENT dirfd,

QRT_OPEN_WITH_MODE(open, OpenFunction, QRT_NOTHING, QRT_NOTHING)
QRT_OPEN_WITH_MODE(open64, OpenFunction, QRT_NOTHING, QRT_NOTHING)
QRT_OPEN_WITH_MODE(openat, OpenatFunction, QRT_DIRFD_PARAMETER, QRT_DIRFD_ARGUMENT)
QRT_OPEN_WITH_MODE(openat64, OpenatFunction, QRT_DIRFD_PARAMETER, QRT_DIRFD_ARGUMENT)
QRT_OPEN_FORTIFIED(__open_2, FortifiedOpenFunction, QRT_NOTHING, QRT_NOTHING)
QRT_OPEN_FORTIFIED(__open64_2, FortifiedOpenFunction, QRT_NOTHING, QRT_NOTHING)
QRT_OPEN_FORTIFIED(__openat_2, FortifiedOpenatFunction, QRT_DIRFD_PARAMETER, QRT_DIRFD_ARGUMENT)
QRT_OPEN_FORTIFIED(__openat64_2, FortifiedOpenatFunction, QRT_DIRFD_PARAMETER, QRT_DIRFD_ARGUMENT)

QRT_EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    switch (trackedFamily(fd)) {
        case NodeFamily::kPcimap:
            return driverIoctl(fd, request, argument);
        case NodeFamily::kI2c:
            return i2cIoctl(fd, request, argument);
        case NodeFamily::kNone:
            break;
    }
    return nextSymbol(&g_ioctl, "ioctl")(fd, request, argument);
}

QRT_EXPORT ssize_t read(int fd, void* buffer, size_t count) {
    switch (trackedFamily(fd)) {
        case NodeFamily::kI2c:
            return rigRead(fd, buffer, count);
        case NodeFamily::kPcimap:
            errno = EINVAL;
            return -1;  // the driver has no read
        case NodeFamily::kNone:
            break;
    }
    return nextSymbol(&g_read, "read")(fd, buffer, count);
}

QRT_EXPORT ssize_t write(int fd, const void* data, size_t count) {
    switch (trackedFamily(fd)) {
        case NodeFamily::kI2c:
            return rigWrite(fd, data, count);
        case NodeFamily::kPcimap:
            errno = EINVAL;
            return -1;
        case NodeFamily::kNone:
            break;
    }
    return nextSymbol(&g_write, "write")(fd, data, count);
}

QRT_EXPORT int flock(int fd, int operation) {
    if (trackedFamily(fd) == NodeFamily::kI2c) return rigFlock(fd, operation);
    return nextSymbol(&g_flock, "flock")(fd, operation);
}

QRT_EXPORT ssize_t recvmsg(int fd, struct msghdr* message, int flags) {
    ssize_t result = nextSymbol(&g_recvmsg, "recvmsg")(fd, message, flags);
    if (result >= 0 && message != nullptr &&
        fromRigAsKernel(message->msg_name, message->msg_namelen))
        kernelCredentials(message);
    return result;
}

QRT_EXPORT ssize_t recvfrom(int fd, void* buffer, size_t length, int flags,
                            struct sockaddr* address, socklen_t* addressLength) {
    ssize_t result =
        nextSymbol(&g_recvfrom, "recvfrom")(fd, buffer, length, flags, address, addressLength);
    if (result >= 0 && addressLength != nullptr) fromRigAsKernel(address, *addressLength);
    return result;
}

QRT_EXPORT int close(int fd) {
    untrack(fd);
    return nextSymbol(&g_close, "close")(fd);
}

// Skipped in a run with a ledger while the process has a single thread, slept otherwise;
// counted in every run with a ledger.
QRT_EXPORT int usleep(useconds_t microseconds) {
    ledger::PauseLedger* book = pauseLedger();
    if (book == nullptr) return nextSymbol(&g_usleep, "usleep")(microseconds);
    ledger::ProcessPauses* record = processRecord(book);
    __atomic_fetch_add(&record->count, 1, __ATOMIC_RELAXED);
    __atomic_fetch_add(&record->requestedUs, microseconds, __ATOMIC_RELAXED);
    t_pathUs += microseconds;
    raiseTo(&record->pathUs, t_pathUs);
    // A process without a record of its own has no time line of its own to skip on.
    if (otherThreadsRun() || record == &book->overflow)
        return nextSymbol(&g_usleep, "usleep")(microseconds);
    __atomic_fetch_add(&record->skippedUs, microseconds, __ATOMIC_RELAXED);
    return 0;
}

// Puts the process's pauses on real time while the thread runs, and hands the creator's path to
// it. A thread created detached is never joined, so nobody takes its path.
QRT_EXPORT int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
    ThreadCreateFunction create = nextSymbol(&g_pthreadCreate, "pthread_create");
    if (!otherThreadsRun()) resolveNextSymbols();
    pthread_once(&g_threadEndKeyOnce, createThreadEndKey);
    auto* started = static_cast<ThreadStartRecord*>(calloc(1, sizeof(ThreadStartRecord)));
    if (started == nullptr) return EAGAIN;
    started->start = start;
    started->argument = argument;
    started->pathAtStart = t_pathUs;
    int detached = PTHREAD_CREATE_JOINABLE;
    if (attributes != nullptr) pthread_attr_getdetachstate(attributes, &detached);
    countOtherThread(+1);
    // The list is held across the creation, so that the thread's record is on it (its
    // identity set) before anybody can join the thread.
    pthread_mutex_lock(&g_threadsLock);
    int result = create(thread, attributes, startThread, started);
    if (result == 0 && detached == PTHREAD_CREATE_JOINABLE) {
        started->thread = *thread;
        started->next = g_threads;
        g_threads = started;
    }
    pthread_mutex_unlock(&g_threadsLock);
    if (result != 0) {
        countOtherThread(-1);
        free(started);
    }
    // A detached thread's record is never freed: it is small and such threads are few.
    return result;
}

// The joiner's path continues from the longer of its own and the joined thread's.
QRT_EXPORT int pthread_join(pthread_t thread, void** value) {
    int result = nextSymbol(&g_pthreadJoin, "pthread_join")(thread, value);
    if (result != 0) return result;
    ThreadStartRecord* started = takeThreadRecord(thread);
    if (started != nullptr) {
        uint64_t joined = __atomic_load_n(&started->pathAtEnd, __ATOMIC_ACQUIRE);
        if (joined > t_pathUs) t_pathUs = joined;
        free(started);
    }
    return 0;
}

QRT_EXPORT int pthread_detach(pthread_t thread) {
    // Taken off before the thread may end and its identity be reused; never freed (see above).
    takeThreadRecord(thread);
    return nextSymbol(&g_pthreadDetach, "pthread_detach")(thread);
}

// For programs of the rig that report their own pauses (the benchmarks): the number of pauses
// this process has requested and their total length in microseconds. Returns 1 in a run with
// skipped pauses; 0, with nothing written, in any other run (nothing is counted there). Look it
// up with dlsym(RTLD_DEFAULT, "qrtsim_requested_pauses"): it exists only inside a rig.
QRT_EXPORT int qrtsim_requested_pauses(unsigned long long* count,
                                       unsigned long long* microseconds) {
    ledger::PauseLedger* book = pauseLedger();
    if (book == nullptr) return 0;
    // A process that has not paused yet has no record (and asking does not claim one).
    uint64_t claim = __atomic_load_n(&g_claim, __ATOMIC_ACQUIRE);
    bool claimed = claim >> 32 == static_cast<uint32_t>(getpid());
    ledger::ProcessPauses* record = claimed ? recordAt(book, claim) : nullptr;
    if (count != nullptr)
        *count = record != nullptr ? __atomic_load_n(&record->count, __ATOMIC_RELAXED) : 0;
    if (microseconds != nullptr)
        *microseconds =
            record != nullptr ? __atomic_load_n(&record->requestedUs, __ATOMIC_RELAXED) : 0;
    return 1;
}

// The same process's pauses along its longest path (see PauseLedger.h): how long it would have
// waited for them. 1 in a run with skipped pauses, else 0 with nothing written.
QRT_EXPORT int qrtsim_pause_path(unsigned long long* microseconds) {
    ledger::PauseLedger* book = pauseLedger();
    if (book == nullptr) return 0;
    uint64_t claim = __atomic_load_n(&g_claim, __ATOMIC_ACQUIRE);
    bool claimed = claim >> 32 == static_cast<uint32_t>(getpid());
    ledger::ProcessPauses* record = claimed ? recordAt(book, claim) : nullptr;
    if (microseconds != nullptr)
        *microseconds = record != nullptr ? __atomic_load_n(&record->pathUs, __ATOMIC_RELAXED) : 0;
    return 1;
}
