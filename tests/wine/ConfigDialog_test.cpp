// The configuration dialog driven as the operator would: its opening, the
// host list, Add/Modify with every error it reports, the keys it writes, and
// the ways it ends.
#include "ConfigDialogDriver.h"

#include "LabSockets.h"
#include "shell/PlatformCalls.h"

namespace {

[[maybe_unused]] const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new StatusEnvironment([] { WriteSampleConfig({}); }));

class ConfigDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        SetCurrentDirectoryA(temp); // records of failed connects, if any, go there
        EmptyStore();
        BoxesCreated.clear();
        BoxCreationHook = SetWindowsHookExA(WH_CBT, NoteBoxCreation, nullptr, GetCurrentThreadId());
    }
    void TearDown() override {
        UnhookWindowsHookEx(BoxCreationHook);
        WritePrivateProfileStringProc = WritePrivateProfileStringA;
        EmptyStore();
    }
};

// Valid values for host `host` in every field, as typed.
void TypeHost(HWND dialog, const char* host, const char* group, const char* sendPort) {
    Type(dialog, IDC_HOSTSIDE, "198.51.100.1");
    Type(dialog, IDC_KLORSIDE, "203.0.113.1");
    Type(dialog, IDC_HOSTNUMBER, host);
    Type(dialog, IDC_RECVPORT, "7000");
    Type(dialog, IDC_RECVMCAST, group);
    Type(dialog, IDC_SENDPORT, sendPort);
}

} // namespace

TEST_F(ConfigDialog, OpensOnEmptyStoreWithDefaultsInTheStore) {
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        const std::pair<int, const char*> fields[] = {
            {IDC_HOSTNUMBER, "0"},        {IDC_RECVPORT, ""}, {IDC_RECVMCAST, ""}, {IDC_SENDPORT, "6789"},
            {IDC_SENDMCAST, "233.1.2.5"}, {IDC_HOSTSIDE, ""}, {IDC_KLORSIDE, ""}};
        for (const auto& field : fields)
            EXPECT_EQ(Item(dialog, field.first), field.second) << field.first;
        EXPECT_EQ(FocusId(dialog), IDC_SENDMCAST);
        DWORD start = 1, end = 0;
        OnGui([&] { SendDlgItemMessageA(dialog, IDC_SENDMCAST, EM_GETSEL, (WPARAM)&start, (LPARAM)&end); });
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(end, 9u);
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Enter the Local IP Address towards KLOR.");
        EXPECT_TRUE(ListLines(dialog, IDC_HOSTLIST).empty());
        EXPECT_STREQ(HostTable[0].SENDUDPPORTID, "6789");
        EXPECT_STREQ(LocalAddresses.SENDMCASTADD, "233.1.2.5");
        EXPECT_EQ(SendMcastModified, 1);
        // Enter and Escape end nothing; the close box does.
        PostAndSettle(dialog, WM_COMMAND, IDOK, 0);
        PostAndSettle(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(IsOpen(dialog));
        PostAndSettle(dialog, WM_CLOSE, 0, 0);
    });
}

