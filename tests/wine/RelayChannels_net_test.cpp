// The relay with real traffic in the lab's relay namespace: this process
// sends to the host-side groups through 198.51.100.1 and listens on the
// KLOR-side group through 203.0.113.1; multicast loopback brings both ways
// back into this namespace.
#include "LabSockets.h"
#include "RelayHarness.h"

#include <algorithm>
#include <climits>

namespace {

struct Datagram {
    std::string bytes;
    sockaddr_in from;
};

SOCKET UdpSocket() {
    return socket(AF_INET, SOCK_DGRAM, 0);
}

sockaddr_in Address(const char* ip, u_short portValue) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = portValue;
    a.sin_addr.s_addr = inet_addr(ip);
    return a;
}

void SendTo(SOCKET s, const std::string& bytes, const char* group, u_short port) {
    const sockaddr_in to = Address(group, htons(port));
    sendto(s, bytes.data(), static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

bool Readable(SOCKET s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval none = {0, 0};
    return select(0, &set, nullptr, nullptr, &none) > 0;
}

// Runs the relay's messages for up to `ms` and collects what `receiver` gets,
// stopping early once `want` datagrams are in.
std::vector<Datagram> Collect(SOCKET receiver, DWORD ms, size_t want) {
    std::vector<Datagram> got;
    PumpMessages(ms, [&] {
        while (Readable(receiver)) {
            char buffer[2048];
            Datagram d;
            int length = sizeof d.from;
            const int n =
                recvfrom(receiver, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&d.from), &length);
            if (n < 0)
                break;
            d.bytes.assign(buffer, n);
            got.push_back(d);
        }
        return got.size() >= want;
    });
    return got;
}

std::vector<std::string> Payloads(const std::vector<Datagram>& got) {
    std::vector<std::string> payloads;
    for (const Datagram& d : got)
        payloads.push_back(d.bytes);
    return payloads;
}

std::string Pattern(size_t n, unsigned char seed) {
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<char>(seed + i * 7);
    return data;
}

// How the system answers a host socket's receive-buffer request.
enum class BufferAnswer { Grant, GrantLess, Refuse };
BufferAnswer Answer;
int PASCAL AnsweringOption(SOCKET s, int level, int option, const char* value, int length) {
    if (level == SOL_SOCKET && option == SO_RCVBUF && Answer == BufferAnswer::Refuse) {
        WSASetLastError(WSAENOBUFS);
        return SOCKET_ERROR;
    }
    const int less = 65536;
    if (level == SOL_SOCKET && option == SO_RCVBUF && Answer == BufferAnswer::GrantLess)
        return setsockopt(s, level, option, reinterpret_cast<const char*>(&less), sizeof less);
    return setsockopt(s, level, option, value, length);
}

} // namespace

class RelayTraffic : public RelayHarness {
  protected:
    void SetUp() override {
        RelayHarness::SetUp();
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0); // for this test's own sockets
        sender_ = HostSender();
    }
    void TearDown() override {
        closesocket(sender_);
        if (receiver_ != INVALID_SOCKET)
            closesocket(receiver_);
        RelayHarness::TearDown();
    }
    // Host 2 connected, and a KLOR-side receiver of what it relays.
    void ConnectHostTwo() {
        ConfigureHost(2);
        StartChannels();
        receiver_ = KlorReceiver(34074);
        Connect(2);
    }
    SOCKET sender_ = INVALID_SOCKET;
    SOCKET receiver_ = INVALID_SOCKET;
};

