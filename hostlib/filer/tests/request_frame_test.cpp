#include <filer/fapi_error.h>
#include <filer/request_frame.h>
#include <gtest/gtest.h>
#include <korvex/elem.h>
#include <korvex/results.h>

#include "fapi_test_support.h"

namespace {

// A `results` element as the client hands it over, with text children.
ElemHandlePtr make_reply(const char* status, const char* reason, int error_number,
                         std::initializer_list<std::pair<const char*, const char*>> children = {}) {
    ElemHandlePtr reply(kx_results_make(status, reason, error_number));
    for (const auto& [name, text] : children) kx_child_add_text(reply.get(), name, text);
    return reply;
}

std::string child_text(const fapi_request& request, const char* name) {
    const char* text = kx_child_text(request.element(), name);
    return text ? text : "<absent>";
}

TEST(RequestFrame, ChildrenAreAddedInOrderAsUtf8Text) {
    fapi_request request(nullptr, "lun-create-by-size");
    request.add("path", u"/vol/v\u00e9hicule/\u65e5\u672c")
        .add("size", uint64_t{104857600})
        .add("type", std::optional<int32_t>{})
        .add("space-reservation-enabled", std::optional<bool>{false})
        .add("lun-id", int32_t{-1})
        .add("initiator", static_cast<const WCHAR*>(nullptr))
        .add_ansi("os-type", "windows");
    EXPECT_EQ(child_text(request, "path"), "/vol/v\xc3\xa9hicule/\xe6\x97\xa5\xe6\x9c\xac");
    EXPECT_EQ(child_text(request, "size"), "104857600");
    EXPECT_EQ(child_text(request, "type"), "<absent>");
    EXPECT_EQ(child_text(request, "space-reservation-enabled"), "false");
    EXPECT_EQ(child_text(request, "lun-id"), "-1");
    EXPECT_EQ(child_text(request, "initiator"), "<absent>");
    std::vector<std::string> order;
    for (kx_elem_rec *cursor = kx_children_begin(request.element()), *c; (c = kx_children_next(&cursor));)
        order.emplace_back(c->name);
    EXPECT_EQ(order, (std::vector<std::string>{"path", "size", "space-reservation-enabled", "lun-id", "os-type"}));
}

TEST(RequestFrame, AnEmptyValueIsRefusedBeforeAnythingIsSent) {
    fapi_request request(nullptr, "lun-offline");
    try {
        request.add("path", u"");
        ADD_FAILURE() << "an empty value was accepted";
    } catch (const _com_error& error) {
        EXPECT_EQ(static_cast<uint32_t>(error.Error()), 0x80070057u);
    }
    EXPECT_EQ(kx_children_begin(request.element()), nullptr);
}

TEST(ReplyReading, MissingValuesReadAsEmptyZeroOrTheTableDefault) {
    ElemHandlePtr owner = make_reply("passed", nullptr, -1, {{"size", "1234567890123"}, {"id", "42xyz"}});
    const fapi_results reply(owner.get());
    EXPECT_TRUE(reply.passed());
    EXPECT_EQ(reply.reason(), u"");
    EXPECT_EQ(reply.int64_value("size"), 1234567890123);
    EXPECT_EQ(reply.int32_value("id"), 42);
    EXPECT_EQ(reply.int32_value("missing"), 0);
    EXPECT_EQ(reply.text("missing"), u"");
    EXPECT_FALSE(reply.has_child("missing"));
    EXPECT_EQ(reply.enum_value(volume_state_table, "state"), 0);
}

TEST(ReplyReading, AMissingOrUnknownBooleanRaises) {
    ElemHandlePtr owner = make_reply("passed", nullptr, -1, {{"online", "Enabled"}, {"mapped", "yes"}});
    const fapi_elem reply(owner.get());
    EXPECT_TRUE(reply.bool_value("online"));
    expect_com_error(0xC00402FF, u"Unrecognized boolean string value ''.\r\n", [&] { reply.bool_value("busy"); });
    expect_com_error(0xC00402FF, u"Unrecognized boolean string value 'yes'.\r\n", [&] { reply.bool_value("mapped"); });
}

TEST(ReplyReading, NonAsciiReplyTextIsWidened) {
    ElemHandlePtr owner = make_reply("passed", nullptr, -1, {{"alias-name", "caf\xc3\xa9 \xe6\x97\xa5"}});
    EXPECT_EQ(fapi_elem(owner.get()).text("alias-name"), u"caf\u00e9 \u65e5");
    EXPECT_EQ(fapi_elem(owner.get()).narrow_text("alias-name"), "caf\xc3\xa9 \xe6\x97\xa5");
}

TEST(ReplyReading, FailedReplyGivesErrorNumberAndReason) {
    ElemHandlePtr failed = make_reply("failed", "LUN not found", 9017);
    EXPECT_FALSE(fapi_results(failed.get()).passed());
    EXPECT_EQ(fapi_results(failed.get()).error_number(), 9017);
    EXPECT_EQ(fapi_results(failed.get()).reason(), u"LUN not found");
    ElemHandlePtr bare = make_reply("failed", nullptr, -1);
    EXPECT_EQ(fapi_results(bare.get()).error_number(), -1);
    EXPECT_EQ(fapi_results(bare.get()).reason(), u"Unknown");
}

TEST(ReplyReading, InitiatorGroupsAreAppendedInDocumentOrder) {
    ElemHandlePtr reply = make_reply("passed", nullptr, -1);
    kx_elem_rec* list = kx_child_add_text(reply.get(), "initiator-groups", "");
    const auto add_group = [&](const char* name, const char* os_type, const char* type, const char* lun_id,
                               std::initializer_list<const char*> initiators) {
        kx_elem_rec* group = kx_child_add_text(list, "initiator-group-info", "");
        kx_child_add_text(group, "initiator-group-name", name);
        if (os_type) kx_child_add_text(group, "initiator-group-os-type", os_type);
        kx_child_add_text(group, "initiator-group-type", type);
        if (lun_id) kx_child_add_text(group, "lun-id", lun_id);
        kx_elem_rec* members = kx_child_add_text(group, "initiators", "");
        for (const char* i : initiators)
            kx_child_add_text(kx_child_add_text(members, "initiator-info", ""), "initiator-name", i);
    };
    add_group("viaVDS.host1", "windows", "fcp", "3", {"10:00:00:00:c9:2b:51:2e", "10:00:00:00:c9:2b:51:2f"});
    add_group("iscsi-group", "vmware", "iscsi", nullptr, {});

    std::vector<fapi_igroup_info_t> groups(1);
    parse_igroup_info_list(fapi_elem(reply.get()).child("initiator-groups"), groups);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[1].name, u"viaVDS.host1");
    EXPECT_EQ(groups[1].os_type, 4);
    EXPECT_EQ(groups[1].type, 0);
    EXPECT_EQ(groups[1].lun_id, 3);
    EXPECT_EQ(groups[1].initiators,
              (std::vector<std::u16string>{u"10:00:00:00:c9:2b:51:2e", u"10:00:00:00:c9:2b:51:2f"}));
    EXPECT_EQ(groups[2].os_type, 0);
    EXPECT_EQ(groups[2].type, 1);
    EXPECT_EQ(groups[2].lun_id, 0);
    EXPECT_TRUE(groups[2].initiators.empty());
}

