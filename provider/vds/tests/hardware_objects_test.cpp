#include "objects_fixture.h"

TEST_F(ObjectsTest, ControllerPortPlexAndDriveAnswerTheirTables) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    auto controller = Object<IVdsController>(*provider, controllerId, VDS_OT_CONTROLLER);
    auto port = Object<IVdsControllerPort>(*provider, portId, VDS_OT_PORT);
    auto drive = Object<IVdsDrive>(*provider, driveId, VDS_OT_DRIVE);
    auto plex = Object<IVdsLunPlex>(*provider, plexId, VDS_OT_LUN_PLEX);
    auto controllerMaintenance = QueryAs<IVdsMaintenance>(controller.get());
    auto portMaintenance = QueryAs<IVdsMaintenance>(port.get());
    auto driveMaintenance = QueryAs<IVdsMaintenance>(drive.get());
    Ref<IEnumVdsObject> enumerator;
    VDS_PORT_PROP portProp{};
    RunCases({
        {"port maintenance 3", [&] { return portMaintenance->StartMaintenance(SpinDown); }, E_INVALIDARG},
        {"port maintenance 5", [&] { return portMaintenance->StartMaintenance(Ping); }, VDS_E_NOT_SUPPORTED},
        {"controller maintenance 3", [&] { return controllerMaintenance->StartMaintenance(SpinDown); }, VDS_E_NOT_SUPPORTED},
        {"drive maintenance 3", [&] { return driveMaintenance->StartMaintenance(SpinDown); }, S_OK},
        {"controller maintenance 6", [&] { return controllerMaintenance->StopMaintenance(VDS_MAINTENANCE_OPERATION(6)); }, E_INVALIDARG},
        {"drive maintenance 0", [&] { return driveMaintenance->PulseMaintenance(VDS_MAINTENANCE_OPERATION(0), 1); }, E_INVALIDARG},
        {"controller status 4", [&] { return controller->SetStatus(VDS_CS_OFFLINE); }, VDS_E_NOT_SUPPORTED},
        {"controller status 2", [&] { return controller->SetStatus(VDS_CS_NOT_READY); }, E_INVALIDARG},
        {"port status 2", [&] { return port->SetStatus(VDS_PRS_NOT_READY); }, VDS_E_NOT_SUPPORTED},
        {"port status 3", [&] { return port->SetStatus(VDS_PORT_STATUS(3)); }, E_INVALIDARG},
        {"drive flags 1", [&] { return drive->SetFlags(1); }, VDS_E_NOT_SUPPORTED},
        {"drive flags 0", [&] { return drive->ClearFlags(0); }, VDS_E_NOT_SUPPORTED},
        {"drive flags 2", [&] { return drive->SetFlags(2); }, E_INVALIDARG},
        {"drive status 5", [&] { return drive->SetStatus(VDS_DRS_FAILED); }, VDS_E_NOT_SUPPORTED},
        {"controller flush", [&] { return controller->FlushCache(); }, VDS_E_NOT_SUPPORTED},
        {"controller port properties", [&] { return controller->GetPortProperties(0, &portProp); }, VDS_E_NOT_SUPPORTED},
        {"port properties", [&] { HRESULT hr = port->GetProperties(&portProp); CoTaskMemFree(portProp.pwszFriendlyName);
                                  CoTaskMemFree(portProp.pwszIdentification); return hr; }, S_OK},
        {"controller luns, no out", [&] { return controller->QueryAssociatedLuns(nullptr); }, E_POINTER},
        {"port reset", [&] { return port->Reset(); }, VDS_E_NOT_SUPPORTED},
        {"plex hints", [&] { return plex->ApplyHints(&hints); }, VDS_E_NOT_SUPPORTED},
        {"port luns", [&] { return port->QueryAssociatedLuns(enumerator.out()); }, S_OK},
        {"controller ports", [&] { return QueryAs<IVdsControllerControllerPort>(controller.get())->QueryControllerPorts(enumerator.out()); }, S_OK},
    });

    // The caller gets its own copies of the model's texts, which it frees.
    VDS_CONTROLLER_PROP controllerProp{};
    ASSERT_EQ(S_OK, controller->GetProperties(&controllerProp));
    EXPECT_EQ(std::u16string(u"adapter 0a"), controllerProp.pwszFriendlyName);
    CoTaskMemFree(controllerProp.pwszFriendlyName);
    CoTaskMemFree(controllerProp.pwszIdentification);

    san->failures["QueryAssociatedController"] = VDS_E_OBJECT_NOT_FOUND;
    IVdsController* parent = reinterpret_cast<IVdsController*>(1);
    EXPECT_EQ(VDS_E_OBJECT_NOT_FOUND, port->GetController(&parent));
    EXPECT_EQ(nullptr, parent);

    san->active = false;
    IVdsLun* plexLun = reinterpret_cast<IVdsLun*>(1);
    EXPECT_EQ(VDS_E_OBJECT_DELETED, plex->GetLun(&plexLun));
    EXPECT_EQ(reinterpret_cast<IVdsLun*>(1), plexLun);
}

TEST_F(ObjectsTest, DriveExtentsListTheUsedOnesThenTheFreeSpace) {
    Open(VDS_HWT_FIBRE_CHANNEL);
    auto drive = Object<IVdsDrive>(*provider, driveId, VDS_OT_DRIVE);
    ExtentRecord used{};
    used.driveId = driveId;
    used.plexId = plexId;
    used.lunId = lunId;
    used.size = 300;
    struct Case {
        std::vector<ExtentRecord> extents;
        ULONGLONG freeBytes;
        std::vector<std::pair<ULONGLONG, BOOL>> expected;
    };
    const Case cases[] = {
        {{used}, 700, {{300, TRUE}, {700, FALSE}}},
        {{used}, 0, {{300, TRUE}}},
        {{}, 0, {}},
    };
    for (const Case& c : cases) {
        san->extents = c.extents;
        san->driveSpace = c.freeBytes;
        VDS_DRIVE_EXTENT* extents = nullptr;
        LONG count = -1;
        ASSERT_EQ(S_OK, drive->QueryExtents(&extents, &count));
        ASSERT_EQ(static_cast<LONG>(c.expected.size()), count);
        for (LONG i = 0; i < count; ++i) {
            EXPECT_EQ(c.expected[i].first, extents[i].ullSize);
            EXPECT_EQ(c.expected[i].second, extents[i].bUsed);
            EXPECT_EQ(driveId, extents[i].id);
        }
        if (count == 2) {
            EXPECT_EQ(GUID_NULL, extents[1].LunId);
        }
        CoTaskMemFree(extents);
    }
}
