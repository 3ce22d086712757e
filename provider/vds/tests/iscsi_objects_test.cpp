#include "objects_fixture.h"

TEST_F(ObjectsTest, IscsiTargetPortalAndGroupAnswerTheirTables) {
    Open(VDS_HWT_ISCSI);
    auto target = Object<IVdsIscsiTarget>(*provider, targetId, VDS_OT_TARGET);
    auto portal = Object<IVdsIscsiPortal>(*provider, portalId, VDS_OT_PORTAL);
    auto group = Object<IVdsIscsiPortalGroup>(*provider, groupId, VDS_OT_PORTAL_GROUP);
    VDS_ISCSI_SHARED_SECRET secret{};
    VDS_IPADDRESS address{};
    VDS_ISCSI_IPSEC_KEY key{};
    IVdsAsync* async = nullptr;
    WCHAR initiator[] = u"iqn.1991-05.com.example:host";
    LPWSTR* names = reinterpret_cast<LPWSTR*>(0x10);
    LONG count = -1;
    RunCases({
        {"secret and name both absent", [&] { return target->SetSharedSecret(nullptr, nullptr); }, S_OK},
        {"remember without a secret", [&] { return target->RememberInitiatorSharedSecret(initiator, nullptr); }, E_POINTER},
        {"remember", [&] { return target->RememberInitiatorSharedSecret(initiator, &secret); }, VDS_E_NOT_SUPPORTED},
        {"target delete", [&] { return target->Delete(&async); }, VDS_E_NOT_SUPPORTED},
        {"ipsec 127", [&] { return portal->SetIpsecSecurity(&address, 127, nullptr); }, VDS_E_NOT_SUPPORTED},
        {"ipsec 128", [&] { return portal->SetIpsecSecurity(&address, 128, &key); }, E_INVALIDARG},
        {"ipsec, no address", [&] { return portal->SetIpsecSecurity(nullptr, 128, &key); }, E_POINTER},
        {"tunnel", [&] { return portal->SetIpsecTunnelAddress(&address, nullptr); }, E_POINTER},
        {"portal status 3", [&] { return portal->SetStatus(VDS_ISCSI_PORTAL_STATUS(3)); }, E_INVALIDARG},
        {"portal status 1", [&] { return portal->SetStatus(VDS_IPS_ONLINE); }, VDS_E_NOT_SUPPORTED},
        {"remove portal", [&] { return group->RemovePortal(portalId, nullptr); }, VDS_E_NOT_SUPPORTED},
        {"group delete", [&] { return group->Delete(&async); }, VDS_E_NOT_SUPPORTED},
        {"no initiator", [&] { return target->GetConnectedInitiators(&names, &count); }, S_OK},
        {"rename, no name", [&] { return target->SetFriendlyName(nullptr); }, E_POINTER},
    });
    EXPECT_EQ(nullptr, san->lastSecret);
    EXPECT_EQ(0, count);
    EXPECT_EQ(reinterpret_cast<LPWSTR*>(0x10), names);

    san->initiators = {u"iqn.a", u"iqn.b"};
    ASSERT_EQ(S_OK, target->GetConnectedInitiators(&names, &count));
    ASSERT_EQ(2, count);
    EXPECT_EQ(std::u16string(u"iqn.b"), names[1]);
    for (LONG i = 0; i < count; ++i) CoTaskMemFree(names[i]);
    CoTaskMemFree(names);

    san->relatedId = targetId;
    Ref<IVdsIscsiTarget> parent;
    ASSERT_EQ(S_OK, group->GetTarget(parent.out()));
    EXPECT_EQ(target.get(), parent.get());

    san->active = false;
    EXPECT_EQ(VDS_E_OBJECT_DELETED, target->CreatePortalGroup(&async));
    EXPECT_FALSE(san->Called("CreatePortalGroup"));
}
