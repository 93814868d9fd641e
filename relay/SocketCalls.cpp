#include "relay/SocketCalls.h"

WSAStartupFn WSAStartupProc = WSAStartup;
SetSockOptFn SetSockOptProc = setsockopt;
