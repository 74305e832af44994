// The USB3 card products on a fake card: identification by part number, port numbering of the
// 4-, 8- and 12-port models, the external supply input and the information text.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "C_visionProductFactory.h"
#include "product/usb3/C_w51X.h"
#include "usb3/FakeUsb3Card.h"

namespace {

constexpr int kPex8718 = 0x8718;
constexpr int kPex8608 = 0x8608;
using Ports = std::vector<int>;

bool pex8608PinIsOutput(FakeUsb3Card& card, unsigned pin) {
    return (card.registers[0x62C] >> (2 * pin + 1)) & 1;
}

TEST(W5Identification, EachModelByThePartNumberBehindItsPrefix) {
    struct Case {
        const char* pn;
        int device;
        bool twelve;
        QRT_PRODUCT_TYPE type;
        unsigned ports;
    };
    const Case cases[] = {
        {"XYZ53104-20", kPex8718, false, QRT_PRODUCT_W508, 8},
        {"---53104-10", kPex8718, false, QRT_PRODUCT_W504, 4},
        {"---53104-11", kPex8608, false, QRT_PRODUCT_W504P, 4},
        {"---53104-21", kPex8608, false, QRT_PRODUCT_W508P, 8},
        {"---53104-30", kPex8608, true, QRT_PRODUCT_W512, 12},
        {"---53104-31", kPex8608, true, QRT_PRODUCT_W512P, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pn);
        FakeUsb3Card card(c.device, c.pn);
        std::unique_ptr<C_w50X> product(c.twelve ? new C_w51X() : new C_w50X());
        ASSERT_EQ(product->initial(&card), QRT_SUCCESS);
        QRT_PRODUCT_TYPE type;
        unsigned ports = 0;
        ASSERT_EQ(product->getType(&type), QRT_SUCCESS);
        ASSERT_EQ(product->getPowerPortNums(&ports), QRT_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(ports, c.ports);
        EXPECT_EQ(card.unknownWords, 0);
        // Fewer entries than ports are refused on every model.
        Ports shortList(c.ports - 1, 1);
        EXPECT_EQ(product->setPowerPortEnable(shortList.data(), c.ports - 1),
                  QRT_ERR_INVALID_PARAM);
        EXPECT_EQ(card.powerWrites, 0);
    }
}

TEST(W5Identification, OtherPartNumbersSwitchesAndClassesAreRejected) {
    FakeUsb3Card noPrefix(kPex8718, "53104-20");
    C_w50X w50x;
    EXPECT_EQ(w50x.initial(&noPrefix), QRT_ERR_NOT_INITIALIZED);
    QRT_PRODUCT_TYPE type;
    EXPECT_EQ(w50x.getType(&type), QRT_ERR_NOT_INITIALIZED);
    FakeUsb3Card twelvePort(kPex8608, "ABC53104-30");
    EXPECT_EQ(C_w50X().initial(&twelvePort), QRT_ERR_NOT_INITIALIZED);
    FakeUsb3Card eightPort(kPex8608, "ABC53104-21");
    EXPECT_EQ(C_w51X().initial(&eightPort), QRT_ERR_NOT_INITIALIZED);
    FakeUsb3Card twelveOn8718(kPex8718, "ABC53104-31");  // 12-port cards are PEX 8608 only
    EXPECT_EQ(C_w51X().initial(&twelveOn8718), QRT_ERR_NOT_INITIALIZED);
}

TEST(W5Information, TheTextListsModelVersionNumbersAndPcbVersion) {
    FakeUsb3Card card(kPex8608, "ABC53104-11");
    card.serialNumber = "W5-000042";
    card.versionAnswer = 0x0105;
    card.setInputPin(10, true);  // PEX 8608 straps: pins 2 and 10 give PCB version 2
    C_w50X product;
    char text[256];
    EXPECT_EQ(product.getInfo(text, sizeof(text)), QRT_ERR_NOT_INITIALIZED);
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    EXPECT_EQ(product.getInfo(text, 0), QRT_ERR_INVALID_PARAM);
    ASSERT_EQ(product.getInfo(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text,
                 "Product:PCIe-W504P\r\nMCUVersion:1.5\r\nPN:ABC53104-11\r\nSN:W5-000042\r\n"
                 "PCBVersion:2\r\n");
    ASSERT_EQ(product.getInfo(text, 10), QRT_SUCCESS);
    EXPECT_STREQ(text, "Product:P");
    ASSERT_EQ(product.getSN(text, 8), QRT_SUCCESS);
    EXPECT_STREQ(text, "W5-0000");

    FakeUsb3Card pex8718(kPex8718, "ABC53104-10");
    pex8718.setInputPin(0, true);  // PEX 8718 straps: pins 0 and 4
    pex8718.setInputPin(4, true);
    C_w50X w504;
    ASSERT_EQ(w504.initial(&pex8718), QRT_SUCCESS);
    ASSERT_EQ(w504.getInfo(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_NE(std::string(text).find("PCBVersion:3\r\n"), std::string::npos);
}

TEST(W5Power, FourPortCardsUseTheEvenChannelsEightPortCardsAllOfThem) {
    FakeUsb3Card card4(kPex8718, "ABC53104-10");
    C_w50X w504;
    ASSERT_EQ(w504.initial(&card4), QRT_SUCCESS);
    int enables[8] = {1, 0, 1, 1};
    ASSERT_EQ(w504.setPowerPortEnable(enables, 4), QRT_SUCCESS);
    EXPECT_EQ(card4.powerMask, 0x51u);
    int state[8] = {-1, -1, -1, -1};
    ASSERT_EQ(w504.getPowerPortEnable(state, 2), QRT_SUCCESS);
    EXPECT_EQ(Ports(state, state + 4), (Ports{1, 0, -1, -1}));

    FakeUsb3Card card8(kPex8608, "ABC53104-20");
    C_w50X w508;
    ASSERT_EQ(w508.initial(&card8), QRT_SUCCESS);
    int eight[8] = {0, 1, 1, 0, 0, 0, 0, 1};
    ASSERT_EQ(w508.setPowerPortEnable(eight, 8), QRT_SUCCESS);
    EXPECT_EQ(card8.powerMask, 0x86u);
    EXPECT_EQ(w508.getPowerPortEnable(state, 4), QRT_ERR_INVALID_PARAM);
    ASSERT_EQ(w508.getPowerPortEnable(state, 8), QRT_SUCCESS);
    EXPECT_EQ(Ports(state, state + 8), Ports(eight, eight + 8));
}

TEST(W5Power, TwelvePortCardsPowerPortsEightToElevenThroughSwitchPins) {
    FakeUsb3Card card(kPex8608, "ABC53104-30");
    C_w51X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    card.registers[0x62C] |= 1u;  // a chip-owned bit that must survive
    // Only read, so a list in read-only memory works and stays as it was.
    static const int kOnlyPort8[12] = {1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0};
    ASSERT_EQ(product.setPowerPortEnable(const_cast<int*>(kOnlyPort8), 12), QRT_SUCCESS);
    EXPECT_EQ(card.powerMask, 0x81u);
    EXPECT_FALSE(pex8608PinIsOutput(card, 7));  // port 8 powered: pin 7 an input
    EXPECT_TRUE(pex8608PinIsOutput(card, 6) && pex8608PinIsOutput(card, 8) &&
                pex8608PinIsOutput(card, 9));
    EXPECT_TRUE(card.registers[0x62C] & 1u);

    const unsigned pinOfPort[4] = {7, 6, 9, 8};
    for (unsigned port = 8; port < 12; ++port) {
        SCOPED_TRACE(port);
        int only[12] = {};
        only[port] = 1;
        ASSERT_EQ(product.setPowerPortEnable(only, 12), QRT_SUCCESS);
        for (unsigned pin = 6; pin <= 9; ++pin)
            EXPECT_EQ(pex8608PinIsOutput(card, pin), pin != pinOfPort[port - 8]);
        int state[12];
        ASSERT_EQ(product.getPowerPortEnable(state, 12), QRT_SUCCESS);
        EXPECT_EQ(Ports(state, state + 12), Ports(only, only + 12));
    }
}

TEST(W5Supply, OnlyBoardsFromPcbVersionTwoHaveTheSupplyInputOnPinOneActiveLow) {
    FakeUsb3Card old(kPex8718, "ABC53104-20");
    old.setInputPin(0, true);  // PCB version 1
    C_w50X oldCard;
    ASSERT_EQ(oldCard.initial(&old), QRT_SUCCESS);
    int state = -1;
    EXPECT_EQ(oldCard.getExPowSupplyStates(&state, 1), QRT_ERR_NOT_SUPPORTED);
    QRT_FEATURE_TYPE list[2] = {};
    EXPECT_EQ(oldCard.getFeatureList(list, 2), 1u);
    EXPECT_EQ(oldCard.getFeatureHandle(QRT_FEATURE_EX_POWER_SUPPLY),
              static_cast<I_exPowerSupply*>(&oldCard));  // handed out all the same

    FakeUsb3Card card(kPex8718, "ABC53104-21");
    card.setInputPin(4, true);  // PCB version 2
    card.setInputPin(1, true);
    C_w50X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    list[0] = QRT_FEATURE_FAN;
    EXPECT_EQ(product.getFeatureList(list, 1), 2u);
    EXPECT_EQ(list[0], QRT_FEATURE_FAN);  // nothing written with too little room
    ASSERT_EQ(product.getExPowSupplyStates(&state, 1), QRT_SUCCESS);
    EXPECT_EQ(state, 0);
    card.setInputPin(1, false);
    ASSERT_EQ(product.getExPowSupplyStates(&state, 1), QRT_SUCCESS);
    EXPECT_EQ(state, 1);
    card.failures[0x61C] = QRT_ERR_FAILED;  // reported, not answered from old levels
    EXPECT_EQ(product.getExPowSupplyStates(&state, 1), QRT_ERR_FAILED);
    char text[32];
    ASSERT_EQ(product.getExPowSupplyDescription(0, text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text, "Max4P Power Supply");
    EXPECT_EQ(product.getExPowSupplyDescription(1, text, sizeof(text)), QRT_ERR_INVALID_PARAM);
}

TEST(W5Series, TheProductFactoryOffersACardToBothUsb3Series) {
    C_visionProductFactory factory;
    FakeUsb3Card eightPort(kPex8608, "ABC53104-20");
    FakeUsb3Card twelvePort(kPex8608, "ABC53104-31");
    EXPECT_EQ(factory.create(C_visionProductFactory::SERIES_W51X, &eightPort), nullptr);
    EXPECT_EQ(factory.create(C_visionProductFactory::SERIES_W50X, &twelvePort), nullptr);
    I_nkProduct* w508 = factory.create(C_visionProductFactory::SERIES_W50X, &eightPort);
    I_nkProduct* w512p = factory.create(C_visionProductFactory::SERIES_W51X, &twelvePort);
    ASSERT_TRUE(w508 && w512p);
    QRT_PRODUCT_TYPE type;
    ASSERT_EQ(w512p->getType(&type), QRT_SUCCESS);
    EXPECT_EQ(type, QRT_PRODUCT_W512P);
    QRT_FEATURE_TYPE list[2];
    EXPECT_EQ(w512p->getFeatureList(list, 2), 2u);
    EXPECT_EQ(list[1], QRT_FEATURE_EX_POWER_SUPPLY);
}

}  // namespace
