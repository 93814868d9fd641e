// The configuration fields' character filter on real edit controls of the
// configuration dialog's template: the beep and the help line of a refused
// character, a taken one reaching the field, the flags, Tab, the clicks and
// the paste. Which character each field takes is tested natively.
#include <gtest/gtest.h>

#include <cstring>

#include "FieldDialog.h"
#include "TestSupport.h"
#include "config/ConfigStore.h"
#include "shell/PlatformCalls.h"

namespace {

int Beeps;

BOOL WINAPI CountBeep(UINT) {
    ++Beeps;
    return TRUE;
}

class FieldFilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MessageBeepProc = CountBeep;
        dialog_ = OpenFieldDialog();
        ASSERT_NE(dialog_, nullptr);
        ClearChangeFlags();
        Beeps = 0;
    }
    void TearDown() override {
        DestroyWindow(dialog_);
        MessageBeepProc = MessageBeep;
        ClearChangeFlags();
    }
    void SetItem(int id, const char* text) { SetDlgItemTextA(dialog_, id, text); }
    std::string Help() const { return ItemText(dialog_, IDC_HELPLINE); }
    bool NoFlags() const {
        int hosts = 0;
        for (int flag : HostModified)
            hosts += flag;
        return hosts == 0 && SendMcastModified == 0 && HostSideModified == 0 && KLORSideModified == 0;
    }

    HWND dialog_ = nullptr;
};

} // namespace

TEST_F(FieldFilterTest, LetterIsRefusedWithBeepAndClearsHelpLine) {
    for (int id : {IDC_HOSTNUMBER, IDC_RECVPORT, IDC_RECVMCAST, IDC_SENDMCAST, IDC_HOSTSIDE, IDC_KLORSIDE}) {
        SetItem(id, "1");
        SetItem(IDC_HELPLINE, "help");
        Beeps = 0;
        TypeChar(dialog_, id, 'A');
        EXPECT_EQ(Beeps, 1) << id;
        EXPECT_EQ(ItemText(dialog_, id), "1") << id;
        EXPECT_EQ(Help(), "") << id;
    }
    EXPECT_TRUE(NoFlags());
    // The sending port is not filtered: no beep of the filter's own, the
    // help line cleared all the same, the number-only field refuses it.
    SetItem(IDC_SENDPORT, "1");
    SetItem(IDC_HELPLINE, "help");
    Beeps = 0;
    TypeChar(dialog_, IDC_SENDPORT, 'A');
    EXPECT_EQ(Beeps, 0);
    EXPECT_EQ(Help(), "");
    EXPECT_EQ(ItemText(dialog_, IDC_SENDPORT), "1");
}

// A character the rule takes reaches the edit control without a beep of the
// filter's own; the number-only field then refuses '&' by itself.
TEST_F(FieldFilterTest, TakenCharacterReachesTheEditControl) {
    SetItem(IDC_HOSTNUMBER, "");
    TypeChar(dialog_, IDC_HOSTNUMBER, '&');
    EXPECT_EQ(ItemText(dialog_, IDC_HOSTNUMBER), "");
    TypeChar(dialog_, IDC_HOSTNUMBER, '4');
    EXPECT_EQ(ItemText(dialog_, IDC_HOSTNUMBER), "4");
    SetItem(IDC_RECVMCAST, "");
    TypeChar(dialog_, IDC_RECVMCAST, '.');
    EXPECT_EQ(ItemText(dialog_, IDC_RECVMCAST), ".");
    EXPECT_EQ(Beeps, 0);
}

TEST_F(FieldFilterTest, ReceivingPortMarksTheHostNamedNow) {
    const struct {
        const char* hostNumber;
        int marked; // -1: nobody
    } cases[] = {{"3", 3}, {"", 0}, {"7", -1}, {"5", 5}};
    for (const auto& c : cases) {
        ClearChangeFlags();
        SetItem(IDC_HOSTNUMBER, c.hostNumber);
        TypeChar(dialog_, IDC_RECVPORT, '9');
        for (int host = 0; host < 6; ++host)
            EXPECT_EQ(HostModified[host], host == c.marked ? 1 : 0) << c.hostNumber << " host " << host;
    }
}

