#include "config/HostConfig.h"

#include <gtest/gtest.h>

// Whether a receiving port text configures a host: the load looks at the
// whole text, the status list only at the first character.
TEST(HostConfigRules, OnlyExactQuestionMarkLeavesHostUnconfiguredOnLoad) {
    EXPECT_TRUE(IsUnconfiguredPortValue("?"));
    EXPECT_FALSE(IsUnconfiguredPortValue("?12"));
    EXPECT_FALSE(IsUnconfiguredPortValue(""));
    EXPECT_FALSE(IsUnconfiguredPortValue("6789"));
}

TEST(HostConfigRules, StatusListTreatsEmptyAndQuestionPrefixAsNoHost) {
    EXPECT_FALSE(PortTextNamesHost("?"));
    EXPECT_FALSE(PortTextNamesHost("?12"));
    EXPECT_FALSE(PortTextNamesHost(""));
    EXPECT_TRUE(PortTextNamesHost("6789"));
}

// What OK connects: a receiving port from 1 to 65535 in digits, and a group
// that passes the address check.
TEST(HostConfigRules, UsableEntryHasPortNumberAndGroup) {
    EXPECT_TRUE(IsUsableHostEntry({"7000", "239.2.2.1", "6789"}));
    EXPECT_FALSE(IsUsableHostEntry({"7000", "", "6789"}));
    EXPECT_FALSE(IsUsableHostEntry({"?", "239.2.2.1", "6789"}));
    EXPECT_FALSE(IsUsableHostEntry({"7000x", "239.2.2.1", "6789"}));
}

// A port text names a port only as a number from 1 to 65535 in digits.
TEST(PortText, OnlyDigitsFromOneTo65535NameAPort) {
    const struct {
        const char* text;
        uint16_t port;
    } cases[] = {{"6789", 6789}, {"1", 1},  {"65535", 65535}, {"007", 7},   {"", 0},      {"?", 0},
                 {"?5", 0},      {"5?", 0}, {"0", 0},         {"65536", 0}, {"99999", 0}, {"-1", 0},
                 {" 5", 0},      {"5 ", 0}, {"+5", 0},        {"0x10", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(PortNumber(c.text), c.port) << '"' << c.text << '"';
}

TEST(DottedAddress, AcceptsWhatTheFieldsMayHold) {
    for (const char* text :
         {"1.2.3.4", ".1.2.34", "0255.1.1.1", "255.255.255.255", "-1.2.3.4", "1x.2.3.4", " 12.0.0.1"})
        EXPECT_EQ(IsValidDottedAddress(text), 1) << text;
}

// Exactly three dots, counted over the whole text: two and four are refused,
// and no text at all is no address.
TEST(DottedAddress, RefusesDotsLengthAndLargeParts) {
    for (const char* text : {"1.2.3", "1.2.3.4.5", "1..2.34", "1.2.34.", ".1.2.3", "256.1.1.1", "1.256.1.1",
                             "1.2.256.1", "1.2.3.999", "1.2.3.99999999999", "", "123.123.123.1234"})
        EXPECT_EQ(IsValidDottedAddress(text), 0) << text;
    EXPECT_EQ(IsValidDottedAddress(nullptr), 0);
}
