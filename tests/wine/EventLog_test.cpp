// UDPMessages.Log on a Windows file system: line ends on disk, sharing with
// other writers, and the rotation at start-up.
#include "log/EventLog.h"
#include "log/LogFormat.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

const char* const Recv = "In UDP Recv";

// Each test runs in its own empty current directory.
class EventLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved_), 0u);
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        static int serial = 0;
        dir_ = std::string(temp) + "eventlog." + std::to_string(GetCurrentProcessId()) + "." +
               std::to_string(++serial);
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryA(saved_);
        RemoveTree(dir_);
    }
    static void RemoveTree(const std::string& dir) {
        for (const std::string& name : Files(dir)) {
            const std::string path = dir + "\\" + name;
            if (!DeleteFileA(path.c_str()))
                RemoveTree(path);
        }
        RemoveDirectoryA(dir.c_str());
    }
    std::vector<std::string> Files() const { return Files(dir_); }
    // Names of the files and folders in a folder.
    static std::vector<std::string> Files(const std::string& dir) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        for (int i = 0; i < 1000; ++i) {
            if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..")
                names.push_back(found.cFileName);
            if (!FindNextFileA(search, &found))
                break;
        }
        FindClose(search);
        return names;
    }
    char saved_[MAX_PATH] = {};
    std::string dir_;
};

// Size of a file, or -1 if it does not exist.
long long FileSize(const char* name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A file of the given size; the space is reserved, not written.
void MakeFileOfSize(const char* name, long long size) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    ASSERT_EQ(FileSize(name), size);
}

// Appends bytes through a handle as another program would.
void AppendThrough(HANDLE file, const std::string& text) {
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_END);
    EXPECT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
}

HANDLE OpenLogAsOtherWriter(DWORD share) {
    return CreateFileA(EventLogName, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadFileBytes(const char* name) {
    std::string text;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD got = 0;
    for (int i = 0; i < 1000 && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0; ++i)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

// The record line without its time text.
std::string AfterTime(const std::string& line) {
    return line.size() > 18 ? line.substr(18) : line;
}

std::string StemNow() {
    char line[LogTimeTextSize], stem[LogTimeTextSize];
    GetLogTimeStamps(line, stem);
    return stem;
}

} // namespace

TEST_F(EventLogTest, EveryLineEndsInCrLfOnDisk) {
    WriteLogRecord(Recv, 2, 10048, "Error in binding socket", "6789", "233.1.2.5");
    WriteLogRecord("In UDP Send", 0x02000003u, 10065, "Error in sending socket", "34074", "239.1.1.1");
    const std::string log = ReadFileBytes(EventLogName);
    const size_t firstEnd = log.find("\r\n");
    ASSERT_NE(firstEnd, std::string::npos) << log;
    EXPECT_EQ(AfterTime(log.substr(0, firstEnd)),
              "          2      10048  In UDP Recv       6789       233.1.2.5 Error in binding socket");
    EXPECT_EQ(AfterTime(log.substr(firstEnd + 2)),
              "          3      10065  In UDP Send      34074       239.1.1.1 Error in sending socket\r\n");
    EXPECT_EQ(log.find('\n'), firstEnd + 1); // no bare line feed before
}

TEST_F(EventLogTest, RecordsGoAtTheEndOfWhatOtherWritersWrote) {
    HANDLE other = OpenLogAsOtherWriter(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    AppendThrough(other, "first\r\n");
    WriteLogRecord(Recv, 0, 0, "FD_CLOSE Event Received", "6789", "233.1.2.5");
    AppendThrough(other, "middle\r\n");
    WriteLogRecord(Recv, 1, 0, "FD_CLOSE Event Received", "6790", "233.1.2.6");
    CloseHandle(other);
    const std::string log = ReadFileBytes(EventLogName);
    const size_t record1 = log.find("6789"), middle = log.find("middle"), record2 = log.find("6790");
    EXPECT_EQ(log.rfind("first\r\n", 0), 0u) << log;
    ASSERT_NE(record2, std::string::npos) << log;
    EXPECT_TRUE(record1 < middle && middle < record2) << log;
    EXPECT_EQ(log.substr(log.size() - 25), "FD_CLOSE Event Received\r\n");
}

TEST_F(EventLogTest, LogHeldWithoutWriteSharingLosesTheRecordQuietly) {
    HANDLE other = OpenLogAsOtherWriter(FILE_SHARE_READ);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    AppendThrough(other, "kept\r\n");
    WriteLogRecord(Recv, 4, 10050, "Error in recvfrom()", "7004", "239.2.2.5");
    CloseHandle(other);
    EXPECT_EQ(ReadFileBytes(EventLogName), "kept\r\n");
    // Once the other handle is gone the next record gets through.
    WriteLogRecord(Recv, 4, 10050, "Error in recvfrom()", "7004", "239.2.2.5");
    EXPECT_NE(ReadFileBytes(EventLogName).find("Error in recvfrom()\r\n"), std::string::npos);
}

TEST_F(EventLogTest, LogOfTheLimitIsRenamedAfterTheStartTime) {
    MakeFileOfSize(EventLogName, LogRotateLimit);
    const std::string before = StemNow();
    RotateEventLog();
    const std::string after = StemNow();
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0] == before + ".log" || files[0] == after + ".log") << files[0];
    EXPECT_EQ(files[0].size(), 20u);
    EXPECT_EQ(FileSize(files[0].c_str()), LogRotateLimit);
    // The next record begins a new log.
    WriteLogRecord(Recv, 0, 0, "FD_CLOSE Event Received", "6789", "233.1.2.5");
    const std::string log = ReadFileBytes(EventLogName);
    EXPECT_EQ(AfterTime(log), "          0          0  In UDP Recv       6789       233.1.2.5 FD_CLOSE Event "
                              "Received\r\n");
}

// 4 GiB and 1000 bytes: its low 32 bits alone would make it a small log.
TEST_F(EventLogTest, LogOfFourGibibytesIsRotatedByItsWholeSize) {
    const long long size = (1LL << 32) + 1000;
    MakeFileOfSize(EventLogName, size);
    RotateEventLog();
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0], EventLogName);
    EXPECT_EQ(FileSize(files[0].c_str()), size);
}