// A 100-byte datagram of host 2 leaves as 512 bytes from port 35098 for
// port 34074 ("6789"); a 512-byte one leaves unchanged; a shorter one after it
// carries zeros, not the longer one's tail. Both counts rise; the sent count
// passes its limit back to 0.
TEST_F(RelayTraffic, RelaysPaddedDatagramsAndCountsThem) {
    ConfigureHost(2);
    StartChannels();
    receiver_ = KlorReceiver(34074);
    GlobalAllocProc = TrackingAlloc;
    Allocated.clear();
    Connect(2);
    ASSERT_TRUE(HostChannelUp(2)) << "host 2 is connected";
    EXPECT_EQ(HostCounters[2].status, -1) << "not receiving before its first datagram";
    int ttl = 0, length = sizeof ttl;
    ASSERT_EQ(getsockopt(LastBound("203.0.113.1"), IPPROTO_IP, IP_MULTICAST_TTL,
                         reinterpret_cast<char*>(&ttl), &length),
              0);
    EXPECT_EQ(ttl, 64) << "routers between the relay and KLOR-side receivers pass it on";

    const std::string small = Pattern(100, 1), full = Pattern(512, 3), again = Pattern(100, 9);
    SendTo(sender_, small, "239.2.2.3", 7002);
    auto got = Collect(receiver_, 3000, 1);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 512u);
    EXPECT_EQ(got[0].bytes.substr(0, 100), small);
    EXPECT_EQ(got[0].bytes.substr(100), std::string(412, '\0'));
    EXPECT_EQ(ntohs(got[0].from.sin_port), 35098);
    EXPECT_STREQ(inet_ntoa(got[0].from.sin_addr), "203.0.113.1");
    EXPECT_EQ(HostCounters[2].status, 0);
    EXPECT_EQ(HostCounters[2].received, 1);
    EXPECT_EQ(HostCounters[2].sent, 1);

    HostCounters[2].sent = 2147483643;
    SendTo(sender_, full, "239.2.2.3", 7002);
    SendTo(sender_, again, "239.2.2.3", 7002);
    // The shorter one is padded with zeros, not with the longer one's bytes.
    ExpectSequence(Payloads(Collect(receiver_, 3000, 2)), {full, again + std::string(412, '\0')});
    EXPECT_EQ(HostCounters[2].received, 3);
    EXPECT_EQ(HostCounters[2].sent, 0) << "2147483644 + 1 starts again at 0";
    EXPECT_TRUE(LogLines().empty());
    ASSERT_EQ(Allocated.size(), 3u) << "one block per datagram";
    for (HGLOBAL block : Allocated)
        EXPECT_EQ(GlobalSize(block), 0u) << "the send window freed the block after sending";
}

// A reconfiguration drops the channel with datagrams of it still handed over
// and unsent: they go out, and the counts then start from zero, so that sent
// never shows more than received.
TEST_F(RelayTraffic, DroppedChannelSendsWhatItReadBeforeItsCountsRestart) {
    ConnectHostTwo();
    const std::string first = Pattern(512, 4), second = Pattern(512, 5);
    ForwardDatagram(first.data(), 2, 512);
    ForwardDatagram(second.data(), 2, 512);
    DropHostChannel(2);
    EXPECT_FALSE(HostChannelUp(2));
    PumpMessages(200);
    EXPECT_EQ(HostCounters[2].received, 0);
    EXPECT_EQ(HostCounters[2].sent, 0);
    ExpectSequence(Payloads(Collect(receiver_, 3000, 2)), {first, second});
}

// A connect request for a host whose channel is open rebuilds the channel
// instead of leaking the open socket and failing at its own port.
TEST_F(RelayTraffic, RepeatedConnectRebuildsTheChannel) {
    ConnectHostTwo();
    Connect(2);
    EXPECT_TRUE(HostChannelUp(2));
    EXPECT_TRUE(LogLines().empty()) << "no 10048 from the channel's own port";
    SendTo(sender_, Pattern(10, 1), "239.2.2.3", 7002);
    EXPECT_EQ(Collect(receiver_, 3000, 2).size(), 1u) << "one channel, one copy";
}

