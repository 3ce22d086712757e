// LUN attributes, raw data and status queries against the simulated
// appliance: the error numbers that are answers, the disk signature, and the
// raw write that is refused before anything is sent.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>
#include <hostlib/base64.h>

#include <algorithm>
#include <functional>

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

// The buffer holds what the reply decodes to, never more than was asked for:
// a short reply leaves the rest as it was, a long one is cut.
TEST(LunRawData, AReplyOfAnotherLengthFillsOnlyTheBytesAskedFor) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2:"});
    auto filer = create_for(sim);
    const auto reply_of = [&](size_t bytes) {
        const std::vector<unsigned char> data(bytes, 0x5A);
        std::string encoded(b64_encoded_size(static_cast<uint32_t>(bytes)), '\0');
        encoded.resize(b64_encode(data.data(), data.size(), encoded.data(), encoded.size()) - 1);
        sim.fault(R"({"kind": "body", "request": "lun-read-raw", "body": "<?xml version=\"1.0\"?><korvex version=\"1.1\">)"
                  R"(<results status=\"passed\"><encoded-data>)" + encoded + R"(</encoded-data></results></korvex>"})");
    };
    std::vector<unsigned char> buffer(520, 0xEE);
    reply_of(510);
    filer->fapi_lun_read_raw(kUnsignedLun, 0, 512, buffer.data());
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 510, 0x5A), 510);
    EXPECT_EQ(std::count(buffer.begin() + 510, buffer.end(), 0xEE), 10);

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    reply_of(600);
    filer->fapi_lun_read_raw(kUnsignedLun, 0, 512, buffer.data());
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 512, 0x5A), 512);
    EXPECT_EQ(std::count(buffer.begin() + 512, buffer.end(), 0xEE), 8);
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

// Each request's own message, with its inserts in their places.
TEST(LunStatus, FailedRepliesRaiseTheirOwnMessages) {
    const e2e::Appliance sim({"--release", "Zarvo Release 7.2:"});
    auto filer = create_for(sim);
    const std::u16string at = wide(sim.address());
    const failure_case cases[] = {
        {"lun-get-space-reservation-info", 0xC0040341,
         u"Failed to get space reservation status for the lun '/vol/vol1/q1/lun1' on the filer '" + at +
             u"' failed. Error code: 13061. Error description: gone.\r\n",
         [&] { bool b; filer->fapi_lun_get_space_reservation_info(kUnsignedLun, b); }},
        {"lun-set-space-reservation-info", 0xC0040342,
         u"Failed to set or clear space reservation for the lun '/vol/vol1/q1/lun1' on the filer '" + at +
             u"' failed. Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_lun_set_space_reservation_info(kUnsignedLun, true); }},
        {"file-get-space-reservation-info", 0xC0040343,
         u"Failed to get space reservation status for the file '/vol/vol1/f' on the filer '" + at +
             u"' failed. Error code: 13061. Error description: gone.\r\n",
         [&] { bool o, f; filer->fapi_file_get_space_reservation_info(u"/vol/vol1/f", o, f); }},
        {"file-set-space-reservation-info", 0xC0040344,
         u"Failed to set or clear space reservation flags for the lun '/vol/vol1/f' on the filer '" + at +
             u"' failed. Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_file_set_space_reservation_info(u"/vol/vol1/f", true, true); }},
        {"lun-set-attribute", 0xC004033C,
         u"The attempt to set value 'blue' to the named attribute 'color' for the lun '/vol/vol1/q1/lun1' on the "
         u"filer '" + at + u"' failed. Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_lun_set_attribute(kUnsignedLun, u"color", u"blue"); }},
        {"lun-write-raw", 0xC004033E,
         u"The attempt to write '4' bytes starting with '4096' offset to the lun '/vol/vol1/q1/lun1' on the filer '" +
             at + u"' failed. Error code: 13061. Error description: gone.\r\n",
         [&] { filer->fapi_lun_write_raw(kUnsignedLun, 4096, 4, "abcd"); }},
        {"lun-restore-status", 0xC004033F,
         u"The attempt to get restore status for the lun '/vol/vol1/q1/lun1' on the filer '" + at +
             u"' failed. Error code: 13061. Error description: gone.\r\n",
         [&] { bool b; filer->fapi_lun_restore_status(kUnsignedLun, b); }},
        {"lun-snap-usage-list-info", 0xC004031A,
         u"FAPI: An attempt to get snapshot status for a snapshot (nightly.0) on the volume (vol1) of the filer (" +
             at + u") failed. Error description: gone\r\n",
         [&] { std::vector<fapi_lun_snap_usage_info_t> u; filer->fapi_lun_snap_usage_list_info(u"vol1", u"nightly.0", u); }},
        {"lun-initiator-logged-in", 0xC004037F,
         u"FAPI: An attempt to determine if the initiator 'iqn.h2' is logged in on the filer " + at +
             u" has failed . Error description: gone\r\n",
         [&] { filer->fapi_lun_initiator_logged_in(u"iqn.h2"); }},
        {"lun-port-has-scsi-reservations", 0xC00403C5,
         u"An attempt to get scsi reservations for the LUN /vol/vol1/q1/lun1 for initiator 21:00:00:e0:8b:05:05:04 "
         u"failed on the filer " + at + u". Error description: gone\r\n",
         [&] { filer->fapi_is_port_has_scsi_reservations(kUnsignedLun, u"21:00:00:e0:8b:05:05:04"); }},
        {"lun-has-scsi-reservations", 0xC00403C6,
         u"An attempt to get scsi reservations for the LUN /vol/vol1/q1/lun1 failed on the filer " + at +
             u". Error description: gone\r\n",
         [&] { dynamic_cast<CFilerImpl&>(*filer).fapi_is_lun_has_reservations(kUnsignedLun); }},
        {"lun-get-inquiry-info", 0xC00403BD,
         u"An attempt to get lun inquiry info failed with Error code: 13005. Error description: gone.\r\n",
         [&] { std::u16string v, p, r; filer->fapi_lun_get_inquiry_info(u"ig1", v, p, r); }, 13005},
    };
    expect_failures(sim, cases, "gone");
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
