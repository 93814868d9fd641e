#pragma once
// Process-wide handles of the application shell, and the seams through which
// the program obtains movable global memory and its messages (tests make
// them fail).
#include <windows.h>

extern HINSTANCE AppInstance;
extern HWND MainWindow;        // set once the main window's creation returns
extern HWND RecvChannelWindow; // the hidden UdpRecvProc window
extern HWND SendChannelWindow; // the hidden UdpProc window

extern const char MainWindowClass[]; // "UDPSERVER"
extern const char MainWindowTitle[]; // "VQX UDP Broadcast Sever"

// GlobalAlloc unless a test has put a failing allocator in its place.
typedef HGLOBAL(WINAPI* GlobalAllocFn)(UINT flags, SIZE_T bytes);
extern GlobalAllocFn GlobalAllocProc;

// GetMessageA unless a test has put a failing one in its place.
typedef BOOL(WINAPI* GetMessageFn)(LPMSG message, HWND window, UINT first, UINT last);
extern GetMessageFn GetMessageProc;