// The template as the operator meets it: the tab order, which fields take
// digits only and how much, the labels, no default button, no control 2003,
// centred on the screen.
TEST_F(ConfigDialog, TemplateOrderLimitsAndTexts) {
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        OnGui([&] {
            std::vector<int> order;
            for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
                order.push_back(GetDlgCtrlID(c));
            EXPECT_EQ(order, (std::vector<int>{2005, 2006, 2007, 2000, 2001, 2002, 2004, 2017, 2009, 2008,
                                               2010, 2011, 2020, 2023, 2024, 2012, 2021, 2013, 2016, 2018}));
            const std::pair<int, int> limits[] = {{2000, 1},  {2001, 5},  {2002, 15}, {2004, 5},
                                                  {2005, 15}, {2006, 15}, {2007, 15}};
            for (const auto& field : limits) {
                const LONG style = GetWindowLongA(GetDlgItem(dialog, field.first), GWL_STYLE);
                const bool numberOnly = field.first == 2000 || field.first == 2001 || field.first == 2004;
                EXPECT_EQ((style & ES_NUMBER) != 0, numberOnly) << field.first;
                EXPECT_EQ(SendDlgItemMessageA(dialog, field.first, EM_GETLIMITTEXT, 0, 0), field.second);
            }
            for (int button : {2009, 2010, 2011})
                EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog, button), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
            EXPECT_EQ(GetDlgItem(dialog, 2003), nullptr);
            char text[64] = {};
            GetDlgItemTextA(dialog, 2009, text, sizeof text);
            EXPECT_STREQ(text, "&Add/&Modify");
            GetDlgItemTextA(dialog, 2020, text, sizeof text);
            EXPECT_STREQ(text, "Broadcast Details");
            GetDlgItemTextA(dialog, 2013, text, sizeof text);
            EXPECT_STREQ(text, "Receiving UDP Port No.");
            RECT outer;
            GetWindowRect(dialog, &outer);
            EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2);
            EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2);
        });
        PostAndSettle(dialog, WM_CLOSE, 0, 0);
    });
}

TEST_F(ConfigDialog, AddOnEmptyStoreWritesFileAndListsHostAndCancelKeepsIt) {
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        TypeHost(dialog, "0", "239.2.2.1", "6789");
        Click(dialog, IDC_ADDMODIFY);
        EXPECT_TRUE(Boxes().empty()); // a new host asks no question
        EXPECT_EQ(HostConfigured[0], 1);
        EXPECT_EQ(ListLines(dialog, IDC_HOSTLIST),
                  std::vector<std::string>{"Host0       7000                 239.2.2.1  6789"});
        Click(dialog, IDC_CONFIG_CANCEL);
    });
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "SENDMCASTADD"), "233.1.2.5");
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "HOSTSIDEIPADDRESS"), "198.51.100.1");
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "KLORSIDEIPADDRESS"), "203.0.113.1");
    EXPECT_EQ(FileValue("HOST0", "RECVUDPPORTID"), "7000");
    EXPECT_EQ(FileValue("HOST0", "RECVMCASTADDR"), "239.2.2.1");
    EXPECT_EQ(FileValue("HOST0", "SENDUDPPORTID"), "6789");
    EXPECT_FALSE(PumpMessages(300, [] { return HostChannelUp(0); })); // Cancel connects nothing
}

