#include "shell/CentreDialog.h"

void CentreDialog(HWND dialog) {
    RECT outer;
    GetWindowRect(dialog, &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    MoveWindow(dialog, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, FALSE);
}
