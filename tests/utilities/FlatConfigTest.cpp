#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TempDir.h"
#include "utilities/SModifyConfig.h"
#include "utilities/SModifyIniFile.h"

using ::testing::ElementsAre;

class FlatConfig : public ::testing::Test {
  protected:
    TempDir dir;
    SModifyConfig config;
};

TEST_F(FlatConfig, SaveKeepsOnlyEntriesSortedWithTheFirstValueOfARepeatedKey) {
    const std::string file = dir.write("system.ini",
                                       "# comment\n"
                                       "; comment\n"
                                       " indented=1\n"
                                       "_hidden=2\n"
                                       "[section]\n"
                                       "=nokey\n"
                                       "b=2\n"
                                       "a = first \r\n"
                                       "\n"
                                       "a=second\n"
                                       "empty=\n"
                                       "noequals\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);
    ASSERT_EQ(config.saveConfig(nullptr), 1);
    EXPECT_EQ(dir.read("system.ini"), "a = first\nb = 2\nempty = \n");
}

TEST_F(FlatConfig, GetValueIsABoundedCopyThatRefusesEmptyAndMissingValues) {
    const std::string file = dir.write("f.ini", "long=abcdef\nshort=xy\nempty=\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);

    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(config.getValue("long", buf, 4), 1);
    EXPECT_EQ(std::string(buf, 5), "abcd#");  // no terminator when the value fills len

    EXPECT_EQ(config.getValue("short", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "xy");

    EXPECT_EQ(config.getValue("empty", buf, sizeof buf), 0);
    EXPECT_EQ(config.hasKey("empty"), 1);
    EXPECT_EQ(config.getValue("missing", buf, sizeof buf), 0);
    EXPECT_EQ(config.getValue("long", nullptr, 4), 0);
    EXPECT_EQ(config.getValue("long", buf, 0), 0);

    // Asking for a missing key must not create it.
    ASSERT_EQ(config.saveConfig(nullptr), 1);
    EXPECT_EQ(dir.read("f.ini"), "empty = \nlong = abcdef\nshort = xy\n");
}

TEST_F(FlatConfig, GetIntValueTakesTheNumberBase) {
    const std::string file = dir.write("n.ini", "MCU.I2CBUS=10\nmask=0xFFFFFFFF\nword=zz\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);
    EXPECT_EQ(config.getIntValue("MCU.I2CBUS", 10), 10);
    EXPECT_EQ(config.getIntValue("MCU.I2CBUS", 8), 8);
    EXPECT_EQ(config.getIntValue("MCU.I2CBUS", 16), 16);
    EXPECT_EQ(config.getIntValue("mask", 16), -1);
    EXPECT_EQ(config.getIntValue("word", 10), 0);
    EXPECT_EQ(config.getIntValue("missing", 10), 0);
}

TEST_F(FlatConfig, ReadsAnswerNothingUntilALoadSucceedsButWritesWork) {
    char buf[8] = {};
    EXPECT_EQ(config.setIntValue("k", 42), 1);
    EXPECT_EQ(config.hasKey("k"), 0);
    EXPECT_EQ(config.getValue("k", buf, sizeof buf), 0);
    EXPECT_EQ(config.getIntValue("k", 10), 0);
    EXPECT_EQ(config.saveConfig(nullptr), 0);  // no path remembered yet

    const std::string out = dir.path("out.ini");
    EXPECT_EQ(config.saveConfig(out.c_str()), 1);
    EXPECT_EQ(dir.read("out.ini"), "k = 42\n");

    EXPECT_EQ(config.loadConfig(dir.path("absent.ini").c_str()), 0);
    EXPECT_EQ(config.loadConfig(dir.path("").c_str()), 0);  // a directory is no file
    EXPECT_EQ(config.hasKey("k"), 0);
    EXPECT_EQ(config.loadConfig(out.c_str()), 1);
    EXPECT_EQ(config.getIntValue("k", 10), 42);
    EXPECT_EQ(config.removeKey("k"), 1);
    EXPECT_EQ(config.removeKey("k"), 0);
    EXPECT_EQ(config.hasKey("k"), 0);
}

TEST_F(FlatConfig, EntriesThatWouldNotReadBackAreRefused) {
    const std::string file = dir.write("s.ini", "a=1\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);
    EXPECT_EQ(config.setValue("a", "2\nb=3"), 0);
    EXPECT_EQ(config.setValue("x=y", "1"), 0);
    EXPECT_EQ(config.setValue("#c", "1"), 0);
    EXPECT_EQ(config.setValue("", "1"), 0);
    EXPECT_EQ(config.setValue("big", std::string(2000, 'v').c_str()), 0);
    EXPECT_EQ(config.setValue(nullptr, "1"), 0);
    ASSERT_EQ(config.saveConfig(nullptr), 1);
    EXPECT_EQ(dir.read("s.ini"), "a = 1\n");
}

TEST_F(FlatConfig, TheLongestLineReadsAndALongerOneFailsTheLoad) {
    // Cut into 1023-character pieces, this line would leak "b=injected" as an entry.
    const std::string overlong = "x=" + std::string(1021, 'v') + "b=injected";
    SModifyIniFile ini;
    EXPECT_EQ(ini.loadConfigFile(dir.write("l.ini", overlong + "\nc=3\n")), 0);
    EXPECT_EQ(ini.hasKey("b"), 0);

    const std::string longest = "y=" + std::string(1021, 'v');  // exactly 1023 characters
    ASSERT_EQ(ini.loadConfigFile(dir.write("m.ini", longest + "\n")), 1);
    EXPECT_EQ(ini.getValueByKey("y").size(), 1021u);
}

TEST_F(FlatConfig, ListFileKeepsEveryNonEmptyLineVerbatim) {
    const std::string file = dir.write("list.txt", "  one \n\n#two\n[three]\r\n");
    EXPECT_THAT(SModifyIniFile::loadListFile(file), ElementsAre("  one ", "#two", "[three]\r"));
    EXPECT_TRUE(SModifyIniFile::loadListFile(dir.path("absent")).empty());
}
