#include "log/LogFormat.h"

#include "config/HostConfig.h"

const char MonthNames[12][4] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

void FormatLogTimeStamps(const std::tm& time, char* lineTime, char* fileStem) {
    const char* month = time.tm_mon >= 0 && time.tm_mon < 12 ? MonthNames[time.tm_mon] : "???";
    // Wider than int so that no tm_year can overflow. Oversized fields are
    // cut at the buffer's end; a failed format leaves an empty text rather
    // than undefined bytes.
    const long long year = static_cast<long long>(time.tm_year) + 1900;
    if (std::snprintf(lineTime, LogTimeTextSize, "%02d%3s%04lld %02d:%02d:%02d", time.tm_mday, month, year,
                      time.tm_hour, time.tm_min, time.tm_sec) < 0)
        lineTime[0] = '\0';
    if (std::snprintf(fileStem, LogTimeTextSize, "%02d%3s%04lld_%02d%02d%02d", time.tm_mday, month, year,
                      time.tm_hour, time.tm_min, time.tm_sec) < 0)
        fileStem[0] = '\0';
}

bool IsLoggedHost(uint32_t hostIndex) {
    return (hostIndex & 0xFFFFu) < HOST_COUNT;
}

// The low 16 bits read as a signed 16-bit number.
static int LoggedHostNumber(uint32_t hostIndex) {
    const int low = static_cast<int>(hostIndex & 0xFFFFu);
    return low < 0x8000 ? low : low - 0x10000;
}

static const char* TextOrEmpty(const char* text) {
    return text ? text : "";
}

void WriteLogLine(std::FILE* file, const char* lineTime, const char* module, uint32_t hostIndex,
                  int32_t errorCode, const char* message, const char* portText, const char* addressText) {
    std::fprintf(file, "%s %10d %10d  %10s %10s %15s %s\n", TextOrEmpty(lineTime),
                 LoggedHostNumber(hostIndex), static_cast<int>(errorCode), TextOrEmpty(module),
                 TextOrEmpty(portText), TextOrEmpty(addressText), TextOrEmpty(message));
}
