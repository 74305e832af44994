#include "product/dio/C_vorelDIO.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/common/I_CommonDef.h"
#include "product/dio/DioDecimal.h"
#include "product/dio/DioUevent.h"

namespace {

constexpr char kClassDirectory[] = "/sys/class/vorel_dio/";
constexpr char kHwidPath[] = "/sys/class/norvikhw/HWID";
constexpr char kInputFile[] = "DI_%u";
constexpr char kTriggerModeFile[] = "DI_%u_TrigMod";
constexpr char kOutputFile[] = "DO_%u";

// The driver numbers its lines without gaps; more than this many would be a broken driver.
constexpr unsigned kMaxLines = 1024;
// A line of a sysfs file as read here: the first line, at most 255 characters.
constexpr size_t kValueBytes = 256;
// The identification text: the first line, at most 127 characters.
constexpr size_t kHwidBytes = 128;
// A receive waits this long, so a stopped monitor notices within about that time.
constexpr time_t kReceiveTimeoutSeconds = 3;
// The monitor's pause when nothing was received or no callback is set.
constexpr useconds_t kIdlePauseUs = 10;
// What an overrun's drain discards at most; a queue that refills faster is left for later.
constexpr unsigned kMostDrained = 4096;
// Trigger polarity codes of the driver's mode file.
constexpr int kRisingEdgePolarity = 1;
constexpr int kFallingEdgePolarity = 0;
constexpr int kBothEdgesPolarity = 2;

// The object whose monitor the calling thread is; null on every other thread.
thread_local const C_vorelDIO* t_monitorOf = nullptr;

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool anyoneMayRead(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) != 0;
}

}  // namespace

C_vorelDIO::C_vorelDIO() : C_vorelDIO(kClassDirectory, kHwidPath) {}

C_vorelDIO::C_vorelDIO(const char* classDirectory, const char* hwidPath)
    : m_classDirectory(classDirectory), m_hwidPath(hwidPath) {}

C_vorelDIO::~C_vorelDIO() {
    // Waits (bounded) for an initial on another thread; tears down either way.
    C_ObjectLock lock(m_lock);
    stopMonitorThread();
    releaseCapabilities();
}

unsigned C_vorelDIO::countLines(const char* format) const {
    unsigned count = 0;
    while (count < kMaxLines && exists(linePath(format, count))) ++count;
    return count;
}

std::string C_vorelDIO::linePath(const char* format, unsigned line) const {
    char name[32];
    std::snprintf(name, sizeof name, format, line);
    return m_classDirectory + name;
}

// ---- bring-up ------------------------------------------------------------------------------

int C_vorelDIO::initial(void*) {
    // A monitor of an earlier bring-up must not keep running on a callback that is cleared
    // here, nor be forgotten while its thread runs.
    stopMonitorThread();
    m_callback = nullptr;
    m_diCount = 0;
    m_netlinkGroup = 1;

    C_ObjectLock lock(m_lock);
    if (!lock.held()) return QRT_ERR_BUSY;
    releaseCapabilities();

    auto inputCapabilities = [this](unsigned di, std::vector<QRT_DIODICAPABILITY_TYPE>& line) {
        line.push_back(QRT_DI_CAP_STATE);
        line.push_back(QRT_DI_CAP_TRIGGER);
        if (exists(linePath(kTriggerModeFile, di))) line.push_back(QRT_DI_CAP_EDGE_TRIGGER);
    };
    auto outputCapabilities = [this](unsigned dout, std::vector<QRT_DIODOCAPABILITY_TYPE>& line) {
        line.push_back(QRT_DO_CAP_STATE);
        // A write-only output file cannot tell the level it drives.
        if (anyoneMayRead(linePath(kOutputFile, dout))) line.push_back(QRT_DO_CAP_READBACK);
    };
    m_diCount = countLines(kInputFile);
    m_doCount = countLines(kOutputFile);
    if (!describeLines(m_diCount, m_diCapabilities, QRT_DIO_CAP_DI, inputCapabilities) ||
        !describeLines(m_doCount, m_doCapabilities, QRT_DIO_CAP_DO, outputCapabilities)) {
        releaseCapabilities();
        m_diCount = m_doCount = 0;
        return QRT_ERR_FAILED;
    }

    m_socket = -1;
    m_threadRunning = false;
    m_running = 0;
    return m_diCount == 0 && m_doCount == 0 ? QRT_ERR_FAILED : QRT_SUCCESS;
}

int C_vorelDIO::getInfo(char* buf, unsigned len) {
    char hwid[kHwidBytes] = {};
    if (!sysfs_read(m_hwidPath.c_str(), hwid, sizeof hwid)) return QRT_ERR_NOT_SUPPORTED;
    if (buf == nullptr && len != 0) return QRT_ERR_INVALID_PARAM;
    // The text keeps the line end the file had.
    std::snprintf(buf, len, "PCBVersion:%s\r\n", hwid);
    return QRT_SUCCESS;
}

