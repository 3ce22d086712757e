#include <platform/message.h>
#include <platform/errors.h>
#include <platform/library.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) { setenv(name, value, 1); }
    ~ScopedEnv() { unsetenv(m_name); }

private:
    const char* m_name;
};

}  // namespace

TEST(Library, WindowsNamesResolveThroughOneTable) {
    const struct {
        const char* windowsName;
        std::string file;
    } cases[] = {
        {"hbaapi.dll", "libHBAAPI.so.2"},     {"HBAAPI.DLL", "libHBAAPI.so.2"},   {"HbaApi", "libHBAAPI.so.2"},
        {"ssleay32.dll", "libssl.so.3"},      {"libssl.dll", "libssl.so.3"},      {"libeay32.dll", "libcrypto.so.3"},
        {"LIBCRYPTO", "libcrypto.so.3"},      {"nosuch.dll", ""},                 {"kernel32.dll", ""},
        {"libssl3.so", ""},                   {"/opt/x/libssl3.so", ""},          {"libm.so.6", "libm.so.6"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::resolve_library_name(c.windowsName), c.file) << c.windowsName;
    EXPECT_TRUE(platform::resolve_library_name("ISCSIDSC.DLL").ends_with("libsanprov_iscsidsc.so"));
    EXPECT_TRUE(platform::resolve_library_name("kvxadmin.dll").ends_with("libsanprov_kvxadmin.so"));
}

TEST(Library, OpenSslLoadsByItsWindowsNames) {
    HMODULE ssl = LoadLibraryA("ssleay32.dll");
    HMODULE crypto = LoadLibraryW(u"LIBEAY32.DLL");
    ASSERT_NE(ssl, nullptr);
    ASSERT_NE(crypto, nullptr);
    EXPECT_NE(GetProcAddress(ssl, "OPENSSL_init_ssl"), nullptr);
    EXPECT_NE(GetProcAddress(crypto, "OPENSSL_init_crypto"), nullptr);
    EXPECT_TRUE(FreeLibrary(ssl));
    EXPECT_TRUE(FreeLibrary(crypto));
}

TEST(Library, MissingLibrariesFailWithModuleNotFound) {
    ScopedEnv missing("SANPROV_LIB_KVXADMIN", "/nonexistent/libsanprov_kvxadmin.so");
    ScopedEnv foreign("SANPROV_LIB_SSLEAY32", "libssl3.so");
    for (const char* name : {"nosuch.dll", "kvxadmin.dll", "ssleay32.dll", ""}) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA(name), nullptr) << name;
        EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND) << name;
    }
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"nosuch.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Library, OverrideLoadsTheGivenFileAndMissingEntryPointsFail) {
    ScopedEnv fake("SANPROV_LIB_HBAAPI", "libm.so.6");
    HMODULE library = LoadLibraryW(u"hbaapi.dll");
    ASSERT_NE(library, nullptr);
    const auto cosine = platform::get_proc<double (*)(double)>(library, "cos");
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);

    for (const char* missing : {"HBA_GetFcpTargetMappingV2", reinterpret_cast<const char*>(1)}) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(library, missing), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    }
    EXPECT_TRUE(FreeLibrary(library));

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(library, "cos"), nullptr) << "a freed module is not open";
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(library));
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Library, SystemLibrariesAreBuiltInAndExportNothing) {
    HMODULE kernel32 = LoadLibraryW(u"KERNEL32.DLL");
    HMODULE ntdll = LoadLibraryA("ntdll.dll");
    ASSERT_NE(kernel32, nullptr);
    ASSERT_NE(ntdll, nullptr);
    EXPECT_NE(kernel32, ntdll);
    EXPECT_EQ(GetModuleHandleW(u"kernel32"), kernel32);
    EXPECT_EQ(GetModuleHandleW(u"NTDLL.dll"), ntdll);
    EXPECT_NE(GetModuleHandleW(nullptr), kernel32);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(kernel32, "FormatMessageW"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_TRUE(FreeLibrary(ntdll));
}

TEST(LibraryMessages, SystemModulesLoadedByNameCarryTheirTexts) {
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"kernel32.dll"), kernel);
    WCHAR text[256];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, kernel,
                                   ERROR_FILE_NOT_FOUND, 0, text, 256, nullptr);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::u16string(text, n), u"The system cannot find the file specified.\r\n");
    EXPECT_TRUE(FreeLibrary(kernel));
    EXPECT_EQ(GetProcAddress(LoadLibraryA("ntdll.dll"), "NtClose"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}
