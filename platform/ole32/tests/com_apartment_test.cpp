#include <platform/apartment.h>

#include <gtest/gtest.h>

#include <thread>

TEST(CoInitialize, CountsPerThreadAndRefusesAChangedModel) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);

        // Another thread starts from nothing.
        std::thread([] {
            EXPECT_EQ(CoInitialize(nullptr), S_OK);
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
            CoUninitialize();
            CoUninitialize();
        }).join();

        // Two successes need two CoUninitialize calls; the refused one needs none.
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
        CoUninitialize();  // one too many is harmless
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();

        int reserved = 0;
        EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
        EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    }).join();
}

TEST(CoInitializeSecurity, RecordedOnceThenTooLate) {
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    alignas(DWORD) BYTE aclBytes[64];
    auto* acl = reinterpret_cast<PACL>(aclBytes);
    ASSERT_TRUE(InitializeAcl(acl, sizeof aclBytes, ACL_REVISION_DS));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));

    SECURITY_DESCRIPTOR broken = sd;
    broken.Revision = 9;
    EXPECT_EQ(CoInitializeSecurity(&broken, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                   RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr),
              E_INVALIDARG);
    EXPECT_FALSE(platform::com_process_security());

    const DWORD caps = EOAC_SECURE_REFS | EOAC_NO_CUSTOM_MARSHAL;
    ASSERT_EQ(CoInitializeSecurity(&sd, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                   RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, caps, nullptr),
              S_OK);
    // The caller may free its descriptor at once: the DACL was copied.
    std::fill(std::begin(aclBytes), std::end(aclBytes), BYTE{0xEE});
    auto recorded = platform::com_process_security();
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->authnLevel, RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
    EXPECT_EQ(recorded->impLevel, RPC_C_IMP_LEVEL_IMPERSONATE);
    EXPECT_EQ(recorded->capabilities, caps);
    EXPECT_TRUE(recorded->descriptorGiven);
    ASSERT_EQ(recorded->dacl.size(), sizeof aclBytes);
    EXPECT_EQ(recorded->dacl[0], ACL_REVISION_DS);

    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY,
                                   nullptr, EOAC_NONE, nullptr),
              RPC_E_TOO_LATE);
    EXPECT_EQ(platform::com_process_security()->authnLevel, RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
}
