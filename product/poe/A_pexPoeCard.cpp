#include "product/poe/A_pexPoeCard.h"

#include <cstring>

#include "core/driver/I_pciMap.h"
#include "product/poe/C_pexBoardStraps.h"

namespace {

constexpr unsigned kCpldStampLength = 13;  // "YYYYMMDD_hhmm"
constexpr unsigned kCpldVersionText = 16;

}  // namespace

template <class Base>
int A_pexPoeCard<Base>::bindControllers(void* pciMap) {
    C_ObjectLock guard(this->lock);
    if (!guard.held()) return QRT_ERR_BUSY;
    if (switcher == nullptr)
        switcher = switchFactory.create(C_nkPCISwitcherFactory::NK_PCISWITCHER_PEX8608);
    if (this->cpld == nullptr)
        this->cpld = this->cpldFactory.create(C_rhxCPLDFactory::NK_HWCPLD_SPI);
    if (this->mcu == nullptr) this->mcu = this->mcuFactory.create(C_rhxMCUFactory::NK_HWMCU_RHX);
    if (this->eeprom == nullptr)
        this->eeprom = this->eepromFactory.create(C_nkEEPROMFactory::NK_EEPROM_AT24C02D);
    if (switcher == nullptr || this->cpld == nullptr || this->mcu == nullptr ||
        this->eeprom == nullptr)
        return QRT_ERR_NOT_INITIALIZED;
    this->identity = identityRecordOf(pciMap);
    // Any device that is not a PEX 8608 stops here.
    int status = switcher->initial(pciMap);
    if (status == QRT_SUCCESS) status = this->cpld->initial(static_cast<I_nkSPI*>(switcher));
    if (status == QRT_SUCCESS) status = this->mcu->initial(this->cpld);
    if (status == QRT_SUCCESS) status = this->eeprom->initial(this->cpld);
    if (status != QRT_SUCCESS) return status;
    // The CPLD's I2C master addresses the microcontroller unless an EEPROM read is under way.
    this->cpld->setI2CSlave(this->mcuSlave);
    return QRT_SUCCESS;
}

template <class Base>
int A_pexPoeCard<Base>::identifyByStraps(const char* cpldStamp, QRT_PRODUCT_TYPE twoPort,
                                         QRT_PRODUCT_TYPE fourPort) {
    C_ObjectLock guard(this->lock);
    if (!guard.held() || this->getPCBVersion() != 1) return 0;
    int level = -1;
    if (switcher->getGPIO(C_pexBoardStraps::kTiedLowPin, &level) != QRT_SUCCESS || level != 0)
        return 0;
    char stamp[kCpldVersionText] = {};
    if (this->readCpldVersion(stamp, sizeof stamp) != QRT_SUCCESS ||
        std::strncmp(stamp, cpldStamp, kCpldStampLength) != 0)
        return 0;
    if (switcher->getGPIO(C_pexBoardStraps::kTwoPortPin, &level) != QRT_SUCCESS) return 0;
    this->productType = level == 1 ? twoPort : fourPort;
    this->poePortCount = level == 1 ? 2 : 4;
    return 1;
}

template <class Base>
int A_pexPoeCard<Base>::getPCBVersion() {
    return C_pexBoardStraps::pcbVersion(switcher);
}

template <class Base>
int A_pexPoeCard<Base>::getCardID(int* id) {
    return C_pexBoardStraps::cardId(switcher, id);
}

template class A_pexPoeCard<A_poeSeries>;
template class A_pexPoeCard<A_poeProSeries>;
