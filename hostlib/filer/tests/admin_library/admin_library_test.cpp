// The filer API's administration-library path with the library missing, with
// this platform's library (which answers "not implemented") and with a fake
// that answers. Results the library hands out must be freed (the leak checker
// of the asan build watches that).
#include <gtest/gtest.h>

#include <filer/filer_classes.h>
#include <hostlib/com_error.h>
#include <platform/kvxadmin.h>
#include <platform/errors.h>
#include <platform/library.h>
#include <platform/text.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

const WCHAR* const kFiler = u"zarvo-a";
const WCHAR* const kLun = u"/vol/vol1/lun0";

std::string utf8(const std::u16string& text) { return platform::wide_to_utf8_lossy(text); }

// Points the platform's table at one file for "kvxadmin.dll" while it lives.
class library_choice {
public:
    explicit library_choice(const char* file) { setenv("SANPROV_LIB_KVXADMIN", file, 1); }
    ~library_choice() { unsetenv("SANPROV_LIB_KVXADMIN"); }
};

// The HRESULT and description an action raises; 0 when it raises nothing.
std::pair<uint32_t, std::string> raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const _com_error& error) {
        return {static_cast<uint32_t>(error.Error()), utf8(error.Description())};
    }
    return {0, ""};
}

// Every operation that reaches the library: the forms 7.0.2 up to 7.1 still
// has, and the administration-library operations themselves.
struct library_call {
    const char* what;
    std::function<void(CFilerPellion1&)> call;
};

const library_call kCalls[] = {
    {"snapshot info", [](CFilerPellion1& f) { std::array<BYTE, 16> id{}; uint64_t a = 0, b = 0, c = 0; f.get_snapshot_info(kLun, id, a, b, c); }},
    {"get attribute", [](CFilerPellion1& f) { std::u16string v; f.get_lun_attribute(kLun, u"owner", v); }},
    {"set attribute", [](CFilerPellion1& f) { f.rpc_lun_set_attribute(kLun, u"owner", u"me"); }},
    {"max size", [](CFilerPellion1& f) { f.rpc_lun_max_size(kLun, true); }},
    {"event", [](CFilerPellion1& f) { f.rpc_ems_dorv(7, u"src", u"1.0", u"cat", u"text", 3, true); }},
    {"file restore", [](CFilerPellion1& f) { f.rpc_file_restore(kLun, u"nightly.0"); }},
    {"restore status", [](CFilerPellion1& f) { bool b = false; f.rpc_lun_wopa_status(kLun, b); }},
    {"LUN exists", [](CFilerPellion1& f) { f.lun_exists(kLun); }},
    {"LUN size", [](CFilerPellion1& f) { f.get_lun_size(kLun); }},
    {"raw read", [](CFilerPellion1& f) { char b[4]; f.rpc_lun_raw_read(kLun, 440, 4, b); }},
    {"raw write", [](CFilerPellion1& f) { f.write_lun_raw(kLun, 440, 4, "abcd"); }},
    {"logged in", [](CFilerPellion1& f) { f.is_initiator_logged_in(u"iqn.h2"); }},
    {"reverse map", [](CFilerPellion1& f) { std::u16string p; f.rpc_lun_reverse_map(u"iqn.h2", 3, p); }},
    {"reservations", [](CFilerPellion1& f) { f.rpc_lun_has_reservations(kLun); }},
};

TEST(AdministrationLibrary, AMissingLibraryIsRaisedAsModuleNotFound) {
    library_choice missing("/nonexistent/libsanprov_kvxadmin.so");
    CFilerPellion1 filer(kFiler, u"Zarvo Release 7.0.3");
    for (const auto& c : kCalls) {
        SCOPED_TRACE(c.what);
        const auto [hr, text] = raised([&] { c.call(filer); });
        EXPECT_EQ(hr, 0x8007007Eu) << std::hex << hr;
        EXPECT_EQ(text, "The specified module could not be found.\r\n");
    }
}

// This platform's library answers no question: every call fails with its
// status, and no answer (no attribute, no LUN, size 0) is made of it.
TEST(AdministrationLibrary, ThePlatformsLibraryFailsEveryCallAsNotImplemented) {
    library_choice platform_library(KVXADMIN_LIBRARY);
    CFilerPellion1 filer(kFiler, u"Zarvo Release 7.0.3");
    for (const auto& c : kCalls) {
        SCOPED_TRACE(c.what);
        const auto [hr, text] = raised([&] { c.call(filer); });
        EXPECT_EQ(hr, 0xD0000002u) << std::hex << hr;
        EXPECT_EQ(text, "{Not Implemented}\r\nThe requested operation is not implemented.\r\n");
    }
    std::u16string value = u"kept";
    EXPECT_NE(raised([&] { filer.get_lun_attribute(kLun, u"owner", value); }).first, 0u);
    EXPECT_EQ(value, u"kept");
}