TEST_F(ConfigDialog, HelpLineErrorsLockTheLine) {
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        TypeHost(dialog, "", "239.2.2.1", "6789");
        Click(dialog, IDC_ADDMODIFY);
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Host Number can be [ 0 - 5 ].");
        EXPECT_EQ(HelpLineLocked, 1);
        EXPECT_EQ(FocusId(dialog), IDC_ADDMODIFY); // where the click left it
        Type(dialog, IDC_HOSTNUMBER, "7");
        Click(dialog, IDC_ADDMODIFY);
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Host Number can be [ 0 - 5 ].");
        Type(dialog, IDC_HOSTNUMBER, "2");
        Click(dialog, IDC_ADDMODIFY);
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Host 1 does not exist. Add Host1 first.");
        // Moving the focus no longer shows the fields' help; a click does.
        Type(dialog, IDC_HOSTNUMBER, "0");
        OnGui([&] { SetFocus(GetDlgItem(dialog, IDC_HOSTSIDE)); });
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "");
        OnGui([&] { SendDlgItemMessageA(dialog, IDC_HOSTSIDE, WM_LBUTTONUP, 0, 0); });
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Enter the Local IP Address towards Host.");
        for (const char* refused : {"6788", "65000"}) {
            Type(dialog, IDC_SENDPORT, refused);
            OnGui([&] { SetFocus(GetDlgItem(dialog, IDC_HOSTNUMBER)); });
            Click(dialog, IDC_ADDMODIFY);
            EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Port Number can be [ 6789 - 64999 ].") << refused;
            EXPECT_EQ(FocusId(dialog), IDC_SENDPORT) << refused;
            EXPECT_EQ(HostConfigured[0], 0) << refused;
        }
        Type(dialog, IDC_SENDPORT, "64999");
        Click(dialog, IDC_ADDMODIFY);
        EXPECT_EQ(HostConfigured[0], 1);
        EXPECT_STREQ(HostTable[0].SENDUDPPORTID, "64999");
        Click(dialog, IDC_CONFIG_CANCEL);
    });
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ConfigDialog, RefusedAddressesWarnWithFocusOnTheirField) {
    const struct {
        int field;
        const char* typed;
        const char* text;
    } rows[] = {{IDC_SENDMCAST, "1.2.3", "Invalid Sending Multicast Address."},
                {IDC_HOSTSIDE, "", "Invalid IP Address towards HOST."},
                {IDC_KLORSIDE, "300.1.1.1", "Invalid IP Address towards KLOR."},
                {IDC_RECVMCAST, "1..2.3", "Invalid Receving Multicast Address."}};
    DriveDialog(ConfigCaption, OpenConfigure, [&](HWND dialog) {
        for (const auto& row : rows) {
            TypeHost(dialog, "0", "239.2.2.1", "6789");
            Type(dialog, IDC_SENDMCAST, "233.1.2.5");
            Type(dialog, row.field, row.typed);
            OnGui([&] { SetFocus(GetDlgItem(dialog, IDC_HOSTNUMBER)); });
            const size_t before = Boxes().size();
            {
                BoxAnswerer answer(ConfigBoxCaption, MB_OK | MB_ICONWARNING, IDOK);
                Click(dialog, IDC_ADDMODIFY);
                EXPECT_TRUE(WaitUntil(5000, [&] { return answer.Answered() == 1; })) << row.text;
                EXPECT_EQ(answer.LastText(), row.text);
            }
            const std::vector<BoxCreation> boxes = Boxes();
            ASSERT_EQ(boxes.size(), before + 1) << row.text;
            EXPECT_EQ(boxes.back().focusId, row.field) << row.text;
            EXPECT_EQ(HostConfigured[0], 0) << row.text;
        }
        EXPECT_EQ(HelpLineLocked, 0);
        Click(dialog, IDC_CONFIG_CANCEL);
    });
    EXPECT_EQ(FileValue("HOST0", "RECVUDPPORTID"), ""); // a refusal writes nothing
}

