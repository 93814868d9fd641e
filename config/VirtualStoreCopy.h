#pragma once
// A predecessor that ran without a manifest had a standard user's changes to
// NEWUDPSRVR.INI redirected by Windows (UAC file virtualization) into that
// user's VirtualStore folder. This program reads only the Windows folder's
// file; such a copy is reported so that the operator can move it.

// Writes one record naming the copy (for C:\Windows it is
// %LOCALAPPDATA%\VirtualStore\Windows\NEWUDPSRVR.INI) when it exists and
// differs from the file read, or the file read is missing. Never reads the
// copy's settings.
void ReportVirtualStoreCopy();
