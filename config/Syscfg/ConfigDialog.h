#pragma once
// The configuration dialog: the operator sets the three local addresses and
// the six host channels; Add/Modify writes them to NEWUDPSRVR.INI at once,
// OK applies them to the running relay.
#include <windows.h>

// Runs the dialog modally over the owner; returns 1 once it has ended.
int ShowConfigDialog(HWND owner);
// Text limits, the field procedure, centring: the dialog's preparation at
// every opening.
void PrepareConfigDialog(HWND dialog);
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
