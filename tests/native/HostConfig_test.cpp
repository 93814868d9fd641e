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
