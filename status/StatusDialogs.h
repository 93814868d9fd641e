#pragma once
#include <windows.h>

#include "status/StatisticsLine.h"

extern int StatisticsOpen; // 1 while the Statistics dialog is open
extern HWND CurrentDialog; // the status dialog that last received a message
extern HBRUSH DialogBrush; // never created: the dialogs keep the default colours

int ShowAboutBox(HWND owner);
int ShowStatisticsBox(HWND owner);
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK StatisticsBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
void FormatStatisticsLine(HWND dialog, int host);
