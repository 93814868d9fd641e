// The channel windows driven by messages, without traffic: refused and failed
// connects with their retry timers, the failed send channel, the hand-off's
// packing and block ownership, the allocation-failure box, and notifications
// that no connected channel owns, and the set-up failures that only a
// failing socket call reaches. Local addresses here are on no machine
// (192.0.2.77), so every bind there fails at the local-address rule, or the
// loopback address, which every machine has.
#include "LabSockets.h"
#include "RelayHarness.h"

namespace {

const char Missing[] = "192.0.2.77";

int AllocCalls;
HGLOBAL WINAPI FailingAlloc(UINT, SIZE_T) {
    ++AllocCalls;
    return nullptr;
}

// A freed movable handle no longer has a size.
bool Freed(HGLOBAL block) {
    return GlobalSize(block) == 0;
}

int StartUpFailuresLeft;
std::vector<DWORD> StartUpTicks; // when each start-up asked for the library
int PASCAL FailingStartUp(WORD version, LPWSADATA data) {
    StartUpTicks.push_back(GetTickCount());
    if (StartUpFailuresLeft > 0) {
        --StartUpFailuresLeft;
        WSASetLastError(WSASYSNOTREADY);
        return WSASYSNOTREADY;
    }
    return WSAStartup(version, data);
}

bool FailInterfaceStep;
int TtlFailuresLeft, TtlCalls;
// The interface and time-to-live steps fail as asked: the send socket's, as
// no host channel connects where this is used.
int PASCAL FailingOption(SOCKET s, int level, int option, const char* value, int length) {
    if (option == IP_MULTICAST_IF && FailInterfaceStep) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    TtlCalls += option == IP_MULTICAST_TTL ? 1 : 0;
    if (option == IP_MULTICAST_TTL && TtlFailuresLeft > 0) {
        --TtlFailuresLeft;
        WSASetLastError(WSAENOPROTOOPT);
        return SOCKET_ERROR;
    }
    return setsockopt(s, level, option, value, length);
}

// The send socket's binds (no host channel binds where this is used), by the
// port field tried; those in RefusedPorts fail with their error, as Windows
// refuses a taken port (10048) or one in a reserved range (10013).
std::vector<unsigned> TriedPorts;
std::vector<std::pair<unsigned, int>> RefusedPorts;
int PASCAL RefusingBind(SOCKET s, const sockaddr* address, int length) {
    const unsigned port = reinterpret_cast<const sockaddr_in*>(address)->sin_port;
    TriedPorts.push_back(port);
    for (const auto& refused : RefusedPorts)
        if (refused.first == port) {
            WSASetLastError(refused.second);
            return SOCKET_ERROR;
        }
    return RecordingBind(s, address, length);
}

// The port field the send socket binds first: 35098 on the wire.
const unsigned SendFirstPort = 6793;

std::string Bytes(size_t n, char first) {
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<char>(first + i);
    return data;
}

} // namespace

using RelayChannels = RelayHarness;

// One run of ~16 s: host 6 is refused and comes back every 10 s; host 1 fails
// at the bind twice, 5 s apart, and its retry comes 10 s after the second.
TEST_F(RelayChannels, RefusedAndFailedConnectsRetryFromOneShotTimers) {
    SetLocal("239.1.1.1", Missing, "127.0.0.1");
    ConfigureHost(1);
    StartChannels();
    const DWORD start = GetTickCount();
    const SOCKET next = NextSocketHandle();
    Connect(6);
    EXPECT_EQ(NextSocketHandle(), next) << "a refused request leaves no socket open";
    EXPECT_TRUE(LogLines().empty()) << "the refusal reaches no line of the log";
    Connect(1);
    EXPECT_EQ(NextSocketHandle(), next) << "the failed socket is closed";
    const std::string bindFailed =
        "         1      10049  In UDP Recv       7001       239.2.2.2 Error in binding socket";
    ExpectSequence(LogRecords(), {bindFailed});
    PumpMessages(5000);
    Connect(1); // fails again and restarts host 1's timer
    const DWORD rearmed = GetTickCount();
    PumpMessages(16000 - (GetTickCount() - start));

    // Host 6's timer expires once within 16 s and asks again, and the
    // refusal arms it once more; re-arming restarted host 1's timer: one
    // expiry, not two, and its connect fails a third time.
    const auto refused = Messages(RecvChannelWindow, WM_TIMER, 0x10006);
    const auto retry1 = Messages(RecvChannelWindow, WM_TIMER, 0x10001);
    ASSERT_EQ(refused.size(), 1u);
    ASSERT_EQ(retry1.size(), 1u);
    EXPECT_TRUE(KillTimer(RecvChannelWindow, 0x10006)) << "host 6 was asked for again and refused";
    EXPECT_GE(refused[0].tick - start, 9500u);
    EXPECT_LE(refused[0].tick - start, 13000u);
    EXPECT_GE(retry1[0].tick - rearmed, 9500u);
    ExpectSequence(LogRecords(), {bindFailed, bindFailed, bindFailed}); // one per attempt, none of host 6
    EXPECT_EQ(HostCounters[1].status, -1) << "a failure leaves the status";
}

