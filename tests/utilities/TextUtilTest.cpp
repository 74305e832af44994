#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utilities/UModifyTextUtil.h"

using ::testing::ElementsAre;

TEST(TextUtil, TrimRemovesAllSixWhiteSpaceCharactersFromBothEndsOnly) {
    std::string text = " \f\n\t\r\vkey  value\v\r\t\n\f ";
    EXPECT_EQ(UModifyTextUtil::trim(text), "key  value");
    std::string blank = " \t\r\n";
    EXPECT_EQ(UModifyTextUtil::trim(blank), "");
}

TEST(TextUtil, GetkeyvalueSplitsAtTheFirstEqualsAndKeepsValueWhenNothingFollows) {
    std::string key = "old", value = "old";
    EXPECT_EQ(UModifyTextUtil::getkeyvalue("=x", key, value), 0);
    EXPECT_EQ(UModifyTextUtil::getkeyvalue("no pair", key, value), 0);
    EXPECT_EQ(key, "old");

    EXPECT_EQ(UModifyTextUtil::getkeyvalue("k=", key, value), 1);
    EXPECT_EQ(key, "k");
    EXPECT_EQ(value, "old");

    EXPECT_EQ(UModifyTextUtil::getkeyvalue("a = b=c", key, value), 1);
    EXPECT_EQ(key, "a ");
    EXPECT_EQ(value, " b=c");
}

TEST(TextUtil, SplitSkipsEmptyTokensAndCountsThem) {
    int count = -1;
    EXPECT_THAT(UModifyTextUtil::split(",,a, b,,c;d,", ",;", count),
                ElementsAre("a", " b", "c", "d"));
    EXPECT_EQ(count, 4);
    EXPECT_TRUE(UModifyTextUtil::split(",;,", ",;", count).empty());
    EXPECT_EQ(count, 0);
    EXPECT_THAT(UModifyTextUtil::splitToInt("8 -3\t12 x", " \t", count), ElementsAre(8, -3, 12, 0));
    EXPECT_EQ(count, 4);
}

TEST(TextUtil, SplitRefusesTextsOf8192CharactersOrMoreWhole) {
    int count = -1;
    std::string longest(UModifyTextUtil::kMaxSplitLength, 'a');
    longest[100] = ',';
    EXPECT_EQ(UModifyTextUtil::split(longest, ",", count).size(), 2u);
    EXPECT_EQ(count, 2);

    EXPECT_TRUE(UModifyTextUtil::split(longest + ",b", ",", count).empty());
    EXPECT_EQ(count, 0);
}

TEST(TextUtil, TwoTokenScansRunInterleavedWithTheirOwnState) {
    char outer[] = "1,2";
    char inner[] = "x y";
    char* outerState = nullptr;
    char* innerState = nullptr;
    std::vector<std::string> seen{UModifyTextUtil::mystrtok(inner, " ", &innerState)};
    for (char* a = UModifyTextUtil::mystrtok(outer, ",", &outerState); a != nullptr;
         a = UModifyTextUtil::mystrtok(nullptr, ",", &outerState)) {
        seen.push_back(a);
        char* b = UModifyTextUtil::mystrtok(nullptr, " ", &innerState);
        if (b != nullptr) seen.push_back(b);
    }
    EXPECT_THAT(seen, ElementsAre("x", "1", "y", "2"));
    // A finished scan keeps answering null.
    EXPECT_EQ(UModifyTextUtil::mystrtok(nullptr, ",", &outerState), nullptr);
    EXPECT_EQ(UModifyTextUtil::mystrtok(nullptr, " ", &innerState), nullptr);
}

TEST(TextUtil, DecimalConversionsRoundTrip) {
    std::string text;
    UModifyTextUtil::convertFromInt(text, -2147483647 - 1);
    EXPECT_EQ(text, "-2147483648");
    int value = 7;
    UModifyTextUtil::convertFromString(value, text);
    EXPECT_EQ(value, -2147483647 - 1);
    UModifyTextUtil::convertFromString(value, "abc");
    EXPECT_EQ(value, 0);
}
