#pragma once
#include <windows.h>

extern int StatisticsOpen; // 1 while the Statistics dialog is open
extern HWND CurrentDialog; // the status dialog that last received a message

// The modal About box and Statistics dialog, owned by `owner`; each returns
// once it is closed.
void ShowAboutBox(HWND owner);
void ShowStatisticsBox(HWND owner);