// The send channel cannot bind: one record for host 0, datagrams discarded
// with their blocks freed, and a retry 10 s after the failure that datagrams
// of host 0 do not keep postponing.
TEST_F(RelayChannels, FailedSendChannelDiscardsAndRetries) {
    SetLocal("239.1.1.1", "198.51.100.1", Missing);
    ConfigureHost(0);
    ConfigureHost(2, nullptr, "6790");
    GlobalAllocProc = TrackingAlloc;
    Allocated.clear();
    StartChannels();
    const DWORD start = GetTickCount();
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_NE(LogLines()[0].find(
                  "         0      10049  In UDP Send       6789       239.1.1.1 Error in binding socket"),
              std::string::npos)
        << LogLines()[0];

    const std::string data = Bytes(512, 'a');
    ForwardDatagram(data.data(), 2, 512);
    ForwardDatagram(data.data(), 0, 512);
    ASSERT_EQ(Allocated.size(), 2u);
    PumpMessages(100);
    // Length high, host low: the hand-off's own packing, which both windows
    // rely on.
    ExpectSequence(HandOffs(SendChannelWindow), {"forward 0x2000002", "forward 0x2000000"});
    const auto handed = Messages(SendChannelWindow, WM_FORWARDDATAGRAM);
    ASSERT_FALSE(handed.empty());
    EXPECT_EQ(handed[0].block, data) << "the block carries the bytes";
    EXPECT_TRUE(Freed(Allocated[0]) && Freed(Allocated[1])) << "discarded blocks are freed";
    for (int i = 0; i < 8; ++i) { // host 0 keeps sending, every second
        ForwardDatagram(data.data(), 0, 512);
        PumpMessages(1000);
    }
    PumpMessages(12500 - (GetTickCount() - start));

    const auto retry0 = Messages(SendChannelWindow, WM_TIMER, 0x10000);
    ASSERT_GE(retry0.size(), 1u) << "host 0's traffic did not hold the retry back";
    EXPECT_LE(retry0[0].tick - start, 11500u);
    const auto retry2 = Messages(SendChannelWindow, WM_TIMER, 0x10002);
    ASSERT_EQ(retry2.size(), 1u) << "host 2's discarded datagram armed its own retry";
    EXPECT_EQ(LogLines("In UDP Send       6790").size(), 1u)
        << "its expiry sets the socket up, and that set-up's record shows host 2's port";
    EXPECT_EQ(HostCounters[0].sent, 0);
    EXPECT_EQ(HostCounters[2].sent, 0);
    for (HGLOBAL block : Allocated)
        EXPECT_TRUE(Freed(block));
}

// A hand-off for a host outside 0..5 (6 is the first past the tables) is
// freed and counted nowhere, whether or not the channel is failed; so is a
// datagram whose post cannot be made.
TEST_F(RelayChannels, HandOffForNoHostIsFreed) {
    SetLocal("239.1.1.1", "198.51.100.1", Missing);
    StartChannels();
    for (int failed = 1; failed >= 0; --failed) {
        if (!failed) { // set up again on an address the machine has: ready
            SetLocal("239.1.1.1", "198.51.100.1", "127.0.0.1");
            SendMessageA(SendChannelWindow, WM_CREATE, 0, 0);
            ASSERT_NE(LastBound("127.0.0.1"), INVALID_SOCKET);
        }
        for (uint32_t host : {6u, 0xFFFFu}) {
            HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 512);
            ASSERT_TRUE(PostMessageA(SendChannelWindow, WM_FORWARDDATAGRAM, PackForwardParam(512, host),
                                     reinterpret_cast<LPARAM>(block)));
            PumpMessages(50);
            EXPECT_TRUE(Freed(block)) << "host " << host;
            // A failed channel would arm the host's retry: no host, no timer.
            EXPECT_FALSE(KillTimer(SendChannelWindow, RetryTimerId(host))) << "host " << host;
        }
    }
    PumpMessages(100);
    for (const HostCounterRecord& record : HostCounters)
        EXPECT_EQ(record.sent, 0);
    EXPECT_EQ(LogLines().size(), 1u) << "only the start-up's bind record";

    GlobalAllocProc = TrackingAlloc;
    Allocated.clear();
    HWND sendWindow = SendChannelWindow;
    SendChannelWindow = nullptr; // no window to post to
    const std::string data = Bytes(512, 'x');
    ForwardDatagram(data.data(), 1, 512);
    SendChannelWindow = sendWindow;
    ASSERT_EQ(Allocated.size(), 1u);
    EXPECT_TRUE(Freed(Allocated[0])) << "a block that could not be posted is freed";
}

