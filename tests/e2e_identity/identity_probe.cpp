// Runs inside the virtual rig with skipped pauses: loads the C API library (which detects the
// rig's products), then reads every product's identity ROUNDS times. Prints one JSON document:
//   {"detection_pauses_us": N, "products": [{"type": T, "rounds": [{"info": ..., "sn": ...,
//    "pauses": N}, ...]}, ...]}
// with the pauses each round requested (as the rig counts them).

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace {

unsigned long long requestedPauseUs() {
    using Query = int (*)(unsigned long long*, unsigned long long*);
    static const auto query =
        reinterpret_cast<Query>(::dlsym(RTLD_DEFAULT, "qrtsim_requested_pauses"));
    unsigned long long count = 0, us = 0;
    if (query != nullptr) query(&count, &us);
    return us;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2;
    nlohmann::json out;
    out["detection_pauses_us"] = requestedPauseUs();
    out["products"] = nlohmann::json::array();
    for (unsigned index = 0; index < QRT_GetProductNums(); ++index) {
        void* handle = QRT_GetProductHandle(index);
        nlohmann::json product = {{"type", QRT_GetProductType(handle)}};
        for (int round = 0; round < rounds; ++round) {
            const unsigned long long before = requestedPauseUs();
            char info[512] = {}, sn[64] = {};
            const int infoStatus = QRT_GetProductInfo(handle, info, sizeof info);
            const int snStatus = QRT_GetProductSN(handle, sn, sizeof sn);
            product["rounds"].push_back({{"info", info},
                                         {"info_status", infoStatus},
                                         {"sn", sn},
                                         {"sn_status", snStatus},
                                         {"pauses", requestedPauseUs() - before}});
        }
        out["products"].push_back(product);
    }
    std::printf("%s\n", out.dump().c_str());
    return 0;
}
