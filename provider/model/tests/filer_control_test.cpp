// The filer control facade against the in-memory appliance: what each wrapper
// sends, what it answers, and what it writes to the event log.
#include <model/filer_control.h>

#include <gtest/gtest.h>

#include <platform/bstr.h>
#include <platform/errorinfo.h>
#include <platform/text.h>
#include <platform/vds.h>

#include <algorithm>
#include <stdexcept>

#include <functional>
#include <optional>

#include "container_test_support.h"
#include "memory_appliance.h"

using model_test::Element;
using model_test::MemoryAppliance;
using model_test::RecordedEvents;
using model_test::Text;

namespace {

constexpr DWORD kComErrorEvent = 0xC0000BBA;

struct Reply {
    const char* request;
    std::string outputs;
};

// One wrapper: what makes it succeed, which request's refusal it reports,
// how it answers an empty list and how it is called with an empty argument.
struct WrapperCase {
    const char* name;
    std::function<HRESULT(CFilerControl&)> call;
    std::vector<Reply> success;
    const char* refusedRequest;
    std::optional<HRESULT> emptyList;                      // none: the wrapper reads no list
    std::function<HRESULT(CFilerControl&)> callWithEmpty;  // none: no required text
};

std::string lun_info(const std::string& path) {
    return Element("lun-info", Text("path", path) + Text("size", 104857600) + Text("read-only", "false") +
                                   Text("online", "true") + Text("mapped", "false"));
}
std::string igroups(const std::string& name) {
    return Element("initiator-groups",
                   Element("initiator-group-info", Text("initiator-group-name", name) +
                                                       Text("initiator-group-type", "fcp") + Text("lun-id", 3)));
}
std::string online_volume(const std::string& name, const std::string& state = "online") {
    return Element("volumes", Element("volume-info", Text("name", name) + Text("state", state)));
}

const std::vector<WrapperCase>& wrapper_cases() {
    static const std::vector<WrapperCase> cases = {
        {"FilerListDrives",
         [](CFilerControl& f) {
             std::vector<fapi_disk_info_t> v;
             return f.FilerListDrives(u"", v);
         },
         {{"disk-list-info", Element("disk-details", Element("disk-detail-info", Text("name", "0a.16")))}},
         "disk-list-info", E_FAIL, nullptr},
        {"FilerListAggregates",
         [](CFilerControl& f) {
             std::vector<fapi_aggr_info_t> v;
             return f.FilerListAggregates(v);
         },
         {{"aggr-list-info", Element("aggregates", Element("aggr-info", Text("name", "aggr1")))}},
         "aggr-list-info", E_FAIL, nullptr},
        {"FilerGetRootAggregate",
         [](CFilerControl& f) {
             std::u16string root;
             return f.FilerGetRootAggregate(root);
         },
         {{"aggr-get-root-name", Text("root-volume", "aggr0")}}, "aggr-get-root-name", std::nullopt, nullptr},
        {"FilerListVolumes",
         [](CFilerControl& f) {
             std::vector<fapi_volume_info_t> v;
             return f.FilerListVolumes(v);
         },
         {{"volume-list-info", online_volume("vol0")}}, "volume-list-info", E_FAIL, nullptr},
        {"FilerCreateVolume", [](CFilerControl& f) { return f.FilerCreateVolume(u"ZarvoVolume1", u"aggr1", u"20m"); },
         {}, "volume-create", std::nullopt,
         [](CFilerControl& f) { return f.FilerCreateVolume(u"ZarvoVolume1", u"", u"20m"); }},
        {"FilerDeleteVolume", [](CFilerControl& f) { return f.FilerDeleteVolume(u"ZarvoVolume1", FALSE); },
         {{"volume-list-info", online_volume("ZarvoVolume1")}}, "volume-destroy", std::nullopt,
         [](CFilerControl& f) { return f.FilerDeleteVolume(u"", FALSE); }},
        {"FilerCreateQtree", [](CFilerControl& f) { return f.FilerCreateQtree(u"ZarvoQtree1", u"ZarvoVolume1"); }, {},
         "qtree-create", std::nullopt, [](CFilerControl& f) { return f.FilerCreateQtree(u"ZarvoQtree1", u""); }},
        {"FilerListQtrees",
         [](CFilerControl& f) {
             std::vector<fapi_qtree_info_t> v;
             return f.FilerListQtrees(u"ZarvoVolume1", v);
         },
         {{"qtree-list", Element("qtrees", Element("qtree-info", Text("qtree", "ZarvoQtree1") +
                                                                     Text("volume", "ZarvoVolume1") +
                                                                     Text("oplocks", "true")))}},
         "qtree-list", E_FAIL,
         [](CFilerControl& f) {
             std::vector<fapi_qtree_info_t> v;
             return f.FilerListQtrees(u"", v);
         }},
        {"FilerListLuns",
         [](CFilerControl& f) {
             std::vector<fapi_lun_info_t> v;
             return f.FilerListLuns(u"", v);
         },
         {{"lun-list-info", Element("luns", lun_info("/vol/v/l"))}}, "lun-list-info", E_FAIL, nullptr},
        {"FilerOfflineLun", [](CFilerControl& f) { return f.FilerOfflineLun(u"/vol/v/q/l"); }, {}, "lun-offline",
         std::nullopt, [](CFilerControl& f) { return f.FilerOfflineLun(u""); }},
        {"FilerDeleteLun", [](CFilerControl& f) { return f.FilerDeleteLun(u"/vol/v/q/l", FALSE); }, {},
         "lun-destroy", std::nullopt, [](CFilerControl& f) { return f.FilerDeleteLun(u"", FALSE); }},
        {"FilerCreateLun",
         [](CFilerControl& f) {
             ULONGLONG actual = 0;
             return f.FilerCreateLun(u"/vol/v/q/l", 104857600, actual);
         },
         {{"lun-create-by-size", Text("actual-size", 104857600)}}, "lun-create-by-size", E_FAIL,
         [](CFilerControl& f) {
             ULONGLONG actual = 0;
             return f.FilerCreateLun(u"", 104857600, actual);
         }},
        {"FilerAssignLun", [](CFilerControl& f) { return f.FilerAssignLun(u"/vol/v/q/l", u"vds_fcp_host"); },
         {{"lun-map", Text("lun-id-assigned", 0)}}, "lun-map", std::nullopt,
         [](CFilerControl& f) { return f.FilerAssignLun(u"/vol/v/q/l", u""); }},
        {"FilerUnassignLun", [](CFilerControl& f) { return f.FilerUnassignLun(u"/vol/v/q/l", u"vds_fcp_host"); }, {},
         "lun-unmap", std::nullopt, [](CFilerControl& f) { return f.FilerUnassignLun(u"", u"vds_fcp_host"); }},
        {"FilerListLunMap",
         [](CFilerControl& f) {
             std::vector<fapi_igroup_info_t> v;
             return f.FilerListLunMap(u"/vol/v/q/l", v);
         },
         {{"lun-map-list-info", igroups("vds_fcp_host")}}, "lun-map-list-info", E_FAIL,
         [](CFilerControl& f) {
             std::vector<fapi_igroup_info_t> v;
             return f.FilerListLunMap(u"", v);
         }},
        {"FilerRenameLun", [](CFilerControl& f) { return f.FilerRenameLun(u"/vol/v/q/new", u"/vol/v/q/old"); }, {},
         "lun-move", std::nullopt, [](CFilerControl& f) { return f.FilerRenameLun(u"/vol/v/q/new", u""); }},
        {"FilerListAdaptersInitiators",
         [](CFilerControl& f) {
             std::vector<fapi_fcp_adapter_initiators_t> v;
             return f.FilerListAdaptersInitiators(nullptr, v);
         },
         {{"fcp-adapter-initiators-list-info",
           Element("fcp-adapters", Element("fcp-adapter-initiators-info", Text("adapter", "0c")))}},
         "fcp-adapter-initiators-list-info", S_OK, nullptr},
        {"FilerListAdapters",
         [](CFilerControl& f) {
             std::vector<fapi_fcp_adapter_info_t> v;
             return f.FilerListAdapters(v);
         },
         {{"fcp-adapter-list-info",
           Element("fcp-config-adapters", Element("fcp-config-adapter-info", Text("adapter", "0c") +
                                                                                Text("state", "ONLINE")))}},
         "fcp-adapter-list-info", S_OK, nullptr},
        {"FilerListIgroups",
         [](CFilerControl& f) {
             std::vector<fapi_igroup_info_t> v;
             return f.FilerListIgroups(v);
         },
         {{"igroup-list-info", igroups("vds_fcp_host")}}, "igroup-list-info", S_OK, nullptr},
        {"FilerCreateIgroup", [](CFilerControl& f) { return f.FilerCreateIgroup(u"vds_fcp_host", 0); }, {},
         "igroup-create", std::nullopt, [](CFilerControl& f) { return f.FilerCreateIgroup(u"", 0); }},
        {"FilerDeleteIgroup", [](CFilerControl& f) { return f.FilerDeleteIgroup(u"vds_fcp_host"); }, {},
         "igroup-destroy", std::nullopt, [](CFilerControl& f) { return f.FilerDeleteIgroup(u""); }},
        {"FilerAddIgroup", [](CFilerControl& f) { return f.FilerAddIgroup(u"vds_fcp_host", u"10:00:00:00:c9:2b:5c:01"); },
         {}, "igroup-add", std::nullopt,
         [](CFilerControl& f) { return f.FilerAddIgroup(u"vds_fcp_host", u""); }},
        {"FilerFileWriteFile", [](CFilerControl& f) { return f.FilerFileWriteFile(u"/vol/vol0/name", u"AB"); },
         {{"file-write-file", Text("length", 8)}}, "file-write-file", E_FAIL, nullptr},
        {"FilerGetLunSerialNumber",
         [](CFilerControl& f) {
             std::string serial;
             return f.FilerGetLunSerialNumber(u"/vol/v/q/l", serial);
         },
         {{"lun-get-serial-number", Text("serial-number", "C4i/aJ5wLd2s")}}, "lun-get-serial-number", std::nullopt,
         [](CFilerControl& f) {
             std::string serial;
             return f.FilerGetLunSerialNumber(u"", serial);
         }},
        {"FilerGetLunSignature",
         [](CFilerControl& f) {
             ULONG signature = 0;
             return f.FilerGetLunSignature(u"/vol/v/q/l", signature);
         },
         {{"lun-read-raw", Text("encoded-data", "eFY0Eg==")}}, "lun-read-raw", std::nullopt,
         [](CFilerControl& f) {
             ULONG signature = 0;
             return f.FilerGetLunSignature(u"", signature);
         }},
        {"FilerGetClusterStatus",
         [](CFilerControl& f) {
             int32_t now = 0;
             bool enabled = false, up = false;
             std::u16string partner;
             return f.FilerGetClusterStatus(now, enabled, up, partner);
         },
         {{"cf-status", Text("current-time", 1234) + Text("is-enabled", "true") +
                            Text("is-interconnect-up", "true") + Text("partner", "filer2")}},
         "cf-status", std::nullopt, nullptr},
    };
    return cases;
}

class FilerControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        control.m_strFilerName = u"filer1";
        control.m_strUserName = u"root";
        control.m_strPassword = u"secret";
        model_test::ClearRecordedEvents();
    }

    void apply(const std::vector<Reply>& replies) {
        for (const Reply& r : replies) appliance.SetReply(r.request, r.outputs);
    }

    MemoryAppliance appliance{"filer1"};
    CFilerControl control;
};

}  // namespace

