#pragma once

// The metric families that `qrtctl metrics` prints and `qrt-exporter` serves, defined once so
// that the two never drift, and their exposition in the Prometheus text format 0.0.4 and in
// OpenMetrics 1.0.
//
// Every product sample carries the labels product (index), model and sn; per-port samples add
// port, per-fan samples fan, per-input samples supply, DIO samples line, trigger counters port
// and counter. docs/metrics.md lists the families with their units.

#include <string>
#include <vector>

namespace qrtmetrics {

enum class Metric : unsigned {
    Products,
    ProductInfo,
    Up,
    ReadingStatus,
    ReadErrors,
    ReadingTimestamp,
    ReadingDuration,
    PoeStateFlag0,
    PoeStateFlag1,
    PoeStateFlag5Clear,
    PoeTemperature,
    PoeConsumedBudget,
    PoeLeftBudget,
    PoeTotalBudget,
    PoeProtectionTemperature,
    PoeRecoveryTemperature,
    PoePortEnabled,
    PoePortCurrent,
    PoePortVoltage,
    PoePortPowerClass,
    PoePortPowerGood,
    PoePortLastPowerState,
    PoePortPower,
    UsbPortPowerEnabled,
    ExternalSupplyConnected,
    FanSpeed,
    FanDuty,
    FanSmartEnabled,
    ToeTriggers,
    DioInputState,
    DioOutputState,
    kCount
};

enum class MetricType { Gauge, Counter, Info };

// How a family's values print: readings of the SDK's floats with the six significant digits a
// float holds; times in seconds with milliseconds.
enum class Precision { Reading, Time };

struct MetricFamily {
    Metric metric;
    // The family's name as the text format 0.0.4 writes it in HELP and TYPE, which is also the
    // name of its samples (counters end in _total, info families in _info).
    const char* name;
    MetricType type;
    const char* help;
    Precision precision;
};

const MetricFamily& family(Metric metric);
std::vector<MetricFamily> allFamilies();

// One sample: its labels already written as `name="value",...` (escaped), or empty.
struct Sample {
    Metric metric;
    std::string labels;
    double value;
};

// A label value with backslash, double quote and line feed escaped.
std::string escapeLabelValue(const std::string& value);
// `name="value"` with the value escaped.
std::string label(const char* name, const std::string& value);

enum class Format { Text, OpenMetrics };

// OpenMetrics when the scraper's Accept header asks for it, the text format otherwise.
Format negotiateFormat(const std::string& accept);
const char* contentType(Format format);

// The exposition of the samples of every group, family by family in the table's order; within
// a family the samples keep the order of the groups and of the samples in each group.
std::string expose(const std::vector<const std::vector<Sample>*>& groups, Format format);

}  // namespace qrtmetrics
