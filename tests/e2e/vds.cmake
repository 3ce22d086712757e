# vdsctl against sanprovd, which holds both providers, simulated appliances and
# a simulated host. A LUN's creation and deletion wait for the host's bus
# rescans, so these tests get more time than the rest.
if(TARGET vdsctl AND TARGET sanprovd AND TARGET scm AND TARGET model)
  find_package(nlohmann_json 3 REQUIRED)
  add_executable(vds_e2e_tests vds_vdsctl_test.cpp vds_truth_test.cpp vds_lun_outcome_test.cpp vds_picture_test.cpp)
  target_sources(vds_e2e_tests PRIVATE vdsctl_support.cpp)
  target_sources(vds_e2e_tests PRIVATE vds_cli_test.cpp)
  target_compile_options(vds_e2e_tests PRIVATE ${SANPROV_WARNINGS})
  target_link_libraries(vds_e2e_tests PRIVATE e2e_support model sanprov_messages nlohmann_json::nlohmann_json
                                              GTest::gtest GTest::gtest_main)
  target_compile_definitions(vds_e2e_tests PRIVATE VDSCTL="$<TARGET_FILE:vdsctl>" SANPROVD="$<TARGET_FILE:sanprovd>"
                                                   SCM="$<TARGET_FILE:scm>")
  add_dependencies(vds_e2e_tests vdsctl sanprovd scm)
  gtest_discover_tests(vds_e2e_tests PROPERTIES ${SANPROV_E2E_PROPERTIES} TIMEOUT 600 DISCOVERY_TIMEOUT 60)
endif()
