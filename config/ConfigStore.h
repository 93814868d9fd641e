#pragma once
// NEWUDPSRVR.INI, read and written through the private-profile functions by
// its bare name, so it lives in the Windows directory.
#include <windows.h>

#include "config/HostConfig.h"

extern const char ConfigFileName[];      // "NEWUDPSRVR.INI"
extern const char LocalAddressSection[]; // "LOCAL_DTE_ADDR"

int GetParamsFromINIFile(HWND mainWindow);
void ReadHostSettings(HostEntry* scratch, int host);
void StoreHostSettings(const HostEntry* scratch, int host);
void WriteHostSettings(unsigned short host);
void ClearChangeFlags();