TEST_F(ConfigDialog, ModifyFailingAtPortTakesNothingAndSucceedsOnce) {
    StoreLocalAddresses();
    StoreHost(0);
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        EXPECT_EQ(ListLines(dialog, IDC_HOSTLIST),
                  std::vector<std::string>{
                      "Host0            7000                 239.2.2.1                           6789"});
        Type(dialog, IDC_RECVMCAST, "239.9.9.9");
        Type(dialog, IDC_KLORSIDE, "203.0.113.9");
        Type(dialog, IDC_SENDPORT, "6788");
        {
            BoxAnswerer overwrite(ConfigBoxCaption, MB_YESNO | MB_ICONQUESTION, IDYES);
            Click(dialog, IDC_ADDMODIFY);
            EXPECT_TRUE(WaitUntil(5000, [&] { return overwrite.Answered() == 1; }));
            EXPECT_EQ(overwrite.LastText(), "This Host already exist.\nOverwrite the existing details?");
        }
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Port Number can be [ 6789 - 64999 ].");
        // Nothing is taken that the file does not hold; the fields keep it.
        EXPECT_STREQ(HostTable[0].RECVMCASTADDR, "239.2.2.1");
        EXPECT_STREQ(LocalAddresses.KLORSIDEIPADDRESS, "203.0.113.1");
        EXPECT_EQ(HostModified[0], 0);
        EXPECT_EQ(Item(dialog, IDC_RECVMCAST), "239.9.9.9");
        EXPECT_EQ(FileValue("HOST0", "RECVMCASTADDR"), "239.2.2.1");
        Type(dialog, IDC_SENDPORT, "7001");
        {
            BoxAnswerer overwrite(ConfigBoxCaption, MB_YESNO | MB_ICONQUESTION, IDYES);
            Click(dialog, IDC_ADDMODIFY);
            EXPECT_TRUE(WaitUntil(5000, [&] { return overwrite.Answered() == 1; }));
        }
        EXPECT_EQ(ListLines(dialog, IDC_HOSTLIST),
                  std::vector<std::string>{"Host0       7000                 239.9.9.9  7001"});
        // A No to the question changes nothing.
        Type(dialog, IDC_SENDPORT, "7002");
        {
            BoxAnswerer overwrite(ConfigBoxCaption, MB_YESNO | MB_ICONQUESTION, IDNO);
            Click(dialog, IDC_ADDMODIFY);
            EXPECT_TRUE(WaitUntil(5000, [&] { return overwrite.Answered() == 1; }));
        }
        EXPECT_STREQ(HostTable[0].SENDUDPPORTID, "7001");
        Click(dialog, IDC_CONFIG_CANCEL);
    });
    EXPECT_EQ(FileValue("HOST0", "RECVMCASTADDR"), "239.9.9.9");
    EXPECT_EQ(FileValue("HOST0", "SENDUDPPORTID"), "7001");
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "KLORSIDEIPADDRESS"), "203.0.113.9");
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "SENDMCASTADD"), "239.1.1.1");
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "HOSTSIDEIPADDRESS"), ""); // not typed into
}

TEST_F(ConfigDialog, ListSelectionFillsTheHostFields) {
    StoreLocalAddresses();
    StoreHost(0);
    StoreHost(1);
    std::strcpy(HostTable[1].SENDUDPPORTID, "7777");
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        HWND list = nullptr;
        OnGui([&] {
            list = GetDlgItem(dialog, IDC_HOSTLIST);
            SendMessageA(list, LB_SETCURSEL, 1, 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_HOSTLIST, LBN_SELCHANGE), (LPARAM)list);
        });
        EXPECT_EQ(Item(dialog, IDC_HOSTNUMBER), "1");
        EXPECT_EQ(Item(dialog, IDC_RECVPORT), "7001");
        EXPECT_EQ(Item(dialog, IDC_RECVMCAST), "239.2.2.2");
        EXPECT_EQ(Item(dialog, IDC_SENDPORT), "7777");
        OnGui([&] {
            SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
            SetFocus(list);
        });
        EXPECT_EQ(Item(dialog, IDC_HOSTNUMBER), "0");
        EXPECT_EQ(Item(dialog, IDC_RECVMCAST), "239.2.2.1");
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), ""); // the list's help
        OnGui([&] { SetFocus(GetDlgItem(dialog, IDC_CONFIG_OK)); });
        PostAndSettle(dialog, WM_MOUSEMOVE, 0, 0);
        EXPECT_EQ(Item(dialog, IDC_HELPLINE), "Press this button to Changes be effective.");
        Click(dialog, IDC_CONFIG_CANCEL);
    });
}

namespace {

// Connect requests posted to the receive-channel window, by host.
HHOOK ConnectHook;
int ConnectRequests[6];

LRESULT CALLBACK NoteConnect(int code, WPARAM wparam, LPARAM lparam) {
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && message->message == WM_CONNECTHOST &&
        message->hwnd == RecvChannelWindow && message->wParam < 6)
        ++ConnectRequests[message->wParam];
    return CallNextHookEx(ConnectHook, code, wparam, lparam);
}

