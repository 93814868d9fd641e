#include "shell/MessageParams.h"

#include <gtest/gtest.h>

// The packing must come out the same whether WPARAM/LPARAM are 32 or 64 bits
// wide: only the low 32 bits carry meaning.
TEST(MessageParams, ForwardParamCarriesLengthHighAndHostLow) {
    EXPECT_EQ(0x02000005u, PackForwardParam(512, 5));
    EXPECT_EQ(512, ForwardLength(PackForwardParam(512, 5)));
    EXPECT_EQ(5, ForwardHost(PackForwardParam(512, 5)));
    EXPECT_EQ(0xFFFF0000u, PackForwardParam(0x1FFFF, 0x10000)) << "both fields are cut to 16 bits";
    EXPECT_EQ(-1, ForwardHost(0x0200FFFFu)) << "the host reads as a signed 16-bit number";
    const uint64_t wide = 0xDEADBEEF00000000ull | PackForwardParam(512, 3);
    EXPECT_EQ(3, ForwardHost(wide));
    EXPECT_EQ(512, ForwardLength(wide));
}

TEST(MessageParams, RetryTimerIdsHaveOneInTheHighHalf) {
    EXPECT_EQ(0x10000u, RetryTimerId(0));
    EXPECT_EQ(0x10005u, RetryTimerId(5));
    EXPECT_TRUE(IsRetryTimerId(0x10006));
    EXPECT_EQ(6, RetryTimerHost(0x10006));
    EXPECT_FALSE(IsRetryTimerId(IDT_STATISTICS));
    EXPECT_FALSE(IsRetryTimerId(0x20001));
    EXPECT_FALSE(IsRetryTimerId(0xFFFF));
}

TEST(MessageParams, SocketEventSplitsEventAndError) {
    const uint32_t lparam = (10054u << 16) | 32u;
    EXPECT_EQ(32, SocketEventCode(lparam));
    EXPECT_EQ(10054, SocketEventError(lparam));
    EXPECT_EQ(0, SocketEventError(1u));
}
