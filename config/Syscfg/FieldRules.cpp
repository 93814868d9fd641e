#include "config/Syscfg/FieldRules.h"

#include <cstdlib>

#include "config/HostConfig.h"

namespace {

enum : unsigned { Backspace = 8, CarriageReturn = 13, PasteCommandChar = 0x16 };

bool IsBasicChar(unsigned c) {
    return (c >= '0' && c <= '9') || c == Backspace || c == CarriageReturn || c == '.' || c == '&';
}

bool IsAddressChar(unsigned c) {
    return IsBasicChar(c) && c != '&';
}

// The filtered fields: the characters each takes and the flag a taken one
// sets. The sending port field is not among them.
const struct {
    int id;
    bool (*takes)(unsigned c);
    FieldChangeFlag flag;
} FilteredFields[] = {{IDC_HOSTNUMBER, IsBasicChar, FieldChangeFlag::None},
                      {IDC_RECVPORT, IsBasicChar, FieldChangeFlag::HostModified},
                      {IDC_RECVMCAST, IsAddressChar, FieldChangeFlag::None},
                      {IDC_SENDMCAST, IsAddressChar, FieldChangeFlag::SendMcastModified},
                      {IDC_HOSTSIDE, IsAddressChar, FieldChangeFlag::HostSideModified},
                      {IDC_KLORSIDE, IsAddressChar, FieldChangeFlag::KLORSideModified}};

} // namespace

FieldCharRule RuleForFieldChar(int controlId, unsigned c) {
    if (c == PasteCommandChar)
        return {true, FieldChangeFlag::None};
    for (const auto& field : FilteredFields) {
        if (field.id != controlId)
            continue;
        // A taken carriage return marks nothing: it changes no text.
        const bool accepted = field.takes(c);
        return {accepted, accepted && c != CarriageReturn ? field.flag : FieldChangeFlag::None};
    }
    return {true, FieldChangeFlag::None};
}

FieldCharRule RuleForFieldPaste(int controlId, bool numberOnly, const char* text, size_t length) {
    FieldCharRule taken = {true, FieldChangeFlag::None};
    for (size_t i = 0; i < length; ++i) {
        const unsigned c = static_cast<unsigned char>(text[i]);
        const FieldCharRule rule = RuleForFieldChar(controlId, c);
        // Backspace, carriage return and the other control characters edit
        // or do nothing when typed; pasted they would stand in the text.
        if (!rule.accepted || c < ' ' || c == 127 || (numberOnly && (c < '0' || c > '9')))
            return {false, FieldChangeFlag::None};
        taken.flag = rule.flag;
    }
    return taken;
}

int HostNamedByField(const char* text) {
    // strtol saturates instead of overflowing; an empty field reads as 0.
    const long host = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return host >= 0 && host < HOST_COUNT ? static_cast<int>(host) : -1;
}
