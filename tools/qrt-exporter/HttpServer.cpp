#include "tools/qrt-exporter/HttpServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qrtexporter {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until the socket is ready for `events` or the deadline has passed.
bool waitReady(int sock, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fd{sock, events, 0};
        int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

void socketAddress(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port) {
    char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host,
                      service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

// One connection's bytes: the request must arrive before its deadline and within its byte
// budget, the response must be taken before its own deadline.
class ConnectionStream : public httplib::Stream {
  public:
    ConnectionStream(int sock, const HttpLimits& limits)
        : sock_(sock),
          limits_(limits),
          requestDeadline_(Clock::now() + limits.requestTime),
          budget_(limits.requestBytes) {}

    bool is_readable() const override {
        return position_ < length_ || waitReady(sock_, POLLIN, requestDeadline_);
    }
    bool is_writable() const override { return waitReady(sock_, POLLOUT, writeDeadline()); }

    ssize_t read(char* ptr, size_t size) override {
        if (position_ == length_) {
            if (budget_ == 0 || !waitReady(sock_, POLLIN, requestDeadline_)) return -1;
            ssize_t got;
            do {
                got = ::recv(sock_, buffer_, std::min(sizeof buffer_, budget_), 0);
            } while (got < 0 && errno == EINTR);
            if (got <= 0) return got;
            budget_ -= static_cast<size_t>(got);
            position_ = 0;
            length_ = static_cast<size_t>(got);
        }
        size_t n = std::min(size, length_ - position_);
        std::memcpy(ptr, buffer_ + position_, n);
        position_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!waitReady(sock_, POLLOUT, writeDeadline())) return -1;
        ssize_t sent;
        do {
            sent = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        return sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            socketAddress(address, length, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            socketAddress(address, length, ip, port);
    }
    socket_t socket() const override { return sock_; }

  private:
    // The whole response shares one deadline, counted from its first byte.
    Clock::time_point writeDeadline() const {
        if (!writing_) {
            writing_ = true;
            writeDeadline_ = Clock::now() + limits_.writeTime;
        }
        return writeDeadline_;
    }

    int sock_;
    const HttpLimits& limits_;
    Clock::time_point requestDeadline_;
    size_t budget_;
    mutable bool writing_ = false;
    mutable Clock::time_point writeDeadline_;
    char buffer_[4096];
    size_t position_ = 0, length_ = 0;
};

}  // namespace

// cpp-httplib's server with each accepted connection served by our bounded transport. The
// library calls process_and_close_socket for every connection it accepts (its TLS server
// overrides it the same way); the request itself is the library's process_request.
class HttpServer::Server : public httplib::Server {
  public:
    explicit Server(const HttpLimits& limits) : limits_(limits) {
        unsigned threads = std::max(1u, limits.threads);
        new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        auto seconds = [](std::chrono::milliseconds t) {
            return std::chrono::duration_cast<std::chrono::seconds>(t).count();
        };
        set_read_timeout(seconds(limits.requestTime));
        set_write_timeout(seconds(limits.writeTime));
        set_keep_alive_max_count(1);
        set_payload_max_length(limits.requestBytes);
    }

  private:
    bool process_and_close_socket(socket_t sock) override {
        bool answered;
        {
            ConnectionStream stream(sock, limits_);
            bool closed = false;
            answered = process_request(stream, true, closed, {});
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return answered;
    }

    HttpLimits limits_;
};

HttpServer::HttpServer(const HttpLimits& limits) : server_(std::make_unique<Server>(limits)) {}

HttpServer::~HttpServer() = default;

void HttpServer::get(const std::string& path, Page page) {
    // The library takes the pattern as a regular expression: match the path as it is.
    std::string pattern;
    for (char c : path) {
        if (std::strchr(".^$|()[]{}*+?\\", c) != nullptr) pattern += '\\';
        pattern += c;
    }
    server_->Get(pattern, std::move(page));
}

bool HttpServer::bind(const std::string& host, int port) {
    return server_->bind_to_port(host, port);
}

bool HttpServer::serve() {
    return server_->listen_after_bind();
}

void HttpServer::stop() {
    server_->stop();
}

bool HttpServer::running() const {
    return server_->is_running();
}

}  // namespace qrtexporter
