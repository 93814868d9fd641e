#pragma once
#include <windows.h>

// The two hidden channel windows under mainWindow (their WM_CREATE runs
// inside); 1 when both exist, 0 when either fails.
int CreateChannelWindows(HWND mainWindow, HINSTANCE instance);

// WinMain's steps up to the message loop: the single-instance check, the main
// window with its start sequence, the system menu and the minimised show.
// Returns the main window, or NULL when the program is to end with exit code 0.
HWND StartMainWindow(HINSTANCE instance);
// A process's first ShowWindow may take the show state that its starter put
// into STARTUPINFO instead (start /max), which also activates the window:
// after it, the main window is minimised again and left inactive. Declared
// here for its Win32 test, which makes that first show itself: under Wine a
// program started with start /max gets no such first show.
void KeepMinimisedAndInactive(HWND window);
// The message loop; returns the wparam of WM_QUIT.
int RunMessageLoop();
