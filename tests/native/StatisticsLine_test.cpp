#include "status/StatisticsLine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Line(int host, const char* address, HostCounterRecord counters) {
    char line[STATISTICS_LINE_SIZE];
    std::memset(line, 'x', sizeof line);
    const size_t length = FormatStatisticsText(line, sizeof line, host, address, counters);
    EXPECT_EQ(length, std::strlen(line));
    return line;
}

HostEntry Entry(const char* port, const char* address) {
    HostEntry entry = {};
    std::strncpy(entry.RECVUDPPORTID, port, sizeof entry.RECVUDPPORTID - 1);
    std::strncpy(entry.RECVMCASTADDR, address, sizeof entry.RECVMCASTADDR - 1);
    return entry;
}

} // namespace

// The two lines an operator sees for a receiving and an idle host.
TEST(StatisticsLine, MatchesTheOperatorsLayout) {
    EXPECT_EQ(Line(0, "233.1.2.5", {0, 120, 118}),
              "Host0 233.1.2.5                    120         118            Receiving");
    EXPECT_EQ(Line(1, "233.1.2.6", {-1, 0, 0}),
              "Host1 233.1.2.6                      0           0        Not Receiving");
}

// Columns: address padded to 20, counts right-aligned in 10, status in 20.
TEST(StatisticsLine, KeepsColumnsForFullAddressAndLargeCounts) {
    const std::string line = Line(5, "239.255.255.255", {0, 2147483647, 1000000000});
    EXPECT_EQ(line, "Host5 239.255.255.255       2147483647  1000000000            Receiving");
    const std::string sixteen = Line(3, "123.123.123.1234", {-1, 7, 8});
    EXPECT_EQ(sixteen, "Host3 123.123.123.1234               7           8        Not Receiving");
    EXPECT_EQ(sixteen.size(), 71u);
    // The longest line: a 16-character address and two 11-character counts.
    EXPECT_EQ(Line(5, "255.255.255.2555", {-1, INT32_MIN, INT32_MIN}).size(), 73u);
}

// Counters wrap in 32-bit two's complement: the most negative value must be
// printed as itself on a 32-bit long (Windows) and a 64-bit long (Linux).
TEST(StatisticsLine, PrintsNegativeAndWrappedCountsAsSigned32Bit) {
    EXPECT_EQ(Line(2, "239.2.2.3", {0, INT32_MIN, -1}),
              "Host2 239.2.2.3             -2147483648          -1            Receiving");
    EXPECT_EQ(Line(4, "", {-1, -5, INT32_MAX}),
              "Host4                               -5  2147483647        Not Receiving");
}

// The longest line a host of the configuration can give fits well within the
// buffer; anything longer is cut at the buffer's end and still terminated.
TEST(StatisticsLine, CutsOverlongAddressAtTheBufferEnd) {
    const std::string address(300, 'A');
    char line[STATISTICS_LINE_SIZE + 8];
    std::memset(line, '#', sizeof line);
    const size_t length = FormatStatisticsText(line, STATISTICS_LINE_SIZE, 0, address.c_str(), {0, 1, 1});
    EXPECT_EQ(length, STATISTICS_LINE_SIZE - 1u);
    EXPECT_EQ(line[STATISTICS_LINE_SIZE - 1], '\0');
    EXPECT_EQ(line[STATISTICS_LINE_SIZE], '#'); // nothing written past the buffer
    EXPECT_EQ(std::string(line, 6), "Host0 ");

    char small[12];
    EXPECT_EQ(FormatStatisticsText(small, sizeof small, 1, "239.1.1.1", {0, 0, 0}), 11u);
    EXPECT_STREQ(small, "Host1 239.1");
    EXPECT_EQ(FormatStatisticsText(small, 0, 1, "239.1.1.1", {0, 0, 0}), 0u);
}

// An address field filled to its last byte without a terminating zero is read
// only up to the field's end.
TEST(StatisticsLine, ReadsHostAddressOnlyWithinItsField) {
    HostEntry entry = Entry("7000", "239.2.2.1");
    char line[STATISTICS_LINE_SIZE];
    FormatHostStatistics(line, sizeof line, 0, entry, {0, 3, 2});
    EXPECT_STREQ(line, "Host0 239.2.2.1                      3           2            Receiving");

    std::memset(entry.RECVMCASTADDR, '9', sizeof entry.RECVMCASTADDR);
    FormatHostStatistics(line, sizeof line, 0, entry, {0, 3, 2});
    EXPECT_STREQ(line, "Host0 99999999999999999              3           2            Receiving");
}

// Status -1 and 0 pick the table entries; a value the relay never stores must
// not index outside the table and never reads as receiving.
TEST(StatisticsLine, StatusColumnStaysInsideTheTable) {
    const std::string idle = "Host0 239.2.2.1                      0           0        Not Receiving";
    EXPECT_EQ(Line(0, "239.2.2.1", {-1, 0, 0}), idle);
    EXPECT_EQ(Line(0, "239.2.2.1", {0, 0, 0}),
              "Host0 239.2.2.1                      0           0            Receiving");
    for (int32_t status : {1, 5, -2, INT32_MIN, INT32_MAX})
        EXPECT_EQ(Line(0, "239.2.2.1", {status, 0, 0}), idle) << status;
}

// The list shows hosts from host 0 up to the first one without a receiving port.
TEST(StatisticsLine, ListsHostsUpToTheFirstUnconfigured) {
    HostEntry table[6];
    for (HostEntry& entry : table)
        entry = Entry("?", "");
    EXPECT_EQ(ListedHostCount(table), 0);

    table[0] = Entry("7000", "239.2.2.1");
    table[1] = Entry("7001", "239.2.2.2");
    table[3] = Entry("7003", "239.2.2.4");
    EXPECT_EQ(ListedHostCount(table), 2);

    table[2] = Entry("", "239.2.2.3");
    EXPECT_EQ(ListedHostCount(table), 2);
    table[2] = Entry("?7", "239.2.2.3");
    EXPECT_EQ(ListedHostCount(table), 2);

    for (int host = 0; host < 6; ++host)
        table[host] = Entry("7000", "239.2.2.1");
    EXPECT_EQ(ListedHostCount(table), 6);
    table[0] = Entry("?", "");
    EXPECT_EQ(ListedHostCount(table), 0);
}
