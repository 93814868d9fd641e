#include "config/HostConfig.h"
#include "relay/HostCounters.h"
#include "relay/RelayRules.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

// The received count has no bound at the increment; the only reset is the
// one a successful connect makes above the limit.
TEST(RelayCounters, ReceivedWrapsInTwosComplementAndMarksReceiving) {
    HostCounterRecord record{-1, INT32_MAX - 1, 0};
    CountReceived(record);
    EXPECT_EQ(record.received, INT32_MAX);
    EXPECT_EQ(record.status, 0);
    CountReceived(record);
    EXPECT_EQ(record.received, INT32_MIN);
    CountReceived(record);
    EXPECT_EQ(record.received, INT32_MIN + 1);
    record = {-1, -1, 7};
    CountReceived(record);
    EXPECT_EQ(record.received, 0);
    EXPECT_EQ(record.sent, 7) << "reading a datagram leaves the sent count";
}

TEST(RelayCounters, ConnectResetsReceivedOnlyAboveLimit) {
    HostCounterRecord record{0, 2147483644, 5};
    ResetReceivedOnConnect(record);
    EXPECT_EQ(record.received, 2147483644);
    record.received = 2147483645;
    ResetReceivedOnConnect(record);
    EXPECT_EQ(record.received, 0);
    record.received = INT32_MAX;
    ResetReceivedOnConnect(record);
    EXPECT_EQ(record.received, 0);
    record = {-1, INT32_MIN, 5};
    ResetReceivedOnConnect(record);
    EXPECT_EQ(record.received, INT32_MIN) << "a wrapped negative count is not reset";
    EXPECT_EQ(record.status, -1) << "a connect leaves the status";
    EXPECT_EQ(record.sent, 5);
}

TEST(RelayCounters, SentResetsWhenIncrementPassesLimit) {
    HostCounterRecord record{0, 9, 2147483643};
    CountSent(record);
    EXPECT_EQ(record.sent, 2147483644);
    CountSent(record);
    EXPECT_EQ(record.sent, 0);
    CountSent(record);
    EXPECT_EQ(record.sent, 1);
    EXPECT_EQ(record.received, 9);
    record.sent = INT32_MAX; // only another writer could leave this; still no overflow
    CountSent(record);
    EXPECT_EQ(record.sent, INT32_MIN);
}

TEST(RelayCounters, ResetSetsEveryHostNotReceiving) {
    for (HostCounterRecord& record : HostCounters)
        record = {0, 3, 4};
    ResetHostCounters();
    for (const HostCounterRecord& record : HostCounters) {
        EXPECT_EQ(record.status, -1);
        EXPECT_EQ(record.received, 0);
        EXPECT_EQ(record.sent, 0);
    }
}

