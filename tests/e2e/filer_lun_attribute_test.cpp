// LUN attributes, raw data and status queries against the simulated
// appliance: the error numbers that are answers, the disk signature, and the
// raw write that is refused before anything is sent.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>

#include "fapi_test_support.h"
#include "filer_sim_support.h"

namespace {

using namespace filer_e2e;

const WCHAR* const kSignedLun = u"/vol/vol1/q1/lun0";    // bytes 440..443 hold 4d 3c 2b 1a
const WCHAR* const kUnsignedLun = u"/vol/vol1/q1/lun1";  // no data: zero bytes, attribute "owner"

TEST(LunAttributes, AMissingAttributeIsFalseUnderEitherErrorNumberAndOtherFailuresRaise) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    std::u16string value = u"old";
    EXPECT_TRUE(filer->get_lun_attribute(kUnsignedLun, u"owner", value));
    EXPECT_EQ(value, u"sql01");

    for (const char* errno_form : {"9011", "13115"}) {
        SCOPED_TRACE(errno_form);
        sim.set(std::string(R"({"quirks/missing-attribute-errno": )") + errno_form + "}");
        value = u"old";
        EXPECT_FALSE(filer->get_lun_attribute(kUnsignedLun, u"color", value));
        EXPECT_EQ(value, u"");
    }
    // 9017 (no such LUN) is a failure.
    expect_com_error_prefix(0xC004033B,
                            u"The attempt to get the named attribute 'owner' for the lun '/vol/vol1/q1/nolun' on the "
                            u"filer '" + wide(sim.address()) + u"' failed. Error code: 9017. Error description: ",
                            [&] { filer->get_lun_attribute(u"/vol/vol1/q1/nolun", u"owner", value); });

    filer->set_lun_attribute(kUnsignedLun, u"color", u"blue");
    EXPECT_TRUE(filer->fapi_lun_get_attribute(kUnsignedLun, u"color", value));
    EXPECT_EQ(value, u"blue");
}

TEST(LunAttributes, APassedReplyWithoutAValueIsAnEmptyValue) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    sim.fault(R"({"kind": "body", "request": "lun-get-attribute", "body": "<?xml version=\"1.0\"?><korvex version=\"1.1\"><results status=\"passed\"/></korvex>"})");
    std::u16string value = u"old";
    EXPECT_TRUE(filer->fapi_lun_get_attribute(kUnsignedLun, u"owner", value));
    EXPECT_EQ(value, u"");
}

TEST(LunRawData, TheDiskSignatureIsReadFromOffset440AndAZeroOneLeavesTheCallersValue) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.0.3:"});  // 7.0.2 up to 7.1 reads through the request too
    auto filer = create_for(sim);
    int32_t signature = 0;
    filer->get_lun_signature(kSignedLun, signature);
    EXPECT_EQ(static_cast<uint32_t>(signature), 0x1A2B3C4Du);
    const xml_node request = request_element(last_body(sim));
    EXPECT_EQ(request.name, "lun-read-raw");

    signature = 77;
    filer->get_lun_signature(kUnsignedLun, signature);
    EXPECT_EQ(signature, 77);
}

TEST(LunRawData, WrittenBytesReadBackAndAnOversizedWriteIsRefusedBeforeSending) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2:"});
    auto filer = create_for(sim);
    filer->set_lun_signature(kUnsignedLun, 0x01020304);
    int32_t signature = 0;
    filer->get_lun_signature(kUnsignedLun, signature);
    EXPECT_EQ(signature, 0x01020304);

    const unsigned char data[5] = {0, 0xFF, 'z', 0, 1};
    filer->fapi_lun_write_raw(kUnsignedLun, 1000, 5, data);
    unsigned char back[7] = {9, 9, 9, 9, 9, 9, 9};
    filer->fapi_lun_read_raw(kUnsignedLun, 1000, 5, back);
    EXPECT_EQ(std::vector<unsigned char>(back, back + 7), (std::vector<unsigned char>{0, 0xFF, 'z', 0, 1, 9, 9}));

    const size_t before = request_count(sim);
    try {
        filer->fapi_lun_write_raw(kUnsignedLun, 0, 1431655766u, data);
        ADD_FAILURE() << "an oversized write was not refused";
    } catch (const _com_error& error) {
        EXPECT_EQ(static_cast<uint32_t>(error.Error()), 0x80070057u);
    }
    EXPECT_EQ(request_count(sim), before);
}

TEST(LunRawData, AFailedReadNamesLengthOffsetAndLun) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2:"});
    auto filer = create_for(sim);
    char buffer[8];
    expect_com_error(0xC004033D,
                     u"The attempt to read '8' bytes starting with '21474836480' offset from the lun '/vol/vol1/q1/lun1' "
                     u"on the filer '" + wide(sim.address()) + u"' failed. Error code: 22. Error description: Offset 21474836480 "
                     u"and length 8 reach beyond the end of the LUN (10737418240 bytes).\r\n",
                     [&] { filer->fapi_lun_read_raw(kUnsignedLun, 21474836480ull, 8, buffer); });
}

TEST(LunStatus, ReservationRestoreCloneAndLoginQueries) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.1:"});
    auto filer = create_for(sim);
    filer->set_space_reservation(kUnsignedLun, true, false);
    EXPECT_FALSE(filer->get_space_reservation(kUnsignedLun, true));
    filer->set_space_reservation(kUnsignedLun, true, true);
    EXPECT_TRUE(filer->get_space_reservation(kUnsignedLun, true));

    bool running = true;
    filer->get_lun_restore_status(kUnsignedLun, running);
    EXPECT_FALSE(running);
    sim.set(R"({"luns/1/restore-running": true})");
    filer->get_lun_restore_status(kUnsignedLun, running);
    EXPECT_TRUE(running);

    // A failed clone status list is no answer and leaves the list alone.
    std::vector<fapi_lun_clone_status_info_t> statuses(2);
    fail_next(sim, "lun-clone-status-list-info", 13115, "bad");
    filer->fapi_lun_clone_status_list_info(nullptr, statuses);
    EXPECT_EQ(statuses.size(), 2u);
    sim.set(R"({"luns/1/clone-status": {"blocks-completed": 10, "blocks-total": 40}})");
    filer->fapi_lun_clone_status_list_info(nullptr, statuses);
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_EQ(statuses[2].path, kUnsignedLun);
    EXPECT_EQ(statuses[2].blocks_completed, 10);
    EXPECT_EQ(statuses[2].blocks_total, 40);
    // ...which holds the LUN's space even with its own reservation off.
    filer->set_space_reservation(kUnsignedLun, true, false);
    EXPECT_TRUE(filer->get_space_reservation(kUnsignedLun, true));

    EXPECT_TRUE(filer->is_initiator_logged_in(u"iqn.1991-05.com.microsoft:host2.example.com"));
    EXPECT_FALSE(filer->is_initiator_logged_in(u"iqn.1991-05.com.microsoft:nobody"));
}

}  // namespace