// ---- line states and edges -----------------------------------------------------------------

int C_vorelDIO::setDOState(unsigned dout, int state) {
    if (dout >= m_doCount) return QRT_ERR_INVALID_PARAM;
    if (!doHas(dout, QRT_DO_CAP_STATE)) return QRT_ERR_NOT_SUPPORTED;
    unsigned level = state != 0 ? 1 : 0;
    return writeUnsignedInt(linePath(kOutputFile, dout).c_str(), level) ? QRT_SUCCESS
                                                                        : QRT_ERR_FAILED;
}

int C_vorelDIO::getDOState(unsigned dout, int* state) {
    if (dout >= m_doCount) return QRT_ERR_INVALID_PARAM;
    if (!doHas(dout, QRT_DO_CAP_READBACK)) return QRT_ERR_NOT_SUPPORTED;
    if (state == nullptr) return QRT_ERR_INVALID_PARAM;
    return readInt(linePath(kOutputFile, dout).c_str(), state) ? QRT_SUCCESS : QRT_ERR_FAILED;
}

int C_vorelDIO::getDIState(unsigned di, int* state) {
    if (di >= m_diCount) return QRT_ERR_INVALID_PARAM;
    if (!diHas(di, QRT_DI_CAP_STATE)) return QRT_ERR_NOT_SUPPORTED;
    if (state == nullptr) return QRT_ERR_INVALID_PARAM;
    return readInt(linePath(kInputFile, di).c_str(), state) ? QRT_SUCCESS : QRT_ERR_FAILED;
}

// The list operations try every line through the single-line operation, in order, and fail
// when any line failed.
int C_vorelDIO::setDOStates(int* states, unsigned n) {
    if (states == nullptr && n != 0) return QRT_ERR_INVALID_PARAM;
    int result = QRT_SUCCESS;
    for (unsigned dout = 0; dout < n && dout < m_doCount; ++dout)
        if (setDOState(dout, states[dout]) != QRT_SUCCESS) result = QRT_ERR_FAILED;
    return result;
}

int C_vorelDIO::getDOStates(int* states, unsigned n) {
    if (states == nullptr && n != 0) return QRT_ERR_INVALID_PARAM;
    int result = QRT_SUCCESS;
    for (unsigned dout = 0; dout < n && dout < m_doCount; ++dout)
        if (getDOState(dout, &states[dout]) != QRT_SUCCESS) result = QRT_ERR_FAILED;
    return result;
}

int C_vorelDIO::getDIStates(int* states, unsigned n) {
    if (states == nullptr && n != 0) return QRT_ERR_INVALID_PARAM;
    int result = QRT_SUCCESS;
    for (unsigned di = 0; di < n && di < m_diCount; ++di)
        if (getDIState(di, &states[di]) != QRT_SUCCESS) result = QRT_ERR_FAILED;
    return result;
}

int C_vorelDIO::setDIEdgeTrigger(unsigned di, QRT_EDGETRIGGER_TYPE edge) {
    int polarity = 0;
    if (di >= m_diCount || !triggerModeMapping(true, edge, &polarity)) return QRT_ERR_INVALID_PARAM;
    if (!diHas(di, QRT_DI_CAP_EDGE_TRIGGER)) return QRT_ERR_NOT_SUPPORTED;
    return writeInt(linePath(kTriggerModeFile, di).c_str(), polarity) ? QRT_SUCCESS
                                                                      : QRT_ERR_FAILED;
}

int C_vorelDIO::getDIEdgeTrigger(unsigned di, QRT_EDGETRIGGER_TYPE* edge) {
    if (di >= m_diCount) return QRT_ERR_INVALID_PARAM;
    if (!diHas(di, QRT_DI_CAP_EDGE_TRIGGER)) return QRT_ERR_NOT_SUPPORTED;
    if (edge == nullptr) return QRT_ERR_INVALID_PARAM;
    int polarity = 0, type = 0;
    if (!readInt(linePath(kTriggerModeFile, di).c_str(), &polarity) ||
        !triggerModeMapping(false, polarity, &type))
        return QRT_ERR_FAILED;
    *edge = static_cast<QRT_EDGETRIGGER_TYPE>(type);
    return QRT_SUCCESS;
}

// ---- sysfs files ---------------------------------------------------------------------------

// A sysfs attribute takes the whole value in one write and may refuse it; a refusal shows
// when the buffered text reaches the driver, at the close.
int C_vorelDIO::sysfs_write(const char* path, const char* buf, size_t n) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) return 0;
    size_t written = std::fwrite(buf, 1, n, file);
    bool closed = std::fclose(file) == 0;
    return written >= 1 && closed ? 1 : 0;
}

