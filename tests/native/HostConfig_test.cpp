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
