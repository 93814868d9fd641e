#pragma once
// The configuration dialog's edit fields: the replacement window procedure
// that filters typed characters, marks what was typed into, keeps the help
// line in step and moves the focus on Tab; and the help texts.
#include <windows.h>

#include "resources/resource.h"

// The open (or last) configuration dialog; its procedure stores its handle
// here with every message it receives.
extern HWND ConfigDialogWindow;
// Set once an error text has been put on the help line; never cleared.
extern int HelpLineLocked;

// Replaces the procedure of fields 2000..2007 of `dialog` with the field
// procedure SrvrConfigChildProc, keeping their own.
void SubclassEditControls(HWND dialog);
// Control `controlId`'s help text on the help line, for controls 2000..2011.
void ShowControlHelp(int controlId);
// The focused control's help text on the help line, when the focus is on
// one of the dialog's controls firstId..lastId (by default every control
// with a help text).
void ShowFocusHelp(int firstId = IDC_HOSTNUMBER, int lastId = IDC_CONFIG_CANCEL);