int C_vorelDIO::sysfs_read(const char* path, char* buf, size_t n) {
    if (n < 2 || n > INT_MAX) return 0;
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return 0;
    bool read = std::fgets(buf, static_cast<int>(n), file) != nullptr;
    std::fclose(file);
    return read ? 1 : 0;
}

int C_vorelDIO::writeInt(const char* path, int value) {
    char text[16];
    int length = std::snprintf(text, sizeof text, "%d", value);
    return sysfs_write(path, text, static_cast<size_t>(length));
}

int C_vorelDIO::writeUnsignedInt(const char* path, unsigned value) {
    char text[16];
    int length = std::snprintf(text, sizeof text, "%u", value);
    return sysfs_write(path, text, static_cast<size_t>(length));
}

int C_vorelDIO::readInt(const char* path, int* value) {
    char text[kValueBytes] = {};
    return sysfs_read(path, text, sizeof text) && parseDriverDecimal(text, value) ? 1 : 0;
}

// ---- uevent monitor ------------------------------------------------------------------------

int C_vorelDIO::openNetlink() {
    int sock = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (sock < 0) {
        std::printf("sock < 0.\n");
        return -1;
    }
    // Port id 0: the kernel assigns a free one. The process id is the port id of the first
    // netlink socket of a process that asks for it, and a uevent monitor that the application
    // (a libudev monitor, say) opened earlier holds it already.
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_pid = 0;
    address.nl_groups = 0;
    if (::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        std::printf("bind < 0.\n");
        ::close(sock);
        return -1;
    }
    if (::setsockopt(sock, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &m_netlinkGroup,
                     sizeof m_netlinkGroup) < 0) {
        std::printf("setsockopt SOL_NETLINK < 0\n");
        ::close(sock);
        return -1;
    }
    timeval timeout{kReceiveTimeoutSeconds, 0};
    if (::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) < 0) {
        std::printf("setsockopt SOL_SOCKET < 0\n");
        ::close(sock);
        return -1;
    }
    // The sender's credentials come with every message, so that only the kernel's are taken.
    int on = 1;
    if (::setsockopt(sock, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) < 0) {
        std::printf("setsockopt SO_PASSCRED < 0\n");
        ::close(sock);
        return -1;
    }
    return sock;
}

C_vorelDIO::Received C_vorelDIO::readNetLinkEvent(int socket, unsigned* index, int* state) {
    if (socket < 0) return Received::kNothing;
    // A stop wakes the wait at once; otherwise it ends after the receive time-out.
    pollfd waits[2] = {{socket, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (::poll(waits, m_wake[0] >= 0 ? 2 : 1, kReceiveTimeoutSeconds * 1000) < 1 ||
        (waits[1].revents & POLLIN) != 0)
        return Received::kNothing;
    static thread_local char datagram[dio_uevent::kDatagramBytes];
    sockaddr_nl source{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec vector{datagram, sizeof datagram};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = ::recvmsg(socket, &message, MSG_DONTWAIT);
    if (received < 0 && errno == ENOBUFS) return Received::kOverrun;
    if (received < 1) return Received::kNothing;
    // A datagram longer than the buffer was cut: what is left of it is no uevent.
    if ((message.msg_flags & MSG_TRUNC) != 0) return Received::kNothing;
    // Only the kernel sends uevents: port id 0, with root's credentials, as udev takes them.
    // Anything else on the group (a process's message, even root's) is forged.
    if (message.msg_namelen < sizeof source || source.nl_family != AF_NETLINK || source.nl_pid != 0)
        return Received::kNothing;
    bool kernelCredentials = false;
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
         part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_CREDENTIALS ||
            part->cmsg_len < CMSG_LEN(sizeof(ucred)))
            continue;
        ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(part), sizeof credentials);
        kernelCredentials = credentials.uid == 0;
    }
    if (!kernelCredentials) return Received::kNothing;
    return dio_uevent::parse(datagram, static_cast<size_t>(received), m_diCount, index, state) == 1
               ? Received::kEvent
               : Received::kNothing;
}

// Discards what is still queued after an overrun: those messages are older than the states the
// inputs have now.
void C_vorelDIO::drainSocket(int socket) {
    static thread_local char datagram[dio_uevent::kDatagramBytes];
    for (unsigned i = 0; i < kMostDrained; ++i)
        if (::recv(socket, datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC) < 0 &&
            errno != ENOBUFS)
            return;
}

int C_vorelDIO::inputLevel(unsigned di) const {
    int level = -1;
    if (!readInt(linePath(kInputFile, di).c_str(), &level) || (level != 0 && level != 1)) return -1;
    return level;
}

