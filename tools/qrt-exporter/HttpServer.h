#pragma once

// The exporter's HTTP face: cpp-httplib's request parsing, routing and responses over a
// transport of our own that bounds what one client can take. A connection must deliver its
// whole request within `requestTime` and `requestBytes` and take its response within
// `writeTime`, and it carries one request; so a client that sends a byte a second, or headers
// without end, holds one of the `threads` workers for a few seconds at most and the others
// keep answering.

#include <httplib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace qrtexporter {

struct HttpLimits {
    std::chrono::milliseconds requestTime{5000};
    size_t requestBytes = 16 * 1024;
    std::chrono::milliseconds writeTime{5000};
    unsigned threads = 8;
};

class HttpServer {
  public:
    using Page = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit HttpServer(const HttpLimits& limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // GET (and HEAD) of `path`; every other path answers 404.
    void get(const std::string& path, Page page);
    bool bind(const std::string& host, int port);
    // Serves until stop(); false when the server could not run.
    bool serve();
    // From any thread; serve() returns once the requests being answered are done.
    void stop();
    bool running() const;

  private:
    class Server;
    std::unique_ptr<Server> server_;
};

}  // namespace qrtexporter
