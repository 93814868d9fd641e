#include "status/StatusDialogs.h"

#include "config/HostConfig.h"
#include "relay/HostCounters.h"
#include "resources/resource.h"
#include "shell/AppGlobals.h"
#include "shell/CentreDialog.h"
#include "shell/Messages.h"
#include "status/StatisticsLine.h"

int StatisticsOpen;
HWND CurrentDialog;

namespace {

enum : unsigned { STATISTICS_PERIOD_MS = 3000 }; // between two refreshes of the open dialog

// The main window's one-shot: its expiry posts WM_REFRESHSTATISTICS back here
// while the dialog is open. Arming it again replaces a pending tick.
void ArmRefreshTimer() {
    SetTimer(MainWindow, IDT_STATISTICS, STATISTICS_PERIOD_MS, nullptr);
}

void FormatStatisticsLine(HWND dialog, int host) {
    if (host < 0 || host >= HOST_COUNT)
        return; // no such host: nothing to index
    char line[STATISTICS_LINE_SIZE];
    FormatHostStatistics(line, sizeof line, host, HostTable[host], HostCounters[host]);
    SendMessageA(GetDlgItem(dialog, IDC_STAT_LIST), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

void FillList(HWND dialog) {
    const int count = ListedHostCount(HostTable);
    for (int host = 0; host < count; ++host)
        FormatStatisticsLine(dialog, host);
}

// The sorted list keeps host i's line at position i: delete it and add the
// new one, which lands in the same place.
void RefreshList(HWND dialog) {
    const int count = ListedHostCount(HostTable);
    HWND list = GetDlgItem(dialog, IDC_STAT_LIST);
    for (int host = 0; host < count; ++host) {
        SendMessageA(list, LB_DELETESTRING, host, 0);
        FormatStatisticsLine(dialog, host);
    }
}

INT_PTR InitStatistics(HWND dialog) {
    StatisticsOpen = 1;
    CentreDialog(dialog);
    ArmRefreshTimer();
    SetFocus(GetDlgItem(dialog, IDC_STAT_OK));
    FillList(dialog);
    return 0; // keep the focus given above
}

void CloseStatistics(HWND dialog) {
    StatisticsOpen = 0;
    EndDialog(dialog, 0);
}

INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    CurrentDialog = dialog;
    switch (message) {
    case WM_INITDIALOG:
        CentreDialog(dialog);
        SetFocus(GetDlgItem(dialog, IDC_ABOUT_OK));
        return 0;
    case WM_COMMAND:
        // Only OK ends the box; Escape's IDCANCEL is ignored.
        if (LOWORD(wparam) != IDC_ABOUT_OK)
            return 0;
        EndDialog(dialog, 0);
        return 1;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return 0;
    }
    return 0;
}

INT_PTR CALLBACK StatisticsBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    CurrentDialog = dialog;
    switch (message) {
    case WM_INITDIALOG:
        return InitStatistics(dialog);
    case WM_COMMAND:
        // Only OK ends the dialog; Escape's IDCANCEL is ignored.
        if (LOWORD(wparam) != IDC_STAT_OK)
            return 0;
        CloseStatistics(dialog);
        return 1;
    case WM_CLOSE:
        CloseStatistics(dialog);
        return 0;
    case WM_REFRESHSTATISTICS:
        RefreshList(dialog);
        ArmRefreshTimer();
        return 0;
    }
    return 0;
}

} // namespace

void ShowAboutBox(HWND owner) {
    DialogBoxParamA(AppInstance, "ABOUT", owner, AboutBoxProc, 0);
}

void ShowStatisticsBox(HWND owner) {
    DialogBoxParamA(AppInstance, "DATABOX", owner, StatisticsBoxProc, 0);
}