TEST_F(EventLogTest, LogOneByteBelowTheLimitStays) {
    MakeFileOfSize(EventLogName, LogRotateLimit - 1);
    RotateEventLog();
    EXPECT_EQ(Files(), std::vector<std::string>{EventLogName});
    EXPECT_EQ(FileSize(EventLogName), LogRotateLimit - 1);
}

TEST_F(EventLogTest, TakenRotationNameLeavesTheLogGrowing) {
    MakeFileOfSize(EventLogName, LogRotateLimit);
    // The rotation's second is not known in advance: take the names of this
    // second and the next few.
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> taken;
    for (int ahead = -1; ahead <= 5; ++ahead) {
        const std::time_t then = now + ahead;
        char line[LogTimeTextSize], stem[LogTimeTextSize];
        FormatLogTimeStamps(*std::localtime(&then), line, stem);
        taken.push_back(std::string(stem) + ".log");
        MakeFileOfSize(taken.back().c_str(), 0);
    }
    RotateEventLog();
    EXPECT_EQ(FileSize(EventLogName), LogRotateLimit);
    for (const std::string& name : taken)
        EXPECT_EQ(FileSize(name.c_str()), 0) << name;
    EXPECT_EQ(Files().size(), taken.size() + 1);
    WriteLogRecord(Recv, 5, 0, "FD_CLOSE Event Received", "6789", "233.1.2.5");
    EXPECT_GT(FileSize(EventLogName), LogRotateLimit);
}

TEST_F(EventLogTest, NoLogNoRotationAndTheFirstRecordCreatesIt) {
    RotateEventLog();
    EXPECT_TRUE(Files().empty());
    WriteLogRecord(Recv, 1, 0, "FD_CLOSE Event Received", "6789", "233.1.2.5");
    EXPECT_EQ(Files(), std::vector<std::string>{EventLogName});
}

// A bare name would make the probe look in the program's directory first;
// the log of the current directory is the one measured.
TEST_F(EventLogTest, ProbeMeasuresTheCurrentDirectorysLog) {
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    std::string decoy = program;
    decoy = decoy.substr(0, decoy.find_last_of("\\/") + 1) + EventLogName;
    ASSERT_EQ(FileSize(decoy.c_str()), -1) << "a log is lying beside the test program: " << decoy;
    MakeFileOfSize(decoy.c_str(), 10);
    MakeFileOfSize(EventLogName, LogRotateLimit);
    RotateEventLog();
    DeleteFileA(decoy.c_str());
    EXPECT_EQ(FileSize(EventLogName), -1);
    EXPECT_EQ(Files().size(), 1u);
}

// Some old file calls take paths of at most 128 characters; a log in a
// deeper working folder is measured and rotated all the same.
TEST_F(EventLogTest, LogInAWorkingFolderDeeperThan128CharactersIsRotated) {
    std::string deep = dir_;
    for (int level = 0; deep.size() < 200; ++level) {
        deep += "\\working-folder-" + std::to_string(level);
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
    }
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
    MakeFileOfSize(EventLogName, LogRotateLimit - 1);
    RotateEventLog();
    EXPECT_EQ(Files(deep), std::vector<std::string>{EventLogName});
    MakeFileOfSize(EventLogName, LogRotateLimit);
    RotateEventLog();
    const std::vector<std::string> files = Files(deep);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size(), 20u) << files[0];
    EXPECT_EQ(FileSize(files[0].c_str()), LogRotateLimit);
}
