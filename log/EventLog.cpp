#include "log/EventLog.h"
#include "log/LogFile.h"
#include "log/LogFormat.h"

#include <cstdio>
#include <ctime>

#include "config/HostCount.h"

const char EventLogName[] = "UDPMessages.Log";
uint32_t EventLogRecords;

void GetLogTimeStamps(char* lineTime, char* fileStem) {
    const std::time_t now = std::time(nullptr);
    // localtime fails for times the C library cannot convert; the texts then
    // show the zero time instead of reading through a null pointer.
    std::tm local = {};
    if (const std::tm* converted = std::localtime(&now))
        local = *converted;
    FormatLogTimeStamps(local, lineTime, fileStem);
}

void WriteLogRecord(const char* module, uint32_t hostIndex, int32_t errorCode, const char* message,
                    const char* portText, const char* addressText) {
    // Only the low 16 bits of a host index name the host; the high 16 bits may
    // carry other data (a datagram length). Hosts that do not exist get no record.
    const uint16_t host = static_cast<uint16_t>(hostIndex & 0xFFFFu);
    if (host >= HOST_COUNT)
        return;
    // Opened per record and closed at once, so each record is on disk when
    // this returns and no handle stays open; a log that cannot be opened, or
    // one that is no file to append to, loses the record without a word.
    std::FILE* file = OpenLogForRecord();
    if (!file)
        return;
    char lineTime[LogTimeTextSize];
    char fileStem[LogTimeTextSize];
    GetLogTimeStamps(lineTime, fileStem);
    WriteLogLine(file, lineTime, module, host, errorCode, message, portText, addressText);
    if (std::fclose(file) == 0)
        ++EventLogRecords;
}
