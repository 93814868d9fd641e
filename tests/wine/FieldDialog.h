#pragma once
// The configuration dialog's template with the field procedure installed
// and a stand-in dialog procedure that only keeps ConfigDialogWindow, as the
// real one does: for tests of the fields without the dialog's own logic.
#include <windows.h>

#include <string>

#include "config/HostConfig.h"
#include "config/Syscfg/FieldFilter.h"
#include "resources/resource.h"

inline INT_PTR CALLBACK FieldDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    ConfigDialogWindow = dialog;
    if (message == WM_INITDIALOG)
        SubclassEditControls(dialog);
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// A shown, active modeless dialog; NULL on failure.
inline HWND OpenFieldDialog() {
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "SYSCFGBOX", nullptr, FieldDialogProc, 0);
    if (dialog != nullptr) {
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
    }
    return dialog;
}

inline std::string ItemText(HWND dialog, int id) {
    char text[256] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// A character typed into field `id`, as the dialog's message loop hands it on.
inline void TypeChar(HWND dialog, int id, char character) {
    SendMessageA(GetDlgItem(dialog, id), WM_CHAR, static_cast<unsigned char>(character), 1);
}
