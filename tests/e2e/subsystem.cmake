# The subsystem against simulated appliances: discovery, refresh and its
# announcements, the lifecycle, the iSCSI side, faults during a refresh.
find_package(nlohmann_json 3 REQUIRED)
if(TARGET model AND TARGET sanprov_iscsidsc)
  sanprov_e2e_tests(subsystem_e2e_tests
    SOURCES subsystem_support.cpp subsystem_fc_test.cpp subsystem_lifecycle_test.cpp subsystem_iscsi_test.cpp
            subsystem_truth_test.cpp san_fixture.cpp
    LINK model sanprov_messages nlohmann_json::nlohmann_json)
  target_compile_definitions(subsystem_e2e_tests PRIVATE
    ISCSIDSC_LIBRARY="$<TARGET_FILE:sanprov_iscsidsc>"
    FAKE_HBAAPI_LIBRARY="$<TARGET_FILE:sanprov_fake_hbaapi_full>"
    HOST_HBA_FIXTURE="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/subsystem_host_hba.json")
  add_dependencies(subsystem_e2e_tests sanprov_iscsidsc sanprov_fake_hbaapi_full)
endif()
