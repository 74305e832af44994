// The USB3 card products on a fake card: identification by part number, port numbering of the
// 4-, 8- and 12-port models, the external supply input and the information text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "C_visionProductFactory.h"
#include "product/usb3/C_w51X.h"
#include "usb3/FakeUsb3Card.h"

namespace {

constexpr int kPex8718 = 0x8718;
constexpr int kPex8608 = 0x8608;

// Direction bit of a PEX 8608 pin: set = output.
bool pex8608PinIsOutput(FakeUsb3Card& card, unsigned pin) {
    return (card.registers[0x62C] >> (2 * pin + 1)) & 1;
}

TEST(W5Identification, AW508IsRecognisedByThePartNumberBehindItsPrefix) {
    FakeUsb3Card card(kPex8718, "XYZ53104-20");
    C_w50X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    QRT_PRODUCT_TYPE type;
    ASSERT_EQ(product.getType(&type), QRT_SUCCESS);
    EXPECT_EQ(type, QRT_PRODUCT_W508);
    unsigned ports = 0;
    ASSERT_EQ(product.getPowerPortNums(&ports), QRT_SUCCESS);
    EXPECT_EQ(ports, 8u);
    EXPECT_EQ(card.unknownCommands, 0);
}

TEST(W5Identification, APartNumberWithoutPrefixOrOfAnotherClassIsRejected) {
    FakeUsb3Card noPrefix(kPex8718, "53104-20");
    C_w50X w50x;
    EXPECT_EQ(w50x.initial(&noPrefix), QRT_ERR_NOT_INITIALIZED);
    QRT_PRODUCT_TYPE type;
    EXPECT_EQ(w50x.getType(&type), QRT_ERR_NOT_INITIALIZED);

    FakeUsb3Card twelvePort(kPex8608, "ABC53104-30");
    C_w50X notTwelve;
    EXPECT_EQ(notTwelve.initial(&twelvePort), QRT_ERR_NOT_INITIALIZED);

    FakeUsb3Card eightPort(kPex8608, "ABC53104-21");
    C_w51X notEight;
    EXPECT_EQ(notEight.initial(&eightPort), QRT_ERR_NOT_INITIALIZED);

    // The 12-port class is always on a PEX 8608.
    FakeUsb3Card on8718(kPex8718, "ABC53104-31");
    C_w51X w51x;
    EXPECT_EQ(w51x.initial(&on8718), QRT_ERR_NOT_INITIALIZED);

    FakeUsb3Card notASwitch(kPex8608, "ABC53104-20");
    notASwitch.vendor = 0x8086;
    EXPECT_EQ(C_w50X().initial(&notASwitch), QRT_ERR_NOT_INITIALIZED);
}

TEST(W5Identification, EveryModelOfTheTableGetsItsTypeAndPortCount) {
    struct Case {
        const char* pn;
        int device;
        bool twelve;
        QRT_PRODUCT_TYPE type;
        unsigned ports;
    };
    const Case cases[] = {
        {"---53104-10", kPex8718, false, QRT_PRODUCT_W504, 4},
        {"---53104-11", kPex8608, false, QRT_PRODUCT_W504P, 4},
        {"---53104-21", kPex8718, false, QRT_PRODUCT_W508P, 8},
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
        // Fewer entries than ports are refused on every model.
        std::vector<int> shortList(c.ports - 1, 1);
        EXPECT_EQ(product->setPowerPortEnable(shortList.data(), c.ports - 1),
                  QRT_ERR_INVALID_PARAM);
        EXPECT_EQ(card.powerWrites, 0);
    }
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
    // Cut to the buffer.
    char shortText[10];
    ASSERT_EQ(product.getInfo(shortText, sizeof(shortText)), QRT_SUCCESS);
    EXPECT_STREQ(shortText, "Product:P");

    char sn[8];
    ASSERT_EQ(product.getSN(sn, sizeof(sn)), QRT_SUCCESS);
    EXPECT_STREQ(sn, "W5-0000");
    int id = -1;
    ASSERT_EQ(product.getCardID(&id), QRT_SUCCESS);
    EXPECT_EQ(id, 7);
}

TEST(W5Information, PcbVersionOfAPex8718CardComesFromPinsZeroAndFour) {
    FakeUsb3Card card(kPex8718, "ABC53104-10");
    card.setInputPin(0, true);
    card.setInputPin(4, true);
    C_w50X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    char text[256];
    ASSERT_EQ(product.getInfo(text, sizeof(text)), QRT_SUCCESS);
    EXPECT_NE(std::string(text).find("PCBVersion:3\r\n"), std::string::npos);
}

TEST(W5Power, AFourPortCardUsesTheEvenChannels) {
    FakeUsb3Card card(kPex8718, "ABC53104-10");
    C_w50X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    int enables[4] = {1, 0, 1, 1};
    ASSERT_EQ(product.setPowerPortEnable(enables, 4), QRT_SUCCESS);
    EXPECT_EQ(card.powerMask, 0x51u);

    int state[4] = {-1, -1, -1, -1};
    ASSERT_EQ(product.getPowerPortEnable(state, 2), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(state, state + 4), (std::vector<int>{1, 0, -1, -1}));
    ASSERT_EQ(product.getPowerPortEnable(state, 4), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(state, state + 4), (std::vector<int>{1, 0, 1, 1}));
}

TEST(W5Power, AnEightPortCardMapsPortsOntoChannelsOneToOne) {
    FakeUsb3Card card(kPex8608, "ABC53104-20");
    C_w50X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    int enables[8] = {0, 1, 1, 0, 0, 0, 0, 1};
    ASSERT_EQ(product.setPowerPortEnable(enables, 8), QRT_SUCCESS);
    EXPECT_EQ(card.powerMask, 0x86u);
    int state[8] = {};
    EXPECT_EQ(product.getPowerPortEnable(state, 4), QRT_ERR_INVALID_PARAM);
    ASSERT_EQ(product.getPowerPortEnable(state, 8), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(state, state + 8), std::vector<int>(enables, enables + 8));
}

TEST(W5Power, TwelvePortCardPowersItsLastFourPortsThroughSwitchPins) {
    FakeUsb3Card card(kPex8608, "ABC53104-30");
    C_w51X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    card.registers[0x62C] |= 1u << 0;  // a chip-owned bit that must survive
    int enables[12] = {1, 0, 0, 0, 0, 0, 0, 1, /*port 8*/ 1, 0, 0, 0};
    const std::vector<int> before(enables, enables + 12);
    ASSERT_EQ(product.setPowerPortEnable(enables, 12), QRT_SUCCESS);
    EXPECT_EQ(std::vector<int>(enables, enables + 12), before);
    EXPECT_EQ(card.powerMask, 0x81u);
    EXPECT_FALSE(pex8608PinIsOutput(card, 7));  // port 8 powered: pin 7 an input
    EXPECT_TRUE(pex8608PinIsOutput(card, 6));
    EXPECT_TRUE(pex8608PinIsOutput(card, 8));
    EXPECT_TRUE(pex8608PinIsOutput(card, 9));
    EXPECT_TRUE(card.registers[0x62C] & 1u);

    // Each pin port on its own pin, read back in user numbering.
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
        EXPECT_EQ(std::vector<int>(state, state + 12), std::vector<int>(only, only + 12));
    }
}

