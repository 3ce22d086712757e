// The filer API against the simulated appliance: the release read from the
// appliance, the class made for it, the refusals that send nothing, and the
// frame's failures and texts as they reach the caller.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>
#include <filer/filer_version.h>

#include "../tests/fapi_test_support.h"
#include "sim_appliance.h"

namespace {

const WCHAR* const kUser = u"root";
const WCHAR* const kPassword = u"secret";

owned_ptr<CFiler> create_for(const sim_appliance& sim, const WCHAR* transport = u"HTTP") {
    owned_ptr<CFiler> filer;
    create_filer(transport, sim.name().c_str(), kUser, kPassword, filer);
    return filer;
}

enum class made { pellion1, oskarn, vintrel };

made class_of(CFiler* filer) {
    if (dynamic_cast<CVintrel*>(filer)) return made::vintrel;
    if (dynamic_cast<CFilerOskarn*>(filer)) return made::oskarn;
    EXPECT_NE(dynamic_cast<CFilerPellion1*>(filer), nullptr);
    return made::pellion1;
}

TEST(CreateFiler, MakesTheClassOfTheAppliancesRelease) {
    const struct {
        const char* release;
        made expected;
    } cases[] = {
        {"NetServer Release 7.0.2: Mon Jan 1", made::pellion1}, {"NetServer Release 7.0.2R1:", made::pellion1},
        {"NetServer Release 7.0.3: Thu Jan 12", made::pellion1}, {"NetServer Release 7.0.9D2:", made::pellion1},
        {"NetServer Release 7.1: Tue Feb 7", made::oskarn},      {"NetServer Release oskarn", made::oskarn},
        {"NetServer Release 7.1R1:", made::vintrel},             {"NetServer Release 7.1.0.1:", made::vintrel},
        {"NetServer Release 7.2.4: Thu Feb 12", made::vintrel},  {"NetServer Release 8.0:", made::vintrel},
    };
    sim_appliance sim(71, cases[0].release);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        sim.set_release(c.release);
        owned_ptr<CFiler> filer = create_for(sim);
        ASSERT_TRUE(filer);
        EXPECT_EQ(class_of(filer.get()), c.expected);
        EXPECT_EQ(std::u16string(filer->get_filer_name()), sim.name());
        EXPECT_EQ(filer->get_transport(), u"HTTP");
        EXPECT_EQ(filer->get_user_name(), kUser);
        EXPECT_EQ(filer->get_password(), kPassword);
    }
}

TEST(CreateFiler, RefusesReleasesBelow7_0_2AndMakesNothing) {
    sim_appliance sim(72, "NetServer Release 7.0.1: Fri Dec 2");
    owned_ptr<CFiler> filer(new CVintrel(u"stale", u"Release 7.2"));
    expect_com_error(0xC00402E3,
                     u"The \"NetServer Release 7.0.1: Fri Dec 2\" version of Zarvo running on \"127.0.0.72\" filer is "
                     u"not supported. A version 7.0.2.0 or higher is required.\r\nFor the current list of Zarvo versions "
                     u"that are supported with this version of Corvane, please see the support information for the "
                     u"Corvane.\r\n",
                     [&] { create_filer(u"HTTP", sim.name().c_str(), kUser, kPassword, filer); });
    EXPECT_FALSE(filer);

    sim.set_release("NetServer Release unknown");
    expect_com_error(0xC00402E4,
                     u"Unable to determine Zarvo version running on the specified filer. The version string "
                     u"\"NetServer Release unknown\" has unrecognized format.\r\n",
                     [&] { create_for(sim); });
}

TEST(CreateFiler, AFailedVersionRequestRaisesWithTheAppliancesReason) {
    sim_appliance sim(73, "NetServer Release 7.1:");
    sim.fail_next("system-get-version", 13005, "Unable to read the release");
    expect_com_error(0xC004031D,
                     u"Failed to get Zarvo version running on the filer 127.0.0.73.\r\nError Description: Unable to "
                     u"read the release\r\n",
                     [&] { create_for(sim); });
}

TEST(CreateFiler, AWrongPasswordIsAFailedVersionRequest) {
    sim_appliance sim(74, "NetServer Release 7.1:");
    owned_ptr<CFiler> filer;
    expect_com_error_prefix(0xC004031D, u"Failed to get Zarvo version running on the filer 127.0.0.74.\r\n",
                            [&] { create_filer(u"HTTP", sim.name().c_str(), kUser, u"wrong", filer); });
    EXPECT_EQ(sim.request_names(), std::vector<std::string>{"system-get-version"});
}

// Any transport other than "HTTP" (case matters) hands the request to the
// administration library, which this host does not have: nothing reaches the appliance.
TEST(CreateFiler, OnlyTheTransportHttpLogsInOverHttp) {
    sim_appliance sim(75, "NetServer Release 7.1:");
    EXPECT_THROW(create_for(sim, u"http"), _com_error);
    EXPECT_TRUE(sim.request_names().empty());
}

TEST(ReleaseRules, AnOperationTheReleaseLacksSendsNothing) {
    sim_appliance sim(76, "NetServer Release 7.0.3: Thu Jan 12");
    owned_ptr<CFiler> filer = create_for(sim);
    sim.clear_log();
    std::vector<fapi_iscsi_tpgroup_info_t> groups;
    expect_com_error(0xC00403C4,
                     u"The operation 'fapi_iscsi_tpgroup_list_info' is not supported with this version of Zarvo.\r\n"
                     u"Please verify that you are using a supported configuration by checking the compatibility "
                     u"matrix.\r\n",
                     [&] { filer->fapi_iscsi_tpgroup_list_info(0, groups); });
    EXPECT_TRUE(sim.request_names().empty());
}

TEST(RequestFrame, AccentedAndNonLatinValuesReachTheApplianceIntact) {
    const std::string user = "r\xc3\xb6\xc3\xb6t", password = "p\xc3\xa4ss-\xe6\x97\xa5\xe6\x9c\xac";
    sim_appliance sim(77, "NetServer Release 7.2:", user, password);
    auto server = open_server_handle(sim.name().c_str(), u"HTTP", u"r\u00f6\u00f6t", u"p\u00e4ss-\u65e5\u672c");
    fapi_request request(server.get(), "options-get");
    request.add("name", u"vol_\u00e9t\u00e9_\u65e5\u672c_\u0416");
    const fapi_reply reply = request.invoke();
    EXPECT_EQ(sim.request_names(), std::vector<std::string>{"options-get"});
    EXPECT_NE(sim.last_request_body().find("<name>vol_\xc3\xa9t\xc3\xa9_\xe6\x97\xa5\xe6\x9c\xac_\xd0\x96</name>"),
              std::string::npos);
    // The login passed too: the appliance answered (the option is unknown to it).
    EXPECT_NE(reply.error_number(), 13002);
}

TEST(RequestFrame, AnUnreachableApplianceIsAFailedReply) {
    expect_com_error_prefix(0xC004031D, u"Failed to get Zarvo version running on the filer 127.0.0.78.\r\n",
                            [] {
                                std::u16string version;
                                get_filer_version(u"HTTP", u"127.0.0.78", kUser, kPassword, version);
                            });
}

}  // namespace
