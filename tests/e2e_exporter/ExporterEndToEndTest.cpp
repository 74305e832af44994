// qrt-exporter end to end: under qrt-sim with three cards the exporter serves a real Prometheus
// server, answers others while slow and malformed clients pound it, reports a card made busy
// without delaying the others, and ends cleanly on SIGTERM (exporter_session.py does the
// talking). The metric families are those of qrtctl metrics, which reads the embedded system's
// digital I/O with the same engine.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "support/RigRunner.h"

namespace {

using nlohmann::json;
using qrttest::RigRun;
using qrttest::RigRunner;

// Product 0: a USB3 card; 1: a Pro PoE card with a class-4 camera on port 0; 2: the 10-gigabit
// Pro card, which the session makes busy.
const char* const kRig =
    "[a]\nmodel = PCIe-W504\nsn = QE504\n"
    "[b]\nmodel = PCIe-RHX52PPRO\nsn = QE52PRO\npoe_class0 = 4\n"
    "[c]\nmodel = PCIe-RHX10T\nsn = QE10T\n";

// The violations the chips of one board counted.
int violationsIn(const json& node) {
    int total = 0;
    if (node.is_object()) {
        for (auto it = node.begin(); it != node.end(); ++it) {
            if (it.key() == "violations" && it.value().is_object()) {
                for (const json& count : it.value())
                    if (count.is_number_integer()) total += count.get<int>();
            } else {
                total += violationsIn(it.value());
            }
        }
    } else if (node.is_array()) {
        for (const json& item : node) total += violationsIn(item);
    }
    return total;
}

bool inCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::string(ci) != "false";
}

TEST(ExporterEndToEnd, ServesPrometheusThroughBadClientsAndABusyCard) {
#ifdef QRT_TEST_SANITIZED
    GTEST_SKIP() << "seconds of real-time waits: run in the plain build only";
#endif
    if (std::string(PROMETHEUS_PATH).empty() || std::string(PROMTOOL_PATH).empty()) {
        if (inCi()) FAIL() << "prometheus and promtool are needed (Debian package prometheus)";
        GTEST_SKIP() << "prometheus or promtool not installed (Debian package prometheus): "
                        "the exporter is not tried against a Prometheus server";
    }
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the rig's private network namespace";
    RigRunner rig({{"EXPORTER", EXPORTER_PATH},
                   {"QRT_SIM", QRT_SIM_PATH},
                   {"PYTHON", PYTHON_PATH},
                   {"SESSION", SESSION_PATH},
                   {"PROMETHEUS", PROMETHEUS_PATH},
                   {"PROMTOOL", PROMTOOL_PATH},
                   {"BUSY_SECTION", "c"},
                   {"BUSY_PRODUCT", "2"},
                   {"OTHER_PRODUCT", "1"}});
    ASSERT_TRUE(rig.usable());
    rig.keepRealTime();  // the exporter reads its cards on threads of its own
    // The busy card's driver fails requests at any moment, also in the middle of a transaction
    // its chips then see cut (a read not ended by the host, say): those count on that card
    // alone, and the other cards' chips must have counted nothing.
    RigRun run = rig.run(kRig, "WORK=\"" + rig.dir() + "\" \"$PYTHON\" \"$SESSION\"",
                         RigRunner::kProvokesViolations);
    ASSERT_EQ(run.status, 0) << run.errors;
    for (const char* section : {"a", "b"}) {
        ASSERT_TRUE(run.board(section).is_object()) << section << run.errors;
        EXPECT_EQ(violationsIn(run.board(section)), 0) << section << ": " << run.board(section);
    }
    ASSERT_EQ(run.outputs.size(), 1u) << run.output << run.errors;
    const json& r = run.outputs[0];
    SCOPED_TRACE(r.dump(1));

    EXPECT_TRUE(r["healthz"]);
    EXPECT_EQ(r["promtool"]["status"], 0);
    EXPECT_EQ(r["openmetrics"]["content_type"],
              "application/openmetrics-text; version=1.0.0; charset=utf-8");
    EXPECT_TRUE(r["openmetrics"]["eof"]);
    for (const char* family :
         {"qrt_up", "qrt_reading_timestamp_seconds", "qrt_poe_temperature_celsius",
          "qrt_poe_protection_temperature_celsius", "qrt_toe_triggers_total",
          "qrt_usb_port_power_enabled", "qrt_poe_port_last_power_state"})
        EXPECT_NE(r["families"].dump().find(std::string("\"") + family + "\""), std::string::npos)
            << family;

    const json& bad = r["bad_input"];
    EXPECT_EQ(bad["during_slow_clients"],
              json({{"healthz", 200}, {"metrics", 200}, {"slow_clients_still_sending", true}}));
    EXPECT_EQ(bad["slow_clients_cut"], json({true, true, true}));
    for (const char* request : {"garbage", "binary", "no_version", "huge_header", "many_headers"})
        EXPECT_TRUE(bad[request] == "closed" ||
                    bad[request].get<std::string>().find(" 4") != std::string::npos)
            << request;
    EXPECT_NE(bad["post"].get<std::string>().find(" 404"), std::string::npos);
    EXPECT_EQ(bad["unknown_path"], 404);

    const json& busy = r["busy"];
    EXPECT_TRUE(busy["down"]);
    EXPECT_EQ(busy["status"], -100);
    EXPECT_TRUE(busy["kept_measurements"]);
    EXPECT_EQ(busy["other_up"], 1);
    EXPECT_TRUE(busy["other_read_meanwhile"]);
    EXPECT_TRUE(busy["up_again"]);

    const json& prometheus = r["prometheus"];
    EXPECT_TRUE(prometheus["scraped"]);
    EXPECT_EQ(prometheus["target_up"], json({1.0}));
    for (const char* name : {"qrt_products", "qrt_up", "qrt_poe_port_power_watts",
                             "qrt_toe_triggers_total", "qrt_reading_timestamp_seconds"})
        EXPECT_NE(prometheus["names"].dump().find(std::string("\"") + name + "\""),
                  std::string::npos)
            << name;

    EXPECT_EQ(r["after_all"], 200);
    EXPECT_EQ(r["exit_status"], 0);
    EXPECT_NE(r["log"].get<std::string>().find("stopped by SIGTERM"), std::string::npos);
}

// The embedded system's digital inputs and outputs, through qrtctl metrics.
TEST(ExporterEndToEnd, MetricsOfTheEmbeddedSystemHaveItsDigitalLines) {
    RigRunner rig(std::map<std::string, std::string>{{"Q", QRTCTL_PATH}});
    ASSERT_TRUE(rig.usable());
    RigRun run = rig.run(qrttest::readWholeFile(EMBEDDED_RIG_PATH),
                         "\"$Q\" metrics | grep -c \"^qrt_dio_[a-z]*_state{\"");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.output, "8\n");
}

}  // namespace
