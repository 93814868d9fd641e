// The Statistics dialog and the About box, opened for real through the main
// window and driven from a helper thread (StatusDialogDriver.h).
#include "StatusDialogDriver.h"

namespace {

// No host in the file: each test sets HostTable itself.
[[maybe_unused]] const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new StatusEnvironment([] { WriteSampleConfig({}); }));

class StatusDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearHosts();
        KillTimer(MainWindow, IDT_STATISTICS);
        PumpMessages(50);
    }
    void TearDown() override { ClearHosts(); }
};

// A Statistics dialog just closed leaves its timer pending: the About box
// opened before it expires must get no refresh, and the tick is the last.
void ExpectTheClosedCycleEnds() {
    const int refreshes = RefreshArrivals, ticks = StatisticsTicks;
    DriveDialog(AboutCaption, OpenAbout, [&](HWND dialog) {
        EXPECT_TRUE(WaitUntil(5000, [&] { return StatisticsTicks > ticks; }));
        Sleep(3500);
        EXPECT_TRUE(OnGui([] {})); // the About box's loop has taken what was posted
        PressButton(dialog, IDC_ABOUT_OK);
    });
    EXPECT_EQ(StatisticsTicks, ticks + 1);
    EXPECT_EQ(RefreshArrivals, refreshes);
}

TEST_F(StatusDialogs, NoHostListsNothingAndStillRefreshes) {
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        ExpectCentredAndFocused(dialog, IDC_STAT_OK);
        EXPECT_TRUE(ListLines(dialog).empty());
        // Two cycles: each refresh arms the timer again.
        EXPECT_TRUE(WaitForRefreshes(2, 8000));
        EXPECT_TRUE(ListLines(dialog).empty());
        PressButton(dialog, IDC_STAT_OK);
    });
}

TEST_F(StatusDialogs, ListStopsAtTheFirstUnconfiguredHost) {
    SetHost(0, "7000", "239.2.2.1", {0, 120, 118});
    SetHost(1, "7001", "239.2.2.2", {-1, 0, 0});
    SetHost(3, "7003", "239.2.2.4", {0, 9, 9});
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        const std::vector<std::string> expected = {
            "Host0 239.2.2.1                    120         118            Receiving",
            "Host1 239.2.2.2                      0           0        Not Receiving",
        };
        EXPECT_EQ(ListLines(dialog), expected);
        EXPECT_TRUE(WaitForRefreshes(1, 5000));
        EXPECT_EQ(ListLines(dialog), expected);
        PressButton(dialog, IDC_STAT_OK);
    });
}

// Six lines in host order; a refresh replaces each in place with the counters
// of the moment, including a host that has started receiving.
TEST_F(StatusDialogs, AllSixHostsInOrderAndRefreshedInPlace) {
    const char* const groups[6] = {"239.2.2.1", "239.2.2.2",       "239.10.20.30",
                                   "233.1.2.5", "239.255.255.255", "239.2.2.6"};
    for (int host = 0; host < 6; ++host)
        SetHost(host, "7000", groups[host],
                {host == 5 ? 3 : -1, host, 0}); // status 3: never stored by the relay
    DriveDialog(StatisticsCaption, OpenStatistics, [&](HWND dialog) {
        EXPECT_EQ(ListLines(dialog),
                  (std::vector<std::string>{
                      "Host0 239.2.2.1                      0           0        Not Receiving",
                      "Host1 239.2.2.2                      1           0        Not Receiving",
                      "Host2 239.10.20.30                   2           0        Not Receiving",
                      "Host3 233.1.2.5                      3           0        Not Receiving",
                      "Host4 239.255.255.255                4           0        Not Receiving",
                      "Host5 239.2.2.6                      5           0        Not Receiving",
                  }));
        OnGui([] {
            for (int host = 0; host < 6; ++host)
                HostCounters[host] = {0, 1000 * (host + 1), 999 * (host + 1)};
            HostCounters[3] = {0, INT32_MIN, -1};
        });
        EXPECT_TRUE(WaitForRefreshes(1, 5000));
        EXPECT_EQ(ListLines(dialog),
                  (std::vector<std::string>{
                      "Host0 239.2.2.1                   1000         999            Receiving",
                      "Host1 239.2.2.2                   2000        1998            Receiving",
                      "Host2 239.10.20.30                3000        2997            Receiving",
                      "Host3 233.1.2.5             -2147483648          -1            Receiving",
                      "Host4 239.255.255.255             5000        4995            Receiving",
                      "Host5 239.2.2.6                   6000        5994            Receiving",
                  }));
        PressButton(dialog, IDC_STAT_OK);
    });
}

// Escape (as a key and as its IDCANCEL command) leaves the dialog open; the
// close box (WM_CLOSE) ends it.
TEST_F(StatusDialogs, StatisticsIgnoresEscapeAndClosesOnClose) {
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        const int cancels = CancelCommands;
        HWND ok = GetDlgItem(dialog, IDC_STAT_OK);
        EXPECT_TRUE(PostAndSettle(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001));
        EXPECT_TRUE(PostAndSettle(ok, WM_KEYUP, VK_ESCAPE, 0xC0010001));
        OnGui([&] { SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
        EXPECT_EQ(CancelCommands, cancels + 2); // the key did become IDCANCEL
        EXPECT_TRUE(IsOpen(dialog));
        EXPECT_TRUE(WaitForRefreshes(1, 5000)); // and still refreshed
        EXPECT_TRUE(PostAndSettle(dialog, WM_CLOSE, 0, 0));
        EXPECT_TRUE(WaitUntil(2000, [&] { return !IsWindow(dialog); }));
    });
    ExpectTheClosedCycleEnds();
}

