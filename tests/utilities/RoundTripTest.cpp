// What a configuration file loads, it saves so that it loads again: the longest lines the
// loaders accept come back as the same entries, in both formats; what the loaders cannot take
// fails them and is not saved over.

#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "utilities/SModifyConfig.h"
#include "utilities/SModifyFieldConfig.h"
#include "utilities/SModifyFieldIniFile.h"
#include "utilities/SModifyIniFile.h"
#include "utilities/UModifyTextUtil.h"

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

// What is no configuration file fails every loader at once, with nothing read beyond the
// bounds: a line beyond 1023 characters (a section header too, whose entries would otherwise
// land in the section before it), a file beyond 1 MiB, an endless input. A file that could not
// be read is never saved over; a missing one is created.
TEST(ConfigRoundTrip, InputBeyondTheFormatFailsEveryLoaderAndIsNeverSavedOver) {
    TempDir dir;
    const std::string inputs[] = {
        dir.write("entry.ini", "[s]\nk=" + std::string(1022, 'v') + "\nb=1\n"),
        dir.write("header.ini", "[a]\nk=1\n[" + std::string(1100, 'b') + "]\nk=2\n"),
        dir.write("huge.ini", "[s]\n" + std::string(UModifyTextUtil::kMaxFileSize, '\n')),
        "/dev/zero",
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        SModifyIniFile flat;
        SModifyFieldIniFile sectioned;
        EXPECT_EQ(flat.loadConfigFile(input), 0);
        EXPECT_EQ(sectioned.loadConfigFile(input), 0);
        EXPECT_TRUE(SModifyIniFile::loadListFile(input).empty());
    }

    const std::string before = dir.read("header.ini");
    SModifyConfig flat;
    SModifyFieldConfig sectioned;
    EXPECT_EQ(flat.loadConfig(dir.path("header.ini").c_str()), 0);
    EXPECT_EQ(sectioned.loadConfig(dir.path("header.ini").c_str()), 0);
    EXPECT_EQ(flat.setValue("k", "3"), 1);
    EXPECT_EQ(sectioned.setValue("a", "k", "3"), 1);
    EXPECT_EQ(flat.saveConfig(), 0);
    EXPECT_EQ(sectioned.saveConfig(dir.path("header.ini").c_str()), 0);
    EXPECT_EQ(dir.read("header.ini"), before);

    // Loaded within the bound, but beyond it with the spaces a save puts around "=".
    std::string many = "[s]\n";
    for (int i = 0; i < 300000; ++i) many += "k=\n";
    SModifyFieldIniFile repeated;
    ASSERT_EQ(repeated.loadConfigFile(dir.write("many.ini", many)), 1);
    EXPECT_EQ(repeated.saveConfigFile(dir.path("many.ini")), 0);
    EXPECT_EQ(dir.read("many.ini"), many);

    EXPECT_EQ(flat.loadConfig(dir.path("new.ini").c_str()), 0);
    EXPECT_EQ(flat.setValue("k", "3"), 1);
    EXPECT_EQ(flat.saveConfig(), 1);
    EXPECT_EQ(dir.read("new.ini"), "k = 3\n");
}

// A UTF-8 byte-order mark, as editors on other systems write one, is not part of the first key.
TEST(ConfigRoundTrip, AByteOrderMarkIsSkipped) {
    TempDir dir;
    SModifyIniFile flat;
    ASSERT_EQ(flat.loadConfigFile(dir.write("flat.ini", "\xEF\xBB\xBFMCU.I2CBUS = 8\n")), 1);
    EXPECT_EQ(flat.getValueByKey("MCU.I2CBUS"), "8");
    SModifyFieldIniFile sectioned;
    ASSERT_EQ(sectioned.loadConfigFile(dir.write("field.ini", "\xEF\xBB\xBF[s]\nk=1\n")), 1);
    EXPECT_EQ(sectioned.getValueByKey("s", "k", 0), "1");
    EXPECT_EQ(SModifyIniFile::loadListFile(dir.path("field.ini")).front(), "[s]");
}

}  // namespace
