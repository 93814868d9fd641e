#include "status/StatusMetrics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "status/StatisticsLine.h"

namespace {

StatusHostSample Host(int host, const char* port, const char* group, HostCounterRecord counters,
                      uint64_t last = 0) {
    StatusHostSample sample = {};
    sample.host = host;
    std::strncpy(sample.entry.RECVUDPPORTID, port, sizeof sample.entry.RECVUDPPORTID);
    std::strncpy(sample.entry.RECVMCASTADDR, group, sizeof sample.entry.RECVMCASTADDR);
    sample.counters = counters;
    sample.lastRelayedSeconds = last;
    return sample;
}

StatusSample Sample() {
    StatusSample sample = {};
    sample.writtenSeconds = 1700000003;
    sample.startedSeconds = 1700000000;
    sample.version = "3.04.00";
    sample.klorGroup = "239.1.1.1";
    sample.logRecords = 4;
    return sample;
}

std::string FileLines(const StatusSample& sample) {
    return FormatStatusMetrics(sample);
}

bool Holds(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos || text.rfind(line + "\n", 0) == 0;
}

} // namespace

// Every family with its HELP and TYPE, the host labels and the figures as
// the dialog has them: receiving is status 0, a count as the dialog shows it.
TEST(StatusMetrics, WritesEachFamilyWithItsTypeAndTheHostsFigures) {
    StatusSample sample = Sample();
    sample.hosts[0] = Host(0, "7000", "239.2.2.1", {0, 120, 118}, 1700000002);
    sample.hosts[1] = Host(2, "7002", "239.2.2.3", {-1, 0, 0});
    sample.hostCount = 2;
    const std::string text = FileLines(sample);
    const char* const families[][2] = {{"newudpsrvr_datagrams_received_total", "counter"},
                                       {"newudpsrvr_datagrams_sent_total", "counter"},
                                       {"newudpsrvr_receiving", "gauge"},
                                       {"newudpsrvr_last_relayed_timestamp_seconds", "gauge"},
                                       {"newudpsrvr_status_written_timestamp_seconds", "gauge"},
                                       {"newudpsrvr_start_timestamp_seconds", "gauge"},
                                       {"newudpsrvr_info", "gauge"},
                                       {"newudpsrvr_klor_group_info", "gauge"},
                                       {"newudpsrvr_log_records_total", "counter"}};
    for (const auto& family : families) {
        EXPECT_NE(text.find(std::string("# HELP ") + family[0] + " "), std::string::npos) << family[0];
        EXPECT_TRUE(Holds(text, std::string("# TYPE ") + family[0] + " " + family[1])) << family[0];
    }
    const std::string labels0 = "{host=\"0\",group=\"239.2.2.1\",port=\"7000\"} ";
    const std::string labels2 = "{host=\"2\",group=\"239.2.2.3\",port=\"7002\"} ";
    EXPECT_TRUE(Holds(text, "newudpsrvr_datagrams_received_total" + labels0 + "120"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_datagrams_sent_total" + labels0 + "118"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_receiving" + labels0 + "1"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_receiving" + labels2 + "0"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_last_relayed_timestamp_seconds" + labels0 + "1700000002"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_last_relayed_timestamp_seconds" + labels2 + "0"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_status_written_timestamp_seconds 1700000003"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_start_timestamp_seconds 1700000000"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_info{version=\"3.04.00\"} 1"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_klor_group_info{group=\"239.1.1.1\"} 1"));
    EXPECT_TRUE(Holds(text, "newudpsrvr_log_records_total 4"));
    EXPECT_EQ(text.back(), '\n');
}

// A label value takes the format's three escapes; a byte from 0x80 up is
// the UTF-8 of its Latin-1 character; nothing else changes.
TEST(StatusMetrics, EscapesLabelValues) {
    StatusSample sample = Sample();
    sample.klorGroup = "a\\b\"c\nd\te\xE9\x80";
    EXPECT_TRUE(Holds(FormatStatusMetrics(sample),
                      "newudpsrvr_klor_group_info{group=\"a\\\\b\\\"c\\nd\te\xC3\xA9\xC2\x80\"} 1"));
    sample.klorGroup = nullptr;
    EXPECT_TRUE(Holds(FormatStatusMetrics(sample), "newudpsrvr_klor_group_info{group=\"\"} 1"));
}

// Whatever the configuration holds, the file reads back into the dialog's
// very lines: every byte value in the group, a field without its zero, and
// the hosts up to the first the file lacks.
TEST(StatusMetrics, ReadsBackTheStatisticsLinesOfAnyConfigurationText) {
    StatusSample sample = Sample();
    char every[256];
    for (int i = 0; i < 255; ++i)
        every[i] = static_cast<char>(i + 1);
    every[255] = 0;
    HostCounterRecord counters[] = {{0, 2147483647, 5}, {-1, -2147483647 - 1, 0}, {0, 7, 7}, {0, 1, 1}};
    for (int chunk = 0; chunk < 15; ++chunk) {
        sample.hostCount = 0;
        sample.hosts[sample.hostCount++] = Host(0, "7\"0\\", every + chunk * 17, counters[0]);
        sample.hosts[sample.hostCount++] = Host(1, "?", "\n\n\n\"\"\"\\\\\\", counters[1]);
        sample.hosts[sample.hostCount++] = Host(2, "65535", "", counters[2]);
        sample.hosts[sample.hostCount++] = Host(4, "7004", "239.2.2.5", counters[3]); // after a gap
        StatusHostReading readings[HOST_COUNT];
        EXPECT_EQ(ReadStatusHosts(FileLines(sample), readings), 4);
        std::string expected;
        for (int host = 0; host < 3; ++host) {
            char line[STATISTICS_LINE_SIZE];
            FormatHostStatistics(line, sizeof line, host, sample.hosts[host].entry, counters[host]);
            expected += std::string(line) + "\n";
        }
        EXPECT_EQ(StatisticsLinesOf(readings), expected) << "chunk " << chunk;
    }
}

// Lines of another kind, cut short or malformed are passed over; a host
// needs all three figures to be read.
TEST(StatusMetrics, PassesOverMalformedLines) {
    const std::string text = "# TYPE newudpsrvr_receiving gauge\n"
                             "newudpsrvr_receiving{host=\"0\",group=\"g\"} 1\n"
                             "newudpsrvr_datagrams_received_total{host=\"0\",group=\"g\"} 5\n"
                             "newudpsrvr_datagrams_sent_total{host=\"0\",group=\"g\"} 4\n"
                             "newudpsrvr_receiving{host=\"1\",group=\"g\n"
                             "newudpsrvr_receiving{host=\"1\",group=\"g\\\n"
                             "newudpsrvr_receiving{host=\"x\",group=\"g\"} 1\n"
                             "newudpsrvr_receiving{host=\"99\",group=\"g\"} 1\n"
                             "newudpsrvr_receiving{host=\"-1\",group=\"g\"} 1\n"
                             "newudpsrvr_datagrams_sent_total{host=\"1\",group=\"g\"} 4x\n"
                             "newudpsrvr_datagrams_sent_total{host=\"1\",group=\"g\"}\n"
                             "newudpsrvr_datagrams_sent_total{host=\"1\" 3\n"
                             "{host=\"1\"} 3\n"
                             "newudpsrvr_datagrams_received_total{host=\"1\",group=\"g\"} 2";
    StatusHostReading readings[HOST_COUNT];
    EXPECT_EQ(ReadStatusHosts(text, readings), 1);
    EXPECT_TRUE(readings[0].present);
    EXPECT_FALSE(readings[1].present);
    char line[STATISTICS_LINE_SIZE];
    FormatStatisticsText(line, sizeof line, 0, "g", {0, 5, 4});
    EXPECT_EQ(StatisticsLinesOf(readings), std::string(line) + "\n");
    EXPECT_EQ(ReadStatusHosts("", readings), 0);
    EXPECT_EQ(StatisticsLinesOf(readings), "");
}
