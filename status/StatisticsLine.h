#pragma once
// The text of one host's line in the Statistics dialog. No Windows API here,
// so the layout is unit-tested natively.
#include <cstddef>

#include "config/HostConfig.h"
#include "relay/HostCounters.h"

enum : unsigned {
    STATISTICS_LINE_SIZE = 200, // the line buffer; the longest line has 73 characters
};

// Formats "Host%d %-20s  %10ld  %10ld %20s" into line[size] and returns the
// length of the text written. The text is cut to fit and always ends in a zero.
// The status column is "Receiving" for status 0 and "Not Receiving" for -1
// and for any other value: never receiving by mistake.
size_t FormatStatisticsText(char* line, size_t size, int host, const char* address,
                            const HostCounterRecord& counters);

// The same for a host of the configuration: reads no further than the end of
// the entry's address field, even when the field lacks its terminating zero.
size_t FormatHostStatistics(char* line, size_t size, int host, const HostEntry& entry,
                            const HostCounterRecord& counters);

// How many lines the Statistics dialog lists: the hosts from host 0 up to the
// first one that is not configured (empty receiving port or one beginning
// with '?'); the hosts after it are left out, configured or not.
int ListedHostCount(const HostEntry (&table)[HOST_COUNT]);
