// The per-device identity record: what is kept is served exactly as kept, only successful
// reads are kept, and a record emptied for another device serves nothing.

#include <gtest/gtest.h>

#include <cstring>

#include "core/common/C_identityRecord.h"

namespace {

const C_identityRecord::Key kPartNumber = {C_identityRecord::EEPROM_FIELD, 0x60};
const C_identityRecord::Key kOtherChip = {C_identityRecord::CPLD_VERSION, 0x60};

TEST(IdentityRecord, ServesWhatWasKeptUnderItsKeyAsFarAsItWasRead) {
    C_identityRecord record;
    record.keep(kPartNumber, "RHX27640-0A", 12);
    char text[13] = {};
    EXPECT_TRUE(record.recall(kPartNumber, text, 12));
    EXPECT_STREQ(text, "RHX27640-0A");
    char head[4] = {};
    EXPECT_TRUE(record.recall(kPartNumber, head, 3));
    EXPECT_STREQ(head, "RHX");
    EXPECT_FALSE(record.recall(kPartNumber, text, 13)) << "more than was read";
    EXPECT_FALSE(record.recall(kOtherChip, text, 12));
    record.forget(kPartNumber);
    EXPECT_FALSE(record.recall(kPartNumber, text, sizeof text));
    record.keep(kPartNumber, "x", 2);
    record.clear();
    EXPECT_FALSE(record.recall(kPartNumber, text, 2));
}

TEST(IdentityRecord, ReadsTheDeviceUntilAReadSucceedsThenNeverAgain) {
    C_identityRecord record;
    const int answers[] = {QRT_ERR_FAILED, QRT_ERR_BUSY, QRT_SUCCESS, QRT_ERR_FAILED};
    int reads = 0;
    for (int round = 0; round < 4; ++round) {
        char value[4] = {};
        const int status = readIdentity(&record, kPartNumber, value, sizeof value, [&]() -> int {
            std::memcpy(value, "2.1", 4);
            return answers[reads++];
        });
        EXPECT_EQ(status, round < 2 ? answers[round] : QRT_SUCCESS) << round;
        if (round >= 2) {
            EXPECT_STREQ(value, "2.1");
        }
    }
    EXPECT_EQ(reads, 3);
    // Without a record every call reads.
    int direct = 0;
    char value[1];
    for (int round = 0; round < 2; ++round)
        readIdentity(nullptr, kPartNumber, value, 1, [&]() -> int { return ++direct, 0; });
    EXPECT_EQ(direct, 2);
}

}  // namespace
