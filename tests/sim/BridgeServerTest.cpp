// The rig server as the preloaded bridge reaches it: one connection per open device file,
// one frame per request.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "sim/boards/PlainBoard.h"
#include "sim/bridge/BridgeServer.h"
#include "sim/rig/PcapWriter.h"
#include "sim/rig/Rig.h"
#include "support/I2cMemorySlave.h"

namespace {

using namespace qrtsim;

// A board with one register-file function and one I2C adapter carrying a memory at 0x50.
class BridgeBenchBoard : public Board {
  public:
    explicit BridgeBenchBoard(int adapter) : function_(0x10B5, 0x8608), adapter_(adapter) {
        bus_.attach(0x50, &memory_);
    }
    std::vector<PciFunction*> pciFunctions() override { return {&function_}; }
    std::map<int, I2cBus*> i2cAdapters() override { return {{adapter_, &bus_}}; }
    void saveState(nlohmann::json& out) const override { out["bench"] = true; }

  private:
    RegisterFileFunction function_;
    I2cBus bus_;
    qrttest::I2cMemorySlave memory_;
    int adapter_;
};

const BoardRegistrar kBenchRegistrar{BoardType{
    "TEST-BRIDGE-BENCH",
    {"adapter"},
    [](const BoardConfig& config, BoardContext&) -> std::unique_ptr<Board> {
        return std::make_unique<BridgeBenchBoard>(int(config.integer("adapter", 4, 0, 255)));
    }}};

// One open device file as the bridge holds it.
class Client {
  public:
    explicit Client(const std::string& address) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path + 1, address.data() + 1, address.size() - 1);
        socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size());
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), length) == 0;
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }

    // Sends one request; returns the result and leaves the payload in `payload`.
    int64_t request(uint32_t operation, const std::vector<uint8_t>& fields) {
        std::vector<uint8_t> frame(8);
        uint32_t length = uint32_t(4 + fields.size());
        std::memcpy(frame.data(), &length, 4);
        std::memcpy(frame.data() + 4, &operation, 4);
        frame.insert(frame.end(), fields.begin(), fields.end());
        if (::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
            return -9999;
        uint32_t replyLength = 0;
        if (!receive(&replyLength, 4) || replyLength < 8) return -9999;
        std::vector<uint8_t> reply(replyLength);
        if (!receive(reply.data(), replyLength)) return -9999;
        int64_t result;
        std::memcpy(&result, reply.data(), 8);
        payload.assign(reply.begin() + 8, reply.end());
        return result;
    }
    int64_t open(const std::string& path) {
        return request(1, std::vector<uint8_t>(path.begin(), path.end()));
    }
    int64_t flock(uint32_t operation) {
        std::vector<uint8_t> fields(4);
        std::memcpy(fields.data(), &operation, 4);
        return request(5, fields);
    }
    int64_t ioctl(uint64_t code, const std::vector<uint8_t>& argument) {
        std::vector<uint8_t> fields(8);
        std::memcpy(fields.data(), &code, 8);
        fields.insert(fields.end(), argument.begin(), argument.end());
        return request(2, fields);
    }

    std::vector<uint8_t> payload;

  private:
    bool receive(void* to, size_t size) {
        char* at = static_cast<char*>(to);
        while (size > 0) {
            ssize_t got = ::recv(fd_, at, size, 0);
            if (got <= 0) return false;
            at += got;
            size -= size_t(got);
        }
        return true;
    }
    int fd_ = -1;
    bool connected_ = false;
};

class BridgeServerTest : public ::testing::Test {
  protected:
    BridgeServerTest() {
        RigDescription description;
        description.file = "bridge-test";
        BoardConfig board;
        board.file = description.file;
        board.section = "bench";
        board.values = {{"model", "TEST-BRIDGE-BENCH"}, {"adapter", "4"}};
        description.boards.push_back(board);
        rig = std::make_unique<Rig>(description, Rig::Trace(), frames);
        server = std::make_unique<BridgeServer>(*rig);
        std::string error;
        EXPECT_TRUE(server->listen(error)) << error;
        stop = ::eventfd(0, EFD_CLOEXEC);
        thread = std::thread([this] {
            while (!server->serve(stop, -1)) {
            }
        });
    }
    ~BridgeServerTest() override {
        uint64_t one = 1;
        EXPECT_EQ(8, ::write(stop, &one, sizeof one));
        thread.join();
        ::close(stop);
    }

