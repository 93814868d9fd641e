#pragma once
// Drives the configuration dialog in the Win32 tests, on top of the status
// dialogs' driver: typing into its fields through the field procedure,
// pressing its buttons, and a hook that notes each message box that came up
// and which field had the focus then.
#include "StatusDialogDriver.h"

#include "config/ConfigStore.h"
#include "config/Syscfg/FieldFilter.h"

#include <cstring>
#include <string>
#include <vector>

inline const char ConfigCaption[] = RELAY_CONFIG_CAPTION;
inline const char ConfigBoxCaption[] = "Server Configuration Process";

struct BoxCreation {
    HWND box;
    std::string caption;
    int focusId; // control id of the focus when the box came up
};
inline std::vector<BoxCreation> BoxesCreated; // GUI thread only; read through OnGui
inline HHOOK BoxCreationHook;

// A box's first activation, before it takes the focus: what had the focus
// then is what the code gave it before opening the box.
inline LRESULT CALLBACK NoteBoxCreation(int code, WPARAM wparam, LPARAM lparam) {
    HWND window = reinterpret_cast<HWND>(wparam);
    char className[16] = {}, caption[128] = {};
    if (code == HCBT_ACTIVATE && GetClassNameA(window, className, sizeof className) &&
        std::strcmp(className, "#32770") == 0 && GetWindowTextA(window, caption, sizeof caption) &&
        std::strcmp(caption, ConfigCaption) != 0) {
        bool seen = false;
        for (const BoxCreation& box : BoxesCreated)
            seen = seen || box.box == window;
        if (!seen)
            BoxesCreated.push_back({window, caption, GetDlgCtrlID(GetFocus())});
    }
    return CallNextHookEx(BoxCreationHook, code, wparam, lparam);
}

inline std::vector<BoxCreation> Boxes() {
    std::vector<BoxCreation> boxes;
    OnGui([&] { boxes = BoxesCreated; });
    return boxes;
}

inline void OpenConfigure() {
    SendMessageA(MainWindow, WM_SYSCOMMAND, IDM_CONFIGURE, 0);
}

// The store as a program without NEWUDPSRVR.INI entries has it: every text
// empty, no host configured, nothing flagged; the file gone.
inline void EmptyStore() {
    std::memset(HostTable, 0, sizeof HostTable);
    std::memset(&LocalAddresses, 0, sizeof LocalAddresses);
    for (int& flag : HostConfigured)
        flag = 0;
    ClearChangeFlags();
    HelpLineLocked = 0;
    RemoveConfigFile();
}

// Host h in memory and in the file: port 7000 + h, group 239.2.2.(h+1).
inline void StoreHost(int h) {
    char port[8], group[20], section[8];
    std::snprintf(port, sizeof port, "%d", 7000 + h);
    std::snprintf(group, sizeof group, "239.2.2.%d", h + 1);
    std::snprintf(section, sizeof section, "HOST%d", h);
    std::strcpy(HostTable[h].RECVUDPPORTID, port);
    std::strcpy(HostTable[h].RECVMCASTADDR, group);
    std::strcpy(HostTable[h].SENDUDPPORTID, "6789");
    HostConfigured[h] = 1;
    WriteConfigValue(section, "RECVUDPPORTID", port);
    WriteConfigValue(section, "RECVMCASTADDR", group);
    WriteConfigValue(section, "SENDUDPPORTID", "6789");
}

inline void StoreLocalAddresses() {
    std::strcpy(LocalAddresses.SENDMCASTADD, "239.1.1.1");
    std::strcpy(LocalAddresses.HOSTSIDEIPADDRESS, "198.51.100.1");
    std::strcpy(LocalAddresses.KLORSIDEIPADDRESS, "203.0.113.1");
}

// Types `text` over the field's whole text, character by character, as the
// dialog's message loop hands typed characters to the field; an empty text
// is a backspace over the selection.
inline void Type(HWND dialog, int id, const char* text) {
    OnGui([&] {
        HWND field = GetDlgItem(dialog, id);
        SetFocus(field);
        SendMessageA(field, EM_SETSEL, 0, -1);
        if (*text == '\0')
            SendMessageA(field, WM_CHAR, '\b', 1);
        for (const char* c = text; *c != '\0'; ++c)
            SendMessageA(field, WM_CHAR, static_cast<unsigned char>(*c), 1);
    });
}

inline std::string Item(HWND dialog, int id) {
    std::string text;
    OnGui([&] {
        char buffer[256] = {};
        GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
        text = buffer;
    });
    return text;
}

inline int FocusId(HWND dialog) {
    int id = 0;
    OnGui([&] { id = GetParent(GetFocus()) == dialog ? GetDlgCtrlID(GetFocus()) : 0; });
    return id;
}

// Clicks a button without waiting for what it opens; returns once the click
// and anything it posted have been handled, or a box it opened is up.
inline void Click(HWND dialog, int id) {
    HWND button = nullptr;
    OnGui([&] { button = GetDlgItem(dialog, id); });
    PostAndSettle(button, BM_CLICK, 0, 0);
}

// The value of a key of NEWUDPSRVR.INI ("" when missing).
inline std::string FileValue(const char* section, const char* key) {
    char value[64] = {};
    GetPrivateProfileStringA(section, key, "", value, sizeof value, "NEWUDPSRVR.INI");
    return value;
}
