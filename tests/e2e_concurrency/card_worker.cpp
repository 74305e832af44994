// Runs inside the virtual rig as one of several processes on the same cards, or with several
// threads of its own. Loads the C API library (which detects the rig's products) and tallies
// the status and answer of every call; the test compares the tallies with the rig's truth. One
// JSON document on standard output at the end.
//
//   card_worker rounds N       one thread; N rounds of every check on every product. After each
//                              product's checks a byte goes to the descriptor
//                              QRT_TEST_PROGRESS_FD names, when it does (the conductor staggers
//                              processes by it).
//   card_worker threads T N    T threads; thread t works on product t % (number of products):
//                              switches its port power to patterns of its own, reads it back and
//                              reads the card identifier, until the first thread has made N
//                              rounds.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace {

using nlohmann::json;

constexpr unsigned kPorts = 12;  // the most a USB3 card has
const int kPowerPattern[kPorts] = {1, 0, 1, 1, 0, 0, 1, 0, 0, 1, 1, 0};
constexpr unsigned kPoEPorts = 4;  // the most a PoE product has
const int kPoEPattern[kPoEPorts] = {1, 0, 0, 1};

// "status" or "status|answer" -> how often.
using Tally = std::map<std::string, std::map<std::string, int>>;

void count(Tally& tally, const std::string& call, int status, const std::string& answer = "") {
    ++tally[call][status == 0 ? "0|" + answer : std::to_string(status)];
}

std::string listText(const int* values, unsigned n) {
    std::string text;
    for (unsigned i = 0; i < n; ++i) text += (i ? "," : "") + std::to_string(values[i]);
    return text;
}

// One line; bytes that are not text (a garbled answer) are shown as replacement characters.
void print(const json& out) {
    std::printf("%s\n", out.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
}

bool hasFeature(void* h, QRT_FEATURE_TYPE feature) {
    QRT_FEATURE_TYPE list[8];
    int n = QRT_GetFeatureList(h, list, 8);
    for (int i = 0; i < n && i < 8; ++i)
        if (list[i] == feature) return true;
    return false;
}

// One round of reads (and writes of one fixed pattern, the same in every process) on one
// product: every answer must be the rig's.
void checkProduct(unsigned index, Tally& tally) {
    void* h = QRT_GetProductHandle(index);
    const std::string p = std::to_string(index) + ".";
    char text[512] = {};
    int status = QRT_GetProductInfo(h, text, sizeof text);
    count(tally, p + "info", status, text);
    char sn[32] = {};
    status = QRT_GetProductSN(h, sn, sizeof sn);
    count(tally, p + "sn", status, sn);
    int id = -1;
    status = QRT_GetCardID(h, &id);
    count(tally, p + "card_id", status, std::to_string(id));
    if (hasFeature(h, QRT_FEATURE_POWER_CONTROLLER)) {
        int enables[kPorts] = {};
        unsigned n = 0;
        QRT_PowCtrlGetPortNums(h, &n);
        if (n > kPorts) n = kPorts;
        status = QRT_PowCtrlSetPortEnable(h, const_cast<int*>(kPowerPattern), n);
        if (status == 0) status = QRT_PowCtrlGetPortEnable(h, enables, n);
        count(tally, p + "power", status, listText(enables, n));
    }
    if (hasFeature(h, QRT_FEATURE_POE)) {
        int enables[kPoEPorts] = {};
        unsigned n = 0;
        QRT_PoEGetPortNums(h, &n);
        if (n > kPoEPorts) n = kPoEPorts;
        status = QRT_PoESetPortEnable(h, const_cast<int*>(kPoEPattern), n);
        if (status == 0) status = QRT_PoEGetPortEnable(h, enables, n);
        count(tally, p + "poe_enable", status, listText(enables, n));
        float celsius = 0;
        status = QRT_PoEGetProperty(h, QRT_POE_PROP_TEMPERATURE, &celsius);
        char value[32];
        std::snprintf(value, sizeof value, "%.1f", celsius);
        count(tally, p + "temperature", status, value);
    }
}

int runRounds(int n) {
    const char* progress = std::getenv("QRT_TEST_PROGRESS_FD");
    const int progressFd = progress != nullptr ? std::atoi(progress) : -1;
    const unsigned products = QRT_GetProductNums();
    Tally tally;
    for (int round = 0; round < n; ++round) {
        for (unsigned i = 0; i < products; ++i) {
            checkProduct(i, tally);
            if (progressFd >= 0 && ::write(progressFd, "p", 1) != 1) return 1;
        }
    }
    json out = {{"pid", ::getpid()}, {"products", products}, {"tally", tally}};
    print(out);
    return 0;
}

// The power pattern of a thread's round: its round in bits 4..0, the thread in bits 7..5, so
// that the last patterns of the threads on one card differ; ports from 8 on stay off.
unsigned threadMask(int thread, int round) {
    return (static_cast<unsigned>(thread & 7) << 5) | static_cast<unsigned>(round & 31);
}

int runThreads(int threadCount, int n) {
    const unsigned products = QRT_GetProductNums();
    if (products == 0) {
        std::printf("{\"products\":0}\n");
        return 1;
    }
    std::atomic<bool> finished{false};
    std::mutex record;
    std::vector<int> rounds(threadCount, 0), atFirstFinish(threadCount, -1);
    std::vector<unsigned> lastMask(threadCount, 0);
    std::vector<Tally> tallies(threadCount);
    std::vector<std::thread> workers;
    for (int t = 0; t < threadCount; ++t) {
        workers.emplace_back([&, t] {
            void* h = QRT_GetProductHandle(static_cast<unsigned>(t) % products);
            unsigned ports = 0;
            QRT_PowCtrlGetPortNums(h, &ports);
            if (ports > kPorts) ports = kPorts;
            for (int round = 0; !finished; ++round) {
                int enables[kPorts] = {};
                const unsigned mask = threadMask(t, round);
                for (unsigned i = 0; i < ports; ++i) enables[i] = (mask >> i) & 1;
                int status = QRT_PowCtrlSetPortEnable(h, enables, ports);
                count(tallies[t], "set_power", status);
                if (status == 0) lastMask[t] = mask;
                status = QRT_PowCtrlGetPortEnable(h, enables, ports);
                count(tallies[t], "get_power", status);
                int id = -1;
                status = QRT_GetCardID(h, &id);
                count(tallies[t], "card_id", status, std::to_string(id));
                std::lock_guard<std::mutex> guard(record);
                if (++rounds[t] == n && !finished) {
                    finished = true;
                    atFirstFinish = rounds;
                }
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    json out = {{"products", products}};
    for (int t = 0; t < threadCount; ++t) {
        out["threads"].push_back({{"product", static_cast<unsigned>(t) % products},
                                  {"rounds_at_first_finish", atFirstFinish[t]},
                                  {"rounds", rounds[t]},
                                  {"last_mask", lastMask[t]},
                                  {"tally", tallies[t]}});
    }
    print(out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "rounds" && argc == 3) return runRounds(std::atoi(argv[2]));
    if (mode == "threads" && argc == 4) return runThreads(std::atoi(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr, "usage: card_worker rounds N | threads T N\n");
    return 2;
}