TEST_F(RelayChannels, AllocationFailureShowsBoxAndLosesDatagram) {
    SetLocal("239.1.1.1", "198.51.100.1", Missing);
    StartChannels();
    GlobalAllocProc = FailingAlloc;
    AllocCalls = 0;
    BoxAnswerer answerer("Error in allocation", MB_OK, IDOK);
    const std::string data = Bytes(512, 'q');
    ForwardDatagram(data.data(), 3, 512); // returns once the box is answered
    EXPECT_EQ(AllocCalls, 1);
    EXPECT_EQ(answerer.Answered(), 1);
    EXPECT_EQ(answerer.LastText(), "Sending msg to udp");
    PumpMessages(100);
    EXPECT_TRUE(Messages(SendChannelWindow, WM_FORWARDDATAGRAM).empty()) << "nothing was handed over";
    EXPECT_EQ(LogLines().size(), 1u) << "the allocation failure is no log record";
}

// Notifications for a socket that no connected channel holds are ignored
// whatever their event: a handle value that is no channel's, and
// INVALID_SOCKET, the value idle channels hold. A start-up resets the counts.
TEST_F(RelayChannels, NotificationsOfNoChannelAreIgnored) {
    SetLocal("239.1.1.1", "198.51.100.1", Missing);
    for (int h = 0; h < 6; ++h)
        ConfigureHost(h);
    HostCounters[5] = {0, 17, 4};
    StartChannels();
    EXPECT_EQ(HostCounters[5].received, 0);
    EXPECT_EQ(HostCounters[5].sent, 0);
    const size_t startRecords = LogLines().size();
    for (SOCKET s : {SOCKET(0x4328), INVALID_SOCKET})
        for (unsigned event : {FD_CLOSE, FD_READ})
            SendMessageA(RecvChannelWindow, WM_SOCKETEVENT, s, static_cast<LPARAM>(event));
    EXPECT_EQ(LogLines().size(), startRecords);
    for (const HostCounterRecord& record : HostCounters) {
        EXPECT_EQ(record.received, 0);
        EXPECT_EQ(record.status, -1);
    }
    EXPECT_TRUE(Messages(SendChannelWindow, WM_FORWARDDATAGRAM).empty());
}

// A refused request whose index does not fit in 16 bits arms no timer:
// 0x10002 would be host 2's retry timer.
TEST_F(RelayChannels, RefusedIndexBeyondSixteenBitsArmsNoTimer) {
    SetLocal("239.1.1.1", Missing, "127.0.0.1");
    StartChannels();
    Connect(0x10002);
    EXPECT_FALSE(KillTimer(RecvChannelWindow, 0x10002)) << "host 2's retry timer was armed";
    EXPECT_FALSE(KillTimer(RecvChannelWindow, 0x20002));
    Connect(0xFFFF);
    EXPECT_TRUE(KillTimer(RecvChannelWindow, 0x1FFFF)) << "a 16-bit index is refused with its retry";
}

// The receive side's socket library does not start: one record for host 0
// with its texts, and the start-up again 10 s later, not at once.
TEST_F(RelayChannels, FailedReceiveStartUpIsRepeatedTenSecondsLater) {
    SetLocal("239.1.1.1", Missing, "127.0.0.1");
    ConfigureHost(0);
    WSAStartupProc = FailingStartUp;
    StartUpFailuresLeft = 2;
    StartUpTicks.clear();
    StartChannels();
    const DWORD start = GetTickCount();
    const std::string startUpFailed =
        "         0      10091  In UDP Recv       7000       239.2.2.1 Error in WSAStartup";
    ExpectSequence(LogRecords(), {startUpFailed});
    PumpMessages(11000, [] { return StartUpTicks.size() >= 2; });
    ASSERT_EQ(StartUpTicks.size(), 2u);
    EXPECT_GE(StartUpTicks[1] - start, 9500u);
    ExpectSequence(LogRecords(), {startUpFailed, startUpFailed}); // the second attempt failed too
}