// A failed send: record with the datagram's host and the configured port,
// the socket forgotten, datagrams discarded, and a new set-up 10 s later.
TEST_F(RelayTraffic, FailedSendIsRecordedDiscardsAndRecovers) {
    ConfigureHost(3);
    ConnectHostTwo();
    const SOCKET sendSocket = LastBound("203.0.113.1");
    closesocket(sendSocket); // the socket fails under the channel's feet
    const DWORD failed = GetTickCount();
    SendTo(sender_, Pattern(10, 1), "239.2.2.3", 7002);
    PumpMessages(500);
    // Host 3's new socket takes the failed one's handle value, which the
    // next set-up must not close again.
    Connect(3);
    ASSERT_EQ(HostSocket(3), sendSocket) << "the handle value was not reused: nothing to test";
    const auto lines = LogLines("Error in sending socket");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(
                  "         2      10038  In UDP Send       6789       239.1.1.1 Error in sending socket"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(HostCounters[2].received, 1);
    EXPECT_EQ(HostCounters[2].sent, 0);
    SendTo(sender_, Pattern(10, 2), "239.2.2.3", 7002);
    EXPECT_TRUE(Collect(receiver_, 1000, 1).empty()) << "discarded while failed";
    EXPECT_EQ(HostCounters[2].received, 2) << "receiving goes on";
    EXPECT_TRUE(PumpMessages(12000, [] { return PortTaken("203.0.113.1", 35098); }))
        << "set up again by the retry";
    EXPECT_GE(GetTickCount() - failed, 9500u);
    EXPECT_TRUE(HostChannelUp(3)) << "the set-up closed host 3's socket, the failed one's handle value";
    EXPECT_EQ(std::count_if(
                  Bound.begin(), Bound.end(),
                  [](const BoundSocket& b) { return b.local.sin_addr.s_addr == inet_addr("203.0.113.1"); }),
              2)
        << "one set-up at the start, one at the expiry";
    SendTo(sender_, Pattern(10, 3), "239.2.2.3", 7002);
    EXPECT_EQ(Collect(receiver_, 3000, 1).size(), 1u);
    EXPECT_EQ(HostCounters[2].sent, 1);
}

TEST_F(RelayTraffic, SuccessfulConnectResetsOnlyHighReceivedCounts) {
    for (int h = 1; h <= 3; ++h)
        ConfigureHost(h);
    StartChannels();
    HostCounters[1] = {0, 2147483645, 8};
    HostCounters[2] = {-1, 2147483644, 8};
    HostCounters[3] = {0, INT_MIN, 8};
    for (unsigned h = 1; h <= 3; ++h)
        Connect(h);
    for (int h = 1; h <= 3; ++h)
        ASSERT_TRUE(HostChannelUp(h)) << h;
    EXPECT_EQ(HostCounters[1].received, 0);
    EXPECT_EQ(HostCounters[2].received, 2147483644);
    EXPECT_EQ(HostCounters[3].received, INT_MIN) << "a wrapped count is not reset";
    EXPECT_EQ(HostCounters[1].status, 0) << "the status is left";
    EXPECT_EQ(HostCounters[2].status, -1);
    EXPECT_EQ(HostCounters[1].sent, 8);
}

// A 513-byte and an empty datagram fail the read: the channel is closed with
// one record each and nothing is relayed; a reconnect relays again.
TEST_F(RelayTraffic, OversizeAndEmptyDatagramsCloseTheChannel) {
    ConnectHostTwo();
    SendTo(sender_, Pattern(513, 5), "239.2.2.3", 7002);
    EXPECT_TRUE(Collect(receiver_, 1000, 1).empty());
    EXPECT_FALSE(HostChannelUp(2));
    auto lines = LogLines("Error in recvfrom()");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(
        lines[0].find("         2      10040  In UDP Recv       7002       239.2.2.3 Error in recvfrom()"),
        std::string::npos)
        << lines[0];

    Connect(2);
    SendTo(sender_, std::string(), "239.2.2.3", 7002);
    EXPECT_TRUE(Collect(receiver_, 1000, 1).empty());
    EXPECT_FALSE(HostChannelUp(2));
    EXPECT_EQ(LogLines("Error in recvfrom()").size(), 2u);
    EXPECT_EQ(HostCounters[2].received, 0);

    Connect(2);
    SendTo(sender_, Pattern(40, 2), "239.2.2.3", 7002);
    EXPECT_EQ(Collect(receiver_, 3000, 1).size(), 1u);
    EXPECT_EQ(HostCounters[2].received, 1);
    EXPECT_TRUE(Messages(RecvChannelWindow, WM_TIMER, RetryTimerId(2)).empty()) << "retries are 10 s away";
}

// A notification carrying an error leaves a live channel as it is; a read
// notification for a live socket that no channel holds reads nothing.
TEST_F(RelayTraffic, IgnoredNotificationsLeaveSocketsAlone) {
    ConnectHostTwo();
    const SOCKET live = HostSocket(2);
    SendMessageA(RecvChannelWindow, WM_SOCKETEVENT, live, static_cast<LPARAM>(10053u << 16 | FD_CLOSE));
    SendMessageA(RecvChannelWindow, WM_SOCKETEVENT, live, static_cast<LPARAM>(10054u << 16 | FD_READ));
    EXPECT_TRUE(HostChannelUp(2));
    SendTo(sender_, Pattern(10, 1), "239.2.2.3", 7002);
    EXPECT_EQ(Collect(receiver_, 3000, 1).size(), 1u) << "the channel still relays";

    SOCKET stranger = UdpSocket();
    const sockaddr_in local = Address("127.0.0.1", htons(7300));
    ASSERT_EQ(bind(stranger, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    SendTo(sender_, "hello", "127.0.0.1", 7300);
    PumpMessages(100);
    SendMessageA(RecvChannelWindow, WM_SOCKETEVENT, stranger, FD_READ);
    SendMessageA(RecvChannelWindow, WM_SOCKETEVENT, stranger, FD_CLOSE);
    char buffer[16] = {};
    EXPECT_EQ(recv(stranger, buffer, sizeof buffer, 0), 5) << "the datagram is still queued, the socket open";
    closesocket(stranger);
    EXPECT_EQ(HostCounters[2].received, 1);
    EXPECT_TRUE(LogLines().empty());
}

// FD_CLOSE for a connected channel closes it once, with one record, and a
// later notification for the closed socket finds no host. A start-up of the
// receive window again forgets the channels it held: a socket left open from
// before is no channel's.
TEST_F(RelayTraffic, CloseNotificationClosesTheChannelOnce) {
    ConfigureHost(3);
    ConfigureHost(4);
    StartChannels();
    Connect(3);
    Connect(4);
    const SOCKET three = HostSocket(3), four = HostSocket(4);
    auto notify = [](SOCKET s, unsigned event) {
        SendMessageA(RecvChannelWindow, WM_SOCKETEVENT, s, static_cast<LPARAM>(event));
    };
    notify(three, FD_CLOSE);
    EXPECT_FALSE(HostChannelUp(3));
    notify(three, FD_CLOSE);
    notify(three, FD_READ);
    const auto lines = LogLines("FD_CLOSE Event Received");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("         3 "), std::string::npos) << lines[0];

    SendMessageA(RecvChannelWindow, WM_CREATE, 0, 0);
    notify(four, FD_CLOSE);
    EXPECT_TRUE(HostChannelUp(4)) << "the start-up left host 4's socket in a table";
    EXPECT_EQ(LogLines().size(), 1u);
    closesocket(four); // no channel's now: nothing else closes it
}

// Two hosts on one receiving port: the second bind fails with 10048, read
// after the close.
TEST_F(RelayTraffic, SecondHostOnSamePortFailsWithAddressInUse) {
    ConfigureHost(0, "7100");
    ConfigureHost(1, "7100");
    StartChannels();
    Connect(0);
    Connect(1);
    EXPECT_TRUE(PortTaken("198.51.100.1", 7100)) << "host 0 holds the port";
    const auto lines = LogLines("Error in binding socket");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("         1      10048  In UDP Recv       7100"), std::string::npos) << lines[0];
}

// The local port 6793 (35098 on the wire) taken, then 6792 too: the send
// socket binds the next value down without a record and relays from it.
TEST_F(RelayTraffic, SendSocketSearchesDownForAFreePort) {
    SOCKET taken[2];
    for (int i = 0; i < 2; ++i) {
        taken[i] = UdpSocket();
        const sockaddr_in local = Address("203.0.113.1", static_cast<u_short>(6793 - i));
        ASSERT_EQ(bind(taken[i], reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    }
    ConfigureHost(4);
    StartChannels();
    receiver_ = KlorReceiver(34074);
    sockaddr_in bound;
    int length = sizeof bound;
    ASSERT_EQ(getsockname(LastBound("203.0.113.1"), reinterpret_cast<sockaddr*>(&bound), &length), 0);
    EXPECT_EQ(bound.sin_port, 6791);
    Connect(4);
    SendTo(sender_, Pattern(20, 4), "239.2.2.5", 7004);
    const auto got = Collect(receiver_, 3000, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(ntohs(got[0].from.sin_port), 34586);
    EXPECT_TRUE(LogLines().empty());
    for (SOCKET s : taken)
        closesocket(s);
}

// A connect request for a host whose datagrams wait unread: the new socket
// takes the old one's handle value, and the read notification queued for the
// old one names it and finds nothing to read. The new channel stays, with no
// record.
TEST_F(RelayTraffic, StaleReadNotificationLeavesTheNewChannel) {
    ConnectHostTwo();
    const SOCKET first = HostSocket(2);
    for (unsigned char i = 0; i < 3; ++i)
        SendTo(sender_, Pattern(10, i), "239.2.2.3", 7002);
    Sleep(200); // queued, notification and all, while nothing is dispatched
    SendMessageA(RecvChannelWindow, WM_CONNECTHOST, 2, 0);
    ASSERT_EQ(HostSocket(2), first) << "the handle value was not reused: nothing to test";
    PumpMessages(300);
    EXPECT_TRUE(HostChannelUp(2));
    EXPECT_TRUE(LogLines().empty());
    SendTo(sender_, Pattern(10, 9), "239.2.2.3", 7002);
    EXPECT_EQ(Collect(receiver_, 3000, 1).size(), 1u) << "the new channel relays";
}

// A read notification that never comes (seen under Wine after a message
// box's beep) leaves datagrams waiting: the channel check reads them within
// a look or two (125 ms each), with one record, and the platform's
// notifications resume.
TEST_F(RelayTraffic, LostReadNotificationIsMadeUpByTheChannelCheck) {
    ConnectHostTwo();
    for (unsigned char i = 0; i < 3; ++i)
        SendTo(sender_, Pattern(10, i), "239.2.2.3", 7002);
    Sleep(200);
    MSG lost;
    while (PeekMessageA(&lost, RecvChannelWindow, WM_SOCKETEVENT, WM_SOCKETEVENT, PM_REMOVE)) {
    }
    EXPECT_EQ(Collect(receiver_, 1000, 3).size(), 3u);
    EXPECT_EQ(LogLines("Read notification missing. Reading on").size(), 1u);
    SendTo(sender_, Pattern(10, 9), "239.2.2.3", 7002);
    EXPECT_EQ(Collect(receiver_, 500, 1).size(), 1u) << "at once, by the platform's notification";
}

// Six hosts, host 0 with sending port 0, which names no port: its datagrams
// are dropped with one record, the channel stays, and the other five hosts
// relay every datagram.
TEST_F(RelayTraffic, OneHostsBadDestinationCostsTheOthersNothing) {
    for (int h = 0; h < 6; ++h)
        ConfigureHost(h, nullptr, h == 0 ? "0" : "6789");
    StartChannels();
    receiver_ = KlorReceiver(34074);
    for (unsigned h = 0; h < 6; ++h)
        Connect(h);
    for (int round = 0; round < 10; ++round)
        for (int h = 0; h < 6; ++h) {
            char group[16];
            std::snprintf(group, sizeof group, "239.2.2.%d", h + 1);
            SendTo(sender_,
                   std::string(1, static_cast<char>('A' + h)) + Pattern(9, static_cast<unsigned char>(round)),
                   group, static_cast<u_short>(7000 + h));
        }
    const auto got = Collect(receiver_, 5000, 51);
    int perHost[6] = {};
    for (const Datagram& d : got)
        if (d.bytes[0] >= 'A' && d.bytes[0] < 'A' + 6)
            ++perHost[d.bytes[0] - 'A'];
    EXPECT_EQ(perHost[0], 0);
    for (int h = 1; h < 6; ++h)
        EXPECT_EQ(perHost[h], 10) << "host " << h << ": the shared send socket stays sound";
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u) << "one record for host 0's ten datagrams";
    EXPECT_NE(
        lines[0].find(
            "         0          0  In UDP Send          0       239.1.1.1 Sending port not a number from "
            "1 to 65535. Not sent"),
        std::string::npos)
        << lines[0];
    EXPECT_EQ(HostCounters[0].received, 10);
    EXPECT_EQ(HostCounters[0].sent, 0);
}

// Steady traffic on six hosts for 2 s, a round every 2 ms, then the moment of
// it that a look of the channel check may meet: each channel has read since
// the last look, a datagram still waits, and its next read notification is
// not queued yet. A busy channel is not taken for stalled.
TEST_F(RelayTraffic, SteadyTrafficIsNoStall) {
    for (int h = 0; h < 6; ++h)
        ConfigureHost(h);
    StartChannels();
    for (unsigned h = 0; h < 6; ++h)
        Connect(h);
    auto round = [&](int count) {
        for (int h = 0; h < 6; ++h)
            for (int i = 0; i < count; ++i) {
                const sockaddr_in to = HostGroup(h);
                sendto(sender_, "steady", 6, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
    };
    DWORD last = GetTickCount();
    PumpMessages(2000, [&] {
        if (GetTickCount() - last >= 2) {
            last = GetTickCount();
            round(1);
        }
        return false;
    });
    PumpMessages(200);
    round(2);
    Sleep(200);
    std::vector<WPARAM> served; // one notification a channel, the others taken away
    MSG notice;
    for (int taken = 0;
         taken < 1000 && PeekMessageA(&notice, RecvChannelWindow, WM_SOCKETEVENT, WM_SOCKETEVENT, PM_REMOVE);
         ++taken)
        if (std::find(served.begin(), served.end(), notice.wParam) == served.end()) {
            served.push_back(notice.wParam);
            DispatchMessageA(&notice);
        }
    ASSERT_EQ(served.size(), 6u);
    for (int h = 0; h < 6; ++h) {
        u_long waiting = 0;
        ASSERT_EQ(ioctlsocket(HostSocket(h), FIONREAD, &waiting), 0);
        EXPECT_GT(waiting, 0u) << "host " << h << "'s second datagram waits";
    }
    SendMessageA(RecvChannelWindow, WM_TIMER, IDT_CHANNELCHECK, 0);
    ExpectSequence(LogLines("Read notification missing"), {});
}

// The KLOR-side address set to the host-side one, the sending group to host
// 2's group and its sending port to 23067 (0x5A1B, port 7002 on the wire):
// what the relay sends for host 2 comes back into host 2's channel. It is not
// relayed again; one record says so.
TEST_F(RelayTraffic, OwnOutputComingBackIsNotRelayed) {
    SetLocal("239.2.2.3", "198.51.100.1", "198.51.100.1");
    ConfigureHost(2, nullptr, "23067");
    StartChannels();
    Connect(2);
    SendTo(sender_, Pattern(10, 1), "239.2.2.3", 7002);
    EXPECT_FALSE(PumpMessages(1500, [] { return HostCounters[2].received > 1; })) << "relayed round again";
    EXPECT_EQ(HostCounters[2].received, 1);
    EXPECT_EQ(HostCounters[2].sent, 1);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("         2          0  In UDP Recv       7002       239.2.2.3 Datagram from the "
                            "relay's own send socket. Not relayed"),
              std::string::npos)
        << lines[0];
}

// Each host socket asks for a 4 MiB receive buffer. A system that grants
// less, or refuses, leaves the channel working with one record per host and
// size; connecting again with the same answer records nothing more.
TEST_F(RelayTraffic, ReceiveBufferIsAskedForAndAShortGrantRecordedOnce) {
    const struct {
        BufferAnswer answer;
        const char* record; // nullptr: none
    } cases[] = {
        {BufferAnswer::Grant, nullptr},
        {BufferAnswer::GrantLess,
         "0  In UDP Recv       7001       239.2.2.2 Receive buffer 65536 bytes, asked "
         "4194304. Receiving on"},
        {BufferAnswer::Refuse, "  10055  In UDP Recv       7002       239.2.2.3 Receive buffer "},
    };
    for (int h = 0; h < 3; ++h)
        ConfigureHost(h);
    SetSockOptProc = AnsweringOption;
    StartChannels();
    for (unsigned h = 0; h < 3; ++h) {
        Answer = cases[h].answer;
        for (int connect = 0; connect < 2; ++connect) {
            Connect(h);
            ASSERT_TRUE(HostChannelUp(h)) << "host " << h << " is connected";
        }
        int granted = 0, length = sizeof granted;
        getsockopt(HostSocket(h), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length);
        EXPECT_EQ(granted >= 4194304, cases[h].answer == BufferAnswer::Grant)
            << "host " << h << ": " << granted;
        const auto lines = LogLines(cases[h].record != nullptr ? cases[h].record : "Receive buffer");
        EXPECT_EQ(lines.size(), cases[h].record != nullptr ? 1u : 0u) << "host " << h;
    }
    EXPECT_EQ(LogLines().size(), 2u);
    Answer = BufferAnswer::Grant;
}
