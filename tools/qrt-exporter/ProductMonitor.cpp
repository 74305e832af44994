#include "tools/qrt-exporter/ProductMonitor.h"

#include <algorithm>
#include <optional>

namespace qrtexporter {

using qrtmetrics::Identity;
using qrtmetrics::Reading;
using Clock = std::chrono::steady_clock;

namespace {

std::string statusName(int status) {
    switch (status) {
        case QRT_ERR_FAILED:
            return "QRT_ERR_FAILED (-1)";
        case QRT_ERR_INVALID_PARAM:
            return "QRT_ERR_INVALID_PARAM (-11)";
        case QRT_ERR_NOT_INITIALIZED:
            return "QRT_ERR_NOT_INITIALIZED (-13)";
        case QRT_ERR_BUSY:
            return "QRT_ERR_BUSY (-100)";
    }
    return "status " + std::to_string(status);
}

// What is known of a product before its identity has been read.
Identity placeholder(unsigned index) {
    Identity id;
    id.index = index;
    id.labels = qrtmetrics::label("product", std::to_string(index)) + "," +
                qrtmetrics::label("model", "") + "," + qrtmetrics::label("sn", "");
    return id;
}

}  // namespace

ProductMonitor::ProductMonitor(unsigned index, Timing timing, Report report)
    : index_(index), timing_(timing), report_(std::move(report)) {
    Identity id = placeholder(index);
    samples_ = std::make_shared<const std::vector<qrtmetrics::Sample>>(
        qrtmetrics::productSamples(id, nullptr, nullptr));
}

ProductMonitor::~ProductMonitor() {
    requestStop();
    join();
}

void ProductMonitor::start() {
    thread_ = std::thread([this] { run(); });
}

void ProductMonitor::requestStop() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void ProductMonitor::join() {
    if (thread_.joinable()) thread_.join();
}

std::shared_ptr<const std::vector<qrtmetrics::Sample>> ProductMonitor::samples() const {
    std::lock_guard<std::mutex> lock(samplesMutex_);
    return samples_;
}

void ProductMonitor::publish(const Identity& identity, const Reading* latest,
                             const Reading* measured) {
    auto samples = std::make_shared<const std::vector<qrtmetrics::Sample>>(
        qrtmetrics::productSamples(identity, latest, measured));
    std::lock_guard<std::mutex> lock(samplesMutex_);
    samples_ = std::move(samples);
}

bool ProductMonitor::sleepUntil(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    return !wake_.wait_until(lock, until, [this] { return stopping_.load(); });
}

void ProductMonitor::reportChange(bool answered, const std::vector<qrtmetrics::Failure>& failures,
                                  std::chrono::milliseconds retry) {
    if (answered == answering_ || !report_) return;
    answering_ = answered;
    if (answered) {
        report_(index_, "answers again");
        return;
    }
    std::string message = "not answering";
    if (!failures.empty())
        message += " (" + failures.back().what + ": " + statusName(failures.back().status) + ")";
    report_(index_,
            message + ", next reading in " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(retry).count()) +
                " s");
}

void ProductMonitor::run() {
    Identity identity = placeholder(index_);
    bool identified = false;
    std::optional<Reading> measured;
    unsigned failedReadings = 0;
    std::function<bool()> stop = [this] { return stopping(); };
    while (!stopping()) {
        Clock::time_point started = Clock::now();
        bool answered;
        std::vector<qrtmetrics::Failure> failures;
        if (!identified) {
            identity = qrtmetrics::readIdentity(index_);
            identified = !identity.busy;
            answered = identified;
            failures = identity.failures;
            // Labelled from now on; up once its measurements have been read.
            publish(identity, nullptr, nullptr);
        }
        if (identified) {
            Reading reading = qrtmetrics::readMeasurements(identity, stop);
            if (reading.stopped) break;
            if (!reading.busy) measured = reading;
            publish(identity, &reading, measured ? &*measured : nullptr);
            answered = !reading.busy && (reading.values > 0 || reading.failures.empty());
            failures = reading.failures;
        }
        failedReadings = answered ? 0 : failedReadings + 1;
        unsigned factor = 1;
        for (unsigned i = 0; i < failedReadings && factor < timing_.maxBackoff; ++i) factor *= 2;
        auto wait = timing_.interval * std::min(factor, std::max(1u, timing_.maxBackoff));
        reportChange(answered, failures, wait);
        if (!sleepUntil(started + wait)) break;
    }
}

}  // namespace qrtexporter
