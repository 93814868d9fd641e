#pragma once
// Process-wide handles and names of the application shell.
#include <windows.h>

extern HINSTANCE AppInstance;
extern HWND MainWindow;        // set once the main window's creation returns
extern HWND RecvChannelWindow; // the hidden UdpRecvProc window
extern HWND SendChannelWindow; // the hidden UdpProc window

extern const char MainWindowClass[]; // "UDPSERVER"
extern const char MainWindowTitle[]; // "VQX UDP Broadcast Sever"
