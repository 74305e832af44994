// What a configuration file loads, it saves so that it loads again: the longest lines the
// loaders accept come back as the same entries, in both formats.

#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "utilities/SModifyFieldIniFile.h"
#include "utilities/SModifyIniFile.h"

namespace {

TEST(ConfigRoundTrip, TheLongestAcceptedLinesKeepTheirEntries) {
    const std::string lines[] = {
        "k=" + std::string(1021, 'v'),          // 1023 characters, the longest line
        "k=" + std::string(1020, 'v'),          // 1022: " = " would make it 1024
        "k = " + std::string(1019, 'v'),        // 1023 with the spaces already there
        "key=" + std::string(1017, 'v') + " ",  // trailing space, trimmed on load
    };
    for (const std::string& line : lines) {
        TempDir dir;
        const std::string flat = dir.write("flat.ini", line + "\n");
        SModifyIniFile ini;
        ASSERT_EQ(ini.loadConfigFile(flat), 1);
        const auto loaded = ini.getArray();
        ASSERT_EQ(loaded.size(), 1u) << line.size();
        ASSERT_EQ(ini.saveConfigFile(flat), 1);
        ASSERT_EQ(ini.loadConfigFile(flat), 1);
        EXPECT_EQ(ini.getArray(), loaded) << line.size();

        const std::string sectioned = dir.write("field.ini", "[s]\n" + line + "\n");
        SModifyFieldIniFile fields;
        ASSERT_EQ(fields.loadConfigFile(sectioned), 1);
        const auto entries = fields.getEntries("s");
        ASSERT_EQ(entries.size(), 1u);
        ASSERT_EQ(fields.saveConfigFile(sectioned), 1);
        ASSERT_EQ(fields.loadConfigFile(sectioned), 1);
        EXPECT_EQ(fields.getEntries("s"), entries) << line.size();
    }
}

TEST(ConfigRoundTrip, EntriesThatWouldComeBackChangedAreRefused) {
    SModifyIniFile ini;
    EXPECT_EQ(ini.setValueByKey("k", std::string(1021, 'v')), 1);  // "k=v..." fits
    EXPECT_EQ(ini.setValueByKey("k", std::string(1022, 'v')), 0);
    EXPECT_EQ(ini.setValueByKey("k", " padded"), 0);  // the loader would trim the value
    EXPECT_EQ(ini.setValueByKey("k ", "v"), 0);
    EXPECT_EQ(ini.setValueByKey("k", "inner space"), 1);
}

}  // namespace
