#include "shell/AppGlobals.h"

HINSTANCE AppInstance;
HWND MainWindow;
HWND RecvChannelWindow;
HWND SendChannelWindow;
const char MainWindowClass[] = "UDPSERVER";
// "Sever" as the title has always been: other programs find the window by it.
const char MainWindowTitle[] = "VQX UDP Broadcast Sever";
const char ShellModule[] = "In UDP Srvr";