// Add/Modify of a host that exists: the question, answered Yes.
void AddModifyAnsweringYes(HWND dialog) {
    BoxAnswerer overwrite(ConfigBoxCaption, MB_YESNO | MB_ICONQUESTION, IDYES);
    Click(dialog, IDC_ADDMODIFY);
    EXPECT_TRUE(WaitUntil(5000, [&] { return overwrite.Answered() == 1; }));
}

int RestartBoxes() {
    int count = 0;
    for (const BoxCreation& box : Boxes())
        count += box.caption == MainWindowTitle ? 1 : 0;
    return count;
}

// OK, then the connect requests it posted, once the dialog's loop has run
// them. A restart box, which must not come, is answered.
std::vector<int> PressOk(HWND dialog) {
    BoxAnswerer restart(MainWindowTitle, MB_OK, IDOK);
    OnGui([] { std::memset(ConnectRequests, 0, sizeof ConnectRequests); });
    Click(dialog, IDC_CONFIG_OK);
    WaitUntil(2000, [&] { return !IsWindow(dialog); });
    std::vector<int> requests;
    OnGui([&] { requests.assign(ConnectRequests, ConnectRequests + 6); });
    return requests;
}

} // namespace

// OK connects what Add/Modify stored, and restarts only for a stored local
// address that differs from the one the relay runs with: a keystroke, a
// failed Add/Modify or an address typed again unchanged applies nothing.
TEST_F(ConfigDialog, OkAppliesOnlyWhatWasStored) {
    enum Then { Nothing, AddModify, AddModifyOverwriting };
    const struct {
        const char* name;
        std::vector<std::pair<int, const char*>> typed;
        Then then;
        std::vector<int> connects;
    } rows[] = {
        {"host 0's group changed and stored",
         {{IDC_RECVMCAST, "239.9.9.9"}},
         AddModifyOverwriting,
         {1, 0, 0, 0, 0, 0}},
        {"a keystroke in host 1's port, never added",
         {{IDC_HOSTNUMBER, "1"}, {IDC_RECVPORT, "7001"}},
         Nothing,
         {0, 0, 0, 0, 0, 0}},
        {"host 1 added, failing at its port",
         {{IDC_HOSTNUMBER, "1"},
          {IDC_RECVPORT, "7001"},
          {IDC_RECVMCAST, "239.2.2.2"},
          {IDC_SENDPORT, "6788"}},
         AddModify,
         {0, 0, 0, 0, 0, 0}},
        {"the local addresses typed again unchanged",
         {{IDC_HOSTSIDE, "198.51.100.1"}, {IDC_KLORSIDE, "203.0.113.1"}},
         AddModifyOverwriting,
         {0, 0, 0, 0, 0, 0}},
        {"a new host-side address, Add/Modify failing at the port",
         {{IDC_HOSTSIDE, "198.51.100.9"}, {IDC_SENDPORT, "6788"}},
         AddModifyOverwriting,
         {0, 0, 0, 0, 0, 0}},
    };
    ConnectHook = SetWindowsHookExA(WH_GETMESSAGE, NoteConnect, nullptr, GetCurrentThreadId());
    for (const auto& row : rows) {
        EmptyStore();
        StoreLocalAddresses();
        StoreHost(0);
        BoxesCreated.clear();
        std::vector<int> connects;
        DriveDialog(ConfigCaption, OpenConfigure, [&](HWND dialog) {
            for (const auto& typed : row.typed)
                Type(dialog, typed.first, typed.second);
            if (row.then == AddModify)
                Click(dialog, IDC_ADDMODIFY);
            if (row.then == AddModifyOverwriting)
                AddModifyAnsweringYes(dialog);
            connects = PressOk(dialog);
        });
        EXPECT_EQ(connects, row.connects) << row.name;
        EXPECT_EQ(RestartBoxes(), 0) << row.name;
        EXPECT_EQ(HostConfigured[1], 0) << row.name;
    }
    UnhookWindowsHookEx(ConnectHook);
}