    static std::vector<uint8_t> lockRecord() { return std::vector<uint8_t>(12, 0); }

    PcapWriter frames;
    std::unique_ptr<Rig> rig;
    std::unique_ptr<BridgeServer> server;
    int stop = -1;
    std::thread thread;
};

TEST_F(BridgeServerTest, OpensOnlyTheNodesTheRigHas) {
    EXPECT_EQ('@', server->address()[0]);
    Client driver(server->address());
    ASSERT_TRUE(driver.connected());
    EXPECT_EQ(0, driver.open("/dev/___nk_pcimap"));
    Client adapter(server->address());
    EXPECT_EQ(0, adapter.open("/dev/i2c-4"));
    Client absent(server->address());
    EXPECT_EQ(-ENOENT, absent.open("/dev/i2c-5"));
    Client other(server->address());
    EXPECT_EQ(-ENOENT, other.open("/dev/sda"));
    Client early(server->address());
    EXPECT_EQ(-EBADF, early.ioctl(0x80084D04, std::vector<uint8_t>(16)));  // nothing opened
}

TEST_F(BridgeServerTest, DriverRecordsTravelBothWays) {
    Client driver(server->address());
    ASSERT_EQ(0, driver.open("/dev/___nk_pcimap"));
    ASSERT_EQ(0, driver.ioctl(0x80084D04, std::vector<uint8_t>(16, 0xFF)));
    ASSERT_EQ(16u, driver.payload.size());
    EXPECT_STREQ("1.4.2", reinterpret_cast<const char*>(driver.payload.data()));

    std::vector<uint8_t> scan(36, 0);
    scan[0] = 0xB5, scan[1] = 0x10, scan[4] = 0x08, scan[5] = 0x86, scan[20] = 1;
    ASSERT_EQ(0, driver.ioctl(0xC0084D01, scan));
    EXPECT_EQ(1, driver.payload[12]);
    EXPECT_EQ(-ENOTTY, driver.ioctl(0xC0084D07, std::vector<uint8_t>(80)));
    EXPECT_TRUE(driver.payload.empty());
}

TEST_F(BridgeServerTest, I2cTransfersCarryWriteDataOutAndReadDataBack) {
    Client adapter(server->address());
    ASSERT_EQ(0, adapter.open("/dev/i2c-4"));
    // Two writes (pointer 0x08 and three bytes, pointer 0x0B and one), then pointer and read.
    std::vector<uint8_t> write = {2,    0,    0,    0,    0x50, 0, 0, 0, 4, 0,    0x08,
                                  0xA1, 0xB2, 0xC3, 0x50, 0,    0, 0, 2, 0, 0x0B, 0xD4};
    ASSERT_EQ(2, adapter.ioctl(0x0707, write));
    EXPECT_THAT(adapter.payload, ::testing::ElementsAre());
    std::vector<uint8_t> read = {2, 0, 0, 0, 0x50, 0, 0, 0, 1, 0, 0x08, 0x50, 0, 1, 0, 4, 0};
    ASSERT_EQ(2, adapter.ioctl(0x0707, read));
    EXPECT_THAT(adapter.payload, ::testing::ElementsAre(0xA1, 0xB2, 0xC3, 0xD4));

    std::vector<uint8_t> absent = {1, 0, 0, 0, 0x51, 0, 0, 0, 1, 0, 0x00};
    EXPECT_EQ(-ENXIO, adapter.ioctl(0x0707, absent));
    std::vector<uint8_t> truncated = {2, 0, 0, 0, 0x50, 0, 0, 0, 4, 0, 0x08};
    EXPECT_EQ(-EINVAL, adapter.ioctl(0x0707, truncated));
    ASSERT_EQ(0, adapter.ioctl(0x0705, {}));
    EXPECT_EQ(8u, adapter.payload.size());
    EXPECT_EQ(1, adapter.payload[0]);  // plain I2C
}