TEST(W5Power, TwelvePortCardAcceptsAReadOnlyPortList) {
    // The caller's list is only read, so a list in read-only memory works.
    static const int kAllOn[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    FakeUsb3Card card(kPex8608, "ABC53104-31");
    C_w51X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    ASSERT_EQ(product.setPowerPortEnable(const_cast<int*>(kAllOn), 12), QRT_SUCCESS);
    EXPECT_EQ(card.powerMask, 0xFFu);
    for (unsigned pin = 6; pin <= 9; ++pin) EXPECT_FALSE(pex8608PinIsOutput(card, pin));
}

TEST(W5Supply, OldBoardsHaveNoSupplyInput) {
    FakeUsb3Card card(kPex8718, "ABC53104-20");
    card.setInputPin(0, true);  // PCB version 1
    C_w50X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    int states[1];
    unsigned n = 0;
    EXPECT_EQ(product.getExPowSupplyStates(states, 1), QRT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(product.getExPowSupplytNums(&n), QRT_ERR_NOT_SUPPORTED);
    QRT_FEATURE_TYPE list[2] = {};
    EXPECT_EQ(product.getFeatureList(list, 2), 1u);
    EXPECT_EQ(list[0], QRT_FEATURE_POWER_CONTROLLER);
    // The facet is still handed out.
    EXPECT_EQ(product.getFeatureHandle(QRT_FEATURE_EX_POWER_SUPPLY),
              static_cast<I_exPowerSupply*>(&product));
}

TEST(W5Supply, NewerBoardsReportTheSupplyOnPinOneActiveLow) {
    FakeUsb3Card card(kPex8718, "ABC53104-21");
    card.setInputPin(4, true);  // PCB version 2
    card.setInputPin(1, true);
    C_w50X product;
    ASSERT_EQ(product.initial(&card), QRT_SUCCESS);
    QRT_FEATURE_TYPE list[2] = {};
    EXPECT_EQ(product.getFeatureList(list, 1), 2u);
    EXPECT_EQ(list[0], 0);  // nothing written with too little room
    EXPECT_EQ(product.getFeatureList(list, 2), 2u);
    EXPECT_EQ(list[1], QRT_FEATURE_EX_POWER_SUPPLY);

    int state = -1;
    ASSERT_EQ(product.getExPowSupplyStates(&state, 1), QRT_SUCCESS);
    EXPECT_EQ(state, 0);
    card.setInputPin(1, false);
    ASSERT_EQ(product.getExPowSupplyStates(&state, 1), QRT_SUCCESS);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(product.getExPowSupplyStates(&state, 0), QRT_ERR_INVALID_PARAM);

    // A failed pin read is reported instead of an old level.
    card.readFailures[0x61C] = QRT_ERR_FAILED;
    EXPECT_EQ(product.getExPowSupplyStates(&state, 1), QRT_ERR_FAILED);

    char text[32];
    ASSERT_EQ(product.getExPowSupplyDescription(0, text, sizeof(text)), QRT_SUCCESS);
    EXPECT_STREQ(text, "Max4P Power Supply");
    EXPECT_EQ(product.getExPowSupplyDescription(1, text, sizeof(text)), QRT_ERR_INVALID_PARAM);
}

TEST(W5Supply, TwelvePortCardsAlwaysHaveOneSupplyInput) {
    C_w51X product;
    unsigned n = 0;
    ASSERT_EQ(product.getExPowSupplytNums(&n), QRT_SUCCESS);
    EXPECT_EQ(n, 1u);
    int state;
    EXPECT_EQ(product.getExPowSupplyStates(&state, 1), QRT_ERR_NOT_INITIALIZED);
    QRT_FEATURE_TYPE list[2];
    EXPECT_EQ(product.getFeatureList(list, 2), 2u);
    EXPECT_EQ(list[1], QRT_FEATURE_EX_POWER_SUPPLY);
    EXPECT_EQ(product.getFeatureHandle(static_cast<QRT_FEATURE_TYPE>(0)), nullptr);
    EXPECT_EQ(product.getFeatureHandle(QRT_FEATURE_POE), nullptr);
    EXPECT_EQ(product.getFeatureHandle(QRT_FEATURE_POWER_CONTROLLER),
              static_cast<I_powerController*>(&product));
}

}  // namespace

namespace {

TEST(W5Series, TheProductFactoryOffersACardToBothUsb3Series) {
    C_visionProductFactory factory;
    FakeUsb3Card eightPort(kPex8608, "ABC53104-20");
    EXPECT_EQ(factory.create(C_visionProductFactory::SERIES_W51X, &eightPort), nullptr);
    I_nkProduct* w508 = factory.create(C_visionProductFactory::SERIES_W50X, &eightPort);
    ASSERT_NE(w508, nullptr);
    QRT_PRODUCT_TYPE type;
    ASSERT_EQ(w508->getType(&type), QRT_SUCCESS);
    EXPECT_EQ(type, QRT_PRODUCT_W508);

    FakeUsb3Card twelvePort(kPex8608, "ABC53104-31");
    EXPECT_EQ(factory.create(C_visionProductFactory::SERIES_W50X, &twelvePort), nullptr);
    I_nkProduct* w512p = factory.create(C_visionProductFactory::SERIES_W51X, &twelvePort);
    ASSERT_NE(w512p, nullptr);
    ASSERT_EQ(w512p->getType(&type), QRT_SUCCESS);
    EXPECT_EQ(type, QRT_PRODUCT_W512P);
}

}  // namespace
