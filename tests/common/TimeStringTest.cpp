// Date-and-time stamps of the form the frame-grabber CPLD reports as its version.

#include <gtest/gtest.h>

#include "core/common/I_CommonDef.h"

TEST(TimeString, AcceptsStampsFrom2016OnWithFieldsInRange) {
    for (const char* s : {"20160718_1110", "20161201_0000", "20231231_2359", "99981215_1200"})
        EXPECT_EQ(1, I_CommonDef::valid_TimeString(s)) << s;
}

TEST(TimeString, RejectsFieldsOutOfRangeAndTextThatIsNoStamp) {
    for (const char* s :
         {"20151231_2359", "99990101_0000", "20160018_1110", "20161318_1110", "20160700_1110",
          "20160732_1110", "20160718_2400", "20160718_1160", "", "V1.02", "CPLD 20160718_1110"})
        EXPECT_EQ(0, I_CommonDef::valid_TimeString(s)) << s;
    EXPECT_EQ(0, I_CommonDef::valid_TimeString(nullptr));
}
