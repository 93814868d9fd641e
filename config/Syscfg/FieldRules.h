#pragma once
// The configuration dialog's field rules that need no window: which typed
// or pasted characters each edit field takes, which change flag a taken
// character sets, and which host the host number field names. Only the C
// library, so they are tested natively and fuzzed.
#include <cstddef>

#include "resources/resource.h"

// The change flag that a character taken by a field sets.
enum class FieldChangeFlag { None, HostModified, SendMcastModified, HostSideModified, KLORSideModified };

struct FieldCharRule {
    bool accepted;        // passed on to the edit control; otherwise refused with a beep
    FieldChangeFlag flag; // set when accepted
};

// The rule of one field for one typed character (the WM_CHAR code). Fields
// outside the filtered ones take every character and set no flag; Ctrl+V,
// the paste command, is passed on by every field (its text meets
// RuleForFieldPaste).
FieldCharRule RuleForFieldChar(int controlId, unsigned character);

// The rule of one field for a pasted text of `length` bytes: taken only when
// typing could have entered every character of it (one the field's rule
// passes and the edit control inserts, a digit in a number-only field),
// with the flag typing sets.
FieldCharRule RuleForFieldPaste(int controlId, bool numberOnly, const char* text, size_t length);

// The host marked by a receiving-port keystroke, from the host number field's
// text at that moment, read as the C library reads a decimal number (an
// empty text gives 0); -1 when that names no host 0 to HOST_COUNT - 1.
int HostNamedByField(const char* hostNumberText);