TEST_F(FilerControlTest, EveryWrapperAnswersSuccessWithoutAnEvent) {
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        apply(c.success);
        const size_t before = appliance.Requests().size();
        EXPECT_EQ(c.call(control), S_OK);
        const auto names = appliance.RequestNames();
        EXPECT_NE(std::find(names.begin() + static_cast<long>(before), names.end(), c.refusedRequest), names.end());
    }
    EXPECT_TRUE(RecordedEvents().empty());
    // One CFiler served every wrapper: the release was asked once.
    EXPECT_EQ(appliance.Requests("system-get-version").size(), 1u);
}

TEST_F(FilerControlTest, AnEmptyRequiredArgumentFailsWithoutARequestOrAnEvent) {
    container_test::TraceCapture trace;
    for (const WrapperCase& c : wrapper_cases()) {
        if (!c.callWithEmpty) continue;
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.callWithEmpty(control), E_FAIL);
        // The trace line names the wrapper that refused.
        EXPECT_TRUE(trace.has(std::string("CFilerControl::") + c.name + "(): empty strings"));
    }
    ULONGLONG unused = 0;
    EXPECT_EQ(control.FilerResizeLun(u"", u"lun", 1 << 30), E_FAIL);
    EXPECT_EQ(control.FilerResizeLun(u"/vol/v/q/l", u"lun", 0), E_FAIL);
    EXPECT_EQ(control.FilerCreateLun(u"", 1, unused), E_FAIL);
    EXPECT_TRUE(appliance.Requests().empty());
    EXPECT_FALSE(control.m_pFiler);
    EXPECT_TRUE(RecordedEvents().empty());
}

