#pragma once
// The pure text work of UDPMessages.Log: the two time texts and the record
// line. Only the C library, so it is tested natively with fixed times.
#include <cstdint>
#include <cstdio>
#include <ctime>

enum : unsigned { LogTimeTextSize = 20 }; // each time text buffer, terminating zero included

// Upper-case month abbreviations indexed by tm_mon (0 is January).
extern const char MonthNames[12][4];

// "14MAR2008 09:05:07" and "14MAR2008_090507" from one broken-down time.
// Fields out of range never write beyond LogTimeTextSize bytes.
void FormatLogTimeStamps(const std::tm& time, char* lineTime, char* fileStem);

// Only the low 16 bits of a host index name the host; the high 16 bits may
// carry other data (a datagram length). Indexes from HOST_COUNT up get no record.
bool IsLoggedHost(uint32_t hostIndex);

// Writes one record line; texts of any length are written whole, null texts
// as empty ones.
void WriteLogLine(std::FILE* file, const char* lineTime, const char* module, uint32_t hostIndex,
                  int32_t errorCode, const char* message, const char* portText, const char* addressText);
