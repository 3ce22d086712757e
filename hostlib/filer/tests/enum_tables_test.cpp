#include <filer/enum_tables.h>
#include <gtest/gtest.h>

#include <cstring>

#include "fapi_test_support.h"

namespace {

struct table_case {
    const enum_name_table& table;
    const char* word;
    int32_t code;
};

TEST(EnumNameTables, ExactWordsGiveTheirCodesAnyOtherWordTheDefault) {
    const table_case cases[] = {
        {aggr_state_table, "online", 3},
        {aggr_state_table, "Online", 0},
        {aggr_state_table, "", 0},
        {aggr_state_table, "restricted", 7},
        {volume_state_table, "unknown", 1},
        {volume_state_table, "Unknown", 0},
        {volume_state_table, "online ", 0},
        {disk_raid_type_table, "dparity", 3},
        {disk_raid_state_table, "present", 7},
        {disk_raid_state_table, "reconstructing", 6},
        {aggr_type_table, "trad aggr", 2},
        {aggr_type_table, "trad", 3},
        {lun_share_state_table, "write", 5},
        {lun_share_state_table, "unknown", 1},
        {igroup_os_type_table, "linux", 7},
        {igroup_os_type_table, "vmware", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(c.table.enum_from_name(c.word), c.code);
    }
}

TEST(EnumConverters, BooleanWordsIgnoreCaseAndAnyOtherWordRaises) {
    EXPECT_TRUE(bool_from_string("TRUE"));
    EXPECT_TRUE(bool_from_string("Enabled"));
    EXPECT_FALSE(bool_from_string("disabled"));
    EXPECT_FALSE(bool_from_string("False"));
    expect_com_error(0xC00402FF, u"Unrecognized boolean string value 'yes'.\r\n", [] { bool_from_string("yes"); });
    expect_com_error(0xC00402FF, u"Unrecognized boolean string value ''.\r\n", [] { bool_from_string(""); });
    EXPECT_STREQ(bool_to_string(true), "true");
    EXPECT_STREQ(bool_to_string(false), "false");
}

TEST(EnumConverters, RaisingConvertersNameTheWordTheyCannotRead) {
    EXPECT_EQ(igroup_type_from_string("iscsi"), 1);
    EXPECT_EQ(iscsi_adapter_state_from_string("partner"), 3);
    EXPECT_EQ(tandril_state_from_string("Broken-Off"), 3);
    expect_com_error(0xC00402B6, u"Unrecognized initiator group type: FCP\r\n", [] { igroup_type_from_string("FCP"); });
    expect_com_error(0xC00402B6, u"Unrecognized initiator group type: \r\n", [] { igroup_type_from_string(""); });
    expect_com_error(0xC00402E1, u"Unrecognized iSCSI adapter state: Online\r\n",
                     [] { iscsi_adapter_state_from_string("Online"); });
    expect_com_error(0xC0040312, u"Unrecognized tandril state: gone\r\n", [] { tandril_state_from_string("gone"); });
}

TEST(EnumConverters, TandrilWordsWithTheirDefaults) {
    EXPECT_EQ(tandril_contents_from_string("Replica"), 2);
    EXPECT_EQ(tandril_contents_from_string("copy"), 0);
    EXPECT_EQ(tandril_last_transfer_type_from_string("scheduled"), 3);
    EXPECT_EQ(tandril_last_transfer_type_from_string("schedule"), 0);
    EXPECT_EQ(tandril_current_transfer_type_from_string("schedule"), 3);
    EXPECT_EQ(tandril_current_transfer_type_from_string("scheduled"), 0);
    EXPECT_EQ(tandril_status_from_string("Transferring "), 2);
    EXPECT_EQ(tandril_status_from_string("In-Sync"), 10);
    EXPECT_EQ(tandril_status_from_string("Idle with restart checkpoint"), 1);
    EXPECT_EQ(tandril_status_from_string("broken"), 11);
    EXPECT_EQ(std::u16string(tandril_state_to_string(3)), u"broken-off");
    EXPECT_EQ(std::u16string(tandril_state_to_string(6)), u"do not know");
    EXPECT_EQ(std::u16string(tandril_status_to_string(11)), u"unrecognized");
    EXPECT_EQ(std::u16string(tandril_status_to_string(0)), u"do not know");
}

TEST(EnumConverters, CodesOutsideTheirTableGiveTheEmptyWord) {
    EXPECT_STREQ(lun_os_type_to_string(1), "windows");
    EXPECT_STREQ(lun_os_type_to_string(5), "image");
    EXPECT_STREQ(lun_os_type_to_string(7), "");
    EXPECT_STREQ(igroup_os_type_to_string(1), "unknown");
    EXPECT_STREQ(igroup_os_type_to_string(0), "");
    EXPECT_STREQ(igroup_type_to_string(2), "unknown");
    EXPECT_STREQ(igroup_type_to_string(3), "");
    EXPECT_STREQ(log_level_to_string(7), "7");
    EXPECT_STREQ(log_level_to_string(8), "");
    EXPECT_STREQ(log_level_to_string(-1), "");
}

TEST(EnumConverters, IsidIsSixHexadecimalFields) {
    EXPECT_EQ(isid_from_string("40:00:01:37:00:00"), (fapi_isid_t{0x40, 0x00, 0x01, 0x37, 0x00, 0x00}));
    EXPECT_EQ(isid_from_string("4:A:b:37:0:ff trailing"), (fapi_isid_t{0x04, 0x0a, 0x0b, 0x37, 0x00, 0xff}));
    expect_com_error(0xC0040340, u"Invalid ISID format '40:00:01'. \r\n", [] { isid_from_string("40:00:01"); });
    expect_com_error(0xC0040340, u"Invalid ISID format '40:00:01:37:00:zz'. \r\n",
                     [] { isid_from_string("40:00:01:37:00:zz"); });
}

TEST(EnumConverters, WwnTextIsEightHexadecimalFields) {
    BYTE wwn[8] = {};
    wwn_from_ansi_string("10:00:00:00:c9:2B:51:2e", wwn);
    const BYTE expected[8] = {0x10, 0x00, 0x00, 0x00, 0xc9, 0x2b, 0x51, 0x2e};
    EXPECT_EQ(std::memcmp(wwn, expected, 8), 0);
    expect_com_error(0xC0040298, u"Invalid WWNN or WWPN format\r\n",
                     [&] { wwn_from_ansi_string("10:00:00:00:c9:2b:51", wwn); });
}

}  // namespace
