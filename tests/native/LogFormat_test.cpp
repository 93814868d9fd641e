#include "log/LogFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time = {};
    time.tm_year = year - 1900;
    time.tm_mon = month;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

struct TimeTexts {
    std::string line, stem;
};

TimeTexts Format(const std::tm& time) {
    char line[LogTimeTextSize], stem[LogTimeTextSize];
    FormatLogTimeStamps(time, line, stem);
    return {line, stem};
}

// The record line as written to a file.
std::string Line(const char* lineTime, const char* module, uint16_t host, int32_t error, const char* message,
                 const char* port, const char* address) {
    std::FILE* file = std::tmpfile();
    if (!file)
        return "<no temporary file>";
    WriteLogLine(file, lineTime, module, host, error, message, port, address);
    std::string text;
    std::rewind(file);
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

const char* const ExampleTime = "14MAR2008 09:05:07";

} // namespace

TEST(LogTimeTexts, ExampleTimeGivesLineTimeAndStem) {
    const TimeTexts texts = Format(MakeTime(2008, 2, 14, 9, 5, 7));
    EXPECT_EQ(texts.line, "14MAR2008 09:05:07");
    EXPECT_EQ(texts.stem, "14MAR2008_090507");
}

TEST(LogTimeTexts, EveryMonthHasItsUpperCaseAbbreviation) {
    const char* const expected[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    for (int month = 0; month < 12; ++month) {
        const TimeTexts texts = Format(MakeTime(2010, month, 28, 12, 30, 45));
        EXPECT_EQ(texts.line, "28" + std::string(expected[month]) + "2010 12:30:45") << month;
        EXPECT_EQ(texts.stem, "28" + std::string(expected[month]) + "2010_123045") << month;
    }
}

TEST(LogTimeTexts, LeadingZerosAndFourDigitYears) {
    EXPECT_EQ(Format(MakeTime(2000, 0, 1, 0, 0, 0)).line, "01JAN2000 00:00:00");
    EXPECT_EQ(Format(MakeTime(2000, 0, 1, 0, 0, 0)).stem, "01JAN2000_000000");
    EXPECT_EQ(Format(MakeTime(99, 5, 9, 8, 7, 6)).line, "09JUN0099 08:07:06");
    EXPECT_EQ(Format(MakeTime(9999, 11, 31, 23, 59, 59)).stem, "31DEC9999_235959");
}

// Broken-down times from outside the clock (or a faulty one) never read
// beyond the month table nor write beyond the 20-byte buffers.
TEST(LogTimeTexts, OutOfRangeFieldsStayInsideTheBuffers) {
    std::tm odd[] = {MakeTime(2008, 12, 14, 9, 5, 7),
                     MakeTime(2008, -1, 14, 9, 5, 7),
                     MakeTime(2008, INT_MAX, 14, 9, 5, 7),
                     MakeTime(2008, INT_MIN, 14, 9, 5, 7),
                     MakeTime(2008, 2, INT_MIN, INT_MIN, INT_MIN, INT_MIN),
                     MakeTime(123456, 2, 14, 9, 5, 7)};
    odd[5].tm_year = INT_MAX; // year INT_MAX + 1900 does not fit an int
    std::tm lowYear = MakeTime(2008, 2, 14, 9, 5, 7);
    lowYear.tm_year = INT_MIN;
    for (const std::tm& time : odd) {
        char line[32], stem[32];
        std::memset(line, 'x', sizeof line);
        std::memset(stem, 'x', sizeof stem);
        FormatLogTimeStamps(time, line, stem);
        EXPECT_LT(std::strlen(line), size_t{LogTimeTextSize});
        EXPECT_LT(std::strlen(stem), size_t{LogTimeTextSize});
        for (size_t i = LogTimeTextSize; i < sizeof line; ++i)
            ASSERT_TRUE(line[i] == 'x' && stem[i] == 'x') << i;
    }
    EXPECT_EQ(Format(odd[0]).line, "14???2008 09:05:07");
    EXPECT_EQ(Format(odd[1]).stem, "14???2008_090507");
    EXPECT_EQ(Format(odd[5]).line.substr(0, 15), "14MAR2147485547");
    EXPECT_EQ(Format(lowYear).line.substr(0, 16), "14MAR-2147481748");
}

TEST(LogRecordLine, ExampleLinesOfTheLog) {
    EXPECT_EQ(Line(ExampleTime, "In UDP Recv", 2, 10048, "Error in binding socket", "6789", "233.1.2.5"),
              "14MAR2008 09:05:07          2      10048  In UDP Recv       6789       233.1.2.5 "
              "Error in binding socket\n");
    EXPECT_EQ(Line(ExampleTime, "In UDP Recv", 0, 0, "FD_CLOSE Event Received", "6789", "233.1.2.5"),
              "14MAR2008 09:05:07          0          0  In UDP Recv       6789       233.1.2.5 "
              "FD_CLOSE Event Received\n");
}

TEST(LogRecordLine, FieldsInLineOrderWithTheirWidths) {
    const std::string line =
        Line(ExampleTime, "In UDP Send", 5, -1, "Error in sending socket", "34074", "239.255.255.255");
    // time, host, error code, two blanks, module without leading blanks,
    // port in 10, address of 15 with only the separator, message.
    EXPECT_EQ(line, std::string(ExampleTime) + " " + "         5" + " " + "        -1" + "  " +
                        "In UDP Send" + " " + "     34074" + " " + "239.255.255.255" + " " +
                        "Error in sending socket\n");
    EXPECT_NE(
        Line(ExampleTime, "In UDP Recv", 1, 0, "m", "6789", "1.2.3.4").find("  In UDP Recv       6789 "),
        std::string::npos);
    EXPECT_NE(
        Line(ExampleTime, "In UDP Recv", 1, 0, "m", "1", "233.1.2.5").find("          1       233.1.2.5 m\n"),
        std::string::npos);
    EXPECT_EQ(Line(ExampleTime, "In UDP Recv", 1, INT32_MIN, "m", "1", "a"),
              std::string(ExampleTime) +
                  "          1 -2147483648  In UDP Recv          1               a m\n");
}

TEST(LogRecordLine, OverlongTextsAreWrittenWhole) {
    const std::string message(5000, 'M'), port(40, '9'), address(300, 'A'), module(64, 'D');
    const std::string line =
        Line(ExampleTime, module.c_str(), 3, 7, message.c_str(), port.c_str(), address.c_str());
    EXPECT_EQ(line, std::string(ExampleTime) + "          3          7  " + module + " " + port + " " +
                        address + " " + message + "\n");
}

TEST(LogRecordLine, NullTextsAreWrittenAsEmpty) {
    const std::string blank10(10, ' ');
    EXPECT_EQ(Line(nullptr, nullptr, 1, 2, nullptr, nullptr, nullptr),
              " " + std::string("         1") + " " + "         2" + "  " + blank10 + " " + blank10 + " " +
                  std::string(15, ' ') + " \n");
}
