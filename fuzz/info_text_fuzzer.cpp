// libFuzzer target for the information texts of every card model on the in-process rig: the
// identity text, serial number, SDK text and the descriptions of external supplies and fans,
// each into a buffer of exactly the length the input chooses (AddressSanitizer stops any write
// beyond it). The identity and SDK texts are cut to the buffer and always terminated.
//
// Input: triples of (product, text, length).

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "I_exPowerSupply.h"
#include "I_fan.h"
#include "QRT_SDK.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/InProcessRig.h"

namespace {

enum Text { kInfo, kSerialNumber, kSdk, kSupplyDescription, kFanDescription, kTextCount };

bool terminatedWithin(const char* buf, unsigned len) {
    return len == 0 || std::memchr(buf, '\0', len) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzrig::InProcessRig& rig = fuzzrig::InProcessRig::instance();
    fuzzinput::Input in(data, size);
    const unsigned products = rig.manager->getProductNums();
    for (int calls = 0; calls < 32 && !in.empty(); ++calls) {
        I_nkProduct* product = rig.manager->getProductHandle(in.byte() % (products + 1));
        const int text = in.byte() % kTextCount;
        const unsigned len = in.raw<uint16_t>() % 1024;
        const unsigned index = in.byte() % 4;
        std::unique_ptr<char[]> buf(new char[len]);
        std::memset(buf.get(), 0xA5, len);
        int status = -1;
        switch (text) {
            case kInfo:
                status = QRT_GetProductInfo(product, buf.get(), len);
                if (status == 0 && !terminatedWithin(buf.get(), len)) std::abort();
                break;
            case kSerialNumber:
                QRT_GetProductSN(product, buf.get(), len);
                break;
            case kSdk:
                status = QRT_GetSDKInfo(buf.get(), static_cast<int>(len));
                if (status == 0 && !terminatedWithin(buf.get(), len)) std::abort();
                status = rig.manager->getInfo(buf.get(), len);
                if (status == 0 && !terminatedWithin(buf.get(), len)) std::abort();
                break;
            case kSupplyDescription:
                if (product == nullptr) break;
                if (auto* supply = static_cast<I_exPowerSupply*>(
                        product->getFeatureHandle(QRT_FEATURE_EX_POWER_SUPPLY)))
                    supply->getExPowSupplyDescription(index, buf.get(), len);
                break;
            case kFanDescription:
                if (product == nullptr) break;
                if (auto* fan = static_cast<I_fan*>(product->getFeatureHandle(QRT_FEATURE_FAN)))
                    fan->getFanDescription(index, buf.get(), len);
                break;
        }
    }
    rig.checkViolations();
    return 0;
}
