#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "utilities/SModifyFieldConfig.h"
#include "utilities/SModifyFieldIniFile.h"

using ::testing::ElementsAre;

class SectionedConfig : public ::testing::Test {
  protected:
    TempDir dir;
    SModifyFieldConfig config;
};

TEST_F(SectionedConfig, RepeatedKeysAreAddressedByIndexAndAHighIndexAppends) {
    const std::string file = dir.write("rig.ini", "[card]\nx=1\ny=a\nx=2\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);
    EXPECT_STREQ(config.getValue("card", "x", 0), "1");
    EXPECT_STREQ(config.getValue("card", "x", 1), "2");
    EXPECT_STREQ(config.getValue("card", "x", 2), "");
    EXPECT_STREQ(config.getValue("card", "x", -1), "");

    EXPECT_EQ(config.setValue("card", "x", "20", 1), 1);
    EXPECT_EQ(config.setValue("card", "x", "3", 5), 1);
    EXPECT_THAT(config.getEntries("card"),
                ElementsAre(FIELD_MAPSET{"x", "1"}, FIELD_MAPSET{"y", "a"}, FIELD_MAPSET{"x", "20"},
                            FIELD_MAPSET{"x", "3"}));
    EXPECT_EQ(config.getIntValue("card", "x", 10, 2), 3);
    EXPECT_EQ(config.getIntValue("card", "y", 16, 0), 10);
}

TEST_F(SectionedConfig, SaveWritesGlobalsThenSectionsByNameAndMergesRepeatedHeaders) {
    const std::string file = dir.write("rig.ini",
                                       "# rig\n"
                                       "version = 2\n"
                                       "[zeta]\n"
                                       "k=z\n"
                                       "[ alpha ]\r\n"
                                       "k = a1\n"
                                       " ignored=1\n"
                                       "[zeta]\n"
                                       "k=z2\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);
    EXPECT_THAT(config.getFields(), ElementsAre("alpha", "zeta"));
    EXPECT_THAT(config.getGlobalEntries(), ElementsAre(FIELD_MAPSET{"version", "2"}));
    ASSERT_EQ(config.saveConfig(nullptr), 1);
    EXPECT_EQ(dir.read("rig.ini"), "version = 2\n[alpha]\nk = a1\n[zeta]\nk = z\nk = z2\n");
}

TEST_F(SectionedConfig, AnEmptySectionNameFailsTheLoadAndKeepsWhatWasRead) {
    SModifyFieldIniFile ini;
    const std::string file = dir.write("bad.ini", "g=1\n[a]\nk=v\n[  ]\nafter=1\n");
    EXPECT_EQ(ini.loadConfigFile(file), 0);
    EXPECT_THAT(ini.getGlobalEntries(), ElementsAre(FIELD_MAPSET{"g", "1"}));
    EXPECT_THAT(ini.getEntries("a"), ElementsAre(FIELD_MAPSET{"k", "v"}));
    EXPECT_EQ(ini.hasKey("a", "after"), 0);

    EXPECT_EQ(config.loadConfig(file.c_str()), 0);
    EXPECT_TRUE(config.getFields().empty());
    EXPECT_EQ(config.hasKey("a", "k"), 0);
    EXPECT_STREQ(config.getValue("a", "k", 0), "");
}

TEST_F(SectionedConfig, AHeaderWithoutClosingBracketEndsTheSection) {
    const std::string file = dir.write("open.ini", "[a]\nk=1\n[broken\nk=2\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);
    EXPECT_THAT(config.getFields(), ElementsAre("a"));
    EXPECT_THAT(config.getEntries("a"), ElementsAre(FIELD_MAPSET{"k", "1"}));
    EXPECT_THAT(config.getGlobalEntries(), ElementsAre(FIELD_MAPSET{"k", "2"}));
}

TEST_F(SectionedConfig, RemoveKeyDropsEveryMatchAndListsTheConfiguration) {
    const std::string file = dir.write("r.ini", "g=0\n[b]\nx=1\nx=2\ny=3\n[a]\nx=4\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(config.removeKey("b", "x"), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "g=0\n\n[a]\nx=4\n\n[b]\ny=3\n\n");
    EXPECT_EQ(config.hasKey("b", "x"), 0);
    EXPECT_EQ(config.hasKey("a", "x"), 1);

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(config.removeKey("missing", "x"), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(SectionedConfig, AReturnedValueSurvivesFurtherReads) {
    const std::string file = dir.write("v.ini", "[a]\nk=first\n[b]\nk=second\n");
    ASSERT_EQ(config.loadConfig(file.c_str()), 1);
    const char* first = config.getValue("a", "k", 0);
    const char* second = config.getValue("b", "k", 0);
    config.getValue("a", "missing", 0);
    EXPECT_STREQ(first, "first");
    EXPECT_STREQ(second, "second");
}

TEST_F(SectionedConfig, SettingCreatesSectionsButRefusesNamesThatWouldNotReadBack) {
    EXPECT_EQ(config.setIntValue("new", "n", -5, 0), 1);
    EXPECT_EQ(config.hasKey("new", "n"), 0);  // nothing loaded yet
    EXPECT_EQ(config.setValue("a]b", "k", "v", 0), 0);
    EXPECT_EQ(config.setValue("", "k", "v", 0), 0);
    EXPECT_EQ(config.setValue("new", "k", "v\n[evil]", 0), 0);

    const std::string out = dir.path("out.ini");
    ASSERT_EQ(config.saveConfig(out.c_str()), 1);
    EXPECT_EQ(dir.read("out.ini"), "[new]\nn = -5\n");
    ASSERT_EQ(config.loadConfig(out.c_str()), 1);
    EXPECT_EQ(config.getIntValue("new", "n", 10, 0), -5);
}

TEST_F(SectionedConfig, RemovingASectionDropsItsEntries) {
    SModifyFieldIniFile ini;
    ASSERT_EQ(ini.loadConfigFile(dir.write("d.ini", "[a]\nk=1\n[b]\nk=2\n")), 1);
    EXPECT_EQ(ini.removefield("a"), 1);
    EXPECT_EQ(ini.removefield("a"), 0);
    EXPECT_EQ(ini.hasfield("a"), 0);
    EXPECT_EQ(ini.getValueByKey("a", "k", 0), "");
    EXPECT_EQ(ini.getValueByKey("b", "k", 0), "2");
}