TEST_F(FilerControlTest, AnEmptyListIsAFailureOnlyWhereTheWrapperNeedsOne) {
    for (const WrapperCase& c : wrapper_cases()) {
        if (!c.emptyList) continue;
        SCOPED_TRACE(c.name);
        appliance.SetReply(c.refusedRequest, "");
        EXPECT_EQ(c.call(control), *c.emptyList);
    }
    EXPECT_TRUE(RecordedEvents().empty());
}

TEST_F(FilerControlTest, AnApplianceRefusalIsReportedHandedOnAsErrorInformationAndAnsweredWithEFail) {
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        model_test::ClearRecordedEvents();
        apply(c.success);
        appliance.Fail(c.refusedRequest, 13115, std::string("refused by ") + c.name);
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(c.call(control), E_FAIL);

        const auto events = RecordedEvents();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].id, kComErrorEvent);
        ASSERT_EQ(events[0].inserts.size(), 1u);
        EXPECT_NE(events[0].inserts[0].find(std::string("refused by ") + c.name), std::string::npos)
            << events[0].inserts[0];

        IErrorInfo* info = nullptr;
        ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
        ASSERT_NE(info, nullptr);
        BSTR description = nullptr;
        info->GetDescription(&description);
        EXPECT_NE(platform::wide_to_utf8_lossy(description ? description : u"").find("refused by"), std::string::npos);
        SysFreeString(description);
        info->Release();
        appliance.ClearFault(c.refusedRequest);
    }
}

