// The PoE card models on rig boards: which class accepts which board, and the few answers
// that differ between the models.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "poe/PoeBench.h"
#include "product/poe/C_GPUPX000.h"
#include "product/poe/C_rhx5x.h"
#include "product/poe/C_rhx5xPro.h"
#include "product/poe/C_rhx5xp.h"
#include "product/poe/C_rhx5xpPro.h"

namespace {

using poetest::RigCard;

// The classes in the order the product manager offers a board to them.
const std::vector<std::pair<const char*, std::function<A_poeSeries*()>>> kClasses = {
    {"C_GPUPX000", [] { return new C_GPUPX000(); }},   {"C_rhx5xp", [] { return new C_rhx5xp(); }},
    {"C_rhx5xpPro", [] { return new C_rhx5xpPro(); }}, {"C_rhx5x", [] { return new C_rhx5x(); }},
    {"C_rhx5xPro", [] { return new C_rhx5xPro(); }},
};

TEST(PoeModels, EachBoardIsAcceptedByItsClassAloneAndMisfitsByNone) {
    struct Case {
        const char* model;
        std::map<std::string, std::string> keys;
        const char* accepting;  // null: no class
        QRT_PRODUCT_TYPE type;
        unsigned ports;
    } cases[] = {
        {"PCIe-RHX52", {}, "C_rhx5x", QRT_PRODUCT_RHX52, 2},
        {"PCIe-RHX54", {}, "C_rhx5x", QRT_PRODUCT_RHX54, 4},
        // The same straps with the Pro CPLD design.
        {"PCIe-RHX52", {{"cpld_version", "20170126_1417"}}, "C_rhx5xPro", QRT_PRODUCT_RHX52PRO, 2},
        {"PCIe-RHX54PRO", {}, "C_rhx5xPro", QRT_PRODUCT_RHX54PRO, 4},
        {"PCIe-RHX54", {{"cpld_version", "20160718_1112"}}, nullptr, QRT_PRODUCT_UNKNOWN, 0},
        {"PCIe-RHX54", {{"pcb_version", "2"}}, nullptr, QRT_PRODUCT_UNKNOWN, 0},
        {"PCIe-RHX54P", {{"pn", "XYZ27640-0A"}}, "C_rhx5xp", QRT_PRODUCT_RHX54P, 4},
        {"PCIe-RHX52P", {{"pn", "RHX27640-14"}}, "C_rhx5xp", QRT_PRODUCT_RHX52P, 2},
        {"PCIe-RHX54PAT", {}, "C_rhx5xp", QRT_PRODUCT_RHX54PAT, 4},
        {"PCIe-RHX54IPRO", {}, "C_rhx5xpPro", QRT_PRODUCT_RHX54IPRO, 4},
        {"PCIe-RHX52PPRO", {}, "C_rhx5xpPro", QRT_PRODUCT_RHX52PPRO, 2},
        // The board part number at the very start of the text, or on a PCB revision 1 board.
        {"PCIe-RHX54P", {{"pn", "27640-0B"}}, nullptr, QRT_PRODUCT_UNKNOWN, 0},
        {"PCIe-RHX54PPRO", {{"pcb_version", "1"}}, nullptr, QRT_PRODUCT_UNKNOWN, 0},
        {"PCIe-RHXGPU-P1000", {{"pcb_version", "6"}}, "C_GPUPX000", QRT_PRODUCT_RHXGPU_P1000, 4},
    };
    for (const Case& c : cases) {
        RigCard rig(c.model, c.keys);
        for (const auto& [name, make] : kClasses) {
            SCOPED_TRACE(std::string(c.model) + " offered to " + name);
            std::unique_ptr<A_poeSeries> card(make());
            const bool accepts = c.accepting != nullptr && std::string(c.accepting) == name;
            EXPECT_EQ(card->initial(rig.pciMap()), accepts ? 0 : QRT_ERR_NOT_INITIALIZED);
            if (!accepts) continue;
            QRT_PRODUCT_TYPE type;
            unsigned ports = 0;
            ASSERT_EQ(card->getType(&type), 0);
            card->getPoEPortNums(&ports);
            EXPECT_EQ(type, c.type);
            EXPECT_EQ(ports, c.ports);
            EXPECT_EQ(card->initial(rig.pciMap()), 0);  // again: still accepted
        }
    }
}

TEST(PoeModels, InputsDescriptionsAndFanCheckTheirIndex) {
    RigCard pro("PCIe-RHX54PRO");
    C_rhx5xPro proCard;
    ASSERT_EQ(proCard.initial(pro.pciMap()), 0);
    int states[2] = {7, 7};
    char text[32];
    EXPECT_EQ(proCard.getExPowSupplyStates(states, 1), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(states[0], 7);
    EXPECT_EQ(proCard.getExPowSupplyDescription(1, text, sizeof text), 0);
    EXPECT_STREQ(text, "6-Pin Connector");
    EXPECT_EQ(proCard.getExPowSupplyDescription(2, text, sizeof text), QRT_ERR_INVALID_PARAM);

    RigCard gpu("PCIe-RHXGPU-P1000");
    C_GPUPX000 gpuCard;
    ASSERT_EQ(gpuCard.initial(gpu.pciMap()), 0);
    EXPECT_EQ(gpuCard.getFanDescription(0, text, sizeof text), 0);
    EXPECT_STREQ(text, "The FAN on the NVidia P1000");
    EXPECT_EQ(gpuCard.getFanDescription(1, text, sizeof text), QRT_ERR_INVALID_PARAM);
    QRT_FEATURE_TYPE list[4] = {QRT_FEATURE_TYPE(7), QRT_FEATURE_TYPE(7)};
    EXPECT_EQ(gpuCard.getFeatureList(list, 3), 4u);
    EXPECT_EQ(list[0], QRT_FEATURE_TYPE(7));
    EXPECT_EQ(gpuCard.getExPowSupplyDescription(0, text, sizeof text), 0);
    EXPECT_STREQ(text, "6-Pin Connector");
}

}  // namespace
