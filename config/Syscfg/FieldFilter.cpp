#include "config/Syscfg/FieldFilter.h"

#include <cstring>

#include "config/HostConfig.h"
#include "config/Syscfg/FieldRules.h"
#include "shell/FatalReport.h"
#include "shell/PlatformCalls.h"

HWND ConfigDialogWindow;
int HelpLineLocked;

namespace {

// The edit fields' own procedures, by control id - 2000 (slot 3 unused).
WNDPROC SavedEditProcs[8];

// Help texts by control id - 2000, for controls 2000..2011.
const char* const HelpTexts[12] = {
    "Enter Host Number to be Added/Modified.",
    "Enter Corresponding Receiving Port Number.",
    "Enter Corresponding Receiving Multicast Address.",
    "Enter Local DTE Address of the PC.",
    "UDP Port Number to be specified in the receiving application.",
    "Enter the Sending Multicast address ",
    "Enter the Local IP Address towards Host.",
    "Enter the Local IP Address towards KLOR.",
    "",
    "Press this button to Add/Modify the Host Info.",
    "Press this button to Changes be effective.",
    "Press this button to disappear the box.",
};

enum : int { FirstField = IDC_HOSTNUMBER, LastField = IDC_KLORSIDE, LastHelped = IDC_CONFIG_CANCEL };
enum : WPARAM { TabChar = 9 };

const char FieldProcModule[] = "SrvrConfigChildProc in Syscfg";

void ClearHelpLine() {
    SetDlgItemTextA(ConfigDialogWindow, IDC_HELPLINE, "");
}

// The receiving port marks the host that the host number field names now.
void MarkReceivingPortHost() {
    char hostNumber[16] = {};
    GetDlgItemTextA(ConfigDialogWindow, IDC_HOSTNUMBER, hostNumber, sizeof hostNumber);
    const int host = HostNamedByField(hostNumber);
    if (host >= 0)
        HostModified[host] = 1;
}

void SetChangeFlag(FieldChangeFlag flag) {
    switch (flag) {
    case FieldChangeFlag::HostModified:
        MarkReceivingPortHost();
        break;
    case FieldChangeFlag::SendMcastModified:
        SendMcastModified = 1;
        break;
    case FieldChangeFlag::HostSideModified:
        HostSideModified = 1;
        break;
    case FieldChangeFlag::KLORSideModified:
        KLORSideModified = 1;
        break;
    case FieldChangeFlag::None:
        break;
    }
}

LRESULT PassOn(HWND field, int controlId, UINT message, WPARAM wparam, LPARAM lparam) {
    if (controlId < FirstField || controlId > LastField)
        return DefWindowProcA(field, message, wparam, lparam); // never installed on such a window
    return CallWindowProcA(SavedEditProcs[controlId - FirstField], field, message, wparam, lparam);
}

// Focus to the next tab stop after `controlId`, or the one before it when
// `previous` is 1.
void MoveDialogFocus(HWND dialog, int controlId, int previous) {
    SetFocus(GetNextDlgTabItem(dialog, GetDlgItem(dialog, controlId), previous == 1));
}

// A typed character: the help line is cleared whatever comes; Tab moves the
// focus instead of reaching the field; the field's rule refuses or passes.
LRESULT FilterChar(HWND field, int controlId, WPARAM character, LPARAM lparam) {
    ClearHelpLine();
    if (character == TabChar) {
        const int previous = (GetKeyState(VK_SHIFT) & 0x8000) != 0 ? 1 : 0;
        MoveDialogFocus(ConfigDialogWindow, controlId, previous);
        ShowFocusHelp();
        return 0;
    }
    const FieldCharRule rule = RuleForFieldChar(controlId, static_cast<unsigned>(character));
    if (!rule.accepted) {
        MessageBeepProc(0);
        return 0;
    }
    SetChangeFlag(rule.flag);
    return PassOn(field, controlId, WM_CHAR, character, lparam);
}

// The clipboard's text under the field's paste rule. A clipboard that
// cannot be read now cannot be checked: its paste is refused.
FieldCharRule RuleForClipboard(HWND field, int controlId) {
    const bool numberOnly = (GetWindowLongA(field, GWL_STYLE) & ES_NUMBER) != 0;
    if (!OpenClipboard(field))
        return {false, FieldChangeFlag::None};
    FieldCharRule rule = {true, FieldChangeFlag::None}; // no text: the paste inserts nothing
    HANDLE data = GetClipboardData(CF_TEXT);
    const char* text = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr;
    if (text != nullptr) {
        rule = RuleForFieldPaste(controlId, numberOnly, text, strnlen(text, GlobalSize(data)));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return rule;
}

// A paste (Ctrl+V, the context menu, Shift+Insert all end here) is typing
// a text at once: the same help line, refusal and flags as a typed character.
LRESULT FilterPaste(HWND field, int controlId, WPARAM wparam, LPARAM lparam) {
    ClearHelpLine();
    const FieldCharRule rule = RuleForClipboard(field, controlId);
    if (!rule.accepted) {
        MessageBeepProc(0);
        return 0;
    }
    SetChangeFlag(rule.flag);
    return PassOn(field, controlId, WM_PASTE, wparam, lparam);
}

// At the press the focus is still on the field before; at the release it is
// on the clicked one, whose help then stays on the line.
LRESULT ShowHelpAndPassOn(HWND field, int controlId, UINT message, WPARAM wparam, LPARAM lparam) {
    ShowFocusHelp();
    return PassOn(field, controlId, message, wparam, lparam);
}

LRESULT CALLBACK FilterFieldMessage(HWND field, UINT message, WPARAM wparam, LPARAM lparam) {
    const int controlId = static_cast<int>(GetWindowLongPtrA(field, GWLP_ID));
    switch (message) {
    case WM_CHAR:
        return FilterChar(field, controlId, wparam, lparam);
    case WM_PASTE:
        return FilterPaste(field, controlId, wparam, lparam);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        return ShowHelpAndPassOn(field, controlId, message, wparam, lparam);
    }
    return PassOn(field, controlId, message, wparam, lparam);
}

// Everything the field procedure does, the fields' own procedures included,
// runs under the fatal exception guard.
LRESULT CALLBACK SrvrConfigChildProc(HWND field, UINT message, WPARAM wparam, LPARAM lparam) {
    const GuardedCall call = {FilterFieldMessage, field, message, wparam, lparam, FieldProcModule};
    return CallUnderFatalGuard(&call);
}

} // namespace

void SubclassEditControls(HWND dialog) {
    for (int id = FirstField; id <= LastField; ++id) {
        HWND field = GetDlgItem(dialog, id);
        SavedEditProcs[id - FirstField] = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(field, GWLP_WNDPROC));
        if (IsWindow(field))
            SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SrvrConfigChildProc));
    }
}

void ShowControlHelp(int controlId) {
    if (controlId >= FirstField && controlId <= LastHelped)
        SetDlgItemTextA(ConfigDialogWindow, IDC_HELPLINE, HelpTexts[controlId - FirstField]);
}

void ShowFocusHelp(int firstId, int lastId) {
    HWND focus = GetFocus();
    if (focus == nullptr || !IsChild(ConfigDialogWindow, focus))
        return;
    const int id = GetDlgCtrlID(focus);
    if (id >= firstId && id <= lastId)
        ShowControlHelp(id);
}
