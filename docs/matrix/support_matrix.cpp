// Which C API calls each product supports, asked of the products themselves.
//
//   qrt_support_matrix probe          run inside a rig: one line per product and call,
//                                     "model <TAB> family <TAB> type <TAB> call <TAB> answer"
//   qrt_support_matrix table FILE     the markdown page of docs/support-matrix.md from the
//                                     probe lines of FILE ("rig <TAB> path" lines name the rigs)
//
// A call is supported unless the product answers QRT_ERR_NOT_SUPPORTED. Every probe is
// harmless to the hardware: a read, or a call with an argument that the products refuse before
// they touch the hardware (a null output, an index past the last, a value out of range). The
// few settings that refuse no value are made with the value they already hold, and the counter
// reset only where every counter reads zero; those settings write only on a change, except
// the power-consumption calculation, whose microcontroller gets back the byte it holds.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "QRT_SDK.h"

namespace {

// What a probe found: supported, not supported, or not asked (a setting whose value could
// not be read first).
enum Answer { kYes, kNo, kUnknown };

Answer fromStatus(int status) {
    return status == QRT_ERR_NOT_SUPPORTED ? kNo : kYes;
}

// A setting without a refused value: set it to what its getter reads.
template <class Value, class Get, class Set>
Answer writeBack(void* h, Get get, Set set) {
    Value value{};
    const int status = get(h, &value);
    if (status == QRT_ERR_NOT_SUPPORTED) return kNo;
    if (status != QRT_SUCCESS) return kUnknown;
    return fromStatus(set(h, value));
}

struct Probe {
    const char* call;
    Answer (*ask)(void* h);
};

#define STATUS(expr) [](void* h) { return fromStatus(expr); }

constexpr unsigned kFar = UINT_MAX;  // an index past the last of any product

const Probe kProbes[] = {
    {"QRT_GetProductInfo",
     [](void* h) {
         char text[512];
         return fromStatus(QRT_GetProductInfo(h, text, sizeof text));
     }},
    {"QRT_GetProductType",
     [](void* h) {
         const int type = QRT_GetProductType(h);
         return type >= 0 && type != QRT_PRODUCT_UNKNOWN ? kYes : kNo;
     }},
    {"QRT_GetProductSN", STATUS(QRT_GetProductSN(h, nullptr, 0))},
    {"QRT_GetFeatureList",
     [](void* h) { return QRT_GetFeatureList(h, nullptr, 0) > 0 ? kYes : kNo; }},
    {"QRT_GetCardID", STATUS(QRT_GetCardID(h, nullptr))},

    {"QRT_PowCtrlGetPortNums", STATUS(QRT_PowCtrlGetPortNums(h, nullptr))},
    {"QRT_PowCtrlSetPortEnable", STATUS(QRT_PowCtrlSetPortEnable(h, nullptr, 0))},
    {"QRT_PowCtrlGetPortEnable", STATUS(QRT_PowCtrlGetPortEnable(h, nullptr, 0))},

    {"QRT_ExPowSupGetNums", STATUS(QRT_ExPowSupGetNums(h, nullptr))},
    {"QRT_ExPowSupGetState", STATUS(QRT_ExPowSupGetState(h, nullptr, 0))},

    {"QRT_ToEGetPortNums", STATUS(QRT_ToEGetPortNums(h, nullptr))},
    {"QRT_ToESendActionCommand", STATUS(QRT_ToESendActionCommand(h, INT_MAX))},
    {"QRT_ToESetActionCommand", STATUS(QRT_ToESetActionCommand(h, kFar, 0, 0, 0))},
    {"QRT_ToEGetActionCommand", STATUS(QRT_ToEGetActionCommand(h, 0, nullptr, nullptr, nullptr))},
    {"QRT_ToESetTriggerSource",
     [](void* h) { return writeBack<int>(h, QRT_ToEGetTriggerSource, QRT_ToESetTriggerSource); }},
    {"QRT_ToEGetTriggerSource", STATUS(QRT_ToEGetTriggerSource(h, nullptr))},
    {"QRT_ToESetTriggerEnable",
     [](void* h) { return writeBack<int>(h, QRT_ToEGetTriggerEnable, QRT_ToESetTriggerEnable); }},
    {"QRT_ToEGetTriggerEnable", STATUS(QRT_ToEGetTriggerEnable(h, nullptr))},
    // No edge: the products refuse it before the CPLD is asked (values above 2 are refused for
    // every product, before the product is asked).
    {"QRT_ToESetTriggerActivation",
     STATUS(QRT_ToESetTriggerActivation(h, static_cast<QRT_EDGETRIGGER_TYPE>(-1)))},
    {"QRT_ToEGetTriggerActivation", STATUS(QRT_ToEGetTriggerActivation(h, nullptr))},
    {"QRT_ToESetOneTriggerAllMode",
     [](void* h) {
         return writeBack<int>(h, QRT_ToEGetOneTriggerAllMode, QRT_ToESetOneTriggerAllMode);
     }},
    {"QRT_ToEGetOneTriggerAllMode", STATUS(QRT_ToEGetOneTriggerAllMode(h, nullptr))},
    // Above 24 bits: the CPLD refuses it before the control word is written back.
    {"QRT_ToESetExTriggerDebounce", STATUS(QRT_ToESetExTriggerDebounce(h, 0x1000000ul))},
    {"QRT_ToEGetExTriggerDebounce", STATUS(QRT_ToEGetExTriggerDebounce(h, nullptr))},
    {"QRT_ToEGetExTriggerDebounceUnit", STATUS(QRT_ToEGetExTriggerDebounceUnit(h, nullptr))},
    {"QRT_ToEGetTriggerCount", STATUS(QRT_ToEGetTriggerCount(h, kFar, nullptr, nullptr))},
    {"QRT_ToEResetTriggerCount",
     [](void* h) {
         unsigned ports = 0;
         const int status = QRT_ToEGetPortNums(h, &ports);
         if (status == QRT_ERR_NOT_SUPPORTED) return kNo;
         if (status != QRT_SUCCESS) return kUnknown;
         for (unsigned port = 0; port < ports; ++port) {
             unsigned first = 1, second = 1;
             if (QRT_ToEGetTriggerCount(h, port, &first, &second) != QRT_SUCCESS || first != 0 ||
                 second != 0)
                 return kUnknown;  // clearing would change them
         }
         return fromStatus(QRT_ToEResetTriggerCount(h));
     }},

    {"QRT_PoEGetPortNums", STATUS(QRT_PoEGetPortNums(h, nullptr))},
    {"QRT_PoESetPortEnable", STATUS(QRT_PoESetPortEnable(h, nullptr, 0))},
    {"QRT_PoEGetPortEnable", STATUS(QRT_PoEGetPortEnable(h, nullptr, 0))},
    {"QRT_PoESetPowConsumCalcModel",
     [](void* h) {
         int held = 0;
         const int status = QRT_PoEGetPowConsumCalcModel(h, &held);
         if (status == QRT_ERR_NOT_SUPPORTED) return kNo;
         // The setting goes out as 0 or 1: only those come back unchanged.
         if (status != QRT_SUCCESS || (held != 0 && held != 1)) return kUnknown;
         return fromStatus(QRT_PoESetPowConsumCalcModel(h, held));
     }},
    {"QRT_PoEGetPowConsumCalcModel", STATUS(QRT_PoEGetPowConsumCalcModel(h, nullptr))},
    {"QRT_PoESetProtectTempRange", STATUS(QRT_PoESetProtectTempRange(h, 0, 0))},
    {"QRT_PoEGetProtectTempRange", STATUS(QRT_PoEGetProtectTempRange(h, nullptr, nullptr))},
#define POE_PROPERTY(p) \
    { "QRT_PoEGetProperty(" #p ")", STATUS(QRT_PoEGetProperty(h, p, nullptr)) }
    POE_PROPERTY(QRT_POE_PROP_STATE_FLAG0),
    POE_PROPERTY(QRT_POE_PROP_STATE_FLAG1),
    POE_PROPERTY(QRT_POE_PROP_STATE_FLAG5_CLEAR),
    POE_PROPERTY(QRT_POE_PROP_TEMPERATURE),
    POE_PROPERTY(QRT_POE_PROP_CONSUMED_BUDGET),
    POE_PROPERTY(QRT_POE_PROP_LEFT_BUDGET),
    POE_PROPERTY(QRT_POE_PROP_TOTAL_BUDGET),
#undef POE_PROPERTY
    {"QRT_PoEGetPortProperty",
     STATUS(QRT_PoEGetPortProperty(h, 0, QRT_POEPORT_PROP_CURRENT, nullptr))},

    {"QRT_FanGetNums", STATUS(QRT_FanGetNums(h, nullptr))},
    {"QRT_FanGetSpeed", STATUS(QRT_FanGetSpeed(h, 0, nullptr))},
    {"QRT_FanGetPWM", STATUS(QRT_FanGetPWM(h, 0, nullptr))},
    {"QRT_FanSetPWM", STATUS(QRT_FanSetPWM(h, 0, 100))},  // above 99 percent
    {"QRT_FanGetSmartFanEnable", STATUS(QRT_FanGetSmartFanEnable(h, 0, nullptr))},
    {"QRT_FanSetSmartFanEnable", STATUS(QRT_FanSetSmartFanEnable(h, kFar, 0))},

    {"QRT_DIOGetCapability", STATUS(QRT_DIOGetCapability(h, nullptr, 0))},
    {"QRT_DIOGetDINums", STATUS(QRT_DIOGetDINums(h, nullptr))},
    {"QRT_DIOGetDONums", STATUS(QRT_DIOGetDONums(h, nullptr))},
    {"QRT_DIOGetDICapability", STATUS(QRT_DIOGetDICapability(h, 0, nullptr, 0))},
    {"QRT_DIOGetDOCapability", STATUS(QRT_DIOGetDOCapability(h, 0, nullptr, 0))},
    {"QRT_DIOSetDOState", STATUS(QRT_DIOSetDOState(h, kFar, 0))},
    {"QRT_DIOSetDOStates", STATUS(QRT_DIOSetDOStates(h, nullptr, 1))},
    {"QRT_DIOGetDOState", STATUS(QRT_DIOGetDOState(h, kFar, nullptr))},
    {"QRT_DIOGetDOStates", STATUS(QRT_DIOGetDOStates(h, nullptr, 1))},
    {"QRT_DIOGetDIState", STATUS(QRT_DIOGetDIState(h, kFar, nullptr))},
    {"QRT_DIOGetDIStates", STATUS(QRT_DIOGetDIStates(h, nullptr, 1))},
    {"QRT_DIOSetDITriggerEnable", STATUS(QRT_DIOSetDITriggerEnable(h, kFar, 0))},
    {"QRT_DIOGetDITriggerEnable", STATUS(QRT_DIOGetDITriggerEnable(h, 0, nullptr))},
    {"QRT_DIOSetDOTriggerEnable", STATUS(QRT_DIOSetDOTriggerEnable(h, kFar, 0))},
    {"QRT_DIOGetDOTriggerEnable", STATUS(QRT_DIOGetDOTriggerEnable(h, 0, nullptr))},
    // No callback: stops a monitor, and none runs.
    {"QRT_DIOSetDITriggerCallback", STATUS(QRT_DIOSetDITriggerCallback(h, nullptr))},
    {"QRT_DIOSetDIDebounceTime", STATUS(QRT_DIOSetDIDebounceTime(h, kFar, 0))},
    {"QRT_DIOGetDIDebounceTime", STATUS(QRT_DIOGetDIDebounceTime(h, 0, nullptr))},
    {"QRT_DIOGetDIDebounceTimeUnit", STATUS(QRT_DIOGetDIDebounceTimeUnit(h, nullptr))},
    {"QRT_DIOSetDOInvertState", STATUS(QRT_DIOSetDOInvertState(h, kFar, 0))},
    {"QRT_DIOGetDOInvertState", STATUS(QRT_DIOGetDOInvertState(h, 0, nullptr))},
    {"QRT_DIOSetDIEdgeTrigger", STATUS(QRT_DIOSetDIEdgeTrigger(h, kFar, QRT_EDGE_TRIGGER_BOTH))},
    {"QRT_DIOGetDIEdgeTrigger", STATUS(QRT_DIOGetDIEdgeTrigger(h, kFar, nullptr))},
    {"QRT_DIOSetDITriggerPulseWidth", STATUS(QRT_DIOSetDITriggerPulseWidth(h, kFar, 0))},
    {"QRT_DIOGetDITriggerPulseWidth", STATUS(QRT_DIOGetDITriggerPulseWidth(h, 0, nullptr))},
    {"QRT_DIOGetDITriggerPulseWidthUnit", STATUS(QRT_DIOGetDITriggerPulseWidthUnit(h, nullptr))},
    {"QRT_DIOSetDOTriggerDelay", STATUS(QRT_DIOSetDOTriggerDelay(h, kFar, 0))},
    {"QRT_DIOGetDOTriggerDelay", STATUS(QRT_DIOGetDOTriggerDelay(h, 0, nullptr))},
    {"QRT_DIOGetDOTriggerDelayUnit", STATUS(QRT_DIOGetDOTriggerDelayUnit(h, nullptr))},
    {"QRT_DIOSetDOTriggerPulseWidth", STATUS(QRT_DIOSetDOTriggerPulseWidth(h, kFar, 0))},
    {"QRT_DIOGetDOTriggerPulseWidth", STATUS(QRT_DIOGetDOTriggerPulseWidth(h, 0, nullptr))},
    {"QRT_DIOGetDOTriggerPulseWidthUnit", STATUS(QRT_DIOGetDOTriggerPulseWidthUnit(h, nullptr))},
    {"QRT_DIOTriggerDO", STATUS(QRT_DIOTriggerDO(h, kFar))},
    {"QRT_DIOTriggerDOs", STATUS(QRT_DIOTriggerDOs(h, nullptr, 1))},
    {"QRT_DIOSetTrigger1vs1MappingTable", STATUS(QRT_DIOSetTrigger1vs1MappingTable(h, nullptr, 1))},
    {"QRT_DIOGetTrigger1vs1MappingTable", STATUS(QRT_DIOGetTrigger1vs1MappingTable(h, nullptr, 1))},
    {"QRT_DIOSetTrigger1vsMultipleMappingTable",
     STATUS(QRT_DIOSetTrigger1vsMultipleMappingTable(h, kFar, nullptr, 1))},
    {"QRT_DIOGetTrigger1vsMultipleMappingTable",
     STATUS(QRT_DIOGetTrigger1vsMultipleMappingTable(h, kFar, nullptr, 1))},
};
#undef STATUS

// The model string of a product: its identity text's "Product:" line.
std::string modelOf(void* h) {
    char text[512] = {};
    if (QRT_GetProductInfo(h, text, sizeof text) == QRT_SUCCESS) {
        const char* line = std::strstr(text, "Product:");
        if (line != nullptr) {
            std::string model(line + std::strlen("Product:"));
            return model.substr(0, model.find_first_of("\r\n"));
        }
    }
    return "type " + std::to_string(QRT_GetProductType(h));
}

// Columns go USB3 cards, PoE cards, embedded system.
int familyOf(void* h) {
    QRT_FEATURE_TYPE features[8];
    const int count = QRT_GetFeatureList(h, features, 8);
    int family = 1;
    for (int i = 0; i < count && i < 8; ++i) {
        if (features[i] == QRT_FEATURE_POWER_CONTROLLER) family = 0;
        if (features[i] == QRT_FEATURE_DIO) family = 2;
    }
    return family;
}

int probe() {
    for (unsigned i = 0; i < QRT_GetProductNums(); ++i) {
        void* h = QRT_GetProductHandle(i);
        const std::string model = modelOf(h);
        const int family = familyOf(h);
        const int type = QRT_GetProductType(h);
        for (const Probe& p : kProbes) {
            const Answer answer = p.ask(h);
            std::printf("%s\t%d\t%d\t%s\t%s\n", model.c_str(), family, type, p.call,
                        answer == kYes  ? "yes"
                        : answer == kNo ? "no"
                                        : "unknown");
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// ---- the page -------------------------------------------------------------------------------

struct Model {
    int family = 0;
    int type = 0;
    std::map<std::string, std::set<std::string>> answers;  // call -> answers over its boards
};

std::string cell(const std::set<std::string>& answers) {
    if (answers.size() != 1) return "some";  // boards of the model differ
    const std::string& a = *answers.begin();
    return a == "yes" ? "yes" : a == "no" ? "-" : "?";
}

int table(const char* path) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << "qrt_support_matrix: cannot read " << path << "\n";
        return 1;
    }
    std::map<std::string, Model> models;
    std::vector<std::string> rigs;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        if (f.size() == 2 && f[0] == "rig") {
            rigs.push_back(f[1]);
        } else if (f.size() == 5) {
            Model& m = models[f[0]];
            m.family = std::stoi(f[1]);
            m.type = std::stoi(f[2]);
            m.answers[f[3]].insert(f[4]);
        } else if (!line.empty()) {
            std::cerr << "qrt_support_matrix: not a probe line: " << line << "\n";
            return 1;
        }
    }
    // Models that answer alike share a column.
    std::map<std::vector<std::string>, std::vector<std::string>> columns;
    std::map<std::vector<std::string>, std::pair<int, int>> order;
    for (const auto& [name, m] : models) {
        std::vector<std::string> key;
        for (const Probe& p : kProbes) {
            auto found = m.answers.find(p.call);
            key.push_back(found == m.answers.end() ? "" : cell(found->second));
        }
        columns[key].push_back(name);
        auto rank = std::make_pair(m.family, m.type);
        auto at = order.find(key);
        if (at == order.end() || rank < at->second) order[key] = rank;
    }
    std::vector<std::pair<std::pair<int, int>, std::vector<std::string>>> sorted;
    for (const auto& [key, rank] : order) sorted.push_back({rank, key});
    std::sort(sorted.begin(), sorted.end());

    std::cout << "# Support matrix {#support_matrix}\n\n"
                 "Which C API calls each product supports, as the products answer them on the "
                 "virtual rig.\nGenerated by `qrt_support_matrix` (docs/matrix/) from every rig "
                 "in docs/ and tests/;\n`cmake --build build --target support-matrix` writes it "
                 "again, and the test\n`support_matrix_current` fails when this page differs "
                 "from what it writes.\n\n"
                 "\"yes\": the product has the component and implements the call; \"-\": it "
                 "answers\nQRT_ERR_NOT_SUPPORTED. Each call was made with arguments the products "
                 "refuse before they\ntouch the hardware (a null output, an index past the last, "
                 "a value out of range), as a read,\nor, for settings that refuse no value, with "
                 "the value they already hold. Models that answer\nalike share a column. Some "
                 "calls also depend on the line or the firmware:\n\n"
                 "- QRT_DIOGetDIState, QRT_DIOSetDIEdgeTrigger, QRT_DIOGetDIEdgeTrigger and "
                 "QRT_DIOGetDOState\n  need the line's capability (QRT_DIOGetDICapability, "
                 "QRT_DIOGetDOCapability).\n"
                 "- QRT_PoESetPowConsumCalcModel and QRT_PoEGetPowConsumCalcModel need "
                 "microcontroller firmware\n  newer than 1.13 on the PoE cards on a PCIe switch "
                 "(the rig's is 2.1).\n"
                 "- QRT_ExPowSupGetNums and QRT_ExPowSupGetState of the 4- and 8-port USB3 cards "
                 "need a board\n  with the input (PCB revision 2 or more: the P models).\n\n";
    std::cout << "| Call |";
    for (const auto& column : sorted) {
        const std::vector<std::string>& names = columns[column.second];
        std::cout << " ";
        for (size_t i = 0; i < names.size(); ++i) std::cout << (i ? "<br>" : "") << names[i];
        std::cout << " |";
    }
    std::cout << "\n|---|";
    for (size_t i = 0; i < sorted.size(); ++i) std::cout << "---|";
    std::cout << "\n";
    for (size_t row = 0; row < sizeof kProbes / sizeof kProbes[0]; ++row) {
        // "()" lets the reference link the name to the call's documentation.
        const std::string call = kProbes[row].call;
        std::cout << "| " << call << (call.find('(') == std::string::npos ? "()" : "") << " |";
        for (const auto& column : sorted) std::cout << " " << column.second[row] << " |";
        std::cout << "\n";
    }
    std::cout << "\nQRT_GetSDKInfo, QRT_GetProductNums and QRT_GetProductHandle take no product "
                 "and work everywhere.\n\nRigs:";
    for (const std::string& rig : rigs) std::cout << " " << rig;
    std::cout << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "probe") == 0) return probe();
    if (argc == 3 && std::strcmp(argv[1], "table") == 0) return table(argv[2]);
    std::cerr << "usage: qrt_support_matrix probe | table FILE\n";
    return 2;
}
