// The filer API against the simulated appliance: the release read from the
// appliance, the class made for it, the refusals that send nothing, and the
// frame's failures and texts as they reach the caller.
#include <gtest/gtest.h>

#include <regex>

#include <filer/filer_classes.h>
#include <filer/filer_version.h>
#include <korvex/server.h>

#include "appliance.h"
#include "fapi_test_support.h"

namespace {

using e2e::Appliance;

const WCHAR* const kUser = u"root";
const WCHAR* const kPassword = u"zarvo123";

std::u16string wide(const std::string& text) { return platform::utf8_to_wide_lossy(text); }

// The names of the requests the appliance logged, in order.
std::vector<std::string> request_names(const Appliance& sim) {
    const std::string log = sim.control("GET", "/sim/log").body;
    static const std::regex name(R"re("request":\s*"([^"]*)")re");
    std::vector<std::string> names;
    for (std::sregex_iterator m(log.begin(), log.end(), name), end; m != end; ++m) names.push_back((*m)[1]);
    return names;
}

class FilerE2E : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char text[256];
        kx_startup(text, sizeof text);
    }

    static owned_ptr<CFiler> create_for(const Appliance& sim, const WCHAR* password = kPassword) {
        owned_ptr<CFiler> filer;
        create_filer(u"HTTP", wide(sim.address()).c_str(), kUser, password, filer);
        return filer;
    }
};

enum class made { pellion1, oskarn, vintrel };

made class_of(CFiler* filer) {
    if (dynamic_cast<CVintrel*>(filer)) return made::vintrel;
    if (dynamic_cast<CFilerOskarn*>(filer)) return made::oskarn;
    EXPECT_NE(dynamic_cast<CFilerPellion1*>(filer), nullptr);
    return made::pellion1;
}

TEST_F(FilerE2E, CreateFilerMakesTheClassOfTheAppliancesRelease) {
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
    Appliance sim;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        sim.set(std::string(R"({"version": ")") + c.release + "\"}");
        owned_ptr<CFiler> filer = create_for(sim);
        ASSERT_TRUE(filer);
        EXPECT_EQ(class_of(filer.get()), c.expected);
        EXPECT_EQ(std::u16string(filer->get_filer_name()), wide(sim.address()));
        EXPECT_EQ(filer->get_transport(), u"HTTP");
        EXPECT_EQ(filer->get_user_name(), kUser);
        EXPECT_EQ(filer->get_password(), kPassword);
    }
}

TEST_F(FilerE2E, CreateFilerRefusesReleasesBelow7_0_2AndMakesNothing) {
    Appliance sim({"--release", "NetServer Release 7.0.1: Fri Dec 2"});
    owned_ptr<CFiler> filer(new CVintrel(u"stale", u"Release 7.2"));
    expect_com_error(0xC00402E3,
                     u"The \"NetServer Release 7.0.1: Fri Dec 2\" version of Zarvo running on \"" + wide(sim.address()) +
                         u"\" filer is not supported. A version 7.0.2.0 or higher is required.\r\nFor the current list "
                         u"of Zarvo versions that are supported with this version of Corvane, please see the support "
                         u"information for the Corvane.\r\n",
                     [&] { create_filer(u"HTTP", wide(sim.address()).c_str(), kUser, kPassword, filer); });
    EXPECT_FALSE(filer);

    sim.set(R"({"version": "NetServer Release unknown"})");
    expect_com_error(0xC00402E4,
                     u"Unable to determine Zarvo version running on the specified filer. The version string "
                     u"\"NetServer Release unknown\" has unrecognized format.\r\n",
                     [&] { create_for(sim); });
}

TEST_F(FilerE2E, AFailedVersionRequestRaisesWithTheAppliancesReason) {
    Appliance sim;
    sim.fault(R"({"kind": "errno", "request": "system-get-version", "errno": 13005,
                  "reason": "Unable to read the release"})");
    expect_com_error(0xC004031D,
                     u"Failed to get Zarvo version running on the filer " + wide(sim.address()) +
                         u".\r\nError Description: Unable to read the release\r\n",
                     [&] { create_for(sim); });
}

TEST_F(FilerE2E, AWrongPasswordIsAFailedVersionRequest) {
    Appliance sim;
    expect_com_error_prefix(0xC004031D,
                            u"Failed to get Zarvo version running on the filer " + wide(sim.address()) + u".\r\n",
                            [&] { create_for(sim, u"wrong"); });
    EXPECT_EQ(request_names(sim), std::vector<std::string>{"system-get-version"});
}

TEST_F(FilerE2E, AnUnreachableApplianceIsAFailedVersionRequest) {
    const std::u16string nowhere = wide(Appliance::unused_address());
    expect_com_error_prefix(0xC004031D, u"Failed to get Zarvo version running on the filer " + nowhere + u".\r\n", [&] {
        std::u16string version;
        get_filer_version(u"HTTP", nowhere.c_str(), kUser, kPassword, version);
    });
}

// Any transport other than "HTTP" (case matters) hands the request to the
// administration library, which this host does not have: nothing reaches the appliance.
TEST_F(FilerE2E, OnlyTheTransportHttpLogsInOverHttp) {
    Appliance sim;
    std::u16string version;
    EXPECT_THROW(get_filer_version(u"http", wide(sim.address()).c_str(), kUser, kPassword, version), _com_error);
    EXPECT_TRUE(request_names(sim).empty());
}

TEST_F(FilerE2E, AnOperationTheReleaseLacksSendsNothing) {
    Appliance sim({"--release", "NetServer Release 7.0.3: Thu Jan 12"});
    owned_ptr<CFiler> filer = create_for(sim);
    sim.control("POST", "/sim/log/clear");
    std::vector<fapi_iscsi_tpgroup_info_t> groups;
    expect_com_error(0xC00403C4,
                     u"The operation 'fapi_iscsi_tpgroup_list_info' is not supported with this version of Zarvo.\r\n"
                     u"Please verify that you are using a supported configuration by checking the compatibility "
                     u"matrix.\r\n",
                     [&] { filer->fapi_iscsi_tpgroup_list_info(0, groups); });
    EXPECT_TRUE(request_names(sim).empty());
}

TEST_F(FilerE2E, AccentedAndNonLatinValuesReachTheApplianceIntact) {
    Appliance sim({"--user", "r\xc3\xb6\xc3\xb6t", "--password", "p\xc3\xa4ss-\xe6\x97\xa5\xe6\x9c\xac"});
    auto server =
        open_server_handle(wide(sim.address()).c_str(), u"HTTP", u"r\u00f6\u00f6t", u"p\u00e4ss-\u65e5\u672c");
    fapi_request request(server.get(), "options-get");
    request.add("name", u"vol_\u00e9t\u00e9_\u65e5\u672c_\u0416");
    const fapi_reply reply = request.invoke();
    // The login passed (no 401) and the value arrived as UTF-8.
    EXPECT_EQ(request_names(sim), std::vector<std::string>{"options-get"});
    EXPECT_NE(reply.error_number(), 13002);
    EXPECT_NE(sim.control("GET", "/sim/log/last?part=body")
                  .body.find("<name>vol_\xc3\xa9t\xc3\xa9_\xe6\x97\xa5\xe6\x9c\xac_\xd0\x96</name>"),
              std::string::npos);
}

}  // namespace
