#include "log/EventLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Each test writes in its own fresh current directory.
class LogWrite : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "logwrite.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(saved_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    static std::string ReadLog() {
        std::ifstream in(EventLogName, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    fs::path saved_, dir_;
};

// The record after its time text, which is checked on its own.
std::string AfterTime(const std::string& line) {
    return line.size() > 18 ? line.substr(18) : line;
}

} // namespace

TEST_F(LogWrite, MissingLogIsCreatedWithOneRecordOfTheCurrentTime) {
    char before[20], after[20], stem[20];
    GetLogTimeStamps(before, stem);
    WriteLogRecord("In UDP Recv", 2, 10048, "Error in binding socket", "6789", "233.1.2.5");
    GetLogTimeStamps(after, stem);
    const std::string log = ReadLog();
    EXPECT_EQ(AfterTime(log),
              "          2      10048  In UDP Recv       6789       233.1.2.5 Error in binding socket\n");
    const std::string time = log.substr(0, 18);
    EXPECT_TRUE(time == before || time == after) << time;
}

TEST_F(LogWrite, RecordsAreAppendedToWhatIsThere) {
    { std::ofstream(EventLogName, std::ios::binary) << "written by someone else\n"; }
    WriteLogRecord("In UDP Send", 0, 0, "Error in binding socket", "6789", "239.1.1.1");
    WriteLogRecord("In UDP Recv", 1, 10035, "Error in recvfrom()", "7001", "239.2.2.2");
    std::istringstream log(ReadLog());
    std::string first, second, third, rest;
    std::getline(log, first);
    std::getline(log, second);
    std::getline(log, third);
    EXPECT_EQ(first, "written by someone else");
    EXPECT_EQ(AfterTime(second),
              "          0          0  In UDP Send       6789       239.1.1.1 Error in binding socket");
    EXPECT_EQ(AfterTime(third),
              "          1      10035  In UDP Recv       7001       239.2.2.2 Error in recvfrom()");
    EXPECT_FALSE(std::getline(log, rest));
}

TEST_F(LogWrite, HostsAboveFiveOpenNoFile) {
    WriteLogRecord("In UDP Recv", 6, 1, "six", "1", "a");
    WriteLogRecord("In UDP Recv", 0xFFFF, 1, "minus one", "1", "a");
    WriteLogRecord("In UDP Recv", 0xFFFFFFFFu, 1, "all bits", "1", "a");
    WriteLogRecord("In UDP Send", 0x02000006u, 1, "length and six", "1", "a");
    EXPECT_FALSE(fs::exists(EventLogName));
    WriteLogRecord("In UDP Recv", 5, 1, "five", "1", "a");
    WriteLogRecord("In UDP Send", 0x02000003u, 1, "length and three", "1", "a");
    std::istringstream log(ReadLog());
    std::string five, three, rest;
    std::getline(log, five);
    std::getline(log, three);
    EXPECT_EQ(AfterTime(five).substr(0, 11), "          5");
    EXPECT_EQ(AfterTime(three).substr(0, 11), "          3");
    EXPECT_NE(three.find("length and three"), std::string::npos);
    EXPECT_FALSE(std::getline(log, rest));
}

TEST_F(LogWrite, UnopenableLogLosesTheRecordQuietly) {
    // A directory of the log's name cannot be opened as a file, even by root.
    fs::create_directory(EventLogName);
    WriteLogRecord("In UDP Recv", 1, 1, "lost", "1", "a");
    EXPECT_TRUE(fs::is_directory(EventLogName));
    EXPECT_TRUE(fs::is_empty(EventLogName));
    // The log is opened per record: once the obstacle is gone the next one is written.
    fs::remove(EventLogName);
    WriteLogRecord("In UDP Recv", 1, 1, "kept", "1", "a");
    EXPECT_EQ(AfterTime(ReadLog()), "          1          1  In UDP Recv          1               a kept\n");
}

// The clock of this test program: the C library's, or while Ticking is set
// one that moves on by a second at every reading, so that texts made from two
// readings differ.
static std::atomic<bool> Ticking{false};
static std::atomic<std::time_t> TickingNow{1205485507}; // 14 Mar 2008, 09:05:07 UTC

extern "C" std::time_t time(std::time_t* out) noexcept {
    std::time_t now;
    if (Ticking) {
        now = TickingNow++;
    } else {
        timespec clock = {};
        clock_gettime(CLOCK_REALTIME, &clock);
        now = clock.tv_sec;
    }
    if (out != nullptr)
        *out = now;
    return now;
}

TEST(LogTimeStamps, BothTextsComeFromOneReading) {
    char line[20], stem[20];
    Ticking = true;
    GetLogTimeStamps(line, stem);
    Ticking = false;
    ASSERT_EQ(std::string(line).size(), 18u);
    std::string fromLine = line;
    fromLine[9] = '_';
    fromLine.erase(15, 1).erase(12, 1);
    EXPECT_EQ(fromLine, stem);
}
