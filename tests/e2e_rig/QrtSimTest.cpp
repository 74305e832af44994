// qrt-sim from the outside: rig files, exit statuses, the SDK loaded against a rig, and the
// state, trace and capture files a run leaves.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct RunResult {
    int status = -1;  // exit status, 128 + signal when killed
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TempFile {
  public:
    explicit TempFile(const std::string& content = "") {
        char name[] = "/tmp/qrt-e2e-rig-XXXXXX";
        int fd = ::mkstemp(name);
        ::close(fd);
        path = name;
        if (!content.empty()) std::ofstream(path) << content;
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

// Runs a program; a qrt-sim run also reports the rig's protocol violations, and must have none.
RunResult run(std::vector<std::string> arguments) {
    bool rig = arguments[0] == QRT_SIM_PATH;
    if (rig) arguments.insert(arguments.begin() + 1, "--violations");
    TempFile out, err;
    pid_t child = ::fork();
    if (child == 0) {
        int o = ::open(out.path.c_str(), O_WRONLY | O_TRUNC);
        int e = ::open(err.path.c_str(), O_WRONLY | O_TRUNC);
        ::dup2(o, STDOUT_FILENO);
        ::dup2(e, STDERR_FILENO);
        std::vector<char*> argv;
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(out.path);
    result.err = readFile(err.path);
    if (rig) {
        EXPECT_THAT(result.err, Not(::testing::ContainsRegex("protocol violations: [1-9]")));
    }
    return result;
}

// qrt-sim with the bench boards loaded, then `arguments`.
std::vector<std::string> qrtSim(std::vector<std::string> arguments) {
    std::vector<std::string> all = {QRT_SIM_PATH, "--plugin", BENCH_PLUGIN_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

std::string rig(const std::string& name) {
    return std::string(RIG_DIR) + "/" + name;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

TEST(QrtSim, ABadRigFileStopsItWithStatusTwoBeforeTheCommandRuns) {
    struct Case {
        const char* text;
        const char* message;  // after "<file>: "
    };
    const Case cases[] = {
        {"[card0]\nmodel = PCIe-W504\ncolour = red\n", "[card0] colour: unknown key"},
        {"[card0]\nmodel = PCIe-RHX54P\npower_source = 9\n", "[card0] power_source: \"9\""},
        {"[card0]\nmodel = PCIe-XYZ\n", "[card0] model: unknown model \"PCIe-XYZ\""},
        {"[card0]\nmodel = BENCH-PCI\nvendor = 0x10000\n", "[card0] vendor: \"0x10000\""},
        // The format reads no longer line; a key must not be lost to it.
        {"[card0]\nmodel = PCIe-W504\nsn = 1", "line 3: longer than 1023 characters"},
    };
    for (const Case& c : cases) {
        TempFile file(c.text + std::string(c.text[std::strlen(c.text) - 1] == '1' ? 2000 : 0, '1'));
        RunResult r = run(qrtSim({"--rig", file.path, "--", "/bin/echo", "command ran"}));
        EXPECT_EQ(2, r.status) << c.text;
        EXPECT_THAT(r.err, HasSubstr(file.path + ": " + c.message));
        EXPECT_THAT(r.out, Not(HasSubstr("command ran")));
    }
}

TEST(QrtSim, AnEndlessRigInputIsRefusedWithStatusTwo) {
    RunResult r = run(qrtSim({"--rig", "/dev/zero", "--", "/bin/echo", "command ran"}));
    EXPECT_EQ(2, r.status);
    EXPECT_THAT(r.err, HasSubstr("/dev/zero: line 1: longer than 1023 characters"));
    EXPECT_THAT(r.out, Not(HasSubstr("command ran")));
}

// Bytes that are not UTF-8 in a section name, the rig file's path and the program's name end up
// in the state document, escaped, instead of aborting the run.
TEST(QrtSim, BytesThatAreNotUtf8AreWrittenEscapedInTheState) {
    TempFile dir;
    std::remove(dir.path.c_str());
    ASSERT_EQ(0, ::mkdir(dir.path.c_str(), 0700));
    const std::string rigFile = dir.path + "/rig\xff.rig", program = dir.path + "/p\xfe";
    std::ofstream(rigFile) << "[card\xff]\nmodel = PCIe-W504\n";
    ASSERT_EQ(0, ::symlink(PROBE_PATH, program.c_str()));
    TempFile state;
    RunResult r = run({QRT_SIM_PATH, "--rig", rigFile, "--skip-pauses", "--state", state.path, "--",
                       program, "pause", "1000"});
    EXPECT_EQ(0, r.status) << r.err;
    nlohmann::json document = nlohmann::json::parse(readFile(state.path));
    EXPECT_EQ("card\\xFF", document["boards"][0]["section"]);
    EXPECT_THAT(document["rig"].get<std::string>(), HasSubstr("rig\\xFF.rig"));
    EXPECT_EQ("p\\xFE", document["pauses"]["processes"][0]["program"]);
    std::remove(program.c_str());
    std::remove(rigFile.c_str());
    ::rmdir(dir.path.c_str());
}

// The output files are qrt-sim's own: the program under test does not inherit them.
TEST(QrtSim, OutputFilesAreNotOpenInTheCommand) {
    TempFile trace, state, pcap;
    RunResult r = run(qrtSim({"--trace", trace.path, "--state", state.path, "--pcap", pcap.path,
                              "--", "/bin/sh", "-c", "ls -l /proc/$$/fd"}));
    ASSERT_EQ(0, r.status) << r.err;
    for (const std::string& file : {trace.path, state.path, pcap.path})
        EXPECT_THAT(r.out, Not(HasSubstr(file)));
}

TEST(QrtSim, ExitsWithTheCommandsStatus) {
    EXPECT_EQ(0, run(qrtSim({"--", "/bin/true"})).status);
    EXPECT_EQ(7, run(qrtSim({"--", "/bin/sh", "-c", "exit 7"})).status);
    EXPECT_EQ(128 + 15, run(qrtSim({"--", "/bin/sh", "-c", "kill -TERM $$"})).status);
    RunResult missing = run(qrtSim({"--", "/nonexistent/program"}));
    EXPECT_EQ(127, missing.status);
    EXPECT_THAT(missing.err, HasSubstr("/nonexistent/program"));
}

TEST(QrtSim, LoadingTheSdkRegistersThreePairsAndProbesEveryDevice) {
    TempFile trace;
    RunResult r = run(
        {QRT_SIM_PATH, "--rig", rig("sdk.rig"), "--trace", trace.path, "--", LIST_PRODUCTS_PATH});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Driver Version:sdk-rig-2.3\r\n"));

    std::vector<std::string> registrations;
    int devices = 0;
    for (const std::string& line : lines(readFile(trace.path))) {
        if (line.rfind("pcimap add-scan ", 0) != 0) continue;
        registrations.push_back(line.substr(0, line.find(" ->")));
        int count = 0;
        std::sscanf(line.c_str() + line.find("count="), "count=%d", &count);
        devices += count;
    }
    EXPECT_THAT(registrations,
                ::testing::ElementsAre("pcimap add-scan vendor=0x8086 device=0x1563 flag=1",
                                       "pcimap add-scan vendor=0x10b5 device=0x8608 flag=0",
                                       "pcimap add-scan vendor=0x10b5 device=0x8718 flag=0"));
    EXPECT_EQ(5, devices);  // the X550 shows two LAN functions
    // Each device is bound to a PCI map and offered to the products, which ask the driver
    // for its identity through that map.
    std::string traced = readFile(trace.path);
    for (int index = 0; index < devices; ++index)
        EXPECT_THAT(traced, HasSubstr("pcimap device-info dev=" + std::to_string(index) + " ->"));
}

TEST(QrtSim, TheStateFileDescribesTheRigAsTheCommandLeftIt) {
    TempFile state;
    RunResult r = run(qrtSim({"--rig", rig("bench.rig"), "--state", state.path, "--", PROBE_PATH,
                              "write", "0x1234", "0x0003", "0x644", "0xa5"}));
    ASSERT_EQ(0, r.status) << r.err;
    nlohmann::json document = nlohmann::json::parse(readFile(state.path));
    ASSERT_EQ(12u, document["boards"].size());
    EXPECT_EQ("a", document["boards"][0]["section"]);
    EXPECT_EQ("BENCH-I2C", document["boards"][4]["model"]);
    EXPECT_EQ("h", document["boards"][11]["section"]);
    EXPECT_EQ("0x000000a5", document["boards"][11]["registers"]["0x644"]);
    EXPECT_EQ("bench-1.0", document["driver"]["version"]);
    EXPECT_EQ(0, document["exit_status"]);
    EXPECT_EQ(0, document["driver"]["open_files"]);
}

TEST(QrtSim, HardwareStateOutlivesTheProcessThatChangedIt) {
    std::string probe = PROBE_PATH;
    RunResult r = run(qrtSim(
        {"--rig", rig("bench.rig"), "--", "/bin/sh", "-c",
         probe + " write 0x1234 0x0003 0x10 0x5a5a && " + probe + " read 0x1234 0x0003 0x10"}));
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("0x00005a5a\n", r.out);
    // A new rig starts from scratch.
    r = run(
        qrtSim({"--rig", rig("bench.rig"), "--", PROBE_PATH, "read", "0x1234", "0x0003", "0x10"}));
    EXPECT_EQ("0x00000000\n", r.out);
}

TEST(QrtSim, FramesTheBoardsEmitLandInThePcapFile) {
    TempFile pcap;
    RunResult r = run(qrtSim({"--rig", rig("bench.rig"), "--pcap", pcap.path, "--", PROBE_PATH,
                              "write", "0x1234", "0x0003", "0xf00", "60"}));
    ASSERT_EQ(0, r.status) << r.err;
    std::string bytes = readFile(pcap.path);
    ASSERT_EQ(24u + 16 + 60, bytes.size());
    uint32_t magic, linkType, captured;
    std::memcpy(&magic, bytes.data(), 4);
    std::memcpy(&linkType, bytes.data() + 20, 4);
    std::memcpy(&captured, bytes.data() + 32, 4);
    EXPECT_EQ(0xA1B2C3D4u, magic);
    EXPECT_EQ(1u, linkType);
    EXPECT_EQ(60u, captured);
    EXPECT_EQ('\x88', bytes[40 + 12]);  // the frame's ether type
    EXPECT_EQ('\xB5', bytes[40 + 13]);
}

TEST(QrtSim, TheTraceDecodesI2cMessages) {
    TempFile trace;
    RunResult r = run(qrtSim({"--rig", rig("bench.rig"), "--trace", trace.path, "--", PROBE_PATH,
                              "i2c-write", "5", "0x50", "0x10", "0xaa", "0xbb"}));
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_THAT(readFile(trace.path), HasSubstr("i2c-5 write addr=0x50 10 aa bb -> ack\n"));
}

TEST(QrtSim, SkippedPausesAreCountedPerProcessInsteadOfSlept) {
    // Fifteen seconds of pauses in two processes; slept, they would hold the test that long.
    TempFile state;
    std::string probe = PROBE_PATH;
    RunResult r = run(qrtSim({"--rig", rig("bench.rig"), "--skip-pauses", "--state", state.path,
                              "--", "/bin/sh", "-c",
                              probe + " pause 10000 && " + probe + " pause 5000 && " + probe +
                                  " read 0x10b5 0x8718 0x0"}));
    ASSERT_EQ(0, r.status) << r.err;
    nlohmann::json pauses = nlohmann::json::parse(readFile(state.path))["pauses"];
    EXPECT_EQ(2, pauses["count"]);
    EXPECT_EQ(15000000, pauses["requested_us"]);
    EXPECT_EQ(0, pauses["slept_us"]);
    ASSERT_EQ(2u, pauses["processes"].size()) << pauses.dump();
    EXPECT_EQ("e2e_rig_probe", pauses["processes"][0]["program"]);
    EXPECT_EQ(10000000, pauses["processes"][0]["requested_us"]);
    EXPECT_EQ(5000000, pauses["processes"][1]["requested_us"]);
    EXPECT_THAT(r.err, HasSubstr("qrt-sim: pauses skipped: 2 requested by 2 processes, "
                                 "15.000 s in all\n"));
}

// A rig serves any number of processes over its life: 600 pausing processes, more than the
// ledger has records, each skipping its pause on a time line of its own, and then detection
// (one device after the other, single-threaded) still finds its boards ready on its own pauses.
TEST(QrtSim, SkippedPausesStayExactOverMoreProcessesThanTheLedgerHasRecords) {
    TempFile state;
    std::string probe = PROBE_PATH;
    RunResult r = run(qrtSim({"--skip-pauses", "--state", state.path, "--", "/bin/sh", "-c",
                              "i=0; while [ $i -lt 600 ]; do '" + probe +
                                  "' pause 1 || exit 1; i=$((i+1)); done; QRT_DETECT_THREADS=1 '" +
                                  LIST_PRODUCTS_PATH + "'"}));
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_THAT(r.out, HasSubstr("2 products"));
    nlohmann::json pauses = nlohmann::json::parse(readFile(state.path))["pauses"];
    ASSERT_EQ(512u, pauses["processes"].size());
    EXPECT_EQ(89, pauses["unlisted_processes"]);
    EXPECT_EQ(1000, pauses["processes"][511]["requested_us"]);
    EXPECT_EQ(0, pauses["slept_us"]);
    EXPECT_THAT(r.err, HasSubstr("requested by 601 processes"));
}

// Two threads pause 20 ms at once (slept, and 20 ms along the longest path), then the first
// pauses 20 ms more alone (skipped again).
TEST(QrtSim, PausesOfConcurrentThreadsAreSleptAndOverlapOnTheLongestPath) {
    TempFile state;
    RunResult r = run(qrtSim(
        {"--skip-pauses", "--state", state.path, "--", PROBE_PATH, "pause", "20", "threaded"}));
    ASSERT_EQ(0, r.status) << r.err;
    nlohmann::json pauses = nlohmann::json::parse(readFile(state.path))["pauses"];
    EXPECT_EQ(60000, pauses["requested_us"]);
    EXPECT_EQ(40000, pauses["slept_us"]);
    EXPECT_EQ(40000, pauses["path_us"]);
    EXPECT_EQ(40000, pauses["processes"][0]["path_us"]);
    EXPECT_THAT(r.err, HasSubstr("0.060 s in all, 0.040 s along the longest paths; 0.040 s slept"));
}

TEST(QrtSim, RigInterfacesCarryThePortsMacAndAddressAndLeaveTheHostAlone) {
    RunResult r =
        run(qrtSim({"--rig", rig("net.rig"), "--", PROBE_PATH, "ip-of", "02:4b:51:00:09:01"}));
    if (r.err.find("no network namespace") != std::string::npos)
        GTEST_SKIP() << "network namespaces are not available here: " << r.err;
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("192.168.77.1\n", r.out);
    struct stat info;
    EXPECT_NE(0, ::stat("/sys/class/net/card0p1", &info)) << "the rig's interface is on the host";
    // An address no interface has.
    EXPECT_EQ(1,
              run(qrtSim({"--rig", rig("net.rig"), "--", PROBE_PATH, "ip-of", "02:4b:51:00:09:02"}))
                  .status);
}

TEST(QrtSim, WithoutPrivilegeItRunsWithTheDeviceBridgeAloneAndSaysWhatIsMissing) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is not installed";
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
    std::vector<std::string> arguments = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups"};
    for (const std::string& a :
         qrtSim({"--rig", rig("bench.rig"), "--", PROBE_PATH, "read", "0x10b5", "0x8718", "0x0"}))
        arguments.push_back(a);
    RunResult r = run(arguments);
    if (r.status == 126 || r.status == 127 || r.err.find("ermission denied") != std::string::npos)
        GTEST_SKIP() << "the build tree is not reachable for an unprivileged user: " << r.err;
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("0x00000000\n", r.out);
    EXPECT_THAT(r.err, HasSubstr("qrt-sim: no network namespace"));
}

}  // namespace