// What Add/Modify stored before a Cancel is connected by the OK of a later
// opening.
TEST_F(ConfigDialog, OkAfterCancelConnectsWhatWasStored) {
    StoreLocalAddresses();
    StoreHost(0);
    ConnectHook = SetWindowsHookExA(WH_GETMESSAGE, NoteConnect, nullptr, GetCurrentThreadId());
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        Type(dialog, IDC_RECVMCAST, "239.9.9.9");
        AddModifyAnsweringYes(dialog);
        Click(dialog, IDC_CONFIG_CANCEL);
    });
    std::vector<int> connects;
    DriveDialog(ConfigCaption, OpenConfigure, [&](HWND dialog) { connects = PressOk(dialog); });
    UnhookWindowsHookEx(ConnectHook);
    EXPECT_EQ(connects, (std::vector<int>{1, 0, 0, 0, 0, 0}));
}

namespace {

bool ConfigFileWritable() {
    HANDLE file = CreateFileA(ConfigFilePath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// NEWUDPSRVR.INI made unwritable for as long as this lives, as the Windows
// folder is to a standard user: the tests run as root, whom only the
// immutable flag stops. The flag goes whatever the test did.
class UnwritableConfigFile {
  public:
    UnwritableConfigFile() {
        Chattr("+i");
        unwritable_ = WaitUntil(5000, [] { return !ConfigFileWritable(); });
    }
    ~UnwritableConfigFile() {
        Chattr("-i");
        WaitUntil(5000, ConfigFileWritable);
    }
    bool Unwritable() const { return unwritable_; }

  private:
    static void Chattr(const char* flag) {
        typedef char*(CDECL * UnixFileName)(LPCWSTR);
        const auto unixName = reinterpret_cast<UnixFileName>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
        WCHAR path[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, ConfigFilePath().c_str(), -1, path, MAX_PATH);
        const char* unixPath = unixName != nullptr ? unixName(path) : nullptr;
        if (unixPath == nullptr)
            return;
        std::string command = std::string("/usr/bin/chattr ") + flag + " " + unixPath;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    bool unwritable_ = false;
};

} // namespace

// A file that cannot be written: the box names it, the reason and what to
// do; the dialog stays open with the operator's entries, and nothing in
// memory claims what the file does not hold, so OK applies nothing.
TEST_F(ConfigDialog, FailedWriteIsToldAndNothingIsTakenAsStored) {
    StoreLocalAddresses();
    StoreHost(0);
    ConnectHook = SetWindowsHookExA(WH_GETMESSAGE, NoteConnect, nullptr, GetCurrentThreadId());
    {
        UnwritableConfigFile unwritable;
        ASSERT_TRUE(unwritable.Unwritable());
        DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
            Type(dialog, IDC_HOSTSIDE, "198.51.100.9");
            Type(dialog, IDC_RECVMCAST, "239.9.9.9");
            AddModifyAnsweringYes(dialog);
            std::string shown;
            {
                BoxAnswerer failure(ConfigBoxCaption, MB_OK | MB_ICONERROR, IDOK);
                EXPECT_TRUE(WaitUntil(5000, [&] { return failure.Answered() == 1; }));
                shown = failure.LastText();
            }
            for (const std::string& part :
                 {ConfigFilePath(), std::string("Access denied."), std::string("administrator"),
                  "icacls \"" + ConfigFilePath() + "\" /grant \""})
                EXPECT_NE(shown.find(part), std::string::npos) << part << " in " << shown;
            EXPECT_TRUE(IsOpen(dialog));
            EXPECT_EQ(Item(dialog, IDC_HOSTSIDE), "198.51.100.9");
            EXPECT_EQ(Item(dialog, IDC_RECVMCAST), "239.9.9.9");
            EXPECT_STREQ(LocalAddresses.HOSTSIDEIPADDRESS, "198.51.100.1");
            EXPECT_STREQ(HostTable[0].RECVMCASTADDR, "239.2.2.1");
            EXPECT_EQ(ListLines(dialog, IDC_HOSTLIST),
                      std::vector<std::string>{
                          "Host0            7000                 239.2.2.1                           6789"});
            EXPECT_EQ(PressOk(dialog), std::vector<int>(6, 0));
        });
    }
    UnhookWindowsHookEx(ConnectHook);
    EXPECT_EQ(RestartBoxes(), 0);
    EXPECT_EQ(FileValue("HOST0", "RECVMCASTADDR"), "239.2.2.1");
}

namespace {

// The HOSTn sections cannot be written, as if the file had turned read-only
// after the local addresses were saved; every other key is written.
BOOL WINAPI HostKeysRefused(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    if (section != nullptr && std::strncmp(section, "HOST", 4) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return WritePrivateProfileStringA(section, key, value, file);
}

// The failure box's text as the operator reads it: the system's reason
// without its line end, and this account for the icacls command.
std::string SaveFailureBoxText(int host) {
    char reason[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED,
                   0, reason, sizeof reason, nullptr);
    std::string line = reason;
    EXPECT_TRUE(line.size() > 2 && line.substr(line.size() - 2) == "\r\n") << "a line end to strip: " << line;
    line.resize(line.size() > 2 ? line.size() - 2 : 0);
    char user[128] = {}, domain[128] = {};
    DWORD userSize = sizeof user;
    GetUserNameA(user, &userSize);
    GetEnvironmentVariableA("USERDOMAIN", domain, sizeof domain);
    const std::string path = ConfigFilePath();
    return "Error in writing " + path + ":\n" + line + "\n\nHost " + std::to_string(host) +
           " is not saved; your entries stay in the dialog.\n\nTo change the configuration, close this "
           "server first, then start it again with Run as administrator.\nOr have an administrator give this "
           "account the right to change the file:\nicacls \"" +
           path + "\" /grant \"" + domain + "\\" + user + "\":M";
}

} // namespace

// Only the host's section fails: the local addresses are saved, then the box
// tells in full why the host is not, for a new host and a modified one; the
// new host gets no list line and OK connects neither.
TEST_F(ConfigDialog, HostSectionThatCannotBeSavedIsToldAndNotListed) {
    StoreLocalAddresses();
    StoreHost(0);
    WritePrivateProfileStringProc = HostKeysRefused;
    ConnectHook = SetWindowsHookExA(WH_GETMESSAGE, NoteConnect, nullptr, GetCurrentThreadId());
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        for (int host : {1, 0}) {
            TypeHost(dialog, host == 1 ? "1" : "0", "239.9.9.9", "6789");
            if (host == 0)
                AddModifyAnsweringYes(dialog);
            BoxAnswerer failure(ConfigBoxCaption, MB_OK | MB_ICONERROR, IDOK);
            if (host == 1)
                Click(dialog, IDC_ADDMODIFY);
            EXPECT_TRUE(WaitUntil(5000, [&] { return failure.Answered() == 1; })) << "host " << host;
            EXPECT_EQ(failure.LastText(), SaveFailureBoxText(host));
        }
        EXPECT_EQ(ListLines(dialog, IDC_HOSTLIST),
                  std::vector<std::string>{
                      "Host0            7000                 239.2.2.1                           6789"});
        EXPECT_EQ(PressOk(dialog), std::vector<int>(6, 0));
    });
    UnhookWindowsHookEx(ConnectHook);
    EXPECT_EQ(HostConfigured[1], 0);
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "HOSTSIDEIPADDRESS"), "198.51.100.1") << "written before the host";
    EXPECT_EQ(FileValue("HOST1", "RECVUDPPORTID"), "");
}

