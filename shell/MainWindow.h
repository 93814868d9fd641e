#pragma once
#include <windows.h>

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
int CreateChannelWindows(HWND mainWindow, HINSTANCE instance);
void ClearConfiguredFlags();
void ConnectConfiguredHosts();

// WinMain's steps up to the message loop: the single-instance check, the main
// window with its start sequence, the system menu and the minimised show.
// Returns the main window, or NULL when the program is to end with exit code 0.
HWND StartMainWindow(HINSTANCE instance);
// A process's first ShowWindow may take the show state that its starter put
// into STARTUPINFO instead (start /max), which also activates the window:
// after it, the main window is minimised again and left inactive.
void KeepMinimisedAndInactive(HWND window);
// The message loop; returns the wparam of WM_QUIT.
int RunMessageLoop();
