#include "status/StatisticsLine.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const StatusTexts[2] = {"Not Receiving", "Receiving"}; // indexed by status + 1

// Any status but -1 and 0 would index outside the table.
const char* StatusText(int status) {
    if (status == -1 || status == 0)
        return StatusTexts[status + 1];
    return StatusTexts[0];
}

} // namespace

size_t FormatStatisticsText(char* line, size_t size, int host, const char* address,
                            const HostCounterRecord& counters) {
    if (line == nullptr || size == 0)
        return 0;
    std::memset(line, 0, size);
    // long is 32 bits on Windows and 64 on Linux: the counters are 32-bit
    // signed values, widened explicitly so %ld reads them right on both.
    int written = std::snprintf(line, size, "Host%d %-20s  %10ld  %10ld %20s", host, address ? address : "",
                                static_cast<long>(counters.received), static_cast<long>(counters.sent),
                                StatusText(counters.status));
    if (written < 0)
        return 0;
    return std::strlen(line);
}

size_t FormatHostStatistics(char* line, size_t size, int host, const HostEntry& entry,
                            const HostCounterRecord& counters) {
    char address[sizeof entry.RECVMCASTADDR + 1] = {};
    std::memcpy(address, entry.RECVMCASTADDR, sizeof entry.RECVMCASTADDR);
    return FormatStatisticsText(line, size, host, address, counters);
}

int ListedHostCount(const HostEntry (&table)[HOST_COUNT]) {
    int count = 0;
    while (count < HOST_COUNT && PortTextNamesHost(table[count].RECVUDPPORTID))
        ++count;
    return count;
}
