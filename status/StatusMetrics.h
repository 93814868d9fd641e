#pragma once
// The text of NewUdpSrvr.prom, the status file that monitoring reads (the
// Prometheus text exposition format, version 0.0.4), and the reading of its
// host lines back into the Statistics dialog's figures. No Windows API here,
// so both are unit-tested natively with any configuration text.
#include <cstdint>
#include <string>

#include "config/HostConfig.h"
#include "relay/HostCounters.h"

extern const char StatusFileName[]; // "NewUdpSrvr.prom", beside UDPMessages.Log

// One host of the file: its configuration texts as the Statistics dialog
// shows them (no terminating zero needed in the entry) and its figures.
struct StatusHostSample {
    int host;
    HostEntry entry;
    HostCounterRecord counters;
    uint64_t lastRelayedSeconds; // Unix time of the last datagram sent; 0 before the first
};

struct StatusSample {
    uint64_t writtenSeconds; // Unix time of this file
    uint64_t startedSeconds; // Unix time the relay started
    const char* version;
    const char* klorGroup; // SENDMCASTADD
    uint32_t logRecords;   // event-log records written since the start
    int hostCount;
    StatusHostSample hosts[HOST_COUNT];
};

// The whole file, each family with its # HELP and # TYPE line. Label values
// take the format's escapes (\\, \" and \n); a byte from 0x80 up is written
// as the UTF-8 of the same Latin-1 character, so that any configuration text
// makes a valid file and reads back byte for byte.
std::string FormatStatusMetrics(const StatusSample& sample);

// A host as read back from the file's lines; `address` is the group label's
// text, cut to the configuration field's length.
struct StatusHostReading {
    bool present;
    char address[ADDRESS_TEXT_SIZE + 1]; // the field may fill all its bytes
    HostCounterRecord counters;
};

// Reads the per-host received, sent and receiving lines of a file's text into
// readings[host]. Lines it does not know, and lines that are malformed, are
// passed over. Returns how many hosts have all three figures.
int ReadStatusHosts(const std::string& text, StatusHostReading (&readings)[HOST_COUNT]);

// The Statistics dialog's lines for the readings: hosts from 0 up to the
// first that the file does not hold, each line ending in '\n'.
std::string StatisticsLinesOf(const StatusHostReading (&readings)[HOST_COUNT]);