// Whether the driver raises a uevent for input `di` going to `level`: on the edges its trigger
// mode selects (both for an input without the mode file).
bool C_vorelDIO::edgeAnnounced(unsigned di, int level) const {
    if (!diHas(di, QRT_DI_CAP_EDGE_TRIGGER)) return true;
    int polarity = kBothEdgesPolarity;
    if (!readInt(linePath(kTriggerModeFile, di).c_str(), &polarity)) return true;
    if (polarity == kRisingEdgePolarity) return level == 1;
    if (polarity == kFallingEdgePolarity) return level == 0;
    return true;
}

void C_vorelDIO::recordLevels() {
    m_knownLevels.assign(m_diCount, -1);
    for (unsigned di = 0; di < m_diCount; ++di) m_knownLevels[di] = inputLevel(di);
}

// After an overrun the uevents of some changes are lost: the inputs' files tell their states
// now, and every change the driver would have announced since the last known state is reported.
void C_vorelDIO::reportMissedChanges() {
    drainSocket(m_socket);
    for (unsigned di = 0; di < m_diCount && di < m_knownLevels.size() && m_running == 1; ++di) {
        int level = inputLevel(di);
        int known = m_knownLevels[di];
        m_knownLevels[di] = level;
        if (level < 0 || known < 0 || level == known || !edgeAnnounced(di, level)) continue;
        if (m_callback != nullptr) m_callback(di, level);
    }
}

void* C_vorelDIO::listenNetlinkThread(void* self) {
    auto* dio = static_cast<C_vorelDIO*>(self);
    t_monitorOf = dio;
    dio->listenNetlinkData();
    t_monitorOf = nullptr;
    return nullptr;
}

void C_vorelDIO::listenNetlinkData() {
    while (m_running == 1) {
        unsigned index = 0;
        int state = 0;
        Received got =
            m_callback != nullptr ? readNetLinkEvent(m_socket, &index, &state) : Received::kNothing;
        if (got == Received::kEvent) {
            if (index < m_knownLevels.size()) m_knownLevels[index] = state;
            m_callback(index, state);
        } else if (got == Received::kOverrun) {
            reportMissedChanges();
        } else {
            ::usleep(kIdlePauseUs);
        }
    }
}

int C_vorelDIO::startMonitorThread() {
    if (m_socket >= 0 || m_threadRunning) return QRT_ERR_BUSY;
    m_socket = openNetlink();
    if (m_socket < 0) return QRT_ERR_FAILED;
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) m_wake[0] = m_wake[1] = -1;
    recordLevels();
    m_running = 1;
    if (::pthread_create(&m_thread, nullptr, listenNetlinkThread, this) != 0) {
        m_running = 0;
        closeDescriptors();
        return QRT_ERR_FAILED;
    }
    m_threadRunning = true;
    return QRT_SUCCESS;
}

// Known by the thread itself, not by its identity: the identity of a thread that has ended
// and was joined is given to the next one created.
bool C_vorelDIO::onMonitorThread() const {
    return t_monitorOf == this;
}

void C_vorelDIO::closeDescriptors() {
    for (int* fd : {&m_socket, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void C_vorelDIO::stopMonitorThread() {
    m_running = 0;
    if (m_wake[1] >= 0) {
        const char wake = 1;
        ssize_t written = ::write(m_wake[1], &wake, 1);
        (void)written;  // a full pipe has woken the monitor already
    }
    if (m_threadRunning) {
        // The monitor thread itself (a callback that tears its object down) cannot wait for
        // its own end: it ends when the callback returns, and nobody waits for it.
        if (onMonitorThread())
            ::pthread_detach(m_thread);
        else
            ::pthread_join(m_thread, nullptr);
        m_threadRunning = false;
    }
    closeDescriptors();
}

int C_vorelDIO::setDITriggerCallback(QRT_DITRIGGER_CALLBACK callback) {
    if (onMonitorThread()) {
        // From inside the callback: the monitor cannot wait for itself. Another thread that
        // holds the registration is stopping this monitor anyway.
        std::unique_lock<std::mutex> registration(m_registration, std::try_to_lock);
        if (!registration.owns_lock()) return QRT_ERR_BUSY;
        // The same thread and socket go on with the new callback; a null one ends the loop
        // when the callback returns, and the thread is joined by the next registration or the
        // object's destruction.
        m_callback = callback;
        if (callback == nullptr) m_running = 0;
        return QRT_SUCCESS;
    }
    std::lock_guard<std::mutex> registration(m_registration);
    stopMonitorThread();
    m_callback = callback;
    if (callback == nullptr) return QRT_SUCCESS;
    return startMonitorThread() == QRT_SUCCESS ? QRT_SUCCESS : QRT_ERR_FAILED;
}
