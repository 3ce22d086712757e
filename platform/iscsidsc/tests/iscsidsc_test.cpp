// The iSCSI discovery library as a caller sees it: loaded by its Windows name,
// over a name file and a state root of the test's own.
#include <platform/errors.h>
#include <platform/iscsidsc.h>
#include <platform/library.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class IscsiDiscoveryLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/iscsidsc-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        ::setenv("SANPROV_ROOT", root_.c_str(), 1);
        ::setenv("SANPROV_ISCSI_INITIATOR_NAME_FILE", (root_ / "initiatorname.iscsi").c_str(), 1);
        ::setenv("SANPROV_LIB_ISCSIDSC", ISCSIDSC_LIBRARY, 1);
        module_ = LoadLibraryW(u"iscsidsc.dll");
        ASSERT_NE(module_, nullptr);
        nodeName_ = platform::get_proc<GetIScsiInitiatorNodeNameW_fn>(module_, "GetIScsiInitiatorNodeNameW");
        initiators_ = platform::get_proc<ReportIScsiInitiatorListW_fn>(module_, "ReportIScsiInitiatorListW");
        addTarget_ = platform::get_proc<AddIScsiStaticTargetW_fn>(module_, "AddIScsiStaticTargetW");
        ASSERT_TRUE(nodeName_ && initiators_ && addTarget_);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        for (const char* name : {"SANPROV_ROOT", "SANPROV_ISCSI_INITIATOR_NAME_FILE", "SANPROV_LIB_ISCSIDSC"})
            ::unsetenv(name);
        fs::remove_all(root_);
    }

    void write_name_file(const std::string& content) const {
        std::ofstream(root_ / "initiatorname.iscsi", std::ios::binary) << content;
    }
    std::string record_of(const std::string& target) const {
        std::ifstream in(root_ / "iscsi" / "static-targets" / target);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path root_;
    HMODULE module_ = nullptr;
    GetIScsiInitiatorNodeNameW_fn nodeName_ = nullptr;
    ReportIScsiInitiatorListW_fn initiators_ = nullptr;
    AddIScsiStaticTargetW_fn addTarget_ = nullptr;
};

