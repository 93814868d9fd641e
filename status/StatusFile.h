#pragma once
// NewUdpSrvr.prom in the working folder: the relay's figures for monitoring,
// renewed by the main window's IDT_STATUSFILE every 3 s (the Statistics
// dialog's cadence) and once at the start. A reader never sees half a file: it
// is written under a temporary name and moved over the old one in one step.
#include <windows.h>

// The start time, the first file and the periodic timer of `mainWindow`.
void StartStatusFile(HWND mainWindow);
void StopStatusFile(HWND mainWindow);
// One file now. A step that fails, or a name that is no disk file, drops this
// file (the next period tries again) with at most one event-log record per
// cause and 10 s; it never waits.
void WriteStatusFile();
// The timer's message is made only while no posted message waits, so a relay
// kept busy without a pause (traffic above what it can carry) would renew no
// file and look stuck to a watchdog that restarts it. The main message loop
// calls this after every message: it writes only once the timer has missed
// two periods.
void RenewOverdueStatusFile();
