#pragma once
// The configuration dialog: the operator sets the three local addresses and
// the six host channels; Add/Modify writes them to NEWUDPSRVR.INI at once,
// OK applies them to the running relay.
#include <windows.h>

// Runs the dialog modally over the owner; returns once it has ended.
void ShowConfigDialog(HWND owner);
