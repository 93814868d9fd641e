#pragma once
// NEWUDPSRVR.INI, read and written through the private-profile functions by
// its bare name, so it lives in the Windows directory.
#include <windows.h>

#include "config/HostConfig.h"

extern const char ConfigFileName[];      // "NEWUDPSRVR.INI"
extern const char LocalAddressSection[]; // "LOCAL_DTE_ADDR"

// Loads LocalAddresses, HostTable and HostConfigured at start-up. A missing
// local address stops the load and posts the Configure command to
// `mainWindow`; 0 only when no scratch memory could be had (after its box).
int GetParamsFromINIFile(HWND mainWindow);
// Writes one key; 0 when NEWUDPSRVR.INI could not be written, with the
// reason in GetLastError.
int WriteConfigKey(const char* section, const char* key, const char* value);
// Writes host `host`'s three keys from `entry`, each taken into HostTable
// once it is on file, so that the table never holds a value the file does
// not. 0 at the first key that could not be written (GetLastError tells why).
int WriteHostSettings(const HostEntry* entry, unsigned short host);
void ClearChangeFlags();
