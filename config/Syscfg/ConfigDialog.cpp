#include "config/Syscfg/ConfigDialog.h"

#include "config/ConfigStore.h"

// Until the configuration dialog is built, the Configure command tells the
// operator where the settings live, so that a start without local addresses
// still shows something.
int ShowConfigDialog(HWND owner) {
    MessageBoxA(owner,
                "The configuration dialog is not available in this version.\n"
                "Edit NEWUDPSRVR.INI in the Windows directory and restart the Server.",
                "VQX UDP Broadcast Sever", MB_OK | MB_ICONINFORMATION);
    return 1;
}