// With host 1 lacking its group the list stops before it, so list positions
// and host numbers part: a later host's line is still found by its host.
TEST_F(ConfigDialog, GapInTheHostsKeepsEachHostsOwnLine) {
    StoreLocalAddresses();
    StoreHost(0);
    StoreHost(2);
    std::strcpy(HostTable[1].RECVUDPPORTID, "7001");
    HostConfigured[1] = 1;
    WriteConfigValue("HOST1", "RECVUDPPORTID", "7001");
    DriveDialog(ConfigCaption, OpenConfigure, [](HWND dialog) {
        for (const char* sendPort : {"7002", "7003"}) {
            Type(dialog, IDC_HOSTNUMBER, "2");
            Type(dialog, IDC_RECVPORT, "7002");
            Type(dialog, IDC_RECVMCAST, "239.2.2.3");
            Type(dialog, IDC_SENDPORT, sendPort);
            AddModifyAnsweringYes(dialog);
        }
        EXPECT_EQ(ListLines(dialog, IDC_HOSTLIST),
                  (std::vector<std::string>{
                      "Host0            7000                 239.2.2.1                           6789",
                      "Host2       7002                 239.2.2.3  7003"}));
        OnGui([&] {
            HWND list = GetDlgItem(dialog, IDC_HOSTLIST);
            SendMessageA(list, LB_SETCURSEL, 1, 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_HOSTLIST, LBN_SELCHANGE), (LPARAM)list);
        });
        EXPECT_EQ(Item(dialog, IDC_HOSTNUMBER), "2");
        EXPECT_EQ(Item(dialog, IDC_SENDPORT), "7003");
        Click(dialog, IDC_CONFIG_CANCEL);
    });
}