// The client's administration-library transport gets an error code and no
// reply, which it turns into a failed request.
TEST(AdministrationLibrary, ThePlatformsLibraryCarriesNoManagementApiRequest) {
    HMODULE library = LoadLibraryA(KVXADMIN_LIBRARY);
    ASSERT_NE(library, nullptr);
    const auto invoke = platform::get_proc<FapiInvoke_fn>(library, "FapiInvoke");
    ASSERT_NE(invoke, nullptr);
    WCHAR* reply = reinterpret_cast<WCHAR*>(&library);
    EXPECT_EQ(invoke(kFiler, u"<korvex><system-get-version/></korvex>", &reply), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(reply, nullptr);
    FreeLibrary(library);
}

// Base forms that later releases replace are called by their qualified name.

// The fake's script and record, reached through the same loaded library.
class FakeLibrary : public ::testing::Test {
protected:
    FakeLibrary() : choice_(KVXADMIN_FAKE), module_(LoadLibraryA(KVXADMIN_FAKE)) {}
    ~FakeLibrary() override { FreeLibrary(module_); }
    void SetUp() override {
        ASSERT_NE(module_, nullptr);
        proc<void (*)()>("kvxfake_reset")();
    }

    template <typename Fn>
    Fn proc(const char* name) const {
        return platform::get_proc<Fn>(module_, name);
    }
    void set_status(const char* entry, DWORD status) const {
        proc<void (*)(const char*, DWORD)>("kvxfake_set_status")(entry, status);
    }
    void set_value(ULONGLONG value) const { proc<void (*)(ULONGLONG)>("kvxfake_set_value")(value); }
    void set_record_count(DWORD count) const { proc<void (*)(DWORD)>("kvxfake_set_record_count")(count); }
    void set_records_missing(bool missing) const { proc<void (*)(bool)>("kvxfake_set_records_missing")(missing); }
    std::string last_call() const { return utf8(proc<const WCHAR* (*)()>("kvxfake_last_call")()); }
    std::string last_data() const {
        DWORD length = 0;
        const BYTE* data = proc<const BYTE* (*)(DWORD*)>("kvxfake_last_data")(&length);
        return std::string(reinterpret_cast<const char*>(data), length);
    }

    library_choice choice_;
    HMODULE module_;
    CFilerPellion1 filer_{kFiler, u"Zarvo Release 7.0.3"};
};

TEST_F(FakeLibrary, AttributeIsTheRecordsThirdTextAndAMissingOneIsFalse) {
    std::u16string value = u"old";
    EXPECT_TRUE(filer_.get_lun_attribute(kLun, u"owner", value));
    EXPECT_EQ(value, u"value of owner");
    EXPECT_EQ(last_call(), "KvxNetLUNGetAttribute|zarvo-a|/vol/vol1/lun0|owner");

    set_status("KvxNetLUNGetAttribute", 0xC000000D);
    value = u"old";
    EXPECT_FALSE(filer_.get_lun_attribute(kLun, u"owner", value));
    EXPECT_EQ(value, u"");

    // Any other status is a failure, not an answer.
    set_status("KvxNetLUNGetAttribute", 0xC0000022);
    value = u"old";
    EXPECT_EQ(raised([&] { filer_.get_lun_attribute(kLun, u"owner", value); }).first, 0xD0000022u);
    EXPECT_EQ(value, u"old");
}

TEST_F(FakeLibrary, ScalarAnswersAndTheirRules) {
    set_value(1000);
    uint64_t without = 1, with = 1;
    filer_.CFilerImpl::get_lun_max_size(kLun, without, with);
    EXPECT_EQ(without, 1000u);
    EXPECT_EQ(with, 500u);
    EXPECT_EQ(last_call(), "KvxNetLUNMaxSize|zarvo-a|/vol/vol1/lun0|1");
    EXPECT_TRUE(filer_.CFilerImpl::volume_has_free_space(u"vol1"));
    EXPECT_EQ(last_call(), "KvxNetLUNMaxSize|zarvo-a|/vol/vol1|0");
    EXPECT_EQ(filer_.get_lun_size(kLun), 1000u);

    // A file type above 0 is a LUN; reservations count only when exactly 1.
    const struct {
        ULONGLONG value;
        bool exists, reserved, logged_in;
    } rules[] = {{0, false, false, false}, {1, true, true, true}, {2, true, false, true}};
    for (const auto& r : rules) {
        set_value(r.value);
        EXPECT_EQ(filer_.rpc_lun_file_type(kLun), r.exists) << r.value;
        EXPECT_EQ(filer_.rpc_lun_has_reservations(kLun), r.reserved) << r.value;
        EXPECT_EQ(filer_.is_initiator_logged_in(u"iqn.h2"), r.logged_in) << r.value;
    }
    // On 7.0.2 up to 7.1 the size and the LUN's existence still come from the library.
    set_value(0);
    EXPECT_FALSE(filer_.lun_exists(kLun));
    EXPECT_EQ(last_call(), "KvxNetLUNFileType|zarvo-a|/vol/vol1/lun0");

    const fapi_wwn_t wwn = {0x21, 0x00, 0x00, 0xe0, 0x8b, 0x05, 0x05, 0x04};
    filer_.is_initiator_logged_in_a(wwn);
    EXPECT_EQ(last_call(), "KvxNetLUNInitiatorLoggedIn|zarvo-a|21:00:00:e0:8b:05:05:04");
}

TEST_F(FakeLibrary, SnapshotInfoIsCopiedOutOnlyOnSuccess) {
    set_value(11);
    std::array<BYTE, 16> id{};
    uint64_t a = 0, b = 0, c = 0;
    filer_.get_snapshot_info(u"/vol/vol1/.snapshot/nightly.0", id, a, b, c);
    EXPECT_EQ(id[0], 1);
    EXPECT_EQ(id[15], 16);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(11u, 22u, 33u));

    set_status("KvxNetGetSnapInfo", 0xC0000034);
    id.fill(0xEE);
    EXPECT_EQ(raised([&] { filer_.get_snapshot_info(u"/vol/vol1", id, a, b, c); }).first, 0xD0000034u);
    EXPECT_EQ(id[0], 0xEE);
    EXPECT_EQ(a, 11u);
}

