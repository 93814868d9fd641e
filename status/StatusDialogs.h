#pragma once
#include <windows.h>

extern int StatisticsOpen;   // 1 while the Statistics dialog is open
extern HWND CurrentDialog;   // the status dialog that last received a message
extern HBRUSH DialogBrush;   // never created: the dialogs keep the default colours
extern const char* const StatusTexts[2]; // indexed by HostCounters status + 1

int ShowAboutBox(HWND owner);
int ShowStatisticsBox(HWND owner);
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK StatisticsBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
void FormatStatisticsLine(HWND dialog, int host);