TEST(FapiErrorRecords, PassedRepliesRaiseNothingFailedOnesTheirOwnMessage) {
    ElemHandlePtr passed = make_reply("passed", nullptr, -1);
    ElemHandlePtr failed = make_reply("failed", "No such LUN", 9017);

    EXPECT_NO_THROW(fapi_lun_list_info_error_t(passed.get(), u"filer1", u"/vol/v/l").raise());
    const fapi_lun_list_info_error_t lun_error(failed.get(), u"filer1", nullptr);
    EXPECT_FALSE(lun_error.passed());
    EXPECT_EQ(lun_error.error_number(), 9017);
    EXPECT_EQ(lun_error.filer_name(), u"filer1");
    expect_com_error(0xC004032E,
                     u"An attempt to obtain lun info for the lun '' on the filer 'filer1' failed. Error code: 9017. "
                     u"Error description: No such LUN.\r\n",
                     [&] { lun_error.raise(); });
    expect_com_error(0xC0040398,
                     u"An attempt to obtain disk info for the disk 'every disk' on the filer 'filer1' failed. Error "
                     u"code: 9017. Error description: No such LUN.\r\n",
                     [&] { fapi_disk_list_info_error_t(failed.get(), u"filer1", u"").raise(); });
    expect_com_error(0xC0040307,
                     u"An attempt to delete snapshot 'nightly.0' of the 'vol1' volume failed on the filer 'filer1'. "
                     u"Error code: 9017. Error description: No such LUN.\r\n",
                     [&] { fapi_snapshot_delete_error_t(failed.get(), u"filer1", u"vol1", u"nightly.0").raise(); });
}

}  // namespace
