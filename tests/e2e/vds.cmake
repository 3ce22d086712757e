# vdsctl driving both providers against simulated appliances.
if(TARGET vdsctl AND TARGET model)
  find_package(nlohmann_json 3 REQUIRED)
  sanprov_e2e_tests(vds_e2e_tests SOURCES vds_vdsctl_test.cpp LINK model sanprov_messages nlohmann_json::nlohmann_json)
  target_compile_definitions(vds_e2e_tests PRIVATE VDSCTL="$<TARGET_FILE:vdsctl>")
  add_dependencies(vds_e2e_tests vdsctl)
endif()
