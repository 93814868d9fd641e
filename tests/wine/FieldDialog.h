#pragma once
// The configuration dialog's template with the field procedure installed
// and a stand-in dialog procedure that only keeps ConfigDialogWindow, as the
// real one does: for tests of the fields without the dialog's own logic.
#include <windows.h>

#include <string>

#include "config/HostConfig.h"
#include "config/Syscfg/FieldFilter.h"
#include "resources/resource.h"

// The creation's parameter, when not 0, is the receiving port field's own
// procedure in place of the edit control's, put in before the field
// procedure keeps it.
inline INT_PTR CALLBACK FieldDialogProc(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    ConfigDialogWindow = dialog;
    if (message != WM_INITDIALOG)
        return FALSE;
    if (lparam != 0)
        SetWindowLongPtrA(GetDlgItem(dialog, IDC_RECVPORT), GWLP_WNDPROC, lparam);
    SubclassEditControls(dialog);
    return TRUE;
}

// A shown, active modeless dialog, its receiving port field's own procedure
// `recvPortProc` when one is given; NULL on failure.
inline HWND OpenFieldDialog(WNDPROC recvPortProc = nullptr) {
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "SYSCFGBOX", nullptr, FieldDialogProc,
                                     reinterpret_cast<LPARAM>(recvPortProc));
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
