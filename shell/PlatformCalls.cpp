#include "shell/PlatformCalls.h"

GlobalAllocFn GlobalAllocProc = GlobalAlloc;
GetMessageFn GetMessageProc = GetMessageA;
MessageBeepFn MessageBeepProc = MessageBeep;
WSAStartupFn WSAStartupProc = WSAStartup;
SetSockOptFn SetSockOptProc = setsockopt;
BindFn BindProc = bind;
SetThreadExecutionStateFn SetThreadExecutionStateProc = SetThreadExecutionState;
WriteProfileStringFn WritePrivateProfileStringProc = WritePrivateProfileStringA;
