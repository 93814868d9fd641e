#include "status/StatusMetrics.h"

#include <cstdio>
#include <cstring>

#include "status/StatisticsLine.h"

const char StatusFileName[] = "NewUdpSrvr.prom";

namespace {

const char ReceivedFamily[] = "newudpsrvr_datagrams_received_total";
const char SentFamily[] = "newudpsrvr_datagrams_sent_total";
const char ReceivingFamily[] = "newudpsrvr_receiving";

// A label value as written in the file, without its quotes.
std::string EscapeLabelValue(const char* text, size_t length) {
    std::string out;
    for (size_t i = 0; text != nullptr && i < length; ++i) {
        const unsigned char c = text[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else if (c >= 0x80) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else
            out += static_cast<char>(c);
    }
    return out;
}

void AppendFamilyHead(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void AppendNumber(std::string& out, unsigned long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", value);
    out += text;
}

void AppendSigned(std::string& out, long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", value);
    out += text;
}

// The text of a configuration field up to its first zero or its end.
size_t FieldLength(const char* field, size_t size) {
    const void* zero = std::memchr(field, 0, size);
    return zero ? static_cast<const char*>(zero) - field : size;
}

void AppendHostLabels(std::string& out, const StatusHostSample& host) {
    const HostEntry& entry = host.entry;
    out += "{host=\"";
    AppendNumber(out, static_cast<unsigned>(host.host));
    out += "\",group=\"";
    out +=
        EscapeLabelValue(entry.RECVMCASTADDR, FieldLength(entry.RECVMCASTADDR, sizeof entry.RECVMCASTADDR));
    out += "\",port=\"";
    out +=
        EscapeLabelValue(entry.RECVUDPPORTID, FieldLength(entry.RECVUDPPORTID, sizeof entry.RECVUDPPORTID));
    out += "\"} ";
}

enum class HostFigure { Received, Sent, Receiving, LastRelayed };

void AppendHostFamily(std::string& out, const StatusSample& sample, const char* name, const char* type,
                      const char* help, HostFigure figure) {
    AppendFamilyHead(out, name, type, help);
    for (int i = 0; i < sample.hostCount && i < HOST_COUNT; ++i) {
        const StatusHostSample& host = sample.hosts[i];
        out += name;
        AppendHostLabels(out, host);
        switch (figure) {
        case HostFigure::Received:
            AppendSigned(out, host.counters.received);
            break;
        case HostFigure::Sent:
            AppendSigned(out, host.counters.sent);
            break;
        case HostFigure::Receiving:
            out += host.counters.status == 0 ? '1' : '0';
            break;
        case HostFigure::LastRelayed:
            AppendNumber(out, host.lastRelayedSeconds);
            break;
        }
        out += '\n';
    }
}

void AppendRelayGauge(std::string& out, const char* name, const char* help, unsigned long long value) {
    AppendFamilyHead(out, name, "gauge", help);
    out += name;
    out += ' ';
    AppendNumber(out, value);
    out += '\n';
}

void AppendInfo(std::string& out, const char* name, const char* help, const char* label, const char* value) {
    AppendFamilyHead(out, name, "gauge", help);
    out += name;
    out += '{';
    out += label;
    out += "=\"";
    out += EscapeLabelValue(value ? value : "", value ? std::strlen(value) : 0);
    out += "\"} 1\n";
}

// ---- reading back

// One sample line with labels: its name, the host label's number, the group
// label's text and the value.
struct HostLine {
    std::string name;
    long host = -1;
    std::string group;
    long long value = 0;
};

// A quoted label value from `at` (past its opening quote) to its closing
// quote, EscapeLabelValue undone: the escapes, and each two-byte UTF-8
// sequence of a Latin-1 character back to its one byte.
bool ReadLabelValue(const std::string& line, size_t& at, std::string& value) {
    value.clear();
    while (at < line.size()) {
        const unsigned char c = line[at++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (at >= line.size())
                return false;
            const char escaped = line[at++];
            value += escaped == 'n' ? '\n' : escaped;
        } else if ((c == 0xC2 || c == 0xC3) && at < line.size()) {
            const unsigned char next = line[at++];
            value += static_cast<char>(((c & 0x03) << 6) | (next & 0x3F));
        } else {
            value += static_cast<char>(c);
        }
    }
    return false;
}

// False for anything else.
bool ParseHostLine(const std::string& line, HostLine& parsed) {
    const size_t brace = line.find('{');
    if (brace == std::string::npos || brace == 0)
        return false;
    parsed.name = line.substr(0, brace);
    size_t at = brace + 1;
    for (;;) {
        const size_t equals = line.find('=', at);
        if (equals == std::string::npos || equals + 1 >= line.size() || line[equals + 1] != '"')
            return false;
        const std::string label = line.substr(at, equals - at);
        at = equals + 2;
        std::string value;
        if (!ReadLabelValue(line, at, value))
            return false;
        if (label == "host") {
            char* end = nullptr;
            parsed.host = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != 0)
                return false;
        } else if (label == "group") {
            parsed.group = value;
        }
        if (at < line.size() && line[at] == ',') {
            ++at;
            continue;
        }
        if (at < line.size() && line[at] == '}')
            break;
        return false;
    }
    if (at + 2 > line.size() || line[at + 1] != ' ')
        return false;
    const std::string number = line.substr(at + 2);
    char* end = nullptr;
    parsed.value = std::strtoll(number.c_str(), &end, 10);
    return !number.empty() && *end == 0;
}

} // namespace

std::string FormatStatusMetrics(const StatusSample& sample) {
    std::string out;
    out.reserve(4096);
    AppendHostFamily(out, sample, ReceivedFamily, "counter",
                     "Datagrams read on the host's channel, as the Statistics dialog counts them.",
                     HostFigure::Received);
    AppendHostFamily(out, sample, SentFamily, "counter",
                     "Datagrams of the host sent on the KLOR network, as the Statistics dialog counts them.",
                     HostFigure::Sent);
    AppendHostFamily(out, sample, ReceivingFamily, "gauge",
                     "1 while the Statistics dialog shows the host Receiving, else 0.",
                     HostFigure::Receiving);
    AppendHostFamily(out, sample, "newudpsrvr_last_relayed_timestamp_seconds", "gauge",
                     "Unix time of the host's last datagram sent on the KLOR network; 0 before the first.",
                     HostFigure::LastRelayed);
    AppendRelayGauge(out, "newudpsrvr_status_written_timestamp_seconds", "Unix time this file was written.",
                     sample.writtenSeconds);
    AppendRelayGauge(out, "newudpsrvr_start_timestamp_seconds", "Unix time the relay started.",
                     sample.startedSeconds);
    AppendInfo(out, "newudpsrvr_info", "The relay's version.", "version", sample.version);
    AppendInfo(out, "newudpsrvr_klor_group_info", "The KLOR-side multicast group the relay sends to.",
               "group", sample.klorGroup);
    AppendFamilyHead(out, "newudpsrvr_log_records_total", "counter",
                     "Records written to UDPMessages.Log since the relay started.");
    out += "newudpsrvr_log_records_total ";
    AppendNumber(out, sample.logRecords);
    out += '\n';
    return out;
}

int ReadStatusHosts(const std::string& text, StatusHostReading (&readings)[HOST_COUNT]) {
    enum : unsigned { RECEIVED = 1, SENT = 2, RECEIVING = 4, ALL = 7 };
    unsigned seen[HOST_COUNT] = {};
    for (StatusHostReading& reading : readings)
        reading = {};
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        HostLine line;
        if (ParseHostLine(text.substr(start, end - start), line) && line.host >= 0 &&
            line.host < HOST_COUNT) {
            StatusHostReading& reading = readings[line.host];
            const int32_t value = static_cast<int32_t>(line.value);
            if (line.name == ReceivedFamily) {
                reading.counters.received = value;
                seen[line.host] |= RECEIVED;
            } else if (line.name == SentFamily) {
                reading.counters.sent = value;
                seen[line.host] |= SENT;
            } else if (line.name == ReceivingFamily) {
                reading.counters.status = line.value == 1 ? 0 : -1;
                seen[line.host] |= RECEIVING;
                std::snprintf(reading.address, sizeof reading.address, "%s", line.group.c_str());
            }
        }
        start = end + 1;
    }
    int complete = 0;
    for (int host = 0; host < HOST_COUNT; ++host) {
        readings[host].present = seen[host] == ALL;
        complete += readings[host].present ? 1 : 0;
    }
    return complete;
}

std::string StatisticsLinesOf(const StatusHostReading (&readings)[HOST_COUNT]) {
    std::string out;
    for (int host = 0; host < HOST_COUNT && readings[host].present; ++host) {
        char line[STATISTICS_LINE_SIZE];
        FormatStatisticsText(line, sizeof line, host, readings[host].address, readings[host].counters);
        out += line;
        out += '\n';
    }
    return out;
}
