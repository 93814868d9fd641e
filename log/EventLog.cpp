#include "log/EventLog.h"

const char EventLogName[] = "UDPMessages.Log";

// Placeholder until the event log lands.
void WriteLogRecord(const char*, uint32_t, int32_t, const char*, const char*, const char*) {}
void GetLogTimeStamps(char* lineTime, char* fileStem) {
    lineTime[0] = '\0';
    fileStem[0] = '\0';
}
void RotateEventLog() {}
