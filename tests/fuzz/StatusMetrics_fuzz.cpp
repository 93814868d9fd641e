// libFuzzer target: the status file's text on arbitrary configuration bytes
// and arbitrary file texts. The first 23 bytes fill a host's receiving port
// and group fields as the load may leave them (no zero needed); the file made
// of them must read back into the very Statistics line. The rest is read as
// a status file of any content, which must never fault.
#include "status/StatisticsLine.h"
#include "status/StatusMetrics.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StatusSample sample = {};
    sample.version = "3.04.00";
    sample.klorGroup = "239.1.1.1";
    sample.hostCount = 1;
    StatusHostSample& host = sample.hosts[0];
    HostEntry& entry = host.entry;
    const size_t port = size < sizeof entry.RECVUDPPORTID ? size : sizeof entry.RECVUDPPORTID;
    std::memcpy(entry.RECVUDPPORTID, data, port);
    const size_t group = size - port < sizeof entry.RECVMCASTADDR ? size - port : sizeof entry.RECVMCASTADDR;
    std::memcpy(entry.RECVMCASTADDR, data + port, group);
    const size_t taken = port + group;
    host.counters = {size % 2 ? 0 : -1, static_cast<int32_t>(size * 7919), static_cast<int32_t>(size)};
    StatusHostReading readings[HOST_COUNT];
    ReadStatusHosts(FormatStatusMetrics(sample), readings);
    char line[STATISTICS_LINE_SIZE];
    FormatHostStatistics(line, sizeof line, 0, entry, host.counters);
    if (StatisticsLinesOf(readings) != std::string(line) + "\n")
        std::abort();
    ReadStatusHosts(std::string(reinterpret_cast<const char*>(data) + taken, size - taken), readings);
    StatisticsLinesOf(readings);
    return 0;
}