TEST_F(IscsiDiscoveryLibrary, NodeNameComesFromTheInitiatorNameLineOfTheNameFile) {
    const std::string longName = "iqn.1994-05.com.example:" + std::string(MAX_ISCSI_NAME_LEN, 'x');
    struct Case {
        const char* what;
        std::optional<std::string> file;  // none: the file does not exist
        ISDSC_STATUS status;
        std::u16string name;
    } cases[] = {
        {"plain line", "InitiatorName=iqn.1993-08.org.debian:01:host1\n", ERROR_SUCCESS,
         u"iqn.1993-08.org.debian:01:host1"},
        {"comments, blanks and a CRLF line", "## generated\n\n  InitiatorName=iqn.2004-10.com.ubuntu:01:ab \r\n",
         ERROR_SUCCESS, u"iqn.2004-10.com.ubuntu:01:ab"},
        {"first of two lines", "InitiatorName=iqn.a:1\nInitiatorName=iqn.b:2\n", ERROR_SUCCESS, u"iqn.a:1"},
        {"commented-out name", "#InitiatorName=iqn.a:1\n", ISDSC_INITIATOR_NODE_NOT_FOUND, u""},
        {"empty value", "InitiatorName=\n", ISDSC_INITIATOR_NODE_NOT_FOUND, u""},
        {"name longer than a node name may be", "InitiatorName=" + longName + "\n", ISDSC_INITIATOR_NODE_NOT_FOUND,
         u""},
        {"missing file", std::nullopt, ISDSC_INITIATOR_NODE_NOT_FOUND, u""},
    };
    for (const Case& c : cases) {
        fs::remove(root_ / "initiatorname.iscsi");
        if (c.file) write_name_file(*c.file);
        WCHAR buffer[MAX_ISCSI_NAME_LEN + 1] = {};
        EXPECT_EQ(nodeName_(buffer), c.status) << c.what;
        EXPECT_EQ(std::u16string(buffer), c.name) << c.what;
    }
    EXPECT_EQ(nodeName_(nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(IscsiDiscoveryLibrary, InitiatorListHoldsTheSoftwareInitiatorOnlyWhenANameIsConfigured) {
    ULONG size = 0;
    EXPECT_EQ(initiators_(&size, nullptr), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 2u);  // no name: an empty list
    WCHAR buffer[64];
    size = 64;
    ASSERT_EQ(initiators_(&size, buffer), ERROR_SUCCESS);
    EXPECT_EQ(buffer[0], u'\0');

    write_name_file("InitiatorName=iqn.1993-08.org.debian:01:host1\n");
    const std::u16string expected = std::u16string(ISCSI_SOFTWARE_INITIATOR_NAME) + u'\0' + u'\0';
    size = 3;
    EXPECT_EQ(initiators_(&size, buffer), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, expected.size());
    ASSERT_EQ(initiators_(&size, buffer), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer, size), expected);
    EXPECT_EQ(initiators_(nullptr, buffer), ERROR_INVALID_PARAMETER);
}

TEST_F(IscsiDiscoveryLibrary, StaticTargetIsRecordedUnderTheStateRootAndReplacedByALaterRegistration) {
    const WCHAR* target = u"iqn.1992-08.com.zarvo:sn.101173420";
    ASSERT_EQ(addTarget_(target, u"vds \u00e9t\u00e9", 0x5820F, 0, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(record_of("iqn.1992-08.com.zarvo:sn.101173420"),
              "TargetName=iqn.1992-08.com.zarvo:sn.101173420\nTargetAlias=vds \xc3\xa9t\xc3\xa9\n"
              "TargetFlags=0x0005820F\nPersist=0\n");

    ASSERT_EQ(addTarget_(target, nullptr, ISCSI_TARGET_FLAG_HIDE_STATIC_TARGET, 1, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(record_of("iqn.1992-08.com.zarvo:sn.101173420"),
              "TargetName=iqn.1992-08.com.zarvo:sn.101173420\nTargetAlias=\nTargetFlags=0x00000002\nPersist=1\n");
}

TEST_F(IscsiDiscoveryLibrary, StaticTargetRecordsAreOwnerOnlyWhateverTheUmask) {
    const mode_t umask = ::umask(0);
    const DWORD added = addTarget_(u"iqn.1992-08.com.zarvo:sn.1", u"", 0, 1, nullptr, nullptr, nullptr);
    ::umask(umask);
    ASSERT_EQ(added, ERROR_SUCCESS);
    struct Case {
        fs::path path;
        mode_t mode;
    };
    for (const Case& c : {Case{root_ / "iscsi", 0700}, Case{root_ / "iscsi" / "static-targets", 0700},
                          Case{root_ / "iscsi" / "static-targets" / "iqn.1992-08.com.zarvo:sn.1", 0600}}) {
        struct stat st {};
        ASSERT_EQ(::stat(c.path.c_str(), &st), 0) << c.path;
        EXPECT_EQ(st.st_mode & 07777, c.mode) << c.path;
    }
}

TEST_F(IscsiDiscoveryLibrary, StaticTargetWhoseNameIsNoFileNameIsRefused) {
    for (const WCHAR* name : {static_cast<const WCHAR*>(nullptr), u"", u"..", u"../escape", u"iqn.a/b"}) {
        EXPECT_EQ(addTarget_(name, u"a", 0, 0, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(addTarget_(u"iqn.a:1", u"two\nlines", 0, 0, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(fs::exists(root_ / "iscsi" / "escape"));
    EXPECT_FALSE(fs::exists(root_ / "iscsi" / "static-targets" / "iqn.a:1"));
}

}  // namespace
