#include "shell/PlatformCalls.h"

GlobalAllocFn GlobalAllocProc = GlobalAlloc;
GetMessageFn GetMessageProc = GetMessageA;
MessageBeepFn MessageBeepProc = MessageBeep;
WSAStartupFn WSAStartupProc = WSAStartup;
SetSockOptFn SetSockOptProc = setsockopt;
WriteProfileStringFn WritePrivateProfileStringProc = WritePrivateProfileStringA;
