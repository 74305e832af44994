// The pins as the switch chip itself takes them: the SDK's switch objects on the rig's switch
// model, whose pins follow only the registers the chip really has.

#include <gtest/gtest.h>

#include "core/controllers/pciswitch/C_nkPCISwitcherFactory.h"
#include "sim/chips/PexSwitch.h"
#include "support/SimPciMap.h"

namespace {

TEST(PexPinsOnChip, AnOutputPinDrivesTheLevelItIsGivenAndAnInputFloatsAgain) {
    struct Chip {
        C_nkPCISwitcherFactory::NK_PCISWITCHERTYPE type;
        const qrtsim::PexChipLayout& layout;
        uint32_t powerOnDirection;  // the other bits of every pin's field, as a board sets them
    };
    const Chip chips[] = {
        {C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608, qrtsim::PexSwitch::pex8608(), 0x55555555},
        {C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8718, qrtsim::PexSwitch::pex8718(), 0xA501B6DB},
    };
    for (const Chip& chip : chips) {
        SCOPED_TRACE(chip.layout.name);
        qrtsim::PexSwitch model(chip.layout);
        model.setPowerOnDirection(chip.powerOnDirection);
        qrttest::SimPciMap map(model);
        C_nkPCISwitcherFactory factory;
        I_nkPCISwitcher* sw = factory.create(chip.type);
        ASSERT_EQ(sw->initial(&map), QRT_SUCCESS);
        for (unsigned pin : {0u, chip.layout.pinCount - 1}) {
            ASSERT_EQ(sw->setGPIODirection(pin, I_nkGPIO::APGPIO_OUTPUT), QRT_SUCCESS);
            ASSERT_EQ(sw->applyGPIODirection(), QRT_SUCCESS);
            for (int level : {1, 0, 1}) {
                ASSERT_EQ(sw->setGPO(pin, level), QRT_SUCCESS);
                ASSERT_EQ(sw->applyGPO(), QRT_SUCCESS);
                EXPECT_TRUE(model.pinIsOutput(pin));
                EXPECT_EQ(model.pinLevel(pin), level == 1) << "pin " << pin;
            }
            ASSERT_EQ(sw->setGPIODirection(pin, I_nkGPIO::APGPIO_INPUT), QRT_SUCCESS);
            ASSERT_EQ(sw->applyGPIODirection(), QRT_SUCCESS);
            EXPECT_FALSE(model.pinIsOutput(pin));
        }
        EXPECT_EQ(model.violations().total(), 0u) << model.violations().toJson().dump();
    }
}

}  // namespace
