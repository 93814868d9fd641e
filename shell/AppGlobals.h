#pragma once
// Process-wide handles and names of the application shell.
#include <windows.h>

extern HINSTANCE AppInstance;
extern HWND MainWindow;        // set once the main window's creation returns
extern HWND RecvChannelWindow; // the hidden UdpRecvProc window
extern HWND SendChannelWindow; // the hidden UdpProc window

extern const char MainWindowClass[]; // "UDPSERVER"
// "VQX UDP Broadcast Sever": the title as it has always been, typo and all;
// other programs find the running relay's window by it.
extern const char MainWindowTitle[];
// "In UDP Srvr": the module of the event-log records about the program as a
// whole (its start and end, its configuration file), beside the channels'
// "In UDP Recv" and "In UDP Send".
extern const char ShellModule[];
