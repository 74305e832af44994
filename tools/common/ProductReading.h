#pragma once

// Reading a product's identity and measurements through the C API, the engine of both
// `qrtctl metrics` and `qrt-exporter`, and reading several products at once.
//
// A value the product does not support (QRT_ERR_NOT_SUPPORTED) is left out silently; any other
// failure leaves the value out and is recorded. A product that answers busy (another program
// has held it for the SDK's ten seconds) would make every further call wait as long again, so
// the reading stops at the first busy answer.

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "QRT_SDK.h"
#include "tools/common/MetricFamilies.h"

namespace qrtmetrics {

constexpr unsigned kTextSize = 1024;

// A read that failed: which value ("serial number", "PoE port 2 current") and its status.
struct Failure {
    std::string what;
    int status;
};

// What identifies a product, read once.
struct Identity {
    unsigned index = 0;
    void* handle = nullptr;
    std::string model;  // after "Product:" in the information text; "" when unreadable
    std::string sn;
    bool snRead = false;
    int type = 0;
    std::vector<QRT_FEATURE_TYPE> features;
    std::string labels;  // product="N",model="...",sn="..."
    std::vector<Failure> failures;
    bool busy = false;  // the product answered busy: read it again later
};

// One pass over the product's measurements.
struct Reading {
    std::vector<Sample> samples;
    std::vector<Failure> failures;
    unsigned values = 0;   // values read
    bool busy = false;     // stopped at a busy answer
    bool stopped = false;  // stopped because the caller asked
    double startedAt = 0;  // Unix seconds
    double seconds = 0;    // how long it took
};

// "Key:value\r\n" lines of an information text, in order.
std::vector<std::pair<std::string, std::string>> infoLines(const std::string& text);
// What the product's information text gives after "Product:", or "" when it cannot be read.
std::string productModel(void* handle);
// The product's features, in the product's order.
std::vector<QRT_FEATURE_TYPE> productFeatures(void* handle);

Identity readIdentity(unsigned index);

// `stop` (may be empty) is asked before every call: true ends the reading early.
Reading readMeasurements(const Identity& identity, const std::function<bool()>& stop = {});

// The samples of a product as both tools expose them: its identity, whether it answered, the
// reading's bookkeeping and, from `measured` (the latest reading that was not stopped by a
// busy product, or null), its measurements. `latest` is the latest reading (or null).
std::vector<Sample> productSamples(const Identity& identity, const Reading* latest,
                                   const Reading* measured);

// Runs work(i) for every index on a thread of its own and returns the results in the order
// of the indexes: the products' own locks let their readings run side by side.
template <class Result, class Work>
std::vector<Result> readConcurrently(const std::vector<unsigned>& indexes, Work work) {
    std::vector<Result> results(indexes.size());
    std::vector<std::thread> threads;
    threads.reserve(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i)
        threads.emplace_back([&results, &indexes, &work, i] { results[i] = work(indexes[i]); });
    for (std::thread& thread : threads) thread.join();
    return results;
}

}  // namespace qrtmetrics
