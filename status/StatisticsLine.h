#pragma once
// The text of one host's line in the Statistics dialog. No Windows API here,
// so the layout is unit-tested natively.
#include <cstddef>

#include "config/HostConfig.h"
#include "relay/HostCounters.h"

enum : unsigned {
    STATISTICS_LINE_SIZE = 200, // the line buffer; the longest line has 73 characters
};

extern const char* const StatusTexts[2]; // indexed by HostCounters status + 1

// "Not Receiving" for status -1, "Receiving" for 0. Any other status would
// index outside the table; it is shown as "Not Receiving", never as receiving.
const char* StatusText(int status);

// Formats "Host%d %-20s  %10ld  %10ld %20s" into line[size] and returns the
// length of the text written. The text is cut to fit and always ends in a zero.
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
