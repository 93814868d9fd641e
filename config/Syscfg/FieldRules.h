#pragma once
// The configuration dialog's field rules that need no window: which typed
// characters each edit field takes and which change flag a taken character
// sets, and the check every address the operator enters must pass. Only the
// C library, so they are tested natively and fuzzed.
#include <cstddef>

#include "resources/resource.h"

// The change flag that a character taken by a field sets.
enum class FieldChangeFlag { None, HostModified, SendMcastModified, HostSideModified, KLORSideModified };

struct FieldCharRule {
    bool accepted;        // passed on to the edit control; otherwise refused with a beep
    FieldChangeFlag flag; // set when accepted
};

// Ctrl+V typed into a field: the field's paste command, passed on; the text
// it pastes meets RuleForFieldPaste.
enum : unsigned { PasteCommandChar = 0x16 };

// The rule of one field for one typed character (the WM_CHAR code). Fields
// outside the filtered ones take every character and set no flag.
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

// Occurrences of `character` in `text`; -1 when there is no text.
int CountChar(const char* text, char character);

// 1 for an acceptable dotted address, 0 otherwise: exactly three dots, at
// least 7 characters, no dot followed by another dot or the end, and no part
// read as a decimal number above 255. Texts longer than 15 characters are
// no address (the fields hold 15).
int IsValidDottedAddress(const char* text);
