// The relay goes on relaying while the Statistics dialog is open: datagrams
// sent to a host's group in the lab are read, sent on and counted by the
// dialog's own message loop, and the next refresh shows them. The datagrams
// go out through the host-side address; multicast loopback brings them back
// into this namespace.
#include "LabSockets.h"
#include "StatusDialogDriver.h"

namespace {

// Host 0 in the file: port 7000, group 239.2.2.1 on 198.51.100.1.
[[maybe_unused]] const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new StatusEnvironment([] { WriteSampleConfig({0}); }));

TEST(StatusDialogsNet, RelayCountsWhileStatisticsIsOpen) {
    // Start-up's connect request for host 0 runs in the message loop.
    ASSERT_TRUE(PumpMessages(5000, [] { return HostChannelUp(0); }));
    SOCKET sender = HostSender();
    ASSERT_NE(sender, INVALID_SOCKET);
    DriveDialog(StatisticsCaption, OpenStatistics, [&](HWND dialog) {
        EXPECT_EQ(ListLines(dialog),
                  std::vector<std::string>{
                      "Host0 239.2.2.1                      0           0        Not Receiving"});
        SendForHost(sender, 0, 25, HostGroup(0));
        // Read, sent on and counted in the dialog's loop; a refresh shows it.
        const std::vector<std::string> counted = {
            "Host0 239.2.2.1                     25          25            Receiving"};
        EXPECT_TRUE(WaitUntil(8000, [&] { return ListLines(dialog) == counted; }));
        EXPECT_EQ(ListLines(dialog), counted);
        PressButton(dialog, IDC_STAT_OK);
    });
    closesocket(sender);
}

} // namespace
