// qrtctl metrics: the measurements of every product in the Prometheus text exposition format,
// for node_exporter's textfile collector. The metric families and the reading are qrt-exporter's
// (tools/common): the products are read side by side, each on a thread of its own, and printed
// in index order, so that a run takes about as long as the slowest product's reading.
//
// A value a product cannot read is left out and counted in qrt_read_errors of its product, so
// that one failing card does not stop the others' samples; the command still exits 0 once it
// has printed them.

#include <cstdio>

#include "tools/common/ProductReading.h"
#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

struct ProductRun {
    qrtmetrics::Identity identity;
    qrtmetrics::Reading reading;
};

void metrics(const Selection& selection) {
    if (selection.json) throw UsageError("metrics prints the Prometheus text format only");
    std::vector<unsigned> indexes = selectedProducts(selection);
    std::vector<ProductRun> runs =
        qrtmetrics::readConcurrently<ProductRun>(indexes, [](unsigned index) {
            ProductRun run{qrtmetrics::readIdentity(index), {}};
            if (!run.identity.busy) run.reading = qrtmetrics::readMeasurements(run.identity);
            return run;
        });
    std::vector<std::vector<qrtmetrics::Sample>> groups;
    groups.push_back({{qrtmetrics::Metric::Products, "", double(QRT_GetProductNums())}});
    for (const ProductRun& run : runs) {
        std::string where = "product " + std::to_string(run.identity.index) + ": ";
        for (const qrtmetrics::Failure& failure : run.identity.failures)
            readable(failure.status, where + failure.what, false);
        for (const qrtmetrics::Failure& failure : run.reading.failures)
            readable(failure.status, where + failure.what, false);
        bool read = !run.identity.busy;
        groups.push_back(qrtmetrics::productSamples(run.identity, read ? &run.reading : nullptr,
                                                    read ? &run.reading : nullptr));
    }
    std::vector<const std::vector<qrtmetrics::Sample>*> all;
    for (const auto& group : groups) all.push_back(&group);
    std::fputs(qrtmetrics::expose(all, qrtmetrics::Format::Text).c_str(), stdout);
}

}  // namespace

void addMetricsCommand(CLI::App& app) {
    addCommand(app, "metrics",
               "Print PoE power, voltage and current per port, temperatures, power budgets, fan "
               "speeds and port states of every product in the Prometheus text format",
               metrics, Products::Every);
}

}  // namespace qrtctl
