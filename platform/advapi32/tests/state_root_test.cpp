// The state root holds the registry (with the stored passwords), the event log
// and the sockets: nothing in it is open to other users, whatever the umask
// and whatever an earlier run left behind.
#include <platform/eventlog.h>
#include <platform/registry.h>
#include <platform/state_root.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

class StateRoot : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sanprov-state-root-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_base = pattern;
        m_root = m_base / "state";
        ::setenv("SANPROV_ROOT", m_root.c_str(), 1);
        m_umask = ::umask(0);  // the most open umask: modes must not come from it
    }
    void TearDown() override {
        ::umask(m_umask);
        ::unsetenv("SANPROV_ROOT");
        fs::remove_all(m_base);
    }
    static mode_t mode_of(const fs::path& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    static void make_open_dir(const fs::path& path) {
        fs::create_directories(path);
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }

    fs::path m_base, m_root;
    mode_t m_umask = 022;
};

TEST_F(StateRoot, EveryDirectoryFromTheRootDownIsOwnerOnly) {
    // The service manager makes run/scm before the service makes its socket there.
    EXPECT_EQ(platform::state_dir("run/scm"), m_root / "run" / "scm");
    for (const fs::path& dir : {m_root, m_root / "run", m_root / "run" / "scm"}) EXPECT_EQ(mode_of(dir), 0700u) << dir;
}

TEST_F(StateRoot, DirectoriesAnEarlierRunLeftOpenAreTightenedButAnExistingRootIsLeftAlone) {
    make_open_dir(m_root / "eventlog");
    make_open_dir(m_root / "iscsi");
    fs::permissions(m_root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    platform::state_dir("eventlog");
    platform::state_dir("iscsi/static-targets");
    EXPECT_EQ(mode_of(m_root), 0750u) << "the administrator's choice";
    for (const fs::path& dir : {m_root / "eventlog", m_root / "iscsi", m_root / "iscsi" / "static-targets"})
        EXPECT_EQ(mode_of(dir), 0700u) << dir;
}

TEST_F(StateRoot, NothingTheRegistryOrTheEventLogWritesIsOpenToOthers) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\sanprov-test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const char16_t secret[] = u"protected";
    ASSERT_EQ(RegSetValueExW(key, u"password", 0, REG_BINARY, reinterpret_cast<const BYTE*>(secret), sizeof secret),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const HANDLE source = RegisterEventSourceW(nullptr, u"StateRootTest");
    ASSERT_NE(source, nullptr);
    const WCHAR* inserts[] = {u"filer1"};
    EXPECT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0xC0000001, nullptr, 1, 0, inserts, nullptr));
    DeregisterEventSource(source);

    EXPECT_EQ(mode_of(m_root), 0700u);
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(m_root)) {
        if (entry.is_directory()) {
            EXPECT_EQ(mode_of(entry.path()), 0700u) << entry.path();
        } else {
            ++files;
            EXPECT_EQ(mode_of(entry.path()) & 077, 0u) << entry.path();
        }
    }
    EXPECT_GE(files, 2u) << "a hive and an event log were written";
}

}  // namespace
