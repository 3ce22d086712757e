// The composite operations over the LUN, mapping and volume requests, with
// those requests answered by a script: what each composite makes of the
// answers, and which requests it asks.
#include <gtest/gtest.h>

#include <filer/filer_classes.h>
#include <korvex/results.h>

#include <functional>

#include "fapi_test_support.h"

namespace {

class scripted_filer : public CVintrel {
public:
    scripted_filer() : CVintrel(u"zarvo-a", u"Zarvo Release 7.2") {}

    std::vector<fapi_volume_info_t> volumes;
    std::vector<fapi_lun_info_t> luns;
    int32_t lun_list_errno = 0;  // a failed LUN list with this error number
    std::vector<fapi_igroup_info_t> maps;
    std::u16string refused_unmap;
    bool lun_reserved = false;
    std::vector<fapi_lun_clone_status_info_t> clones;
    std::pair<bool, bool> file_flags{false, false};
    std::vector<std::string> asked;  // every scripted request, with its arguments

    void fapi_volume_list_info(std::vector<fapi_volume_info_t>& out) override {
        asked.push_back("volume-list-info");
        out = volumes;
    }
    void fapi_lun_list_info(const WCHAR* path, std::vector<fapi_lun_info_t>& out,
                            owned_ptr<fapi_error_t>* error) override {
        asked.push_back("lun-list-info " + to_utf8(path));
        ElemHandlePtr reply(lun_list_errno ? kx_results_make("failed", "No such LUN exists", lun_list_errno)
                                           : kx_results_make("passed", nullptr, -1));
        owned_ptr<fapi_error_t> outcome(new fapi_lun_list_info_error_t(reply.get(), get_filer_name(), path));
        if (error)
            error->reset(outcome.release());
        else
            outcome->raise();
        if (!lun_list_errno) out = luns;
    }
    void fapi_lun_map_list_info(const WCHAR*, std::vector<fapi_igroup_info_t>& out) override { out = maps; }
    void fapi_lun_unmap(const WCHAR* path, const WCHAR* igroup) override {
        asked.push_back("lun-unmap " + to_utf8(path) + " " + to_utf8(igroup));
        if (refused_unmap == igroup) refuse();
    }
    void fapi_volume_set_option(const WCHAR*, const char* name, const char* value) override {
        asked.push_back(std::string("volume-set-option ") + name + "=" + value);
    }
    void fapi_lun_get_space_reservation_info(const WCHAR*, bool& enabled) override {
        asked.push_back("lun-get-space-reservation-info");
        enabled = lun_reserved;
    }
    void fapi_lun_clone_status_list_info(const WCHAR*, std::vector<fapi_lun_clone_status_info_t>& out) override {
        asked.push_back("lun-clone-status-list-info");
        out.insert(out.end(), clones.begin(), clones.end());
    }
    void fapi_file_get_space_reservation_info(const WCHAR*, bool& overwrite, bool& fill) override {
        std::tie(overwrite, fill) = file_flags;
    }
    void fapi_igroup_lookup_lun(const WCHAR* initiator, int32_t lun_id, std::u16string& path) override {
        path = u"/vol/vol1/lun" + std::u16string(1, static_cast<char16_t>(u'0' + lun_id)) + u" for " + initiator;
    }

private:
    [[noreturn]] static void refuse() { throw _com_error(static_cast<HRESULT>(0xC0040336)); }
};

TEST(CompositeOperations, AVolumeIsOnlineWhenListedOnlineByNameWithoutRegardToCase) {
    scripted_filer filer;
    filer.volumes = {{u"VOL1", 3, u"", 0}, {u"vol2", 2, u"", 0}};
    EXPECT_TRUE(filer.is_volume_online(u"vol1"));
    EXPECT_FALSE(filer.is_volume_online(u"vol2"));  // offline
    EXPECT_FALSE(filer.is_volume_online(u"vol3"));
    EXPECT_EQ(filer.asked.size(), 3u);
}

TEST(CompositeOperations, OneListedLunAnswersAndNoneGivesTheEmptyAnswer) {
    scripted_filer filer;
    fapi_lun_info_t lun;
    lun.path = u"/vol/vol1/lun0";
    lun.backing_snapshot = u"nightly.0";
    lun.size = 1 << 30;
    lun.online = true;
    filer.luns = {lun};
    std::u16string snapshot = u"old";
    filer.get_lun_backing_snapshot(u"/vol/vol1/lun0", snapshot);
    EXPECT_EQ(snapshot, u"nightly.0");
    EXPECT_EQ(filer.get_lun_size(u"/vol/vol1/lun0"), 1u << 30);
    EXPECT_TRUE(filer.is_lun_online(u"/vol/vol1/lun0"));
    EXPECT_EQ(filer.asked.back(), "lun-list-info /vol/vol1/lun0");

    filer.luns.clear();
    filer.get_lun_backing_snapshot(u"/vol/vol1/lun0", snapshot);
    EXPECT_EQ(snapshot, u"");
    EXPECT_EQ(filer.get_lun_size(u"/vol/vol1/lun0"), 0u);
    EXPECT_FALSE(filer.is_lun_online(u"/vol/vol1/lun0"));
}

// 9017 says the LUN does not exist; any other failure is a failure.
TEST(CompositeOperations, ALunExistsUnlessTheListSaysNoSuchLun) {
    scripted_filer filer;
    EXPECT_TRUE(filer.lun_exists(u"/vol/vol1/lun0"));
    filer.lun_list_errno = 9017;
    EXPECT_FALSE(filer.lun_exists(u"/vol/vol1/lun0"));
    filer.lun_list_errno = 13001;
    expect_com_error(0xC004032E,
                     u"An attempt to obtain lun info for the lun '/vol/vol1/lun0' on the filer 'zarvo-a' failed. "
                     u"Error code: 13001. Error description: No such LUN exists.\r\n",
                     [&] { filer.lun_exists(u"/vol/vol1/lun0"); });
}

TEST(CompositeOperations, UnmappingFromEveryGroupStopsAtTheFirstRefusal) {
    scripted_filer filer;
    filer.maps.resize(3);
    filer.maps[0].name = u"ig_a";
    filer.maps[1].name = u"ig_b";
    filer.maps[2].name = u"ig_c";
    filer.unmap_lun_from_all_igroups(u"/vol/vol1/lun0");
    EXPECT_EQ(filer.asked, (std::vector<std::string>{"lun-unmap /vol/vol1/lun0 ig_a", "lun-unmap /vol/vol1/lun0 ig_b",
                                                     "lun-unmap /vol/vol1/lun0 ig_c"}));
    filer.asked.clear();
    filer.refused_unmap = u"ig_b";
    EXPECT_THROW(filer.unmap_lun_from_all_igroups(u"/vol/vol1/lun0"), _com_error);
    EXPECT_EQ(filer.asked.size(), 2u);
}

TEST(CompositeOperations, LanguageOptionsAreSetOnlyWhereTheirFlagsSaySo) {
    const struct {
        int32_t create, convert, nosnapdir;
        std::vector<std::string> options;
    } cases[] = {
        {0, 0, 0, {"volume-set-option create_ucode=on", "volume-set-option convert_ucode=on"}},
        {1, 1, 1, {"volume-set-option nosnapdir=off"}},
        {1, 0, 0, {"volume-set-option convert_ucode=on"}},
    };
    for (const auto& c : cases) {
        scripted_filer filer;
        filer.set_volume_language_options(u"vol1", c.create, c.convert, c.nosnapdir);
        EXPECT_EQ(filer.asked, c.options);
    }
}

// From 7.1 a clone in progress holds a LUN's space too; a file needs both of its flags.
TEST(CompositeOperations, SpaceReservationOfLunsAndFiles) {
    scripted_filer filer;
    filer.lun_reserved = true;
    EXPECT_TRUE(filer.get_space_reservation(u"/vol/vol1/lun0", true));
    EXPECT_EQ(filer.asked, std::vector<std::string>{"lun-get-space-reservation-info"});
    filer.lun_reserved = false;
    EXPECT_FALSE(filer.get_space_reservation(u"/vol/vol1/lun0", true));
    filer.clones.resize(1);
    EXPECT_TRUE(filer.get_space_reservation(u"/vol/vol1/lun0", true));

    filer.file_flags = {true, false};
    EXPECT_FALSE(filer.get_space_reservation(u"/vol/vol1/file", false));
    filer.file_flags = {true, true};
    EXPECT_TRUE(filer.get_space_reservation(u"/vol/vol1/file", false));
}

TEST(CompositeOperations, FromRelease7TheLunAtAnIdIsLookedUpByInitiator) {
    scripted_filer filer;
    std::u16string path;
    filer.lun_reverse_map(u"iqn.h2", 3, path);
    EXPECT_EQ(path, u"/vol/vol1/lun3 for iqn.h2");
}

}  // namespace

TEST(WwnText, EightBytesInMemoryOrderLowerCaseColonSeparated) {
    const fapi_wwn_t wwn{0x50, 0x0a, 0x09, 0x81, 0x86, 0xE7, 0x00, 0xFF};
    EXPECT_EQ(wwn_to_string(wwn), u"50:0a:09:81:86:e7:00:ff");
    const fapi_wwn_t zero{};
    EXPECT_EQ(wwn_to_string(zero), u"00:00:00:00:00:00:00:00");
}
