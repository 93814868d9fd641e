#pragma once
// What a message box offers the operator, read from the box itself as the MB_
// flags that would make it: its buttons, its default button and its icon.
// Wine ends a box on any posted command id, whether the box has that button or
// not, so a test must look at the box and press a button it really has.
// Shared by the Win32 tests (in-process) and winprobe (from another process).
#include <windows.h>

#include <string>
#include <vector>

// The MB_ flags that matter to the operator: buttons, default, icon.
const UINT MessageBoxShapeMask = MB_TYPEMASK | MB_ICONMASK | MB_DEFMASK;
const UINT UnknownBoxButtons = MB_TYPEMASK; // a button set no MB_ type makes
const UINT UnknownBoxIcon = MB_ICONMASK;    // an icon that is no system icon

namespace message_box_shape {

// The buttons of each MB_ type, in the order MB_DEFBUTTONn counts them.
inline const std::vector<std::vector<int>>& ButtonSets() {
    static const std::vector<std::vector<int>> sets = {
        {IDOK},        {IDOK, IDCANCEL},    {IDABORT, IDRETRY, IDIGNORE},      {IDYES, IDNO, IDCANCEL},
        {IDYES, IDNO}, {IDRETRY, IDCANCEL}, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}};
    return sets;
}

inline HWND Button(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != nullptr && IsWindowVisible(button) ? button : nullptr;
}

// The type bits and the default-button bits. The default is the button drawn
// as default (BS_DEFPUSHBUTTON): Wine 8 answers DM_GETDEFID with IDOK for
// every box, Yes/No included.
inline UINT Buttons(HWND box) {
    const int all[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, IDCONTINUE};
    std::vector<int> present;
    for (int id : all)
        if (Button(box, id) != nullptr)
            present.push_back(id);
    const auto& sets = ButtonSets();
    for (size_t type = 0; type < sets.size(); ++type) {
        if (present.size() != sets[type].size())
            continue;
        bool same = true;
        UINT defaults = 0;
        for (size_t i = 0; i < sets[type].size(); ++i) {
            HWND button = Button(box, sets[type][i]);
            same = same && button != nullptr;
            if (button != nullptr && (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                defaults = static_cast<UINT>(i) << 8; // MB_DEFBUTTON1 is 0, MB_DEFBUTTON2 0x100, ...
        }
        if (same)
            return static_cast<UINT>(type) | defaults;
    }
    return UnknownBoxButtons;
}

inline BOOL CALLBACK FindIconStatic(HWND child, LPARAM found) {
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

// 32-bit pixels of a width x height area: painted by `paint` into a DIB.
template <class Paint> std::vector<DWORD> Pixels(int width, int height, Paint paint) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<DWORD> pixels;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        paint(memory, screen, static_cast<DWORD*>(bits));
        GdiFlush();
        const DWORD* first = static_cast<const DWORD*>(bits);
        for (int i = 0; i < width * height; ++i)
            pixels.push_back(first[i] & 0xFFFFFF);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Which system icon the static shows on the screen: another process's icon
// handle cannot be read under Wine (GetIconInfo fails with 1402), its picture
// can. Each system icon is drawn here on the static's background and compared.
inline UINT IconOnScreen(HWND iconStatic, const LPCSTR (&icons)[4], const UINT (&flags)[4]) {
    RECT r;
    GetWindowRect(iconStatic, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const std::vector<DWORD> shown = Pixels(width, height, [&](HDC memory, HDC screen, DWORD*) {
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    });
    if (shown.empty())
        return UnknownBoxIcon;
    for (int i = 0; i < 4; ++i) {
        const std::vector<DWORD> drawn = Pixels(width, height, [&](HDC memory, HDC, DWORD* bits) {
            for (int p = 0; p < width * height; ++p)
                bits[p] = shown[0]; // the corner is background in every system icon
            DrawIconEx(memory, 0, 0, LoadIconA(nullptr, icons[i]), 0, 0, 0, nullptr, DI_NORMAL);
        });
        if (drawn == shown)
            return flags[i];
    }
    return UnknownBoxIcon;
}

inline UINT Icon(HWND box) {
    HWND iconStatic = nullptr;
    EnumChildWindows(box, FindIconStatic, reinterpret_cast<LPARAM>(&iconStatic));
    const HICON icon = iconStatic != nullptr
                           ? reinterpret_cast<HICON>(SendMessageA(iconStatic, STM_GETICON, 0, 0))
                           : nullptr;
    if (icon == nullptr || !IsWindowVisible(iconStatic))
        return 0;
    static const LPCSTR icons[4] = {IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK};
    static const UINT flags[4] = {MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK};
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner == GetCurrentProcessId()) { // the shared system icon has one handle in a process
        for (int i = 0; i < 4; ++i)
            if (icon == LoadIconA(nullptr, icons[i]))
                return flags[i];
        return UnknownBoxIcon;
    }
    // A box just shown may not be painted yet.
    UINT seen = UnknownBoxIcon;
    for (int attempt = 0; attempt < 20 && seen == UnknownBoxIcon; ++attempt) {
        if (attempt > 0)
            Sleep(100);
        seen = IconOnScreen(iconStatic, icons, flags);
    }
    return seen;
}

} // namespace message_box_shape

// The box's buttons, default button and icon as MB_ flags, for example
// MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2.
inline UINT MessageBoxShape(HWND box) {
    return message_box_shape::Buttons(box) | message_box_shape::Icon(box);
}

// "MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2" for reports.
inline std::string DescribeBoxShape(UINT shape) {
    static const char* const types[] = {"MB_OK",    "MB_OKCANCEL",    "MB_ABORTRETRYIGNORE", "MB_YESNOCANCEL",
                                        "MB_YESNO", "MB_RETRYCANCEL", "MB_CANCELTRYCONTINUE"};
    const UINT type = shape & MB_TYPEMASK, icon = (shape & MB_ICONMASK) >> 4, def = (shape & MB_DEFMASK) >> 8;
    std::string text = type < 7 ? types[type] : "unknown buttons";
    static const char* const icons[] = {"", "|MB_ICONHAND", "|MB_ICONQUESTION", "|MB_ICONEXCLAMATION",
                                        "|MB_ICONASTERISK"};
    text += icon < 5 ? icons[icon] : "|unknown icon";
    if (def > 0)
        text += "|MB_DEFBUTTON" + std::to_string(def + 1);
    return text;
}

// Presses a button of the box as the operator would (BM_CLICK on the button
// itself). Returns false, pressing nothing, when the box has no such button.
inline bool PressBoxButton(HWND box, int id) {
    HWND button = message_box_shape::Button(box, id);
    if (button == nullptr)
        return false;
    SendMessageA(button, BM_CLICK, 0, 0);
    return true;
}
