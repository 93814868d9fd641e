#include <windows.h>

#include <commctrl.h>

#include "shell/FatalReport.h"
#include "shell/MainWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ReserveStackForFatalReport();
    // The manifest asks for Common Controls 6, which then provides the
    // dialogs' edit, list box and button classes: registering them here loads
    // it before the first dialog needs them.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (StartMainWindow(instance) == nullptr)
        return 0;
    return RunMessageLoop();
}
