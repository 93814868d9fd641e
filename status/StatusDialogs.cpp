#include "status/StatusDialogs.h"

int StatisticsOpen;
HWND CurrentDialog;
HBRUSH DialogBrush;
const char* const StatusTexts[2] = {"Not Receiving", "Receiving"};

// Placeholders until the dialog templates land.
int ShowAboutBox(HWND owner) {
    MessageBoxA(owner, "VQX UDP Broadcast Server\nVersion 3.04.00", "About VQX UDP Broadcast Server", MB_OK);
    return 1;
}

int ShowStatisticsBox(HWND owner) {
    MessageBoxA(owner, "Statistics are not available in this version.", "VQX UDP Broadcast Server Data v3.04.00",
                MB_OK);
    return 1;
}

INT_PTR CALLBACK AboutBoxProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
INT_PTR CALLBACK StatisticsBoxProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
void FormatStatisticsLine(HWND, int) {}
