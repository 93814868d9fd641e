#include "config/Syscfg/ConfigDialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/ConfigStore.h"
#include "config/HostConfig.h"
#include "config/Syscfg/FieldFilter.h"
#include "config/Syscfg/FieldRules.h"
#include "config/Syscfg/SaveFailure.h"
#include "relay/RecvChannel.h"
#include "resources/resource.h"
#include "shell/AppGlobals.h"
#include "shell/CentreDialog.h"
#include "shell/Messages.h"

namespace {

const char BoxCaption[] = "Server Configuration Process";
const char RestartText[] =
    "You have changed the configurations.\nApplication needs to be restarted to take into "
    "effect the new configuration.\nPlease Restart.";
const char DefaultSendPort[] = "6789";
const char DefaultSendGroup[] = "233.1.2.5";
enum : int { LowestSendPort = 6789, HighestSendPort = 64999, HighestHost = HOST_COUNT - 1 };
enum : int { LineSize = 128, FieldTextSize = 16, SendPortTextSize = 9, BoxTextSize = 1024 };

// Hosts whose entry an Add/Modify stored new or changed and that OK has
// not connected since: a Cancel leaves them for the OK of a later opening.
int HostStored[HOST_COUNT];

// The seven fields; their text limits are set in this order.
const struct {
    int id;
    int limit;
} FieldLimits[] = {{IDC_RECVPORT, 5},   {IDC_RECVMCAST, 15}, {IDC_HOSTNUMBER, 1}, {IDC_SENDPORT, 5},
                   {IDC_SENDMCAST, 15}, {IDC_HOSTSIDE, 15},  {IDC_KLORSIDE, 15}};

bool IsField(int id) {
    for (const auto& field : FieldLimits)
        if (field.id == id)
            return true;
    return false;
}

// One of the three errors that stay on the help line: it locks the line for
// the rest of the run. Lock first: changing the line's text sends the dialog
// messages of its own, whose button help would otherwise cover the error.
void ShowHelpLineError(HWND dialog, const char* text) {
    HelpLineLocked = 1;
    SetDlgItemTextA(dialog, IDC_HELPLINE, text);
}

// The focus goes to the refused field before the box opens.
void WarnAbout(HWND dialog, int fieldId, const char* text) {
    SetFocus(GetDlgItem(dialog, fieldId));
    MessageBoxA(dialog, text, BoxCaption, MB_OK | MB_ICONWARNING);
}

void CopyText(char* target, size_t size, const char* text) {
    std::snprintf(target, size, "%s", text);
}

// A host is listed at opening up to the first one without a receiving port
// or group.
bool IsListedAtOpening(const HostEntry& entry) {
    return entry.RECVUDPPORTID[0] != '?' && entry.RECVMCASTADDR[0] != '\0';
}

void AddListLine(HWND dialog, const char* format, int host) {
    const HostEntry& entry = HostTable[host];
    char line[LineSize];
    std::snprintf(line, sizeof line, format, host, entry.RECVUDPPORTID, entry.RECVMCASTADDR,
                  entry.SENDUDPPORTID);
    SendDlgItemMessageA(dialog, IDC_HOSTLIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

void FillFromStore(HWND dialog) {
    SetDlgItemTextA(dialog, IDC_HOSTSIDE, LocalAddresses.HOSTSIDEIPADDRESS);
    SetDlgItemTextA(dialog, IDC_KLORSIDE, LocalAddresses.KLORSIDEIPADDRESS);
    SetDlgItemTextA(dialog, IDC_HOSTNUMBER, "0");
    SetDlgItemTextA(dialog, IDC_RECVPORT, HostTable[0].RECVUDPPORTID);
    SetDlgItemTextA(dialog, IDC_RECVMCAST, HostTable[0].RECVMCASTADDR);
    // The defaults go into the store itself, so that Add/Modify finds them.
    if (HostTable[0].SENDUDPPORTID[0] == '\0')
        CopyText(HostTable[0].SENDUDPPORTID, PORT_TEXT_SIZE, DefaultSendPort);
    SetDlgItemTextA(dialog, IDC_SENDPORT, HostTable[0].SENDUDPPORTID);
    SendMcastModified = 1; // every Add/Modify of this opening writes SENDMCASTADD
    if (LocalAddresses.SENDMCASTADD[0] == '\0')
        CopyText(LocalAddresses.SENDMCASTADD, ADDRESS_TEXT_SIZE, DefaultSendGroup);
    SetDlgItemTextA(dialog, IDC_SENDMCAST, LocalAddresses.SENDMCASTADD);
}

// Text limits, the field procedure, centring: the dialog's preparation at
// every opening.
void PrepareConfigDialog(HWND dialog) {
    for (const auto& field : FieldLimits)
        SendDlgItemMessageA(dialog, field.id, EM_LIMITTEXT, field.limit, 0);
    SubclassEditControls(dialog);
    CentreDialog(dialog);
}

INT_PTR OpenConfigDialog(HWND dialog) {
    ClearChangeFlags();
    PrepareConfigDialog(dialog);
    FillFromStore(dialog);
    SetFocus(GetDlgItem(dialog, IDC_SENDMCAST));
    ShowControlHelp(IDC_KLORSIDE);
    for (int host = 0; host < HOST_COUNT && IsListedAtOpening(HostTable[host]); ++host)
        AddListLine(dialog, "Host%d %15s %25s %30s", host);
    return FALSE; // the focus is set
}

void FieldNotification(HWND dialog, int id, int code) {
    if (code == EN_SETFOCUS)
        SendDlgItemMessageA(dialog, id, EM_SETSEL, 0, -1);
    if (!HelpLineLocked)
        ShowFocusHelp();
}

// The host a list line names ("Host%d ..."): with a host missing from the
// list, positions and host numbers part. Host 0 when none is selected.
int SelectedHost(HWND dialog) {
    const LRESULT position = SendDlgItemMessageA(dialog, IDC_HOSTLIST, LB_GETCURSEL, 0, 0);
    char line[LineSize] = {};
    if (position < 0 || SendDlgItemMessageA(dialog, IDC_HOSTLIST, LB_GETTEXTLEN, position, 0) >=
                            static_cast<LRESULT>(sizeof line))
        return 0;
    SendDlgItemMessageA(dialog, IDC_HOSTLIST, LB_GETTEXT, position, reinterpret_cast<LPARAM>(line));
    const int host = line[4] - '0';
    return host >= 0 && host <= HighestHost ? host : 0;
}

// Every notification of the list alike: the selected host, or host 0, into
// the host fields.
void ListNotification(HWND dialog) {
    const int host = SelectedHost(dialog);
    SetDlgItemInt(dialog, IDC_HOSTNUMBER, host, FALSE);
    SetDlgItemTextA(dialog, IDC_RECVPORT, HostTable[host].RECVUDPPORTID);
    SetDlgItemTextA(dialog, IDC_RECVMCAST, HostTable[host].RECVMCASTADDR);
    SetDlgItemTextA(dialog, IDC_SENDPORT, HostTable[host].SENDUDPPORTID);
    if (!HelpLineLocked)
        ShowFocusHelp();
}

// The host that Add/Modify is for, from the host number field; -1 after the
// host-number error when the field is empty or names no host.
int ReadHostNumber(HWND dialog) {
    char text[FieldTextSize] = {};
    GetDlgItemTextA(dialog, IDC_HOSTNUMBER, text, sizeof text);
    const unsigned long host = std::strtoul(text, nullptr, 10);
    if (text[0] == '\0' || host > HighestHost) {
        char message[64];
        std::snprintf(message, sizeof message, "Host Number can be [ 0 - %d ].", HighestHost);
        ShowHelpLineError(dialog, message);
        return -1;
    }
    return static_cast<int>(host);
}

// Hosts are added in order, and a configured one is only overwritten when
// the operator says so.
bool MayAddOrModify(HWND dialog, int host) {
    if (!HostConfigured[host] && host > 0 && !HostConfigured[host - 1]) {
        char message[64];
        std::snprintf(message, sizeof message, "Host %d does not exist. Add Host%d first.", host - 1,
                      host - 1);
        ShowHelpLineError(dialog, message);
        return false;
    }
    return !HostConfigured[host] ||
           MessageBoxA(dialog, "This Host already exist.\nOverwrite the existing details?", BoxCaption,
                       MB_YESNO | MB_ICONQUESTION) != IDNO;
}

// What one Add/Modify takes, checked against the store and taken into it
// only once it is on file: the store never holds a value the file does not.
struct Accepted {
    LocalAddressTexts addresses;
    HostEntry entry;
    bool changed; // differs from the store
};

// An address field: a changed (or, with `emptyIsChange`, a still empty)
// value must pass the address check before it is taken.
bool TakeAddress(HWND dialog, int fieldId, char* value, bool emptyIsChange, const char* warning,
                 bool& changed) {
    char text[FieldTextSize] = {};
    GetDlgItemTextA(dialog, fieldId, text, sizeof text);
    if (std::strcmp(text, value) == 0 && !(emptyIsChange && value[0] == '\0'))
        return true;
    if (!IsValidDottedAddress(text)) {
        WarnAbout(dialog, fieldId, warning);
        return false;
    }
    CopyText(value, ADDRESS_TEXT_SIZE, text);
    changed = true;
    return true;
}

// The three local addresses: the sending group when changed, the two
// interface addresses when changed or still empty (an empty one is always
// refused), each through the address check.
bool TakeLocalAddresses(HWND dialog, Accepted& accepted) {
    LocalAddressTexts& taken = accepted.addresses;
    return TakeAddress(dialog, IDC_SENDMCAST, taken.SENDMCASTADD, false, "Invalid Sending Multicast Address.",
                       accepted.changed) &&
           TakeAddress(dialog, IDC_HOSTSIDE, taken.HOSTSIDEIPADDRESS, true,
                       "Invalid IP Address towards HOST.", accepted.changed) &&
           TakeAddress(dialog, IDC_KLORSIDE, taken.KLORSIDEIPADDRESS, true,
                       "Invalid IP Address towards KLOR.", accepted.changed);
}

// The receiving port is taken as typed: neither its value nor its emptiness
// is checked.
void TakeReceivingPort(HWND dialog, Accepted& accepted) {
    char text[PORT_TEXT_SIZE] = {};
    GetDlgItemTextA(dialog, IDC_RECVPORT, text, sizeof text);
    if (std::strcmp(text, accepted.entry.RECVUDPPORTID) != 0) {
        CopyText(accepted.entry.RECVUDPPORTID, PORT_TEXT_SIZE, text);
        accepted.changed = true;
    }
}

// The sending port must lie in 6789..64999, whether it changed or not. A
// text longer than the port's five characters is refused too: it could not
// be stored whole.
bool TakeSendingPort(HWND dialog, Accepted& accepted) {
    char text[SendPortTextSize] = {};
    GetDlgItemTextA(dialog, IDC_SENDPORT, text, sizeof text);
    const long port = std::strtol(text, nullptr, 10);
    if (port < LowestSendPort || port > HighestSendPort || std::strlen(text) >= PORT_TEXT_SIZE) {
        char message[64];
        std::snprintf(message, sizeof message, "Port Number can be [ %d - %d ].", LowestSendPort,
                      HighestSendPort);
        ShowHelpLineError(dialog, message);
        SetFocus(GetDlgItem(dialog, IDC_SENDPORT));
        return false;
    }
    if (std::strcmp(text, accepted.entry.SENDUDPPORTID) != 0) {
        CopyText(accepted.entry.SENDUDPPORTID, PORT_TEXT_SIZE, text);
        accepted.changed = true;
    }
    return true;
}

// The host's receiving port, its receiving group (checked when changed) and
// its sending port.
bool TakeHostValues(HWND dialog, Accepted& accepted) {
    TakeReceivingPort(dialog, accepted);
    return TakeAddress(dialog, IDC_RECVMCAST, accepted.entry.RECVMCASTADDR, false,
                       "Invalid Receving Multicast Address.", accepted.changed) &&
           TakeSendingPort(dialog, accepted);
}

// A local address typed into, or changed in any other way (a paste, the
// Delete key), is written, and taken into the store once it is on file.
bool SaveLocalAddress(int flag, const char* key, const char* value, char* storedValue) {
    if (!flag && std::strcmp(value, storedValue) == 0)
        return true;
    if (!WriteConfigKey(LocalAddressSection, key, value))
        return false;
    CopyText(storedValue, ADDRESS_TEXT_SIZE, value);
    return true;
}

// The local addresses to write, then the host's section; false at the first
// key that could not be written.
bool SaveAccepted(int host, const Accepted& accepted) {
    const LocalAddressTexts& taken = accepted.addresses;
    return SaveLocalAddress(SendMcastModified, "SENDMCASTADD", taken.SENDMCASTADD,
                            LocalAddresses.SENDMCASTADD) &&
           SaveLocalAddress(HostSideModified, "HOSTSIDEIPADDRESS", taken.HOSTSIDEIPADDRESS,
                            LocalAddresses.HOSTSIDEIPADDRESS) &&
           SaveLocalAddress(KLORSideModified, "KLORSIDEIPADDRESS", taken.KLORSIDEIPADDRESS,
                            LocalAddresses.KLORSIDEIPADDRESS) &&
           WriteHostSettings(&accepted.entry, static_cast<unsigned short>(host));
}

// The file could not be written: the box tells why and what to do; the
// operator's entries stay in the fields.
void ReportSaveFailure(HWND dialog, int host) {
    const DWORD error = GetLastError();
    char text[BoxTextSize];
    SaveFailureText(text, sizeof text, host, error);
    MessageBoxA(dialog, text, BoxCaption, MB_OK | MB_ICONERROR);
}

// The host's list line: a new host's is added; a modified one's is
// replaced, found by its host, not by its position.
void UpdateListLine(HWND dialog, int host) {
    if (!HostConfigured[host]) {
        AddListLine(dialog, "Host%d %10s %25s %5s", host);
        HostConfigured[host] = 1;
    } else if (HostModified[host]) {
        char start[8];
        std::snprintf(start, sizeof start, "Host%d ", host);
        const LRESULT position = SendDlgItemMessageA(
            dialog, IDC_HOSTLIST, LB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(start));
        if (position != LB_ERR)
            SendDlgItemMessageA(dialog, IDC_HOSTLIST, LB_DELETESTRING, position, 0);
        AddListLine(dialog, "Host%d %10s %25s %5s", host);
    }
}

// The first failing step ends the command; nothing is taken into memory
// or written.
void AddOrModifyHost(HWND dialog) {
    const int host = ReadHostNumber(dialog);
    if (host < 0 || !MayAddOrModify(dialog, host))
        return;
    Accepted accepted = {LocalAddresses, HostTable[host], false};
    if (!TakeLocalAddresses(dialog, accepted) || !TakeHostValues(dialog, accepted))
        return;
    if (!SaveAccepted(host, accepted)) {
        ReportSaveFailure(dialog, host);
        return;
    }
    if (accepted.changed || !HostConfigured[host])
        HostStored[host] = 1;
    if (accepted.changed)
        HostModified[host] = 1;
    UpdateListLine(dialog, host);
    ShowFocusHelp();
}

// A changed local interface needs a restart. The box and the shutdown
// request come once per configured host: the later boxes meet the quit
// request of the first shutdown and end at once.
void RequestRestart(HWND channelWindow, int host, bool connectAgain) {
    DropHostChannel(host);
    SendMessageA(channelWindow, WM_DESTROY, 0, 0);
    MessageBoxA(MainWindow, RestartText, MainWindowTitle, MB_OK);
    SendMessageA(MainWindow, WM_DESTROY, 0, 0);
    PostMessageA(channelWindow, WM_CREATE, host, 0);
    if (connectAgain)
        PostMessageA(channelWindow, WM_CONNECTHOST, host, 0);
    HostModified[host] = 0;
    HostStored[host] = 0;
}

// A local interface address needs a restart only when the stored one is not
// the one the channels were set up with: typing it again, or an Add/Modify
// that failed, stores nothing new.
void RestartForStoredAddress(const char* stored, const char* started, HWND channelWindow, bool connectAgain) {
    if (std::strcmp(stored, started) == 0)
        return;
    for (int host = 0; host < HOST_COUNT; ++host)
        if (HostConfigured[host])
            RequestRestart(channelWindow, host, connectAgain);
}

void ApplyChanges(HWND dialog) {
    RestartForStoredAddress(LocalAddresses.HOSTSIDEIPADDRESS, StartupAddresses.HOSTSIDEIPADDRESS,
                            RecvChannelWindow, true);
    HostSideModified = 0;
    RestartForStoredAddress(LocalAddresses.KLORSIDEIPADDRESS, StartupAddresses.KLORSIDEIPADDRESS,
                            SendChannelWindow, false);
    KLORSideModified = 0;
    for (int host = 0; host < HOST_COUNT; ++host) {
        // Only what an Add/Modify stored, and only an entry that can be
        // connected: a keystroke or a failed Add/Modify connects nothing.
        if (HostStored[host] && IsUsableHostEntry(HostTable[host])) {
            DropHostChannel(host);
            SendMessageA(RecvChannelWindow, WM_DESTROY, 0, 0);
            PostMessageA(RecvChannelWindow, WM_CONNECTHOST, host, 0); // connects with the values now stored
        }
        HostModified[host] = 0;
        HostStored[host] = 0;
    }
    EndDialog(dialog, 0);
}

// Ids outside the dialog's controls (Enter and Escape among them) do nothing.
void ConfigCommand(HWND dialog, int id, int code) {
    if (IsField(id))
        FieldNotification(dialog, id, code);
    else if (id == IDC_HOSTLIST)
        ListNotification(dialog);
    else if (id == IDC_ADDMODIFY)
        AddOrModifyHost(dialog);
    else if (id == IDC_CONFIG_OK)
        ApplyChanges(dialog);
    else if (id == IDC_CONFIG_CANCEL)
        EndDialog(dialog, 0); // what Add/Modify wrote stays
}

// The buttons report no focus changes of their own: their help is shown
// from whatever message comes next.
void ShowButtonHelp() {
    if (!HelpLineLocked)
        ShowFocusHelp(IDC_ADDMODIFY, IDC_CONFIG_CANCEL);
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    ConfigDialogWindow = dialog;
    switch (message) {
    case WM_INITDIALOG:
        return OpenConfigDialog(dialog);
    case WM_COMMAND:
        ConfigCommand(dialog, LOWORD(wparam), HIWORD(wparam));
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        ShowButtonHelp();
        return TRUE;
    }
    ShowButtonHelp();
    return FALSE;
}

} // namespace

void ShowConfigDialog(HWND owner) {
    DialogBoxParamA(AppInstance, "SYSCFGBOX", owner, ConfigDialogProc, 0);
}
