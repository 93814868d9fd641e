#include "config/Syscfg/FieldRules.h"

#include <cstring>

#include "config/HostConfig.h"

namespace {

enum : unsigned { Backspace = 8, CarriageReturn = 13 };
enum : size_t { AddressTextMax = 15 };

bool IsBasicChar(unsigned c) {
    return (c >= '0' && c <= '9') || c == Backspace || c == CarriageReturn || c == '.' || c == '&';
}

bool IsAddressChar(unsigned c) {
    return IsBasicChar(c) && c != '&';
}

// A taken carriage return marks nothing: it changes no text.
FieldCharRule Rule(bool accepted, unsigned c, FieldChangeFlag flag) {
    return {accepted, accepted && c != CarriageReturn ? flag : FieldChangeFlag::None};
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A part's leading number as the C library's atol reads it (blanks, one sign,
// digits), saturated so that no text can overflow it.
long LeadingNumber(const char* text) {
    while (IsBlank(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (value < 100000)
            value = value * 10 + (*text - '0');
    return negative ? -value : value;
}

} // namespace

FieldCharRule RuleForFieldChar(int controlId, unsigned c) {
    if (c == PasteCommandChar)
        return {true, FieldChangeFlag::None};
    switch (controlId) {
    case IDC_HOSTNUMBER:
        return Rule(IsBasicChar(c), c, FieldChangeFlag::None);
    case IDC_RECVPORT:
        return Rule(IsBasicChar(c), c, FieldChangeFlag::HostModified);
    case IDC_RECVMCAST:
        return Rule(IsAddressChar(c), c, FieldChangeFlag::None);
    case IDC_SENDMCAST:
        return Rule(IsAddressChar(c), c, FieldChangeFlag::SendMcastModified);
    case IDC_HOSTSIDE:
        return Rule(IsAddressChar(c), c, FieldChangeFlag::HostSideModified);
    case IDC_KLORSIDE:
        return Rule(IsAddressChar(c), c, FieldChangeFlag::KLORSideModified);
    }
    return {true, FieldChangeFlag::None}; // the sending port field is not filtered
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
    const long host = text != nullptr ? LeadingNumber(text) : 0; // an empty field reads as 0
    return host >= 0 && host < HOST_COUNT ? static_cast<int>(host) : -1;
}

int CountChar(const char* text, char character) {
    if (text == nullptr)
        return -1;
    int count = 0;
    for (; *text != '\0'; ++text)
        if (*text == character)
            ++count;
    return count;
}

int IsValidDottedAddress(const char* text) {
    if (CountChar(text, '.') != 3)
        return 0;
    const size_t length = std::strlen(text);
    if (length < 7 || length > AddressTextMax)
        return 0;
    char copy[AddressTextMax + 1];
    std::memcpy(copy, text, length + 1);
    const char* part = copy;
    for (int dot = 0; dot < 3; ++dot) {
        const char* found = std::strchr(part, '.');
        if (found[1] == '.' || found[1] == '\0')
            return 0;
        if (LeadingNumber(part) > 255)
            return 0;
        part = found + 1;
    }
    return LeadingNumber(part) > 255 ? 0 : 1;
}
