// Loads libQRT_SDK (the path in argv[1]) with dlopen, which detects the products, and prints the
// product table as one JSON line: for every index its type, texts, features and card
// identifier, and whether the handles are distinct and stable. Further arguments: "thread" loads
// the library from a second thread, as a Python program does that loads it on a thread of its
// own (the library's initialiser then runs on that thread, under the dynamic loader's lock);
// "types" prints only the products' types, asking the boards nothing after detection.

#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace {

// The library's function `name`, of the type the public header declares.
#define SYMBOL(library, name) reinterpret_cast<decltype(&name)>(::dlsym(library, #name))

nlohmann::json types(void* library) {
    auto nums = SYMBOL(library, QRT_GetProductNums);
    auto handleAt = SYMBOL(library, QRT_GetProductHandle);
    auto type = SYMBOL(library, QRT_GetProductType);
    nlohmann::json list = nlohmann::json::array();
    for (unsigned i = 0; i < nums(); ++i) list.push_back(type(handleAt(i)));
    return {{"types", list}};
}

nlohmann::json table(void* library) {
    auto nums = SYMBOL(library, QRT_GetProductNums);
    auto handleAt = SYMBOL(library, QRT_GetProductHandle);
    auto info = SYMBOL(library, QRT_GetProductInfo);
    auto sn = SYMBOL(library, QRT_GetProductSN);
    auto type = SYMBOL(library, QRT_GetProductType);
    auto features = SYMBOL(library, QRT_GetFeatureList);
    auto cardId = SYMBOL(library, QRT_GetCardID);
    auto sdkInfo = SYMBOL(library, QRT_GetSDKInfo);
    nlohmann::json products = nlohmann::json::array();
    std::set<void*> handles;
    bool handlesStable = true;
    const unsigned count = nums();
    for (unsigned i = 0; i < count; ++i) {
        void* handle = handleAt(i);
        handlesStable = handlesStable && handle != nullptr && handleAt(i) == handle;
        handles.insert(handle);
        char text[512] = {}, serial[64] = {};
        QRT_FEATURE_TYPE list[16] = {};
        int id = 0;
        const int infoStatus = info(handle, text, sizeof text);
        const int snStatus = sn(handle, serial, sizeof serial);
        const int featureCount = features(handle, list, 16);
        const int idStatus = cardId(handle, &id);
        products.push_back({{"type", type(handle)},
                            {"info", {infoStatus, text}},
                            {"sn", {snStatus, serial}},
                            {"features", std::vector<int>(list, list + std::max(featureCount, 0))},
                            {"card_id", {idStatus, idStatus == 0 ? id : 0}}});
    }
    char sdk[128] = {};
    sdkInfo(sdk, sizeof sdk);
    return {{"products", products},
            {"handles_distinct", handles.size() == count},
            {"handles_stable", handlesStable},
            {"beyond_the_table", handleAt(count) == nullptr},
            {"sdk", sdk}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: detection_probe LIBRARY [thread] [types]\n");
        return 2;
    }
    bool onThread = false, typesOnly = false;
    for (int i = 2; i < argc; ++i) {
        onThread = onThread || std::string(argv[i]) == "thread";
        typesOnly = typesOnly || std::string(argv[i]) == "types";
    }
    void* library = nullptr;
    auto load = [&] { library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL); };
    if (onThread)
        std::thread(load).join();
    else
        load();
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], ::dlerror());
        return 1;
    }
    std::printf("%s\n", (typesOnly ? types(library) : table(library)).dump().c_str());
    return 0;
}
