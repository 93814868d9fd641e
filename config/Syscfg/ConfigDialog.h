#pragma once
#include <windows.h>

// Runs the configuration dialog modally over the owner; returns 1 once closed.
int ShowConfigDialog(HWND owner);
