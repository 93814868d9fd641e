#pragma once
// The configuration dialog's edit fields: the replacement window procedure
// that filters typed characters, marks what was typed into, keeps the help
// line in step and moves the focus on Tab; and the help texts.
#include <windows.h>

// The open (or last) configuration dialog; its procedure stores its handle
// here with every message it receives.
extern HWND ConfigDialogWindow;
// The edit fields' own procedures, by control id - 2000 (slot 3 unused).
extern WNDPROC SavedEditProcs[8];
// Help texts by control id - 2000, for controls 2000..2011.
extern const char* const HelpTexts[12];
// Set once an error text has been put on the help line; never cleared.
extern int HelpLineLocked;

// Replaces the procedure of fields 2000..2007 of `dialog` with
// SrvrConfigChildProc, keeping their own in SavedEditProcs.
void SubclassEditControls(HWND dialog);
LRESULT CALLBACK SrvrConfigChildProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Focus to the next tab stop after `controlId`, or the one before it when
// `previous` is 1.
void MoveDialogFocus(HWND dialog, int controlId, int previous);
// The focused control's help text on the help line, when the focus is on
// one of the dialog's controls 2000..2011.
void ShowFocusHelp();
