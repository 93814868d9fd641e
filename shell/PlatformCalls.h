#pragma once
// The platform calls whose failures the program must survive, reached through
// pointers: the program calls the system's own functions, and tests put failing
// or counting ones in their place to reach what a working machine never shows
// (no movable memory, a broken message queue, a socket library that will not
// start, an option refused, a key that cannot be written) and to count beeps.
// Each pointer starts as the system's function and is only ever replaced by a
// test.
#include <winsock.h>
#include <windows.h>

typedef HGLOBAL(WINAPI* GlobalAllocFn)(UINT flags, SIZE_T bytes);
typedef BOOL(WINAPI* GetMessageFn)(LPMSG message, HWND window, UINT first, UINT last);
typedef BOOL(WINAPI* MessageBeepFn)(UINT type);
typedef int(PASCAL* WSAStartupFn)(WORD version, LPWSADATA data);
typedef int(PASCAL* SetSockOptFn)(SOCKET socket, int level, int option, const char* value, int length);
typedef int(PASCAL* BindFn)(SOCKET socket, const sockaddr* address, int length);
typedef EXECUTION_STATE(WINAPI* SetThreadExecutionStateFn)(EXECUTION_STATE flags);
typedef BOOL(WINAPI* WriteProfileStringFn)(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);

extern GlobalAllocFn GlobalAllocProc; // every movable block: the load's scratch record, each datagram
extern GetMessageFn GetMessageProc;   // the main message loop
extern MessageBeepFn MessageBeepProc; // the field procedure's refusal of a character or paste
extern WSAStartupFn WSAStartupProc;   // the receive side's socket-library start-up
extern SetSockOptFn SetSockOptProc;   // every option either channel sets
extern BindFn BindProc;               // every bind either channel makes
extern SetThreadExecutionStateFn SetThreadExecutionStateProc; // the main window's hold on the system's sleep
extern WriteProfileStringFn WritePrivateProfileStringProc;    // every key the configuration writes
