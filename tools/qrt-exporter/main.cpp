// qrt-exporter: serves the measurements of every product the SDK finds to Prometheus.
//
// The SDK is loaded (and the products detected) once, when the program starts. Each product is
// then read on a thread of its own, its identity once and its measurements every --interval
// seconds; GET /metrics answers at once with the latest readings, GET /healthz with "ok". Nothing
// it does changes a card. SIGTERM and SIGINT end it: the server stops taking connections, the
// requests being answered finish, and every reading thread ends after its current SDK call.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "QRT_SDK.h"
#include "tools/common/MetricFamilies.h"
#include "tools/qrt-exporter/HttpServer.h"
#include "tools/qrt-exporter/ProductMonitor.h"

namespace {

using qrtexporter::ProductMonitor;

void say(const std::string& message) {
    std::fprintf(stderr, "qrt-exporter: %s\n", message.c_str());
}

// HOST:PORT, [IPV6]:PORT or :PORT (every address).
bool parseListen(const std::string& text, std::string* host, int* port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::string name = text.substr(0, colon), digits = text.substr(colon + 1);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    else if (name.find(':') != std::string::npos)
        return false;  // an IPv6 address needs its brackets
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int value = std::stoi(digits);
    if (value < 1 || value > 65535) return false;
    *host = name.empty() ? "0.0.0.0" : name;
    *port = value;
    return true;
}

class Exporter {
  public:
    Exporter(std::chrono::milliseconds interval, const qrtexporter::HttpLimits& limits)
        : http_(limits) {
        products_ = QRT_GetProductNums();
        ProductMonitor::Timing timing;
        timing.interval = interval;
        for (unsigned i = 0; i < products_; ++i)
            monitors_.push_back(std::make_unique<ProductMonitor>(
                i, timing, [](unsigned index, const std::string& message) {
                    say("product " + std::to_string(index) + ": " + message);
                }));
        http_.get("/metrics", [this](const httplib::Request& request, httplib::Response& response) {
            qrtmetrics::Format format =
                qrtmetrics::negotiateFormat(request.get_header_value("Accept"));
            response.set_content(exposition(format), qrtmetrics::contentType(format));
        });
        http_.get("/healthz", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("ok\n", "text/plain; charset=utf-8");
        });
    }

    bool bind(const std::string& host, int port) { return http_.bind(host, port); }
    unsigned products() const { return products_; }

    void start() {
        for (auto& monitor : monitors_) monitor->start();
        server_ = std::thread([this] {
            if (!http_.serve()) say("the HTTP server stopped");
            served_ = true;
        });
    }
    bool serving() const { return !served_; }

    void stop() {
        // stop() only takes effect once the server runs: repeat it until the server is done.
        for (int attempt = 0; attempt < 100 && !served_; ++attempt) {
            http_.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (auto& monitor : monitors_) monitor->requestStop();
        if (server_.joinable()) server_.join();
        for (auto& monitor : monitors_) monitor->join();
    }

  private:
    std::string exposition(qrtmetrics::Format format) const {
        std::vector<std::shared_ptr<const std::vector<qrtmetrics::Sample>>> held;
        std::vector<qrtmetrics::Sample> found{
            {qrtmetrics::Metric::Products, "", static_cast<double>(products_)}};
        std::vector<const std::vector<qrtmetrics::Sample>*> groups{&found};
        for (const auto& monitor : monitors_) {
            held.push_back(monitor->samples());
            groups.push_back(held.back().get());
        }
        return qrtmetrics::expose(groups, format);
    }

    unsigned products_ = 0;
    std::vector<std::unique_ptr<ProductMonitor>> monitors_;
    qrtexporter::HttpServer http_;
    std::thread server_;
    std::atomic<bool> served_{false};
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Serves the measurements of the QRT products of this computer to Prometheus: GET "
        "/metrics (text format 0.0.4, or OpenMetrics when asked), GET /healthz"};
    std::string listen = "127.0.0.1:9469";
    double interval = 15;
    app.add_option(
           "--listen", listen,
           "address and port to serve on: HOST:PORT, [IPV6]:PORT, :PORT (every IPv4 address)")
        ->capture_default_str();
    app.add_option("--interval", interval, "seconds between two readings of a product")
        ->check(CLI::Range(0.1, 86400.0))
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    std::string host;
    int port = 0;
    if (!parseListen(listen, &host, &port)) {
        say("--listen " + listen + ": not HOST:PORT, [IPV6]:PORT or :PORT");
        return 2;
    }

    // The signals are taken by the main thread alone: block them before any thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Exporter exporter(std::chrono::milliseconds(static_cast<long long>(interval * 1000)),
                      qrtexporter::HttpLimits{});
    if (!exporter.bind(host, port)) {
        say("cannot listen on " + listen);
        return 1;
    }
    exporter.start();
    say("serving " + std::to_string(exporter.products()) + " products on " + listen);
    timespec poll{1, 0};
    int caught = -1;
    while (caught < 0 && exporter.serving()) caught = sigtimedwait(&signals, nullptr, &poll);
    exporter.stop();
    if (caught < 0) return 1;
    say(std::string("stopped by ") + (caught == SIGTERM ? "SIGTERM" : "SIGINT"));
    return 0;
}