TEST_F(FilerControlTest, WrappersSendTheirFixedRequestValues) {
    appliance.SetReply("lun-create-by-size", Text("actual-size", 1));
    appliance.SetReply("volume-list-info", online_volume("ZarvoVolume1", "offline"));
    appliance.SetReply("file-write-file", Text("length", 8));
    ULONGLONG actual = 0;
    ASSERT_EQ(control.FilerCreateLun(u"/vol/v/q/small", 104857599, actual), S_OK);
    ASSERT_EQ(control.FilerCreateLun(u"/vol/v/q/big", 104857600, actual), S_OK);
    ASSERT_EQ(control.FilerCreateVolume(u"ZarvoVolume1", u"aggr1", u"20m"), S_OK);
    ASSERT_EQ(control.FilerDeleteVolume(u"ZarvoVolume1", FALSE), S_OK);
    ASSERT_EQ(control.FilerAssignLun(u"/vol/v/q/big", u"vds_fcp_host"), S_OK);
    ASSERT_EQ(control.FilerDeleteLun(u"/vol/v/q/big", FALSE), S_OK);
    ASSERT_EQ(control.FilerResizeLun(u"/vol/v/q/big", u"big", 209715200), S_OK);
    ASSERT_EQ(control.FilerCreateIgroup(u"vds_iscsi_host", 1), S_OK);
    ASSERT_EQ(control.FilerDeleteIgroup(u"vds_iscsi_host"), S_OK);
    ASSERT_EQ(control.FilerFileWriteFile(u"/vol/vol0/name", u"AB"), S_OK);
    std::u16string text;
    ASSERT_EQ(control.FilerFileReadFile(u"/vol/vol0/name", text), S_OK);
    std::vector<fapi_aggr_info_t> aggregates;
    control.FilerListAggregates(aggregates);

    const auto creates = appliance.Requests("lun-create-by-size");
    ASSERT_EQ(creates.size(), 2u);
    EXPECT_EQ(creates[0].Child("type"), "image");
    EXPECT_EQ(creates[1].Child("type"), "windows");
    EXPECT_FALSE(creates[1].Has("space-reservation-enabled"));
    EXPECT_EQ(appliance.Requests("volume-create").at(0).Child("space-reserve"), "file");
    // An offline volume is destroyed without being taken offline first.
    EXPECT_TRUE(appliance.Requests("volume-offline").empty());
    EXPECT_EQ(appliance.Requests("volume-destroy").at(0).Child("name"), "ZarvoVolume1");
    EXPECT_FALSE(appliance.Requests("lun-map").at(0).Has("lun-id"));
    EXPECT_FALSE(appliance.Requests("lun-destroy").at(0).Has("force"));
    EXPECT_EQ(appliance.Requests("lun-resize").at(0).Child("force"), "false");
    EXPECT_EQ(appliance.Requests("lun-resize").at(0).Child("size"), "209715200");
    const auto igroupCreate = appliance.Requests("igroup-create").at(0);
    EXPECT_EQ(igroupCreate.Child("initiator-group-type"), "iscsi");
    EXPECT_EQ(igroupCreate.Child("os-type"), "windows");
    EXPECT_EQ(appliance.Requests("igroup-destroy").at(0).Child("force"), "false");
    EXPECT_EQ(appliance.Requests("file-truncate-file").at(0).Child("size"), "0");
    const auto write = appliance.Requests("file-write-file").at(0);
    EXPECT_EQ(write.Child("data"), "00410042");
    EXPECT_EQ(write.Child("offset"), "0");
    EXPECT_EQ(write.Child("overwrite"), "true");
    const auto read = appliance.Requests("file-read-file").at(0);
    EXPECT_EQ(read.Child("length"), "1024");
    EXPECT_EQ(read.Child("offset"), "0");
    EXPECT_EQ(appliance.Requests("aggr-list-info").at(0).Child("verbose"), "true");
}