TEST_F(FakeLibrary, RawReadCopiesWhatTheBlockHoldsAndWriteSendsEveryByte) {
    unsigned char buffer[6] = {0, 0, 0, 0, 0xAA, 0xAA};
    filer_.rpc_lun_raw_read(kLun, 440, 4, buffer);
    EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + 6), (std::vector<unsigned char>{184, 185, 186, 187, 0xAA, 0xAA}));

    // A block shorter than asked for gives its bytes; the rest stays.
    set_value(2);
    unsigned char short_buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    filer_.rpc_lun_raw_read(kLun, 0, 4, short_buffer);
    EXPECT_EQ(std::vector<unsigned char>(short_buffer, short_buffer + 4), (std::vector<unsigned char>{0, 1, 0xAA, 0xAA}));

    const char data[4] = {'a', '\0', 'c', 'd'};
    filer_.write_lun_raw(kLun, 440, 4, data);
    EXPECT_EQ(last_call(), "KvxNetLUNRawWrite|zarvo-a|/vol/vol1/lun0|440|4");
    EXPECT_EQ(last_data(), std::string(data, 4));
}

TEST_F(FakeLibrary, RestoreEventAndReverseMap) {
    set_status("KvxNetFileRestore", 0xC0000001);
    const auto [hr, text] = raised([&] { filer_.CFilerImpl::restore_file_from_snapshot(kLun, u"nightly.0"); });
    EXPECT_EQ(hr, 0xC0040281u);
    EXPECT_EQ(text, "Failed to start Revantis operation.\r\n");
    EXPECT_EQ(last_call(), "KvxNetFileRestore|zarvo-a|/vol/vol1/lun0|nightly.0|<null>");

    filer_.CFilerImpl::send_ems_event(u"host1", 4097, u"sanprov", u"1.0", u"LUN", u"created", 6, true);
    EXPECT_EQ(last_call(), "KvxNetEMSDorv|zarvo-a|4097|6|1|sanprov|1.0|LUN|created");

    std::u16string path = u"unchanged";
    filer_.CFilerImpl::lun_reverse_map(u"iqn.h2", 7, path);
    EXPECT_EQ(path, u"/vol/vol1/lun7");
    set_record_count(0);
    path = u"unchanged";
    filer_.CFilerImpl::lun_reverse_map(u"iqn.h2", 7, path);
    EXPECT_EQ(path, u"unchanged");
}

// A list whose count has no array behind it holds no record: nothing is read from it.
TEST_F(FakeLibrary, ACountWithoutRecordsIsAnEmptyList) {
    set_records_missing(true);
    std::u16string path = u"unchanged";
    filer_.CFilerImpl::lun_reverse_map(u"iqn.h2", 7, path);
    EXPECT_EQ(path, u"unchanged");
    std::u16string value = u"old";
    filer_.get_lun_attribute(kLun, u"owner", value);
    EXPECT_EQ(value, u"");
}

}  // namespace
