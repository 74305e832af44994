// The metric families of qrtctl metrics and qrt-exporter: documented, and exposed in both
// formats with the names each one gives counters and info families.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tools/common/MetricFamilies.h"

namespace {

using qrtmetrics::Format;
using qrtmetrics::Metric;

TEST(MetricFamilies, DocsListEveryFamilyAndNoOther) {
    std::ifstream in(METRICS_DOC_PATH);
    std::stringstream text;
    text << in.rdbuf();
    std::string doc = text.str();
    std::set<std::string> documented;
    std::regex row(R"(\n\| `(qrt_[a-z0-9_]+)` \| (gauge|counter))");
    for (std::sregex_iterator i(doc.begin(), doc.end(), row), end; i != end; ++i)
        documented.insert((*i)[1]);
    std::set<std::string> families;
    for (const qrtmetrics::MetricFamily& f : qrtmetrics::allFamilies()) {
        families.insert(f.name);
        EXPECT_NE(std::string(f.help), "") << f.name;
    }
    EXPECT_EQ(documented, families);
}

TEST(MetricFamilies, CountersAndInfoAreNamedAsEachFormatWants) {
    std::vector<qrtmetrics::Sample> samples = {
        {Metric::ToeTriggers, qrtmetrics::label("port", "0"), 65535},
        {Metric::ProductInfo, qrtmetrics::label("sn", "a\"b\\c\nd"), 1},
        {Metric::PoeTemperature, "", 41.25f},
        {Metric::ReadingTimestamp, "", 1700000000.5},
    };
    std::string text = qrtmetrics::expose({&samples}, Format::Text);
    EXPECT_NE(text.find("# TYPE qrt_product_info gauge\n"
                        "qrt_product_info{sn=\"a\\\"b\\\\c\\nd\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("qrt_poe_temperature_celsius 41.25\n"), std::string::npos) << text;
    EXPECT_NE(text.find("qrt_reading_timestamp_seconds 1700000000.500\n"), std::string::npos);
    EXPECT_NE(text.find("# TYPE qrt_toe_triggers_total counter\n"
                        "qrt_toe_triggers_total{port=\"0\"} 65535\n"),
              std::string::npos);
    EXPECT_EQ(text.find("# EOF"), std::string::npos);

    std::string open = qrtmetrics::expose({&samples}, Format::OpenMetrics);
    EXPECT_NE(open.find("# TYPE qrt_product info\nqrt_product_info{"), std::string::npos) << open;
    EXPECT_NE(open.find("# TYPE qrt_toe_triggers counter\nqrt_toe_triggers_total{"),
              std::string::npos);
    EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");

    EXPECT_EQ(qrtmetrics::negotiateFormat("application/openmetrics-text;version=1.0.0,"
                                          "text/plain;version=0.0.4;q=0.5"),
              Format::OpenMetrics);
    EXPECT_EQ(qrtmetrics::negotiateFormat("text/plain"), Format::Text);
    EXPECT_EQ(qrtmetrics::negotiateFormat(""), Format::Text);
}

}  // namespace
