#pragma once
// The pure text work of UDPMessages.Log: the two time texts and the record
// line. Only the C library, so it is tested natively with fixed times.
#include <cstdint>
#include <cstdio>
#include <ctime>

enum : unsigned { LogTimeTextSize = 20 }; // each time text buffer, terminating zero included

// "14MAR2008 09:05:07" and "14MAR2008_090507" from one broken-down time.
// Fields out of range never write beyond LogTimeTextSize bytes.
void FormatLogTimeStamps(const std::tm& time, char* lineTime, char* fileStem);

// Writes one record line about host `host`; texts of any length are written
// whole, null texts as empty ones.
void WriteLogLine(std::FILE* file, const char* lineTime, const char* module, uint16_t host, int32_t errorCode,
                  const char* message, const char* portText, const char* addressText);
