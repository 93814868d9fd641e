#pragma once
// The socket calls whose failures the channels must survive, reached through
// pointers: the program calls WSOCK32's own functions, tests put failing ones
// in their place to reach the set-up failures that a working machine never
// shows.
#include <winsock.h>
#include <windows.h>

typedef int(PASCAL* WSAStartupFn)(WORD version, LPWSADATA data);
typedef int(PASCAL* SetSockOptFn)(SOCKET socket, int level, int option, const char* value, int length);

extern WSAStartupFn WSAStartupProc; // the receive side's socket-library start-up
extern SetSockOptFn SetSockOptProc; // every option either channel sets
