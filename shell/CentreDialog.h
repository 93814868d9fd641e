#pragma once
#include <windows.h>

// Centres a dialog on the primary display, keeping its size; no repaint, as
// the dialogs are centred before they are first shown.
void CentreDialog(HWND dialog);
