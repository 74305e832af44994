// Every component function of the C API reaches the right operation of the right component
// with its arguments unchanged and returns the operation's result; a null handle and a
// product without the component are answered by the C API itself.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "FakeProduct.h"
#include "PublicHeader.h"
#include "QRT_SDK.h"
#include "api/QRT_ComponentLookup.h"

extern "C" {
int qrtTestPoEGetPropertyRaw(void* handle, int property, float* value);
int qrtTestPoEGetPortPropertyRaw(void* handle, unsigned int port, int property, float* value);
int qrtTestToESetTriggerActivationRaw(void* handle, int edge);
int qrtTestSetCallbackFromC(void* handle);
}

namespace {

using qrttest::describeCall;
using qrttest::FakeCard;
using qrttest::PlainProduct;

// Buffers the calls point into; every pointer argument in the table is distinct.
struct Buffers {
    unsigned count;
    int states[4];
    unsigned lines[4];
    int value1, value2;
    unsigned flag;
    unsigned long word1, word2, word3;
    float reading;
    QRT_EDGETRIGGER_TYPE edge;
    QRT_DIOCAPABILITY_TYPE caps[2];
    QRT_DIODICAPABILITY_TYPE diCaps[3];
    QRT_DIODOCAPABILITY_TYPE doCaps[2];
} g;

void onInputChange(unsigned, int) {}

struct ForwardingCase {
    const char* function;
    QRT_FEATURE_TYPE feature;
    std::function<int(void*)> call;
    std::string expectedOperation;
};

// Integers differ per argument position and use the upper half of 64-bit words, so that a
// swapped, dropped or truncated argument shows in the recorded call.
#define FORWARDS(function, feature, operation, ...)                                              \
    ForwardingCase {                                                                             \
#function, feature,                                                                      \
            [](void* h) { return function(h, __VA_ARGS__); },                                    \
                                                           describeCall(#operation, __VA_ARGS__) \
    }

constexpr QRT_FEATURE_TYPE kPow = QRT_FEATURE_POWER_CONTROLLER;
constexpr QRT_FEATURE_TYPE kPoE = QRT_FEATURE_POE;
constexpr QRT_FEATURE_TYPE kToE = QRT_FEATURE_TOE;
constexpr QRT_FEATURE_TYPE kDIO = QRT_FEATURE_DIO;
constexpr QRT_FEATURE_TYPE kSup = QRT_FEATURE_EX_POWER_SUPPLY;
constexpr QRT_FEATURE_TYPE kFan = QRT_FEATURE_FAN;

const std::vector<ForwardingCase>& forwardingCases() {
    static const std::vector<ForwardingCase> cases = {
        FORWARDS(QRT_PowCtrlGetPortNums, kPow, getPowerPortNums, &g.count),
        FORWARDS(QRT_PowCtrlSetPortEnable, kPow, setPowerPortEnable, g.states, 11u),
        FORWARDS(QRT_PowCtrlGetPortEnable, kPow, getPowerPortEnable, g.states, 12u),

        FORWARDS(QRT_ExPowSupGetNums, kSup, getExPowSupplytNums, &g.count),
        FORWARDS(QRT_ExPowSupGetState, kSup, getExPowSupplyStates, g.states, 3u),

        FORWARDS(QRT_ToEGetPortNums, kToE, getToEPortNums, &g.count),
        FORWARDS(QRT_ToESendActionCommand, kToE, sendToEActionCommand, -7),
        FORWARDS(QRT_ToESetActionCommand, kToE, setToEActionCommand, 5u, 0x1111222233334444ul,
                 0x5555666677778888ul, 0x9999AAAABBBBCCCCul),
        FORWARDS(QRT_ToEGetActionCommand, kToE, getToEActionCommand, 6u, &g.word1, &g.word2,
                 &g.word3),
        FORWARDS(QRT_ToESetTriggerSource, kToE, setToETriggerSource, 21),
        FORWARDS(QRT_ToEGetTriggerSource, kToE, getToETriggerSource, &g.value1),
        FORWARDS(QRT_ToESetTriggerEnable, kToE, setToETriggerEnable, 22),
        FORWARDS(QRT_ToEGetTriggerEnable, kToE, getToETriggerEnable, &g.value2),
        FORWARDS(QRT_ToESetTriggerActivation, kToE, setToEEdgeTriggerMode, QRT_EDGE_TRIGGER_BOTH),
        FORWARDS(QRT_ToEGetTriggerActivation, kToE, getToEEdgeTriggerMode, &g.edge),
        FORWARDS(QRT_ToESetOneTriggerAllMode, kToE, setToEOneTriggerAllMode, 23),
        FORWARDS(QRT_ToEGetOneTriggerAllMode, kToE, getToEOneTriggerAllMode, &g.value1),
        FORWARDS(QRT_ToESetExTriggerDebounce, kToE, setToEExTriggerDebounce, 0x123456789ul),
        FORWARDS(QRT_ToEGetExTriggerDebounce, kToE, getToEExTriggerDebounce, &g.word1),
        FORWARDS(QRT_ToEGetExTriggerDebounceUnit, kToE, getToEExTriggerDebounceUnit, &g.word2),
        FORWARDS(QRT_ToEGetTriggerCount, kToE, getToETriggerCount, 3u, &g.lines[0], &g.lines[1]),
        ForwardingCase{"QRT_ToEResetTriggerCount", kToE,
                       [](void* h) { return QRT_ToEResetTriggerCount(h); },
                       describeCall("resetToETriggerCount")},

        FORWARDS(QRT_PoEGetPortNums, kPoE, getPoEPortNums, &g.count),
        FORWARDS(QRT_PoESetPortEnable, kPoE, setPoEPortEnable, g.states, 4u),
        FORWARDS(QRT_PoEGetPortEnable, kPoE, getPoEPortEnable, &g.states[1], 2u),
        FORWARDS(QRT_PoESetPowConsumCalcModel, kPoE, setPoEPowConsumCalcProps, 31),
        FORWARDS(QRT_PoEGetPowConsumCalcModel, kPoE, getPoEPowConsumCalcProps, &g.value1),
        FORWARDS(QRT_PoESetProtectTempRange, kPoE, setPoEProtectTempRange, 85, 70),
        FORWARDS(QRT_PoEGetProtectTempRange, kPoE, getPoEProtectTempRange, &g.value1, &g.value2),
        FORWARDS(QRT_PoEGetProperty, kPoE, getPoEProperty, QRT_POE_PROP_LEFT_BUDGET, &g.reading),
        FORWARDS(QRT_PoEGetPortProperty, kPoE, getPoEPortProperty, 3u, QRT_POEPORT_PROP_POWER_GOOD,
                 &g.reading),

        FORWARDS(QRT_FanGetNums, kFan, getFanNums, &g.count),
        FORWARDS(QRT_FanGetSpeed, kFan, getFanSpeed, 41u, &g.flag),
        FORWARDS(QRT_FanGetPWM, kFan, getFanPWM, 42u, &g.value1),
        FORWARDS(QRT_FanSetPWM, kFan, setFanPWM, 43u, 77),
        FORWARDS(QRT_FanGetSmartFanEnable, kFan, getSmartFanEnable, 44u, &g.value2),
        FORWARDS(QRT_FanSetSmartFanEnable, kFan, setSmartFanEnable, 45u, 46),

        FORWARDS(QRT_DIOGetCapability, kDIO, getCapability, g.caps, 2u),
        FORWARDS(QRT_DIOGetDINums, kDIO, getDINums, &g.count),
        FORWARDS(QRT_DIOGetDONums, kDIO, getDONums, &g.flag),
        FORWARDS(QRT_DIOGetDICapability, kDIO, getDICapability, 51u, g.diCaps, 3u),
        FORWARDS(QRT_DIOGetDOCapability, kDIO, getDOCapability, 52u, g.doCaps, 2u),
        FORWARDS(QRT_DIOSetDOState, kDIO, setDOState, 53u, 1),
        FORWARDS(QRT_DIOSetDOStates, kDIO, setDOStates, g.states, 4u),
        FORWARDS(QRT_DIOGetDOState, kDIO, getDOState, 54u, &g.value1),
        FORWARDS(QRT_DIOGetDOStates, kDIO, getDOStates, &g.states[2], 2u),
        FORWARDS(QRT_DIOGetDIState, kDIO, getDIState, 55u, &g.value2),
        FORWARDS(QRT_DIOGetDIStates, kDIO, getDIStates, &g.states[1], 3u),
        FORWARDS(QRT_DIOSetDITriggerEnable, kDIO, setDITriggerEnable, 56u, 57u),
        FORWARDS(QRT_DIOGetDITriggerEnable, kDIO, getDITriggerEnable, 58u, &g.flag),
        FORWARDS(QRT_DIOSetDOTriggerEnable, kDIO, setDOTriggerEnable, 59u, 60u),
        FORWARDS(QRT_DIOGetDOTriggerEnable, kDIO, getDOTriggerEnable, 61u, &g.lines[3]),
        FORWARDS(QRT_DIOSetDITriggerCallback, kDIO, setDITriggerCallback, &onInputChange),
        FORWARDS(QRT_DIOSetDIDebounceTime, kDIO, setDIDebounceTime, 62u, 0xF00000001ul),
        FORWARDS(QRT_DIOGetDIDebounceTime, kDIO, getDIDebounceTime, 63u, &g.word1),
        FORWARDS(QRT_DIOGetDIDebounceTimeUnit, kDIO, getDIDebounceTimeUnit, &g.word2),
        FORWARDS(QRT_DIOSetDOInvertState, kDIO, setDOInvertState, 64u, 65),
        FORWARDS(QRT_DIOGetDOInvertState, kDIO, getDOInvertState, 66u, &g.value1),
        FORWARDS(QRT_DIOSetDIEdgeTrigger, kDIO, setDIEdgeTrigger, 67u, QRT_EDGE_TRIGGER_EDGE1),
        FORWARDS(QRT_DIOGetDIEdgeTrigger, kDIO, getDIEdgeTrigger, 68u, &g.edge),
        FORWARDS(QRT_DIOSetDITriggerPulseWidth, kDIO, setDITriggerPulseWidth, 69u, 0xE00000002ul),
        FORWARDS(QRT_DIOGetDITriggerPulseWidth, kDIO, getDITriggerPulseWidth, 70u, &g.word3),
        FORWARDS(QRT_DIOGetDITriggerPulseWidthUnit, kDIO, getDITriggerPulseWidthUnit, &g.word1),
        FORWARDS(QRT_DIOSetDOTriggerDelay, kDIO, setDOTriggerDelay, 71u, 0xD00000003ul),
        FORWARDS(QRT_DIOGetDOTriggerDelay, kDIO, getDOTriggerDelay, 72u, &g.word2),
        FORWARDS(QRT_DIOGetDOTriggerDelayUnit, kDIO, getDOTriggerDelayUnit, &g.word3),
        FORWARDS(QRT_DIOSetDOTriggerPulseWidth, kDIO, setDOTriggerPulseWidth, 73u, 0xC00000004ul),
        FORWARDS(QRT_DIOGetDOTriggerPulseWidth, kDIO, getDOTriggerPulseWidth, 74u, &g.word1),
        FORWARDS(QRT_DIOGetDOTriggerPulseWidthUnit, kDIO, getDOTriggerPulseWidthUnit, &g.word2),
        FORWARDS(QRT_DIOTriggerDO, kDIO, triggerDO, 75u),
        FORWARDS(QRT_DIOTriggerDOs, kDIO, triggerDOs, g.lines, 4u),
        FORWARDS(QRT_DIOSetTrigger1vs1MappingTable, kDIO, setTrigger1vs1MappingTable, g.lines, 3u),
        FORWARDS(QRT_DIOGetTrigger1vs1MappingTable, kDIO, getTrigger1vs1MappingTable, &g.lines[1],
                 2u),
        FORWARDS(QRT_DIOSetTrigger1vsMultipleMappingTable, kDIO, setTrigger1vsMultipleMappingTable,
                 76u, &g.lines[2], 2u),
        FORWARDS(QRT_DIOGetTrigger1vsMultipleMappingTable, kDIO, getTrigger1vsMultipleMappingTable,
                 77u, &g.lines[0], 1u),
    };
    return cases;
}

void PrintTo(const ForwardingCase& c, std::ostream* os) {
    *os << c.function;
}

class ComponentFunction : public ::testing::TestWithParam<ForwardingCase> {};

TEST_P(ComponentFunction, ReachesItsOperationWithTheArgumentsUnchanged) {
    FakeCard card;
    card.result = -77;  // no code the C API makes itself: it must be the component's answer
    EXPECT_EQ(GetParam().call(card.handle()), -77);
    EXPECT_EQ(card.log.featureRequests, std::vector<int>{GetParam().feature});
    EXPECT_EQ(card.log.operations, std::vector<std::string>{GetParam().expectedOperation});
}

TEST_P(ComponentFunction, RejectsANullHandle) {
    EXPECT_EQ(GetParam().call(nullptr), QRT_ERR_INVALID_PARAM);
}

TEST_P(ComponentFunction, AnswersNotSupportedWhenTheProductLacksTheComponent) {
    PlainProduct product;
    EXPECT_EQ(GetParam().call(static_cast<I_nkProduct*>(&product)), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(product.log.featureRequests, std::vector<int>{GetParam().feature});
    EXPECT_TRUE(product.log.operations.empty());
}

// An exception is no answer a C caller can take: the call fails instead.
TEST_P(ComponentFunction, AnExceptionInTheComponentAnswersFailed) {
    FakeCard card;
    card.throwing = true;
    EXPECT_EQ(GetParam().call(card.handle()), QRT_ERR_FAILED);
}

INSTANTIATE_TEST_SUITE_P(CApi, ComponentFunction, ::testing::ValuesIn(forwardingCases()),
                         [](const ::testing::TestParamInfo<ForwardingCase>& info) {
                             return std::string(info.param.function);
                         });

TEST(ComponentFunctionTable, CoversEveryComponentFunctionOfThePublicHeader) {
    std::set<std::string> declared;
    for (const std::string& name : qrttest::publicHeaderFunctions())
        if (!qrttest::productLevelFunctions().count(name)) declared.insert(name);
    std::set<std::string> tested;
    for (const ForwardingCase& c : forwardingCases()) tested.insert(c.function);
    EXPECT_EQ(forwardingCases().size(), 75u);
    EXPECT_EQ(tested, declared);
}

// The three range checks come before the lookup: they answer -11 even on a product without
// the component, and the product is not asked anything.
TEST(RangeChecks, RejectValuesAboveTheirEnumerationBeforeTheLookup) {
    PlainProduct product;
    void* handle = static_cast<I_nkProduct*>(&product);
    float value = 0;
    EXPECT_EQ(QRT_PoEGetProperty(handle, static_cast<QRT_POEPROPERTY_TYPE>(7), &value),
              QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(QRT_PoEGetPortProperty(handle, 0, static_cast<QRT_POEPORTPROPERTY_TYPE>(5), &value),
              QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(QRT_ToESetTriggerActivation(handle, static_cast<QRT_EDGETRIGGER_TYPE>(3)),
              QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(qrtTestPoEGetPropertyRaw(handle, 0x7FFFFFFF, &value), QRT_ERR_INVALID_PARAM);
    EXPECT_TRUE(product.log.featureRequests.empty());

    // The largest valid value passes the check; the missing component is reported next.
    EXPECT_EQ(QRT_ToESetTriggerActivation(handle, QRT_EDGE_TRIGGER_BOTH), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(QRT_PoEGetProperty(handle, QRT_POE_PROP_TOTAL_BUDGET, &value), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(QRT_PoEGetPortProperty(handle, 0, QRT_POEPORT_PROP_LAST_STATE, &value),
              QRT_ERR_NOT_SUPPORTED);
}

TEST(RangeChecks, CompareSignedSoNegativeValuesReachTheProduct) {
    FakeCard card;
    float value = 0;
    EXPECT_EQ(qrtTestPoEGetPropertyRaw(card.handle(), -1, &value), 0);
    EXPECT_EQ(qrtTestPoEGetPortPropertyRaw(card.handle(), 2, -3, &value), 0);
    EXPECT_EQ(qrtTestToESetTriggerActivationRaw(card.handle(), -2), 0);
    EXPECT_EQ(card.log.operations,
              (std::vector<std::string>{describeCall("getPoEProperty", -1, &value),
                                        describeCall("getPoEPortProperty", 2, -3, &value),
                                        describeCall("setToEEdgeTriggerMode", -2)}));
}

TEST(ComponentCallFromC, RegistersTheApplicationsCallback) {
    FakeCard card;
    EXPECT_EQ(qrtTestSetCallbackFromC(card.handle()), 0);
    ASSERT_EQ(card.log.operations.size(), 1u);
    EXPECT_EQ(card.log.operations[0].rfind("setDITriggerCallback(0x", 0), 0u);
}

// The lookups hand out the product's facets; a component pointer is the same object seen
// through the component's interface.
TEST(ComponentLookups, ReturnTheProductsFacetForTheirFeatureNumber) {
    FakeCard card;
    EXPECT_EQ(__GetQRTPowCtrlHandle(card.handle()), static_cast<I_powerController*>(&card));
    EXPECT_EQ(__GetPoEHandle(card.handle()), static_cast<I_poe*>(&card));
    EXPECT_EQ(__GetToEHandle(card.handle()), static_cast<I_toe*>(&card));
    EXPECT_EQ(__GetDIOHandle(card.handle()), static_cast<I_dio*>(&card));
    EXPECT_EQ(__GetExPowSupHandle(card.handle()), static_cast<I_exPowerSupply*>(&card));
    EXPECT_EQ(__GetFanHandle(card.handle()), static_cast<I_fan*>(&card));
    EXPECT_EQ(card.log.featureRequests, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(ComponentLookups, AnswerNullForANullHandleOrAMissingComponent) {
    EXPECT_EQ(__GetPoEHandle(nullptr), nullptr);
    EXPECT_EQ(__GetFanHandle(nullptr), nullptr);
    PlainProduct product;
    EXPECT_EQ(__GetDIOHandle(static_cast<I_nkProduct*>(&product)), nullptr);
}

}  // namespace