TEST_F(FieldFilterTest, TabAndShiftTabMoveFocusAndShowHelp) {
    SetFocus(GetDlgItem(dialog_, IDC_SENDMCAST));
    SetItem(IDC_HOSTSIDE, "1.2");
    TypeChar(dialog_, IDC_SENDMCAST, '\t');
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog_, IDC_HOSTSIDE));
    EXPECT_EQ(Help(), "Enter the Local IP Address towards Host.");
    EXPECT_EQ(ItemText(dialog_, IDC_HOSTSIDE), "1.2"); // the Tab is not typed
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    TypeChar(dialog_, IDC_HOSTSIDE, '\t');
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog_, IDC_SENDMCAST));
    EXPECT_EQ(Help(), "Enter the Sending Multicast address ");
    EXPECT_EQ(Beeps, 0);
}

TEST_F(FieldFilterTest, ClickShowsHelpOfFocusAtPressAndRelease) {
    SetFocus(GetDlgItem(dialog_, IDC_KLORSIDE));
    HWND port = GetDlgItem(dialog_, IDC_RECVPORT);
    SendMessageA(port, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    EXPECT_EQ(Help(), "Enter the Local IP Address towards KLOR.");
    EXPECT_EQ(GetFocus(), port); // the field takes the focus at the press
    SendMessageA(port, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(Help(), "Enter Corresponding Receiving Port Number.");
}

namespace {

bool PutOnClipboard(HWND owner, const char* text) {
    if (!OpenClipboard(owner))
        return false;
    EmptyClipboard();
    const size_t size = std::strlen(text) + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block != nullptr) {
        std::memcpy(GlobalLock(block), text, size);
        GlobalUnlock(block);
    }
    const bool put = block != nullptr && SetClipboardData(CF_TEXT, block) != nullptr;
    CloseClipboard();
    return put;
}

} // namespace

// A pasted text meets the rules a typed one meets: refused whole, with the
// beep, when typing could not have entered it; otherwise taken with the flag
// typing sets. Ctrl+V is the field's paste command, not a refused character.
TEST_F(FieldFilterTest, PasteFollowsTheTypingRules) {
    const struct {
        int id;
        const char* pasted;
        bool ctrlV; // or WM_PASTE, as the context menu sends it
        bool taken;
        int* flag;
    } rows[] = {{IDC_RECVMCAST, "a.b.c.d", false, false, nullptr},
                {IDC_RECVMCAST, "239.1.1.1", true, true, nullptr},
                {IDC_SENDMCAST, "1&2.3.4.5", false, false, nullptr},
                {IDC_SENDMCAST, "239.3.3.3", false, true, &SendMcastModified},
                {IDC_HOSTSIDE, "198.51.100.7", false, true, &HostSideModified},
                {IDC_KLORSIDE, "203.0.113.7\r\n", false, false, nullptr},
                {IDC_KLORSIDE, "203.0.113.7", true, true, &KLORSideModified},
                {IDC_RECVPORT, "70x1", false, false, nullptr},
                {IDC_RECVPORT, "7001", true, true, &HostModified[3]},
                {IDC_SENDPORT, "6789x", false, false, nullptr},
                {IDC_SENDPORT, "7000", true, true, nullptr},
                {IDC_HOSTNUMBER, "&", false, false, nullptr}};
    for (const auto& row : rows) {
        ClearChangeFlags();
        SetItem(IDC_HOSTNUMBER, "3");
        SetItem(row.id, "1");
        SendDlgItemMessageA(dialog_, row.id, EM_SETSEL, 0, -1);
        ASSERT_TRUE(PutOnClipboard(dialog_, row.pasted)) << row.pasted;
        Beeps = 0;
        if (row.ctrlV)
            TypeChar(dialog_, row.id, 0x16);
        else
            SendDlgItemMessageA(dialog_, row.id, WM_PASTE, 0, 0);
        EXPECT_EQ(ItemText(dialog_, row.id), row.taken ? row.pasted : "1") << row.pasted;
        EXPECT_EQ(Beeps, row.taken ? 0 : 1) << row.pasted;
        if (row.flag != nullptr) {
            EXPECT_EQ(*row.flag, 1) << row.pasted;
            *row.flag = 0;
        }
        EXPECT_TRUE(NoFlags()) << row.pasted;
    }
}
