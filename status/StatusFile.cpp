#include "status/StatusFile.h"

#include <cstring>
#include <string>

#include "config/HostConfig.h"
#include "log/EventLog.h"
#include "relay/HostCounters.h"
#include "relay/RelayRules.h"
#include "resources/Version.h"
#include "shell/Messages.h"
#include "status/StatusMetrics.h"

namespace {

enum : unsigned { STATUS_FILE_PERIOD_MS = 3000 };     // the Statistics dialog's cadence
enum : uint32_t { FAILURE_RECORD_PERIOD_MS = 10000 }; // one record per cause and 10 s

// Not ending in .prom: a textfile collector reading the folder passes it over.
const char StatusTempName[] = "NewUdpSrvr.prom.tmp";
const char StatusModule[] = "In Status File";

uint64_t StartedSeconds;

// Whether the relay runs (between the start and the stop), and when the last
// file was tried: a folder that refuses the file is tried once a period, not
// once a message.
bool StatusFileRunning;
DWORD LastAttemptTick;

// The send path stores only a tick count per datagram; it becomes a Unix
// time here, once per file, when it has changed since the last file.
uint32_t SeenSentTick[HOST_COUNT];
uint64_t LastRelayedSeconds[HOST_COUNT];

struct StepRecord {
    DWORD error;
    RecordGate gate;
};
StepRecord CreateRecord, FileTypeRecord, WriteRecord, ReplaceRecord;

uint64_t UnixSecondsNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    const uint64_t unixEpoch = 116444736000000000ull; // 1 Jan 1970 in 100 ns since 1601
    return ticks.QuadPart > unixEpoch ? (ticks.QuadPart - unixEpoch) / 10000000ull : 0;
}

// Host 0 only selects the record's host column: the file is the relay's.
void RecordFailure(StepRecord& record, DWORD error, const char* message) {
    if (record.error != error)
        record = {error, {}};
    if (PassRecordGate(record.gate, GetTickCount(), FAILURE_RECORD_PERIOD_MS))
        WriteLogRecord(StatusModule, 0, static_cast<int32_t>(error), message, "", StatusFileName);
}

void TakeLastRelayed(uint64_t nowSeconds) {
    const uint32_t nowTick = GetTickCount();
    for (int host = 0; host < HOST_COUNT; ++host) {
        const uint32_t tick = HostLastSentTick[host];
        if (tick == SeenSentTick[host])
            continue;
        SeenSentTick[host] = tick;
        const uint64_t ago = (nowTick - tick) / 1000u;
        LastRelayedSeconds[host] = nowSeconds > ago ? nowSeconds - ago : 0;
    }
}

StatusSample TakeSample(const char* klorGroup) {
    StatusSample sample = {};
    sample.writtenSeconds = UnixSecondsNow();
    sample.startedSeconds = StartedSeconds;
    sample.version = RELAY_VERSION_TEXT;
    sample.klorGroup = klorGroup;
    sample.logRecords = EventLogRecords;
    TakeLastRelayed(sample.writtenSeconds);
    // The hosts the Statistics dialog's rule names, listed or not.
    for (int host = 0; host < HOST_COUNT; ++host) {
        if (!PortTextNamesHost(HostTable[host].RECVUDPPORTID))
            continue;
        sample.hosts[sample.hostCount++] = {host, HostTable[host], HostCounters[host],
                                            LastRelayedSeconds[host]};
    }
    return sample;
}

// Opened for reading too, as the event log is: a FIFO of the name then opens
// without waiting for a reader, and its type turns it down.
bool WriteTemporary(const std::string& text) {
    HANDLE file = CreateFileA(StatusTempName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        RecordFailure(CreateRecord, GetLastError(), "Error in creating status file");
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        RecordFailure(FileTypeRecord, 0, "Status file is no disk file. Not written");
        return false;
    }
    const DWORD size = static_cast<DWORD>(text.size());
    DWORD written = 0;
    const bool whole = WriteFile(file, text.data(), size, &written, nullptr) && written == size;
    const DWORD error = whole ? 0 : GetLastError();
    CloseHandle(file);
    if (!whole) {
        DeleteFileA(StatusTempName);
        RecordFailure(WriteRecord, error, "Error in writing status file");
    }
    return whole;
}

} // namespace

void StartStatusFile(HWND mainWindow) {
    StartedSeconds = UnixSecondsNow();
    StatusFileRunning = true;
    WriteStatusFile();
    SetTimer(mainWindow, IDT_STATUSFILE, STATUS_FILE_PERIOD_MS, nullptr);
}

void StopStatusFile(HWND mainWindow) {
    KillTimer(mainWindow, IDT_STATUSFILE);
    StatusFileRunning = false;
}

void RenewOverdueStatusFile() {
    if (StatusFileRunning && GetTickCount() - LastAttemptTick >= 2 * STATUS_FILE_PERIOD_MS)
        WriteStatusFile();
}

void WriteStatusFile() {
    LastAttemptTick = GetTickCount();
    char klorGroup[ADDRESS_TEXT_SIZE + 1] = {};
    std::memcpy(klorGroup, LocalAddresses.SENDMCASTADD, sizeof LocalAddresses.SENDMCASTADD);
    if (!WriteTemporary(FormatStatusMetrics(TakeSample(klorGroup))))
        return;
    if (!MoveFileExA(StatusTempName, StatusFileName, MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        DeleteFileA(StatusTempName);
        RecordFailure(ReplaceRecord, error, "Error in replacing status file");
    }
}
