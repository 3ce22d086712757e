# The SAN model's LUNs against the simulated appliance: creation, loading,
# masking, resize, rename and removal, with the requests the appliance saw.
if(TARGET model AND TARGET filer)
  find_package(nlohmann_json 3 REQUIRED)
  sanprov_e2e_tests(lun_model_e2e_tests
    SOURCES lun_model_test.cpp lun_model_support.cpp filer_sim_support.cpp
    LINK model filer sanprov_messages nlohmann_json::nlohmann_json)
  target_include_directories(lun_model_e2e_tests PRIVATE ${PROJECT_SOURCE_DIR}/hostlib/filer/tests)
endif()
