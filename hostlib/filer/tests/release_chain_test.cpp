#include <filer/filer_classes.h>
#include <gtest/gtest.h>

#include <functional>

#include "fapi_test_support.h"

namespace {

const WCHAR* const kFiler = u"filer1";
const WCHAR* const kRelease703 = u"NetServer Release 7.0.3: Thu Jan 12";

struct refusal {
    const char* operation;
    std::function<void(CFiler&)> call;
};

std::u16string not_supported(const char* operation) {
    return u"The operation '" + std::u16string(operation, operation + strlen(operation)) +
           u"' is not supported with this version of Zarvo.\r\nPlease verify that you are using a supported "
           u"configuration by checking the compatibility matrix.\r\n";
}

// What a release from 7.0.2 up to 7.1 lacks: the aggregate-era volume and
// snapshot queries, the iSCSI target requests and the inquiry data.
std::vector<refusal> lacking_below_7_1() {
    return {
        {"is_trell_volume",
         [](CFiler& f) {
             std::u16string a;
             f.is_trell_volume(u"vol1", a);
         }},
        {"get_trell_volume_info",
         [](CFiler& f) {
             std::u16string a, b, c, d;
             f.get_trell_volume_info(u"vol1", a, b, c, d);
         }},
        {"get_snapshot_auto_delete_settings",
         [](CFiler& f) {
             std::u16string a, b, c;
             f.get_snapshot_auto_delete_settings(u"vol1", a, b, c);
         }},
        {"get_space_reservations_info",
         [](CFiler& f) {
             uint64_t a, b, c, d;
             int32_t e, g;
             f.get_space_reservations_info(u"vol1", a, b, c, d, e, g);
         }},
        {"snapshot_already_trell_clone", [](CFiler& f) { f.snapshot_already_trell_clone(u"vol1", u"clone"); }},
        {"fapi_snapshot_delta_info", [](CFiler& f) { f.fapi_snapshot_delta_info(u"vol1", u"s1", nullptr); }},
        {"fapi_snapshot_reclaimable_info", [](CFiler& f) { f.fapi_snapshot_reclaimable_info(u"vol1", u"s1"); }},
        {"fapi_volume_autosize_get",
         [](CFiler& f) {
             std::u16string a, b, c;
             f.fapi_volume_autosize_get(u"vol1", a, b, c);
         }},
        {"fapi_lun_initiator_logged_in", [](CFiler& f) { f.fapi_lun_initiator_logged_in(u"iqn.1991-05.com.x:h"); }},
        {"fapi_iscsi_tpgroup_list_info",
         [](CFiler& f) {
             std::vector<fapi_iscsi_tpgroup_info_t> v;
             f.fapi_iscsi_tpgroup_list_info(0, v);
         }},
        {"fapi_iscsi_portal_list_info",
         [](CFiler& f) {
             std::vector<fapi_iscsi_portal_info_t> v;
             f.fapi_iscsi_portal_list_info(v);
         }},
        {"fapi_iscsi_interface_list_info",
         [](CFiler& f) {
             std::vector<fapi_iscsi_interface_info_t> v;
             f.fapi_iscsi_interface_list_info(u"", v);
         }},
        {"fapi_iscsi_initiator_list_info",
         [](CFiler& f) {
             std::vector<fapi_iscsi_initiator_info_t> v;
             f.fapi_iscsi_initiator_list_info(v);
         }},
        {"fapi_iscsi_target_alias_get_alias",
         [](CFiler& f) {
             std::u16string a;
             f.fapi_iscsi_target_alias_get_alias(a);
         }},
        {"fapi_iscsi_target_alias_set_alias", [](CFiler& f) { f.fapi_iscsi_target_alias_set_alias(u"alias"); }},
        {"fapi_iscsi_tpgroup_create", [](CFiler& f) { f.fapi_iscsi_tpgroup_create(u"pg", nullptr); }},
        {"fapi_iscsi_tpgroup_destroy", [](CFiler& f) { f.fapi_iscsi_tpgroup_destroy(5); }},
        {"fapi_iscsi_node_set_name", [](CFiler& f) { f.fapi_iscsi_node_set_name(u"iqn.x"); }},
        {"fapi_iscsi_tpgroup_interface_add", [](CFiler& f) { f.fapi_iscsi_tpgroup_interface_add(u"e0a", 5); }},
        {"fapi_iscsi_tpgroup_interface_delete", [](CFiler& f) { f.fapi_iscsi_tpgroup_interface_delete(u"e0a", 5); }},
        {"fapi_iscsi_interface_enable", [](CFiler& f) { f.fapi_iscsi_interface_enable(u"e0a"); }},
        {"fapi_iscsi_interface_disable", [](CFiler& f) { f.fapi_iscsi_interface_disable(u"e0a"); }},
        {"fapi_iscsi_initiator_add_auth",
         [](CFiler& f) { f.fapi_iscsi_initiator_add_auth(u"CHAP", u"iqn.h", {}, u"", {}, u""); }},
        {"fapi_iscsi_initiator_delete_auth", [](CFiler& f) { f.fapi_iscsi_initiator_delete_auth(u"iqn.h"); }},
        {"fapi_iscsi_initiator_get_default_auth",
         [](CFiler& f) {
             std::u16string a, b, c;
             f.fapi_iscsi_initiator_get_default_auth(a, b, c);
         }},
        {"fapi_iscsi_initiator_set_default_auth",
         [](CFiler& f) { f.fapi_iscsi_initiator_set_default_auth(u"none", {}, u"", {}, u""); }},
        {"fapi_lun_get_inquiry_info",
         [](CFiler& f) {
             std::u16string a, b, c;
             f.fapi_lun_get_inquiry_info(u"ig", a, b, c);
         }},
    };
}

TEST(ReleaseChain, ReleasesBelow7_1RefuseWhatTheyLackByName) {
    CFilerPellion1 filer(kFiler, kRelease703);
    for (const auto& r : lacking_below_7_1()) {
        SCOPED_TRACE(r.operation);
        expect_com_error(0xC00403C4, not_supported(r.operation), [&] { r.call(filer); });
    }
}

TEST(ReleaseChain, OnlyReleasesAbove7_1HaveInquiryInfo) {
    CFilerOskarn filer(kFiler, u"Release 7.1");
    std::u16string a, b, c;
    expect_com_error(0xC00403C4, not_supported("fapi_lun_get_inquiry_info"),
                     [&] { filer.fapi_lun_get_inquiry_info(u"ig", a, b, c); });
}

TEST(ReleaseChain, BelowRelease7_1ClearingTheAliasAndCloneListsDoNothing) {
    CFilerPellion1 filer(kFiler, kRelease703);
    EXPECT_NO_THROW(filer.fapi_iscsi_target_alias_clear_alias());
    std::vector<fapi_lun_clone_status_info_t> statuses(2);
    filer.fapi_lun_clone_status_list_info(u"/vol/v/l", statuses);
    filer.fapi_lun_clone_split_status_list_info(nullptr, statuses);
    EXPECT_EQ(statuses.size(), 2u);
}

TEST(ReleaseChain, CreatedClassesAnswerWhatTheirReleaseSupports) {
    CFilerPellion1 pellion1(kFiler, kRelease703);
    CFilerOskarn oskarn(kFiler, u"Release 7.1");
    CVintrel vintrel(kFiler, u"Release 7.1R1:");
    for (CFilerImpl* filer :
         {static_cast<CFilerImpl*>(&pellion1), static_cast<CFilerImpl*>(&oskarn), static_cast<CFilerImpl*>(&vintrel)}) {
        EXPECT_TRUE(filer->supports_terse_snapshot_list());
        EXPECT_TRUE(filer->supports_async_snapshot_create());
    }
    // From 7.0 on the space-reservation flag is sent as given.
    EXPECT_TRUE(pellion1.space_reservation_flag_value(true));
    EXPECT_FALSE(vintrel.space_reservation_flag_value(false));
    EXPECT_FALSE(pellion1.version_at_least_7_1());
    EXPECT_TRUE(oskarn.version_at_least_7_1());
    EXPECT_TRUE(vintrel.version_at_least_7_1());
}

TEST(ReleaseChain, LoginStringsAreKeptAndReadBack) {
    CVintrel filer(kFiler, u"Release 7.2");
    EXPECT_EQ(std::u16string(filer.get_filer_name()), u"filer1");
    EXPECT_EQ(filer.get_transport(), u"");
    filer.set_transport(u"HTTP");
    filer.set_user_name(u"root");
    filer.set_password(nullptr);
    EXPECT_EQ(filer.get_transport(), u"HTTP");
    EXPECT_EQ(filer.get_user_name(), u"root");
    EXPECT_EQ(filer.get_password(), u"");
}

// A release class that cannot take an optional parameter refuses it before anything is sent.
class release_without_terse_lists : public CFilerPellion1 {
public:
    using CFilerPellion1::CFilerPellion1;
    using CFilerPellion1::check_optional_parameter;
};

TEST(ReleaseChain, OptionalParameterTheReleaseCannotTakeIsRefused) {
    release_without_terse_lists filer(kFiler, kRelease703);
    EXPECT_NO_THROW(filer.check_optional_parameter(false, false, u"terse", u"snapshot-list-info"));
    EXPECT_NO_THROW(filer.check_optional_parameter(true, true, u"terse", u"snapshot-list-info"));
    expect_com_error(0xC00402FD,
                     u"The optional parameter 'terse' for the FAPI 'snapshot-list-info' is not supported by the Zarvo "
                     u"version 'NetServer Release 7.0.3: Thu Jan 12' on the filer 'filer1'.\r\n",
                     [&] { filer.check_optional_parameter(true, false, u"terse", u"snapshot-list-info"); });
}

}  // namespace
