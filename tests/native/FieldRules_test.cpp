#include "config/Syscfg/FieldRules.h"

#include <gtest/gtest.h>

#include <cstring>

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
        const char16_t* characters; // WM_CHAR codes, each a case of its own; 0x16 is Ctrl+V
        bool accepted;
        FieldChangeFlag flag;
    } rows[] = {{IDC_HOSTNUMBER, u"09&.\b\r", true, F::None},
                {IDC_HOSTNUMBER, u"A/: -", false, F::None},
                {IDC_RECVPORT, u"9&\b", true, F::HostModified},
                {IDC_RECVPORT, u"\r", true, F::None},
                {IDC_RECVPORT, u"A", false, F::None},
                {IDC_RECVMCAST, u"1.\x16", true, F::None},
                {IDC_RECVMCAST, u"&A", false, F::None},
                {IDC_SENDMCAST, u"1", true, F::SendMcastModified},
                {IDC_SENDMCAST, u"\r", true, F::None},
                {IDC_SENDMCAST, u"&A", false, F::None},
                {IDC_HOSTSIDE, u"\b", true, F::HostSideModified},
                {IDC_HOSTSIDE, u"\r\x16", true, F::None},
                {IDC_HOSTSIDE, u"&A\u00E9", false, F::None},
                {IDC_KLORSIDE, u".", true, F::KLORSideModified},
                {IDC_KLORSIDE, u"\r", true, F::None},
                {IDC_KLORSIDE, u"&A\u0130", false, F::None}, // not '0' cut to 8 bits
                {IDC_SENDPORT, u"1A&", true, F::None}};
    for (const auto& row : rows)
        for (const char16_t* c = row.characters; *c != 0; ++c) {
            SCOPED_TRACE(testing::Message() << "field " << row.field << ", character 0x" << std::hex << +*c);
            const FieldCharRule rule = RuleForFieldChar(row.field, *c);
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