namespace {

HHOOK QuitHook;
int QuitsSeen;
WPARAM QuitCode = 99;

LRESULT CALLBACK NoteQuit(int code, WPARAM wparam, LPARAM lparam) {
    const MSG* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && message->message == WM_QUIT) {
        ++QuitsSeen;
        QuitCode = message->wParam;
    }
    return CallNextHookEx(QuitHook, code, wparam, lparam);
}

} // namespace

// Shuts the program's main window down: keep it the last test of this file.
TEST_F(ConfigDialog, HostSideChangeAsksRestartOncePerConfiguredHostAndQuits) {
    StoreLocalAddresses();
    StoreHost(0);
    StoreHost(1);
    QuitHook = SetWindowsHookExA(WH_GETMESSAGE, NoteQuit, nullptr, GetCurrentThreadId());
    {
        BoxAnswerer restart(MainWindowTitle, MB_OK, IDOK);
        DriveDialog(ConfigCaption, OpenConfigure, [&](HWND dialog) {
            Type(dialog, IDC_HOSTSIDE, "198.51.100.9");
            Type(dialog, IDC_HOSTNUMBER, "1");
            {
                BoxAnswerer overwrite(ConfigBoxCaption, MB_YESNO | MB_ICONQUESTION, IDYES);
                Click(dialog, IDC_ADDMODIFY);
                EXPECT_TRUE(WaitUntil(5000, [&] { return overwrite.Answered() == 1; }));
            }
            Click(dialog, IDC_CONFIG_OK);
            EXPECT_TRUE(WaitUntil(5000, [&] { return restart.Answered() == 1; }));
        });
        EXPECT_EQ(restart.LastText(),
                  "You have changed the configurations.\nApplication needs to be restarted to "
                  "take into effect the new configuration.\nPlease Restart.");
    }
    PumpMessages(500, [] { return QuitsSeen > 0; });
    UnhookWindowsHookEx(QuitHook);
    EXPECT_GE(QuitsSeen, 1); // each modal loop that meets it hands it on
    EXPECT_EQ(QuitCode, 0u); // the exit code of the message loop
    int restartBoxes = 0;
    for (const BoxCreation& box : Boxes())
        restartBoxes += box.caption == MainWindowTitle ? 1 : 0;
    EXPECT_EQ(restartBoxes, 2); // the second met the quit request and ended by itself
    EXPECT_EQ(FileValue("LOCAL_DTE_ADDR", "HOSTSIDEIPADDRESS"), "198.51.100.9");
}