TEST_F(StatusDialogs, AboutIgnoresEscapeAndClosesOnEnter) {
    DriveDialog(
        AboutCaption, [] { ShowAboutBox(MainWindow); },
        [](HWND dialog) {
            ExpectCentredAndFocused(dialog, IDC_ABOUT_OK);
            const int cancels = CancelCommands;
            HWND ok = GetDlgItem(dialog, IDC_ABOUT_OK);
            EXPECT_TRUE(PostAndSettle(ok, WM_KEYDOWN, VK_ESCAPE, 0x00010001));
            OnGui([&] { SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0); });
            EXPECT_EQ(CancelCommands, cancels + 2);
            EXPECT_TRUE(IsOpen(dialog));
            EXPECT_TRUE(PostAndSettle(ok, WM_KEYDOWN, VK_RETURN, 0x001C0001));
            EXPECT_TRUE(WaitUntil(2000, [&] { return !IsWindow(dialog); }));
        });
}

TEST_F(StatusDialogs, AboutClosesOnCloseRequest) {
    DriveDialog(AboutCaption, OpenAbout, [](HWND dialog) {
        EXPECT_TRUE(PostAndSettle(dialog, WM_CLOSE, 0, 0));
        EXPECT_TRUE(WaitUntil(2000, [&] { return !IsWindow(dialog); }));
    });
}

// The texts, kinds and styles the operator relies on, as the templates give them.
TEST_F(StatusDialogs, TemplatesCarryTheirControls) {
    DriveDialog(AboutCaption, OpenAbout, [](HWND dialog) {
        OnGui([&] {
            char text[64] = {};
            GetDlgItemTextA(dialog, IDC_ABOUT_VERSION, text, sizeof text);
            EXPECT_STREQ(text, RELAY_ABOUT_VERSION);
            EXPECT_NE(SendDlgItemMessageA(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
            const int first = GetWindowTextLengthA(GetDlgItem(dialog, IDC_ABOUT_NAME1));
            const int second = GetWindowTextLengthA(GetDlgItem(dialog, IDC_ABOUT_NAME2));
            EXPECT_GT(first, 0);
            EXPECT_LT(first, second);
            const LONG okStyle = GetWindowLongA(GetDlgItem(dialog, IDC_ABOUT_OK), GWL_STYLE);
            EXPECT_EQ(okStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
            EXPECT_EQ(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);
        });
        PressButton(dialog, IDC_ABOUT_OK);
    });
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        OnGui([&] {
            char text[64] = {};
            GetDlgItemTextA(dialog, IDC_STAT_HOSTADDR, text, sizeof text);
            EXPECT_STREQ(text, "Host       IP Address");
            GetDlgItemTextA(dialog, IDC_STAT_STATUS, text, sizeof text);
            EXPECT_STREQ(text, "Connection Status");
            // The dialog turns the border into a sunken edge; the scroll bar shows when needed.
            HWND list = GetDlgItem(dialog, IDC_STAT_LIST);
            const LONG expected = LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_TABSTOP;
            EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & expected, expected);
            EXPECT_TRUE((GetWindowLongA(list, GWL_STYLE) & WS_BORDER) ||
                        (GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
            EXPECT_NE(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);
        });
        PressButton(dialog, IDC_STAT_OK);
    });
}

// Closing and reopening within 3 s: the reopen re-arms the one timer, so a
// single cycle runs — two refreshes in 7.5 s, not more.
TEST_F(StatusDialogs, ReopeningWithinThreeSecondsLeavesOneCycle) {
    SetHost(0, "7000", "239.2.2.1", {0, 1, 1});
    DriveDialog(StatisticsCaption, OpenStatistics, [](HWND dialog) {
        Sleep(1000);
        PressButton(dialog, IDC_STAT_OK);
    });
    int refreshes = -1;
    DriveDialog(StatisticsCaption, OpenStatistics, [&](HWND dialog) {
        const int before = RefreshArrivals;
        Sleep(7500);
        refreshes = RefreshArrivals - before;
        EXPECT_EQ(ListLines(dialog).size(), 1u);
        PressButton(dialog, IDC_STAT_OK);
    });
    EXPECT_EQ(refreshes, 2);
}

// After the dialog has closed with OK the pending tick only stops the timer:
// nothing is posted, not even to the About box opened next, and no further
// tick follows.
TEST_F(StatusDialogs, ExpiryAfterCloseEndsTheCycle) {
    DriveDialog(
        StatisticsCaption, [] { ShowStatisticsBox(MainWindow); },
        [](HWND dialog) { PressButton(dialog, IDC_STAT_OK); });
    ExpectTheClosedCycleEnds();
}

} // namespace