// The UDP port that goes on the wire when `fieldValue` is stored unconverted
// in a port field: the field's two bytes in memory order, read as the
// big-endian port they are on the wire.
static uint16_t WirePortOfField(uint16_t fieldValue) {
    unsigned char bytes[2];
    std::memcpy(bytes, &fieldValue, sizeof bytes);
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// The send side stores its port values unconverted; on this little-endian
// machine the wire then carries the two bytes exchanged.
TEST(RelaySendPorts, UnconvertedFieldValuesGoOnTheWireByteSwapped) {
    EXPECT_EQ(WirePortOfField(6793), 35098);
    EXPECT_EQ(WirePortOfField(6792), 34842);
    EXPECT_EQ(WirePortOfField(6791), 34586);
    EXPECT_EQ(WirePortOfField(PortNumber("6789")), 34074);
    EXPECT_EQ(WirePortOfField(htons(6789)), 6789) << "a converted value would keep its port";
}

TEST(RelayLocalAddress, OnlyOwnWildcardAndLoopbackAddressesAreBindable) {
    const uint32_t own[] = {inet_addr("198.51.100.1"), inet_addr("203.0.113.1")};
    EXPECT_TRUE(IsBindableLocalAddress(inet_addr("198.51.100.1"), own, 2));
    EXPECT_TRUE(IsBindableLocalAddress(inet_addr("203.0.113.1"), own, 2));
    EXPECT_TRUE(IsBindableLocalAddress(inet_addr("0.0.0.0"), own, 2));
    EXPECT_TRUE(IsBindableLocalAddress(inet_addr("127.0.0.1"), nullptr, 0));
    EXPECT_TRUE(IsBindableLocalAddress(inet_addr("127.9.8.7"), nullptr, 0));
    EXPECT_FALSE(IsBindableLocalAddress(inet_addr("203.0.113.9"), own, 2));
    EXPECT_FALSE(IsBindableLocalAddress(inet_addr("1.0.0.127"), own, 2)) << "byte order of the loopback test";
    EXPECT_FALSE(IsBindableLocalAddress(INADDR_NONE, own, 2)) << "an invalid address text";
    EXPECT_FALSE(IsBindableLocalAddress(inet_addr("239.2.2.1"), own, 2)) << "a group is no local address";
    EXPECT_FALSE(IsBindableLocalAddress(inet_addr("198.51.100.1"), own, 0));
}

// One record per period: the first passes, repeats within the period do
// not, and the period is measured across the wrap of the tick count.
TEST(RelayRecordGate, PassesOncePerPeriodAcrossTheTickWrap) {
    RecordGate gate{};
    EXPECT_TRUE(PassRecordGate(gate, 0xFFFFF000u, 10000));
    EXPECT_FALSE(PassRecordGate(gate, 0xFFFFF000u + 9999u, 10000));
    EXPECT_TRUE(PassRecordGate(gate, 0xFFFFF000u + 10000u, 10000)) << "across the wrap";
    EXPECT_FALSE(PassRecordGate(gate, 0xFFFFF000u + 10001u, 10000)) << "the period starts anew";
    EXPECT_FALSE(RecordGateOpen(gate, 0xFFFFF000u + 19999u, 10000));
    EXPECT_TRUE(RecordGateOpen(gate, 0xFFFFF000u + 20000u, 10000));
    EXPECT_FALSE(PassRecordGate(gate, 0xFFFFF000u + 19999u, 10000)) << "looking does not pass the gate";
}

// Errors a failed send gives for one host's unusable destination, which keep
// the shared socket; any other error rebuilds it.
TEST(RelaySendErrors, OnlyInvalidArgumentAndAddressNotAvailableAreTheDestinations) {
    const struct {
        int error;
        bool destination;
    } cases[] = {{10022, true},  {10049, true},  {0, false},     {10038, false}, {10048, false},
                 {10050, false}, {10051, false}, {10055, false}, {10065, false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsDestinationError(c.error), c.destination) << c.error;
}

// A KLOR-side local port that is taken or reserved is stepped over; any other
// bind failure ends the search.
TEST(RelaySendErrors, TakenAndReservedLocalPortsAreSteppedOver) {
    for (int error : {10048, 10013})
        EXPECT_TRUE(IsLocalPortUnavailable(error)) << error;
    for (int error : {0, 10022, 10049, 10055})
        EXPECT_FALSE(IsLocalPortUnavailable(error)) << error;
}

// An address-table entry flagged disconnected or deleted is no address there.
TEST(RelayInterfaces, DisconnectedAndDeletedAddressesCountAsAbsent) {
    const struct {
        uint16_t flags;
        bool up;
    } cases[] = {{0x0000, true},  {0x0001, true},  {0x0004 | 0x0001, true}, {0x0080, true},
                 {0x0008, false}, {0x0040, false}, {0x0009, false},         {0x0048 | 0x0001, false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsAddressEntryUp(c.flags), c.up) << std::hex << c.flags;
}

// Which change the interface fingerprints show; a card plugged in again under
// Wine may show only in the peers' index sum.
TEST(RelayInterfaces, ChangeOfComparesPresenceIndexAndPeers) {
    const InterfaceFingerprint up{true, true, 4, 2, 9}, unread{false, false, 0, 0, 0},
        gone{true, false, 0, 0, 0};
    const struct {
        InterfaceFingerprint before, now;
        InterfaceChange change;
    } cases[] = {
        {up, up, InterfaceChange::None},
        {up, gone, InterfaceChange::AddressGone},
        {gone, up, InterfaceChange::AddressBack},
        {gone, gone, InterfaceChange::None},
        {up, {true, true, 7, 2, 9}, InterfaceChange::InterfaceChanged},
        {up, {true, true, 4, 3, 9}, InterfaceChange::InterfaceChanged},
        {up, {true, true, 4, 2, 11}, InterfaceChange::InterfaceChanged},
        {up, unread, InterfaceChange::None},
        {unread, gone, InterfaceChange::None},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(ChangeOf(cases[i].before, cases[i].now), cases[i].change) << "case " << i;
}
