#pragma once

// One product's readings, refreshed on a thread of its own: the identity once, then the
// measurements every interval. A scrape takes the latest samples without waiting for the card.
//
// A product that answers busy (another program holds it) or answers nothing is reported with
// qrt_up 0 and its last status; it is read again after a back-off that doubles with each failed
// reading, up to `maxBackoff` intervals. The measurements served stay those of the latest
// reading the card answered, with their timestamp.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/ProductReading.h"

namespace qrtexporter {

class ProductMonitor {
  public:
    struct Timing {
        std::chrono::milliseconds interval{15000};
        unsigned maxBackoff = 8;  // intervals
    };
    // Told when the product stops or starts answering (for the log).
    using Report = std::function<void(unsigned index, const std::string& message)>;

    ProductMonitor(unsigned index, Timing timing, Report report);
    ~ProductMonitor();
    ProductMonitor(const ProductMonitor&) = delete;
    ProductMonitor& operator=(const ProductMonitor&) = delete;

    void start();
    // Asks the thread to end after the SDK call it is in; join() waits for it.
    void requestStop();
    void join();

    // The latest samples (never null).
    std::shared_ptr<const std::vector<qrtmetrics::Sample>> samples() const;

  private:
    void run();
    void publish(const qrtmetrics::Identity& identity, const qrtmetrics::Reading* latest,
                 const qrtmetrics::Reading* measured);
    // Sleeps until `until` or a stop request: false on a stop request.
    bool sleepUntil(std::chrono::steady_clock::time_point until);
    bool stopping() const { return stopping_.load(); }
    void reportChange(bool answered, const std::vector<qrtmetrics::Failure>& failures,
                      std::chrono::milliseconds retry);

    unsigned index_;
    Timing timing_;
    Report report_;
    std::atomic<bool> stopping_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    mutable std::mutex samplesMutex_;
    std::shared_ptr<const std::vector<qrtmetrics::Sample>> samples_;
    bool answering_ = true;  // as last reported
    std::thread thread_;
};

}  // namespace qrtexporter