TEST_F(BridgeServerTest, APlainReadAndWriteUseTheSelectedSlave) {
    Client adapter(server->address());
    ASSERT_EQ(0, adapter.open("/dev/i2c-4"));
    uint64_t slave = 0x50;
    std::vector<uint8_t> value(8);
    std::memcpy(value.data(), &slave, 8);
    ASSERT_EQ(0, adapter.ioctl(0x0703, value));
    EXPECT_EQ(3, adapter.request(4, {0x20, 0x11, 0x22}));
    EXPECT_EQ(1, adapter.request(4, {0x20}));
    std::vector<uint8_t> count = {2, 0, 0, 0};
    ASSERT_EQ(2, adapter.request(3, count));
    EXPECT_THAT(adapter.payload, ::testing::ElementsAre(0x11, 0x22));
    slave = 0x80;
    std::memcpy(value.data(), &slave, 8);
    EXPECT_EQ(-EINVAL, adapter.ioctl(0x0703, value));
}

TEST_F(BridgeServerTest, AClosedConnectionReleasesItsDriverLocks) {
    std::vector<uint8_t> scan(36, 0);
    scan[0] = 0xB5, scan[1] = 0x10, scan[4] = 0x08, scan[5] = 0x86, scan[20] = 1;
    auto holder = std::make_unique<Client>(server->address());
    ASSERT_EQ(0, holder->open("/dev/___nk_pcimap"));
    ASSERT_EQ(0, holder->ioctl(0xC0084D01, scan));
    ASSERT_EQ(0, holder->ioctl(0xC0084D05, lockRecord()));
    EXPECT_EQ(0, holder->payload[8]);

    Client other(server->address());
    ASSERT_EQ(0, other.open("/dev/___nk_pcimap"));
    ASSERT_EQ(0, other.ioctl(0xC0084D01, scan));
    ASSERT_EQ(0, other.ioctl(0xC0084D05, lockRecord()));
    EXPECT_EQ(255, other.payload[8]);

    holder.reset();  // the holder's process ends
    // The server notices the closed connection before it serves the next request of `other`
    // only if that request comes later; retry until the lock is free.
    int status = 255;
    for (int attempt = 0; attempt < 1000 && status == 255; ++attempt) {
        ASSERT_EQ(0, other.ioctl(0xC0084D05, lockRecord()));
        status = other.payload[8];
    }
    EXPECT_EQ(0, status);
}

// The files of one adapter share its advisory lock: readers together, a writer alone; a closed
// file's lock is gone.
TEST_F(BridgeServerTest, AnAdaptersFilesShareItsAdvisoryLock) {
    auto holder = std::make_unique<Client>(server->address());
    Client other(server->address()), driver(server->address());
    ASSERT_EQ(0, holder->open("/dev/i2c-4"));
    ASSERT_EQ(0, other.open("/dev/i2c-4"));
    ASSERT_EQ(0, driver.open("/dev/___nk_pcimap"));
    EXPECT_EQ(0, holder->flock(LOCK_SH | LOCK_NB));
    EXPECT_EQ(0, other.flock(LOCK_SH | LOCK_NB));
    EXPECT_EQ(-EWOULDBLOCK, other.flock(LOCK_EX | LOCK_NB));
    EXPECT_EQ(0, holder->flock(LOCK_UN));
    EXPECT_EQ(0, other.flock(LOCK_EX | LOCK_NB));
    EXPECT_EQ(-EWOULDBLOCK, holder->flock(LOCK_SH | LOCK_NB));
    EXPECT_EQ(0, other.flock(LOCK_UN));
    EXPECT_EQ(0, holder->flock(LOCK_EX | LOCK_NB));
    EXPECT_EQ(-EINVAL, driver.flock(LOCK_EX | LOCK_NB));  // the driver's node has no such lock

    holder.reset();  // its process ends
    int64_t result = -EWOULDBLOCK;
    for (int attempt = 0; attempt < 1000 && result == -EWOULDBLOCK; ++attempt)
        result = other.flock(LOCK_EX | LOCK_NB);
    EXPECT_EQ(0, result);
}

TEST_F(BridgeServerTest, MalformedFramesCloseTheConnection) {
    Client client(server->address());
    ASSERT_EQ(0, client.open("/dev/___nk_pcimap"));
    EXPECT_EQ(-EINVAL, client.open("/dev/___nk_pcimap"));  // one node per connection
    EXPECT_EQ(-EINVAL, client.request(99, {}));
    EXPECT_EQ(-9999, client.request(2, std::vector<uint8_t>(2 << 20)));  // beyond the limit
}

}  // namespace