TEST_F(FilerControlTest, AnOnlineVolumeIsTakenOfflineBeforeItIsDestroyed) {
    appliance.SetReply("volume-list-info", online_volume("ZarvoVolume1"));
    ASSERT_EQ(control.FilerDeleteVolume(u"ZarvoVolume1", FALSE), S_OK);
    const auto names = appliance.RequestNames();
    const std::vector<std::string> tail(names.end() - 3, names.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"volume-list-info", "volume-offline", "volume-destroy"}));
    EXPECT_FALSE(appliance.Requests("volume-offline").at(0).Has("cifs-delay"));
}

TEST_F(FilerControlTest, ResizeRefusalsAreSortedByTheApplianceErrorNumber) {
    struct Case {
        int errorNumber;
        DWORD event;
        std::vector<std::string> inserts;
        HRESULT result;
    };
    const Case cases[] = {
        {9035, 0xC0042507, {"ZarvoLun7", "300"}, VDS_E_NOT_SUPPORTED},
        {28, 0xC0042508, {"ZarvoLun7"}, VDS_E_NOT_ENOUGH_SPACE},
        {9042, 0xC0042509, {"ZarvoLun7"}, VDS_E_NOT_SUPPORTED},
        {13115, kComErrorEvent, {}, static_cast<HRESULT>(0xC0040331)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errorNumber);
        model_test::ClearRecordedEvents();
        appliance.Fail("lun-resize", c.errorNumber, "no");
        EXPECT_EQ(control.FilerResizeLun(u"/vol/ZarvoVolume7/ZarvoQtree7/ZarvoLun7", u"ZarvoLun7", 300ull << 20),
                  c.result);
        const auto events = RecordedEvents();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].id, c.event);
        if (!c.inserts.empty()) {
            EXPECT_EQ(events[0].inserts, c.inserts);
        }
    }
}

