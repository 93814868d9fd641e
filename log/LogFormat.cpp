#include "log/LogFormat.h"

namespace {

// Upper-case month abbreviations indexed by tm_mon (0 is January).
const char MonthNames[12][4] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

const char* TextOrEmpty(const char* text) {
    return text ? text : "";
}

} // namespace

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

void WriteLogLine(std::FILE* file, const char* lineTime, const char* module, uint16_t host, int32_t errorCode,
                  const char* message, const char* portText, const char* addressText) {
    std::fprintf(file, "%s %10d %10d  %10s %10s %15s %s\n", TextOrEmpty(lineTime), static_cast<int>(host),
                 static_cast<int>(errorCode), TextOrEmpty(module), TextOrEmpty(portText),
                 TextOrEmpty(addressText), TextOrEmpty(message));
}
