// Product-level functions: handle checks, forwarding to the product, and the two functions
// that interpret the product's answer (product type and card identifier).

#include <gtest/gtest.h>

#include "FakeProduct.h"
#include "QRT_SDK.h"

namespace {

using qrttest::describeCall;
using qrttest::FakeCard;
using qrttest::PlainProduct;

TEST(ProductFunctions, RejectANullHandle) {
    char text[8];
    QRT_FEATURE_TYPE list[6];
    int id = 0;
    EXPECT_EQ(QRT_GetProductInfo(nullptr, text, sizeof text), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(QRT_GetProductSN(nullptr, text, sizeof text), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(QRT_GetFeatureList(nullptr, list, 6), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(QRT_GetProductType(nullptr), QRT_ERR_INVALID_PARAM);
    EXPECT_EQ(QRT_GetCardID(nullptr, &id), QRT_ERR_INVALID_PARAM);
}

TEST(ProductFunctions, ForwardInfoSerialNumberAndFeatureListUnchanged) {
    FakeCard card;
    char info[40];
    char sn[20];
    QRT_FEATURE_TYPE list[6];
    card.result = -13;
    EXPECT_EQ(QRT_GetProductInfo(card.handle(), info, sizeof info), -13);
    card.result = -1;
    EXPECT_EQ(QRT_GetProductSN(card.handle(), sn, sizeof sn), -1);
    card.result = 4;  // a feature count, not a status
    EXPECT_EQ(QRT_GetFeatureList(card.handle(), list, 3), 4);
    EXPECT_EQ(card.log.operations,
              (std::vector<std::string>{describeCall("getInfo", info, 40u),
                                        describeCall("getSN", sn, 20u),
                                        describeCall("getFeatureList", list, 3u)}));
}

TEST(ProductFunctions, AnExceptionInTheProductAnswersFailed) {
    FakeCard card;
    card.throwing = true;
    char text[8];
    QRT_FEATURE_TYPE list[6];
    int id = 0;
    EXPECT_EQ(QRT_GetProductInfo(card.handle(), text, sizeof text), QRT_ERR_FAILED);
    EXPECT_EQ(QRT_GetProductSN(card.handle(), text, sizeof text), QRT_ERR_FAILED);
    EXPECT_EQ(QRT_GetFeatureList(card.handle(), list, 6), QRT_ERR_FAILED);
    EXPECT_EQ(QRT_GetProductType(card.handle()), 0xFFFF);
    EXPECT_EQ(QRT_GetCardID(card.handle(), &id), QRT_ERR_FAILED);
}

TEST(ProductType, IsTheProductsTypeWhenItCanTell) {
    PlainProduct product;
    product.type = QRT_PRODUCT_RHX54P;
    EXPECT_EQ(QRT_GetProductType(static_cast<I_nkProduct*>(&product)), QRT_PRODUCT_RHX54P);
    product.type = QRT_PRODUCT_RHX44PLUS;  // type 0 is a real product
    EXPECT_EQ(QRT_GetProductType(static_cast<I_nkProduct*>(&product)), QRT_PRODUCT_RHX44PLUS);
}

TEST(ProductType, IsUnknownInsteadOfTheProductsErrorCode) {
    PlainProduct product;
    for (int status : {QRT_ERR_NOT_SUPPORTED, QRT_ERR_NOT_INITIALIZED, QRT_ERR_BUSY}) {
        product.typeStatus = status;
        EXPECT_EQ(QRT_GetProductType(static_cast<I_nkProduct*>(&product)), 0xFFFF) << status;
    }
}

TEST(CardID, IsTheCardsOwnAnswer) {
    FakeCard card;
    int id = 0;
    card.result = QRT_ERR_BUSY;
    EXPECT_EQ(QRT_GetCardID(card.handle(), &id), QRT_ERR_BUSY);
    card.result = 0;
    EXPECT_EQ(QRT_GetCardID(card.handle(), &id), 0);
    EXPECT_EQ(card.log.operations.back(), describeCall("getCardID", &id));
}

TEST(CardID, IsNotSupportedOnAProductThatIsNoCard) {
    PlainProduct product;
    int id = 0;
    EXPECT_EQ(QRT_GetCardID(static_cast<I_nkProduct*>(&product), &id), QRT_ERR_NOT_SUPPORTED);
    EXPECT_TRUE(product.log.operations.empty());
}

}  // namespace
