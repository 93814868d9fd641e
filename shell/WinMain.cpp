#include <windows.h>

#include "shell/MainWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (StartMainWindow(instance) == nullptr)
        return 0;
    return RunMessageLoop();
}
