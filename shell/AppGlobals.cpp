#include "shell/AppGlobals.h"

HINSTANCE AppInstance;
HWND MainWindow;
HWND RecvChannelWindow;
HWND SendChannelWindow;
const char MainWindowClass[] = "UDPSERVER";
const char MainWindowTitle[] = "VQX UDP Broadcast Sever";
const char ShellModule[] = "In UDP Srvr";
