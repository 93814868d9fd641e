#pragma once
// UDPMessages.Log: one line per failure or event the operator is to know
// of, appended in the working directory; moved aside at start-up once it has
// reached LogRotateLimit.
#include <cstdint>

extern const char EventLogName[]; // "UDPMessages.Log"
extern uint32_t EventLogRecords;  // records written since the start
enum : uint32_t { LogRotateLimit = 20480000u };

// Never fails towards the caller: a record that cannot be written is lost.
void WriteLogRecord(const char* module, uint32_t hostIndex, int32_t errorCode, const char* message,
                    const char* portText, const char* addressText);
// Both buffers at least 20 bytes: "14MAR2008 09:05:07" and "14MAR2008_090507".
void GetLogTimeStamps(char* lineTime, char* fileStem);
void RotateEventLog();