TEST_F(FilerControlTest, SilentDeletionsAndAMissingFileStayOutOfTheEventLog) {
    appliance.Fail("volume-destroy", 13040, "busy");
    appliance.Fail("lun-destroy", 9017, "busy");
    appliance.Fail("file-read-file", 2, "No such file");
    std::u16string text = u"kept";
    EXPECT_EQ(control.FilerDeleteVolume(u"ZarvoVolume1", TRUE), E_FAIL);
    EXPECT_EQ(control.FilerDeleteLun(u"/vol/v/q/l", TRUE), E_FAIL);
    EXPECT_EQ(control.FilerFileReadFile(u"/vol/vol0/name", text), E_FAIL);
    EXPECT_EQ(text, u"kept");
    EXPECT_TRUE(RecordedEvents().empty());
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_OK);  // still handed to the caller
    if (info) info->Release();

    // Not silent, the same refusals are reported.
    EXPECT_EQ(control.FilerDeleteLun(u"/vol/v/q/l", FALSE), E_FAIL);
    EXPECT_EQ(RecordedEvents().size(), 1u);
}

TEST_F(FilerControlTest, FileTextIsReadBackDecodedAndAnEmptyFileLeavesTheOutputAlone) {
    std::u16string text = u"kept";
    appliance.SetReply("file-read-file", Text("data", "") + Text("length", 0));
    EXPECT_EQ(control.FilerFileReadFile(u"/vol/vol0/name", text), S_OK);
    EXPECT_EQ(text, u"kept");
    appliance.SetReply("file-read-file", Text("data", "004100E9") + Text("length", 8));
    EXPECT_EQ(control.FilerFileReadFile(u"/vol/vol0/name", text), S_OK);
    EXPECT_EQ(text, u"A\u00e9");
}

TEST_F(FilerControlTest, WritingEmptyTextOnlyTruncatesAndAFailedTruncationIsIgnored) {
    EXPECT_EQ(control.FilerFileWriteFile(u"/vol/vol0/name", u""), S_OK);
    EXPECT_EQ(appliance.Requests("file-truncate-file").size(), 1u);
    EXPECT_TRUE(appliance.Requests("file-write-file").empty());

    appliance.Fail("file-truncate-file", 2, "No such file");
    appliance.SetReply("file-write-file", Text("length", 4));
    EXPECT_EQ(control.FilerFileWriteFile(u"/vol/vol0/name", u"Z"), S_OK);
    EXPECT_EQ(appliance.Requests("file-write-file").size(), 1u);
    EXPECT_TRUE(RecordedEvents().empty());
}

TEST_F(FilerControlTest, WithoutAFilerEveryWrapperFailsAndTheNextCallAsksTheApplianceAgain) {
    appliance.SetUnreachable(10061);
    for (const WrapperCase& c : wrapper_cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(control), E_FAIL);
    }
    EXPECT_FALSE(control.m_pFiler);
    EXPECT_EQ(control.FilerGetApi(), nullptr);
    // Each attempt reported why it could not make the filer: the release could not be read.
    const auto events = RecordedEvents();
    ASSERT_EQ(events.size(), wrapper_cases().size() + 1);
    for (const auto& e : events) EXPECT_EQ(e.id, kComErrorEvent);

    appliance.SetUnreachable(0);
    EXPECT_NE(control.FilerGetApi(), nullptr);
}

TEST_F(FilerControlTest, AReleaseTooOldMakesNoFiler) {
    appliance.SetRelease("7.0.1");
    std::vector<fapi_lun_info_t> luns;
    EXPECT_EQ(control.FilerListLuns(u"", luns), E_FAIL);
    const auto events = RecordedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].inserts.at(0).find("7.0.2.0"), std::string::npos) << events[0].inserts.at(0);
    EXPECT_TRUE(appliance.Requests("lun-list-info").empty());
}

TEST_F(FilerControlTest, GetVersionMakesTheFilerFirstAndAsksAgainForTheAnswer) {
    appliance.SetRelease("7.2.4");
    std::u16string version;
    EXPECT_EQ(control.FilerGetVersion(u"filer1", version), S_OK);
    EXPECT_NE(version.find(u"7.2.4"), std::u16string::npos);
    EXPECT_EQ(appliance.Requests("system-get-version").size(), 2u);
    EXPECT_EQ(control.FilerGetVersion(u"", version), E_FAIL);
}

