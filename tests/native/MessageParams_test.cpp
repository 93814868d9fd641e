#include "shell/MessageParams.h"

#include <gtest/gtest.h>

// The packing must come out the same whether WPARAM/LPARAM are 32 or 64 bits
// wide: only the low 32 bits carry meaning, so every row is read again with
// the high bits set.
const uint64_t HighBits = 0xDEADBEEF00000000ull;

// Length in the high 16 bits, host in the low 16, each cut to 16 bits; the
// length reads unsigned, the host signed.
TEST(MessageParams, ForwardParamCarriesLengthHighAndHostLow) {
    const struct {
        uint32_t length, host, packed;
        int readLength, readHost;
    } rows[] = {{512, 5, 0x02000005u, 512, 5},       {7, 1, 0x00070001u, 7, 1},
                {65535, 0, 0xFFFF0000u, 65535, 0},   {0x1FFFF, 0x10000, 0xFFFF0000u, 65535, 0},
                {512, 0xFFFF, 0x0200FFFFu, 512, -1}, {512, 0x10003, 0x02000003u, 512, 3}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "length " << row.length << ", host " << row.host);
        EXPECT_EQ(PackForwardParam(row.length, row.host), row.packed);
        for (const uint64_t wparam : {uint64_t{row.packed}, HighBits | row.packed}) {
            EXPECT_EQ(ForwardLength(wparam), row.readLength);
            EXPECT_EQ(ForwardHost(wparam), row.readHost);
        }
    }
}

// A retry timer id has 1 in the high 16 bits and the host below; no other
// timer's id reads as one.
TEST(MessageParams, RetryTimerIdsHaveOneInTheHighHalf) {
    for (const uint32_t host : {0u, 5u, 6u}) {
        EXPECT_EQ(RetryTimerId(host), 0x10000u + host);
        EXPECT_TRUE(IsRetryTimerId(RetryTimerId(host))) << host;
        EXPECT_EQ(RetryTimerHost(RetryTimerId(host)), host);
    }
    for (const uint64_t other :
         {uint64_t{IDT_STATISTICS}, uint64_t{IDT_STARTUPRETRY}, uint64_t{IDT_CHANNELCHECK}, uint64_t{0xFFFF},
          uint64_t{0x20000}, uint64_t{0x20001}})
        EXPECT_FALSE(IsRetryTimerId(other)) << std::hex << other;
}

// WM_SOCKETEVENT: the event in the low 16 bits, the error in the high 16.
TEST(MessageParams, SocketEventSplitsEventAndError) {
    const struct {
        uint32_t lparam;
        int event, error;
    } rows[] = {{(10054u << 16) | 32u, 32, 10054}, {1u, 1, 0}, {0xFFFF0000u, 0, 65535}};
    for (const auto& row : rows)
        for (const uint64_t lparam : {uint64_t{row.lparam}, HighBits | row.lparam}) {
            EXPECT_EQ(SocketEventCode(lparam), row.event) << std::hex << lparam;
            EXPECT_EQ(SocketEventError(lparam), row.error) << std::hex << lparam;
        }
}