// The send socket's set-up: a failed interface step is recorded and the
// set-up goes on; a failed time-to-live step closes the socket, is recorded
// and is tried again 1 ms later, not 10 s. While both keep failing each is
// recorded once (per 10 s), not with every retry; the set-up that gets
// through ends ready.
TEST_F(RelayChannels, SendSetUpFailuresAreRecordedOnceAndTheTtlStepIsRetriedAtOnce) {
    SetLocal("239.1.1.1", Missing, "127.0.0.1");
    ConfigureHost(0);
    SetSockOptProc = FailingOption;
    FailInterfaceStep = true;
    TtlFailuresLeft = 20;
    TtlCalls = 0;
    StartChannels();
    const DWORD failed = GetTickCount();
    EXPECT_FALSE(PortTaken("127.0.0.1", 35098)) << "the socket whose time to live failed is closed";
    EXPECT_TRUE(PumpMessages(5000, [] { return PortTaken("127.0.0.1", 35098); }))
        << "set up again by the retries";
    EXPECT_LT(GetTickCount() - failed, 3000u) << "20 retries of 1 ms, not of 10 s";
    EXPECT_EQ(TtlCalls, 21) << "the first set-up and 20 retries";
    // One record per failing step.
    ExpectSequence(LogRecords(),
                   {"         0      10022  In UDP Send       6789       239.1.1.1 Error in setting "
                    "socket options....Setting to Correct IP",
                    "         0      10042  In UDP Send       6789       239.1.1.1 Error in setting "
                    "socket options....Time to live setting failed"});
    FailInterfaceStep = false;
}

// The KLOR-side local port search steps down over reserved ports as over
// taken ones, and the set-up ends ready with nothing recorded.
TEST_F(RelayChannels, SendPortSearchStepsOverReservedAndTakenPorts) {
    SetLocal("239.1.1.1", Missing, "127.0.0.1");
    ConfigureHost(0);
    BindProc = RefusingBind;
    TriedPorts.clear();
    RefusedPorts = {
        {SendFirstPort, WSAEACCES}, {SendFirstPort - 1u, WSAEADDRINUSE}, {SendFirstPort - 2u, WSAEACCES}};
    StartChannels();
    sockaddr_in bound = {};
    int length = sizeof bound;
    ASSERT_EQ(getsockname(LastBound("127.0.0.1"), reinterpret_cast<sockaddr*>(&bound), &length), 0);
    EXPECT_EQ(bound.sin_port, SendFirstPort - 3u);
    EXPECT_EQ(TriedPorts, (std::vector<unsigned>{SendFirstPort, SendFirstPort - 1u, SendFirstPort - 2u,
                                                 SendFirstPort - 3u}));
    ExpectSequence(LogRecords(), {});
}

// Port texts that are no number from 1 to 65535: the receive side sets no
// channel up and records it, retried every 10 s like a failed bind; the send
// side sends nothing to port 0 and records it once per host and 10 s.
TEST_F(RelayChannels, PortTextsThatAreNoNumberSetNothingUp) {
    SetLocal("239.1.1.1", "127.0.0.1", "127.0.0.1");
    const char* texts[] = {"", "?5", "0", "70000", "6a"};
    for (int h = 0; h < 5; ++h)
        ConfigureHost(h, texts[h], texts[h]);
    StartChannels();
    GlobalAllocProc = TrackingAlloc;
    Allocated.clear();
    char data[512] = {};
    for (unsigned h = 0; h < 5; ++h) {
        Connect(h);
        EXPECT_EQ(Bound.size(), 1u) << "host " << h << " binds no port; the send socket alone is bound";
        for (int i = 0; i < 3; ++i)
            ForwardDatagram(data, h, sizeof data);
    }
    PumpMessages(100);
    for (HGLOBAL block : Allocated)
        EXPECT_EQ(GlobalSize(block), 0u) << "each dropped datagram's block is freed";
    for (int h = 0; h < 5; ++h) {
        EXPECT_EQ(HostCounters[h].sent, 0);
        char recv[120], send[120];
        std::snprintf(recv, sizeof recv,
                      "%10d %10d  In UDP Recv %10s %15s Receiving port not a number from 1 "
                      "to 65535. Retrying",
                      h, 0, texts[h], HostTable[h].RECVMCASTADDR);
        std::snprintf(send, sizeof send,
                      "%10d %10d  In UDP Send %10s %15s Sending port not a number from 1 to "
                      "65535. Not sent",
                      h, 0, texts[h], "239.1.1.1");
        EXPECT_EQ(LogLines(recv).size(), 1u) << recv;
        EXPECT_EQ(LogLines(send).size(), 1u) << "one per host and 10 s: " << send;
        EXPECT_TRUE(KillTimer(RecvChannelWindow, RetryTimerId(h))) << "host " << h << "'s retry is armed";
        EXPECT_FALSE(KillTimer(SendChannelWindow, RetryTimerId(h))) << "the shared send socket is sound";
    }
    EXPECT_EQ(LogLines().size(), 10u);
}