TEST_F(FilerControlTest, SwitchingToThePartnerTakesEffectWhenTheFilerIsDropped) {
    MemoryAppliance partner("filer2");
    std::vector<fapi_igroup_info_t> groups;
    ASSERT_EQ(control.FilerListIgroups(groups), S_OK);
    control.m_strFilerName = u"filer2";
    ASSERT_EQ(control.FilerListIgroups(groups), S_OK);  // the filer made for filer1 still serves
    EXPECT_TRUE(partner.Requests().empty());
    control.m_pFiler.reset();
    ASSERT_EQ(control.FilerListIgroups(groups), S_OK);
    EXPECT_EQ(partner.RequestNames(), (std::vector<std::string>{"system-get-version", "igroup-list-info"}));
}

TEST_F(FilerControlTest, ValidateConnectionSortsTheFailuresOfSystemGetInfo) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        HRESULT expected;
    };
    const HRESULT unreachable = static_cast<HRESULT>(0xC0042502);
    const HRESULT loginRefused = static_cast<HRESULT>(0xC0042503);
    const Case cases[] = {
        {"passes", [] {}, S_OK},
        {"wrong password", [&] { control.m_strPassword = u"wrong"; }, loginRefused},
        {"unknown host", [&] { control.m_strFilerName = u"nowhere"; }, unreachable},
        {"errno 2", [&] { appliance.SetUnreachable(2); }, unreachable},
        {"timed out", [&] { appliance.SetUnreachable(10060); }, unreachable},
        {"refused", [&] { appliance.SetUnreachable(10061); }, unreachable},
        {"host unreachable", [&] { appliance.SetUnreachable(10065); }, unreachable},
        {"network unreachable", [&] { appliance.SetUnreachable(10051); }, unreachable},
        {"login style refused", [&] { appliance.Fail("system-get-info", 13003, "no"); }, loginRefused},
        {"other failure", [&] { appliance.Fail("system-get-info", 13001, "bad reply"); }, E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        control.m_strFilerName = u"filer1";
        control.m_strPassword = u"secret";
        appliance.SetUnreachable(0);
        appliance.ClearFault("system-get-info");
        c.arrange();
        EXPECT_EQ(control.FilerValidateConnection(), c.expected);
    }
    EXPECT_TRUE(RecordedEvents().empty());
    EXPECT_FALSE(control.m_pFiler);  // validation makes no filer
}

TEST_F(FilerControlTest, ValidateConnectionFillsTheSystemRecordAndDefaultsTheVendor) {
    appliance.SetSystemInfo(Text("system-name", "filer1") + Text("system-serial-number", "3004598") +
                            Text("system-id", "0118052133") + Text("system-model", "ZV3050") + Text("vendor-id", ""));
    FilerSystemInfo info;
    ASSERT_EQ(control.FilerValidateConnection(&info), S_OK);
    EXPECT_EQ(info.systemName, "filer1");
    EXPECT_EQ(info.serialNumber, "3004598");
    EXPECT_EQ(info.systemId, u"0118052133");
    EXPECT_EQ(info.model, u"ZV3050");
    EXPECT_EQ(info.vendorId, u"Korvex");

    appliance.SetSystemInfo(Text("vendor-id", "Other"));
    FilerSystemInfo partial;
    ASSERT_EQ(control.FilerValidateConnection(&partial), S_OK);
    EXPECT_EQ(partial.vendorId, u"Other");
    EXPECT_EQ(partial.serialNumber, "");
    EXPECT_EQ(appliance.Requests("system-get-info").back().user, "root");
}

TEST_F(FilerControlTest, AnExceptionThatIsNoComErrorIsReportedWithItsSourcePosition) {
    const auto explode = [](const model_test::ReceivedRequest&) -> std::string { throw std::runtime_error("broken"); };
    appliance.SetHandler("lun-destroy", explode);
    appliance.SetHandler("lun-resize", explode);
    EXPECT_EQ(control.FilerDeleteLun(u"/vol/v/q/l", TRUE), E_FAIL);  // silence is for appliance refusals only
    EXPECT_EQ(control.FilerResizeLun(u"/vol/v/q/l", u"l", 1ull << 30), E_FAIL);
    const auto events = RecordedEvents();
    ASSERT_EQ(events.size(), 2u);
    for (const auto& e : events) {
        EXPECT_EQ(e.id, 0xC0000BBEu);
        ASSERT_EQ(e.inserts.size(), 2u);
        EXPECT_EQ(e.inserts[0], "filer_control.cpp");
        EXPECT_GT(std::stoi(e.inserts[1]), 0);
    }
}
