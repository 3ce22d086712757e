# The SAN model's LUNs against the simulated appliance: creation, loading,
# masking, resize, rename and removal, with the requests the appliance saw.
find_package(nlohmann_json 3 REQUIRED)
if(TARGET model AND TARGET filer)
  sanprov_e2e_tests(lun_model_e2e_tests
    SOURCES lun_model_test.cpp lun_model_support.cpp filer_sim_support.cpp
    LINK model filer sanprov_messages nlohmann_json::nlohmann_json)
  target_include_directories(lun_model_e2e_tests PRIVATE ${PROJECT_SOURCE_DIR}/hostlib/filer/tests)
endif()

# The same LUNs through the San of a subsystem read from the appliance: the
# queued work on the subsystem's worker, completion objects and notifications.
if(TARGET model AND TARGET sanprov_iscsidsc AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/subsystem_support.cpp)
  sanprov_e2e_tests(lun_san_e2e_tests
    SOURCES lun_san_test.cpp san_fixture.cpp subsystem_support.cpp
    LINK model sanprov_messages nlohmann_json::nlohmann_json)
  target_compile_definitions(lun_san_e2e_tests PRIVATE
    ISCSIDSC_LIBRARY="$<TARGET_FILE:sanprov_iscsidsc>"
    FAKE_HBAAPI_LIBRARY="$<TARGET_FILE:sanprov_fake_hbaapi_full>"
    HOST_HBA_FIXTURE="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/subsystem_host_hba.json")
  add_dependencies(lun_san_e2e_tests sanprov_iscsidsc sanprov_fake_hbaapi_full)
endif()
