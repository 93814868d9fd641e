#include "config/Syscfg/FieldRules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(DottedAddress, AcceptsWhatTheFieldsMayHold) {
    for (const char* text :
         {"1.2.3.4", ".1.2.34", "0255.1.1.1", "255.255.255.255", "-1.2.3.4", "1x.2.3.4", " 12.0.0.1"})
        EXPECT_EQ(IsValidDottedAddress(text), 1) << text;
}

TEST(DottedAddress, RefusesDotsLengthAndLargeParts) {
    for (const char* text : {"1.2.3", "1.2.3.4.5", "1..2.34", "1.2.34.", ".1.2.3", "256.1.1.1", "1.256.1.1",
                             "1.2.256.1", "1.2.3.999", "1.2.3.99999999999", "", "123.123.123.1234"})
        EXPECT_EQ(IsValidDottedAddress(text), 0) << text;
    EXPECT_EQ(IsValidDottedAddress(nullptr), 0);
}

TEST(CountChar, CountsOccurrencesAndNoText) {
    EXPECT_EQ(CountChar("1.2.3.4", '.'), 3);
    EXPECT_EQ(CountChar("", '.'), 0);
    EXPECT_EQ(CountChar("abc", '\0'), 0);
    EXPECT_EQ(CountChar(nullptr, '.'), -1);
}

TEST(FieldChars, HostNumberNamesHostsZeroToFive) {
    EXPECT_EQ(HostNamedByField(""), 0);
    EXPECT_EQ(HostNamedByField("3"), 3);
    EXPECT_EQ(HostNamedByField("5"), 5);
    EXPECT_EQ(HostNamedByField("6"), -1);
    EXPECT_EQ(HostNamedByField("99999999999999999999"), -1);
    EXPECT_EQ(HostNamedByField("-1"), -1);
}

// Each field's rule for one typed character: digits, the dot, Backspace and
// Enter in every filtered field, '&' only in the two number fields, anything
// in the sending port field; a taken character sets its field's flag, except
// Enter, which changes no text. Ctrl+V is every field's paste command.
TEST(FieldChars, EachFieldTakesItsCharactersAndSetsItsFlag) {
    using F = FieldChangeFlag;
    const struct {
        int field;
        unsigned character;
        bool accepted;
        FieldChangeFlag flag;
    } rows[] = {{IDC_HOSTNUMBER, '0', true, F::None},
                {IDC_HOSTNUMBER, '9', true, F::None},
                {IDC_HOSTNUMBER, '&', true, F::None},
                {IDC_HOSTNUMBER, '.', true, F::None},
                {IDC_HOSTNUMBER, '\b', true, F::None},
                {IDC_HOSTNUMBER, '\r', true, F::None},
                {IDC_HOSTNUMBER, 'A', false, F::None},
                {IDC_HOSTNUMBER, '/', false, F::None},
                {IDC_HOSTNUMBER, ':', false, F::None},
                {IDC_HOSTNUMBER, ' ', false, F::None},
                {IDC_HOSTNUMBER, '-', false, F::None},
                {IDC_RECVPORT, '9', true, F::HostModified},
                {IDC_RECVPORT, '&', true, F::HostModified},
                {IDC_RECVPORT, '\b', true, F::HostModified},
                {IDC_RECVPORT, '\r', true, F::None},
                {IDC_RECVPORT, 'A', false, F::None},
                {IDC_RECVMCAST, '1', true, F::None},
                {IDC_RECVMCAST, '.', true, F::None},
                {IDC_RECVMCAST, '&', false, F::None},
                {IDC_RECVMCAST, 'A', false, F::None},
                {IDC_RECVMCAST, PasteCommandChar, true, F::None},
                {IDC_SENDMCAST, '1', true, F::SendMcastModified},
                {IDC_SENDMCAST, '\r', true, F::None},
                {IDC_SENDMCAST, '&', false, F::None},
                {IDC_SENDMCAST, 'A', false, F::None},
                {IDC_HOSTSIDE, '\b', true, F::HostSideModified},
                {IDC_HOSTSIDE, '\r', true, F::None},
                {IDC_HOSTSIDE, 'A', false, F::None},
                {IDC_HOSTSIDE, 0xE9, false, F::None},
                {IDC_HOSTSIDE, PasteCommandChar, true, F::None},
                {IDC_KLORSIDE, '.', true, F::KLORSideModified},
                {IDC_KLORSIDE, '\r', true, F::None},
                {IDC_KLORSIDE, 'A', false, F::None},
                {IDC_KLORSIDE, '0' + 0x100, false, F::None},
                {IDC_SENDPORT, '1', true, F::None},
                {IDC_SENDPORT, 'A', true, F::None},
                {IDC_SENDPORT, '&', true, F::None}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "field " << row.field << ", character 0x" << std::hex << row.character);
        const FieldCharRule rule = RuleForFieldChar(row.field, row.character);
        EXPECT_EQ(rule.accepted, row.accepted);
        EXPECT_EQ(rule.flag, row.flag);
    }
}

// A paste is taken only when typing could have entered all of it.
TEST(FieldPaste, TakesWhatTypingCouldEnter) {
    const struct {
        int id;
        bool numberOnly;
        const char* text;
        bool taken;
        FieldChangeFlag flag;
    } rows[] = {{IDC_HOSTSIDE, false, "10.0.0.1", true, FieldChangeFlag::HostSideModified},
                {IDC_HOSTSIDE, false, "10.0.0.1\t", false, FieldChangeFlag::None},
                {IDC_HOSTSIDE, false, "10.0.0.\b1", false, FieldChangeFlag::None},
                {IDC_SENDMCAST, false, "239.1.1.\xE9", false, FieldChangeFlag::None},
                {IDC_KLORSIDE, false, "", true, FieldChangeFlag::None},
                {IDC_RECVPORT, true, "7001", true, FieldChangeFlag::HostModified},
                {IDC_RECVPORT, true, "70.1", false, FieldChangeFlag::None},
                {IDC_SENDPORT, true, "6789\x7F", false, FieldChangeFlag::None},
                {IDC_SENDPORT, false, "67x9", true, FieldChangeFlag::None}};
    for (const auto& row : rows) {
        const FieldCharRule rule = RuleForFieldPaste(row.id, row.numberOnly, row.text, std::strlen(row.text));
        EXPECT_EQ(rule.accepted, row.taken) << row.text;
        EXPECT_EQ(rule.flag, row.flag) << row.text;
    }
}
